#include "platform/install.h"

#include "platform/command.h"
#include "platform/files.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <set>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tarnwick;
using namespace std::chrono_literals;

namespace {

void expectValidEntry(const std::string& path)
{
    const test::CommandRun run = test::runCommand({"desktop-file-validate", path});
    EXPECT_EQ(run.exit, 0) << run.output;
    EXPECT_EQ(run.output, "");
}

std::set<std::string> namesIn(const std::string& folder)
{
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        names.insert(e.path().filename().string());
    return names;
}

class Environment {
public:
    Environment(const char* name, const char* value) : m_name(name)
    {
        if (const char* old = std::getenv(name))
            m_old = old;
        value ? ::setenv(name, value, 1) : ::unsetenv(name);
    }
    ~Environment() { m_old ? ::setenv(m_name, m_old->c_str(), 1) : ::unsetenv(m_name); }

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

} // namespace

TEST(InstallPaths, SameFileByIdentityAndSystemFolders)
{
    test::TempDir dir;
    std::filesystem::create_directories(dir.file("App/bin"));
    (void)platform::writeFileAtomic(dir.file("App/bin/tarnwick"), "program");
    std::filesystem::create_directory_symlink(dir.file("App"), dir.file("link"));
    const std::tuple<std::string, std::string, bool> same[] = {
        {dir.file("link/bin"), dir.file("App/bin"), true},
        {dir.file("link/bin/../bin/tarnwick"), dir.file("App/bin/tarnwick"), true},
        {dir.file("app/bin"), dir.file("App/bin"), false}, // case counts on this platform
        {dir.file("App/bin/missing"), dir.file("App/bin/./missing"), true},
        {dir.file("App/bin/missing"), dir.file("link/bin/missing"), false},
        {"", "", false},
    };
    for (const auto& [a, b, expected] : same)
        EXPECT_EQ(platform::sameFile(a, b), expected) << a << " " << b;
    for (const auto& [folder, expected] :
         {std::pair{std::string("/usr/local/bin"), true}, {"/opt/tarnwick", true}, {dir.file("link/bin"), false}})
        EXPECT_EQ(platform::systemFolder(folder), expected) << folder;
}

TEST(InstallPaths, FollowTheApplicationDirectoryAndTheDataHome)
{
    EXPECT_EQ(platform::installedProgramPath("/opt/Tarnwick"), "/opt/Tarnwick/tarnwick");
    EXPECT_EQ(platform::installedProgramPath("/opt/Tarnwick/"), "/opt/Tarnwick/tarnwick");
    // the cache directory follows the same rule as the data directory
    const struct {
        const char* home; // XDG_DATA_HOME, and XDG_CACHE_HOME with "data" read as "cache"
        const char* shortcuts;
        const char* install;
        const char* cache;
    } cases[] = {
        {"/srv/data", "/srv/data/applications/Tarnwick", "/srv/data/Tarnwick", "/srv/cache"},
        {nullptr, "/home/ann/.local/share/applications/Tarnwick", "/home/ann/.local/share/Tarnwick",
         "/home/ann/.cache"},
        {"relative/data", "/home/ann/.local/share/applications/Tarnwick", "/home/ann/.local/share/Tarnwick",
         "/home/ann/.cache"},
    };
    Environment home("HOME", "/home/ann");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.home ? c.home : "unset");
        std::string cacheHome = c.home ? c.home : "";
        if (const size_t at = cacheHome.find("data"); at != std::string::npos)
            cacheHome.replace(at, 4, "cache");
        Environment data("XDG_DATA_HOME", c.home);
        Environment cache("XDG_CACHE_HOME", c.home ? cacheHome.c_str() : nullptr);
        EXPECT_EQ(platform::defaultShortcutFolder(), c.shortcuts);
        EXPECT_EQ(platform::defaultInstallFolder(), c.install);
        EXPECT_EQ(platform::cacheHome(), c.cache);
    }
}

TEST(RunningProgramPath, NamesThisTestProgram)
{
    const std::optional<std::string> path = platform::runningProgramPath();
    ASSERT_TRUE(path);
    EXPECT_TRUE(path->starts_with("/"));
    EXPECT_TRUE(path->ends_with("/platform_tests"));
    EXPECT_TRUE(platform::fileExists(*path));
}

TEST(ReplaceProgram, RenamesACompleteExecutableCopyOverTheRunningProgram)
{
    test::TempDir dir;
    const std::string target = dir.file("tarnwick");
    ASSERT_EQ(platform::writeProgramFile(target, platform::readFile("/bin/sleep").value_or("")), "");
    pid_t pid = 0;
    char arg0[] = "tarnwick";
    char arg1[] = "30";
    char* argv[] = {arg0, arg1, nullptr};
    ASSERT_EQ(::posix_spawn(&pid, target.c_str(), nullptr, nullptr, argv, environ), 0);
    const int oldFile = ::open(target.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(oldFile, 0);
    const std::string source = dir.file("Tarnwick_temp.exe");
    ASSERT_TRUE(platform::writeFileAtomic(source, "the new program"));

    EXPECT_EQ(platform::replaceProgram(source, target, platform::k_temporaryCopyAttempts), "");

    EXPECT_EQ(platform::readFile(target), "the new program");
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);
    char head[4] = {};
    EXPECT_EQ(::pread(oldFile, head, 4, 0), 4);
    EXPECT_EQ(std::string(head, 4), "\177ELF") << "the running program's file was written in place";
    EXPECT_EQ(namesIn(dir.path()), (std::set<std::string>{"tarnwick", "Tarnwick_temp.exe"}));
    ::close(oldFile);
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

TEST(ReplaceProgram, RetriesABusyTargetAsOftenAsAsked)
{
    const struct {
        const char* scenario;
        platform::CopyAttempts tries;
        int freeAfterPauses;
        bool replaced;
        std::size_t pauses;
    } cases[] = {
        {"a temporary copy waits for the target", platform::k_temporaryCopyAttempts, 3, true, 3},
        {"a temporary copy gives up after 10 tries", platform::k_temporaryCopyAttempts, 99, false, 9},
        {"any other copy is tried once", {}, 1, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        test::TempDir dir;
        const std::string source = dir.file("Tarnwick_temp.exe");
        ASSERT_TRUE(platform::writeFileAtomic(source, "new"));
        // the target is busy while its name is taken by a folder
        const std::string target = dir.file("tarnwick");
        ASSERT_EQ(::mkdir(target.c_str(), 0755), 0);
        std::vector<std::chrono::milliseconds> pauses;
        auto pause = [&](std::chrono::milliseconds ms) {
            pauses.push_back(ms);
            if (static_cast<int>(pauses.size()) == c.freeAfterPauses)
                ::rmdir(target.c_str());
        };

        const std::string error = platform::replaceProgram(source, target, c.tries, pause);

        EXPECT_EQ(error.empty(), c.replaced) << error;
        EXPECT_EQ(pauses, std::vector<std::chrono::milliseconds>(c.pauses, 1000ms));
        EXPECT_EQ(platform::readFile(target).has_value(), c.replaced);
    }
}

TEST(Shortcuts, ReplaceTheOldEntriesAndRemoveTheStaleHelpEntry)
{
    test::TempDir dir;
    ASSERT_TRUE(platform::writeFileAtomic(dir.file("Tarnwick.desktop"), "[Desktop Entry]\nExec=/old/tarnwick\n"));
    ASSERT_TRUE(platform::writeFileAtomic(dir.file("help.desktop"), "[Desktop Entry]\n"));

    ASSERT_EQ(platform::writeShortcuts({dir.path(),
                                        "/opt/Tarnwick/tarnwick",
                                        {{"Tarnwick on the Web", "http://www.tarnwick.example/"},
                                         {"Brenlow Patent Law Firm", "http://www.brenlow.example/"}}}),
              "");

    const struct {
        const char* file;
        const char* text;
    } cases[] = {
        {"Tarnwick.desktop", "[Desktop Entry]\nType=Application\nName=Tarnwick\nExec=/opt/Tarnwick/tarnwick\n"
                             "Icon=example.tarnwick.Tarnwick\nTerminal=false\nCategories=Office;\n"},
        {"Tarnwick (auto).desktop", "[Desktop Entry]\nType=Application\nName=Tarnwick (auto)\n"
                                    "Exec=/opt/Tarnwick/tarnwick -auto\nIcon=example.tarnwick.Tarnwick\n"
                                    "Terminal=false\nCategories=Office;\n"},
        {"Tarnwick on the Web.desktop", "[Desktop Entry]\nType=Link\nName=Tarnwick on the Web\n"
                                        "URL=http://www.tarnwick.example/\nIcon=text-html\n"},
        {"Brenlow Patent Law Firm.desktop", "[Desktop Entry]\nType=Link\nName=Brenlow Patent Law Firm\n"
                                            "URL=http://www.brenlow.example/\nIcon=text-html\n"},
    };
    std::set<std::string> expected;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        expected.insert(c.file);
        EXPECT_EQ(platform::readFile(dir.file(c.file)), c.text);
        expectValidEntry(dir.file(c.file));
    }
    EXPECT_EQ(namesIn(dir.path()), expected);
    EXPECT_EQ(platform::writeShortcuts({dir.path(), "/opt/Tarnwick/tarnwick", {{"../escape", "http://a.example/"}}}),
              "\"../escape\" cannot name a shortcut file.");
}

// The application entries show the icon written beside them; without one they name the theme's icon.
TEST(Shortcuts, ShowTheIconWrittenBesideThem)
{
    test::TempDir dir;
    ASSERT_EQ(platform::writeShortcuts({dir.file("My Menu"), "/opt/Tarnwick/tarnwick", {}, "<svg/>"}), "");
    EXPECT_EQ(platform::readFile(dir.file("My Menu/tarnwick.svg")).value_or(""), "<svg/>");
    for (const char* file : {"My Menu/Tarnwick.desktop", "My Menu/Tarnwick (auto).desktop"}) {
        SCOPED_TRACE(file);
        const std::string entry = platform::readFile(dir.file(file)).value_or("");
        EXPECT_NE(entry.find("\nIcon=" + dir.file("My Menu/tarnwick.svg") + "\n"), std::string::npos) << entry;
        expectValidEntry(dir.file(file));
    }
}

TEST(Shortcuts, QuoteAndEscapeTheProgramPath)
{
    const struct {
        const char* program;
        const char* exec;
    } cases[] = {
        {"/home/ann/My Programs/tarnwick", "Exec=\"/home/ann/My Programs/tarnwick\" -auto"},
        {"/srv/100%/tarnwick", "Exec=/srv/100%%/tarnwick -auto"},
        {"/srv/$HOME`x`\"q\"/tarnwick", "Exec=\"/srv/\\\\$HOME\\\\`x\\\\`\\\\\"q\\\\\"/tarnwick\" -auto"},
        {"/srv/back\\slash/tarnwick", "Exec=\"/srv/back\\\\\\\\slash/tarnwick\" -auto"},
    };
    test::TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.program);
        const std::string entry = platform::applicationEntry("Tarnwick (auto)", c.program, {"-auto"});
        EXPECT_NE(entry.find(std::string("\n") + c.exec + "\n"), std::string::npos) << entry;
        ASSERT_TRUE(platform::writeFileAtomic(dir.file("entry.desktop"), entry));
        expectValidEntry(dir.file("entry.desktop"));
    }
}

TEST(ProgramFileVersion, ReadsTheRecordWithoutStartingTheProgram)
{
    const std::string mark(platform::k_versionRecordMark);
    struct Case {
        const char* name;
        std::string bytes;
        std::optional<std::string> version;
    };
    const Case cases[] = {
        {"a script that carries one", "#!/bin/sh\n# " + mark + "4.2.09\necho old\n", "4.2.09"},
        {"at the very end, without a line end", std::string(100, '\0') + mark + "4.10.1", "4.10.1"},
        // the reader's own mark, as a binary keeps it, is followed by no version
        {"a mark without a version before the record", mark + '\0' + mark + "5.0.00\n", "5.0.00"},
        {"across two blocks of reading", std::string((1 << 16) - mark.size() - 2, 'x') + mark + "4.2.11\n", "4.2.11"},
        {"a program from before the record", "\177ELF" + std::string(70000, '\0'), std::nullopt},
        {"no file", "", std::nullopt},
    };
    test::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file(c.name);
        if (!c.bytes.empty()) {
            ASSERT_TRUE(platform::writeFileAtomic(path, c.bytes));
        }
        EXPECT_EQ(platform::programFileVersion(path), c.version);
    }
    // a real program built here carries its own
    EXPECT_EQ(platform::programFileVersion(platform::runningProgramPath().value_or("")), TARNWICK_VERSION);
}
