#include "app/application.h"
#include "app/programmanifest.h"
#include "app/startup.h"
#include "app/upgrade.h"
#include "base/settings.h"
#include "platform/files.h"
#include "platform/signature.h"
#include "rules/rulesfile.h"
#include "support/office.h"
#include "support/runcli.h"
#include "support/scriptedfrontend.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

using namespace tarnwick;
using namespace tarnwick::app;

namespace {

// The title bar and the Upgrade command offer one version: the rules' program version when it is newer, number by
// number, than the installed program, the highest version installed before, or else this program.
TEST(NewerVersion, TheRulesOfferOnlyANewerProgramNumberByNumber)
{
    struct Case {
        const char* rulesVersion;
        const char* running;
        const char* offered;        // empty: none
        const char* installed = ""; // the installed program's version record; empty: no program there
        const char* highest = "";   // HighestInstalledVersion
    };
    const Case cases[] = {
        {"4.2.06.500", "4.2.06", ""},
        {"4.2.05.900", "4.2.06", ""}, // older rules offer no downgrade
        {"4.2.07", "4.2.06", "4.2.07"},
        {"4.10.01.3", "4.9.99", "4.10.01"},
        {"4.9.99.9", "4.10.0", ""},
        {"5.1.00.000", "5.1.0", ""},
        {"4.2.07-beta", "4.2.06", ""},
        {"", "4.2.06", ""},
        {"4.2.07.000", "?.?.??", "4.2.07"}, // a build without a version is older than any
        {"5.1.00.000", "4.2.06", "", "5.1.0"},
        {"4.2.07.000", "4.2.06", "", "", "4.2.07"},
        {"4.10.00.000", "4.2.06", "4.10.00", "4.9.00", "4.2.08"},
        {"4.2.08.000", "4.2.06", "", "4.2.07", "4.2.08"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.rulesVersion) + " installed " + c.installed + " highest " + c.highest);
        test::TempDir dir;
        base::AppSettings settings(dir.file("settings.ini"));
        settings.setValue(base::setting::Install, dir.path());
        settings.setValue(base::setting::HighestInstalledVersion, c.highest);
        if (*c.installed) {
            ASSERT_TRUE(platform::writeFileAtomic(platform::installedProgramPath(dir.path()),
                                                  std::string(platform::k_versionRecordMark) + c.installed + "\n"));
        }
        rules::TemplateVars vars;
        rules::RulesFile rules(vars);
        rules.accept(std::string("version: ") + c.rulesVersion + "\r\nend-of-rules\r\n");
        EXPECT_EQ(newerVersion(rules, settings, c.running), c.offered) << c.running;
    }
    // the built-in rules for the office's XML records name no program to fetch
    test::TempDir dir;
    base::AppSettings settings(dir.file("settings.ini"));
    rules::TemplateVars vars;
    rules::RulesFile rules(vars);
    rules.accept(std::string(rules::RulesFile::officeXmlText()));
    EXPECT_EQ(newerVersion(rules, settings, "4.2.06"), "");
}

TEST(ProgramAddress, CompressedFileFirstThenThePlainOne)
{
    struct Case {
        const char* location;
        const char* address;
    };
    const Case cases[] = {
        {" app: http://h/p.exe\r\n appc: http://h/p.ex_\r\n", "http://h/p.ex_"},
        {" app: http://h/p.exe\r\n appc:\r\n", "http://h/p.exe"},
    };
    for (const Case& c : cases) {
        rules::TemplateVars vars;
        rules::RulesFile rules(vars);
        rules.accept(std::string("version: 9\r\nlocation:\r\n") + c.location + "\r\nend-of-rules\r\n");
        EXPECT_EQ(programAddress(rules), c.address);
    }
    EXPECT_EQ(addressHost("http://127.0.0.1:8080/support/x"), "127.0.0.1:8080");
}

TEST(ProgramManifest, OnlyTheManifestFormPasses)
{
    const std::string digest(64, 'a');
    struct Case {
        std::string text;
        bool passes;
    };
    const Case cases[] = {
        {"Tarnwick program manifest\nversion: 4.3.00\nsize: 1\nsha256: " + digest + "\n", true},
        {"Tarnwick program manifest\r\nsha256: " + digest + "\r\nsize: 90\r\nversion: 4.3.00\r\n\r\n", true},
        {"Tarnwick program manifest\nversion: 4.3.00\nsha256: " + digest + "\n", false}, // no size
        {"Tarnwick program manifest\nversion: 4.3.00\nsize: 1e9\nsha256: " + digest + "\n", false},
        {"Tarnwick program manifest\nversion: 4.3.00\nsize: 1000000000000000\nsha256: " + digest + "\n", false},
        // a rules text, which the same key signs, is no manifest
        {"version: 9.9.99.999\r\n;tarnwick\r\nsha256: " + digest + "\r\n\r\nend-of-rules\r\n", false},
        {"Tarnwick program manifest\nversion: 4.3.00\nsha256: " + digest + "\nversion: 9.0\n", false},
        {"Tarnwick program manifest\nversion: 4.3.00\nsha256: " + digest, false}, // cut short
        {"Tarnwick program manifest\nversion: 4.3.00-beta\nsha256: " + digest + "\n", false},
        {"Tarnwick program manifest\nversion: 4.3.00\nsha256: " + std::string(64, 'A') + "\n", false},
        {"Tarnwick program manifest\nversion: 4.3.00\n", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(parseProgramManifest(c.text).has_value(), c.passes) << c.text;
}

TEST(InstallationCheck, TheThreeAnswersAndATemporaryCopyThatCannotReplace)
{
    struct Case {
        const char* name;
        base::Answer answer; // Ok: no question is expected
        const char* runningName;
        bool blockInstall;
        bool copied, restart, closeWindow, installMoved;
        int pauses;
    };
    const Case cases[] = {
        {"Yes copies and restarts", base::Answer::Yes, "elsewhere/tarnwick", false, true, true, false, false, 0},
        {"No moves the directory", base::Answer::No, "elsewhere/tarnwick", false, false, false, false, true, 0},
        {"Cancel closes", base::Answer::Cancel, "elsewhere/tarnwick", false, false, false, true, false, 0},
        {"temporary copy retried", base::Answer::Ok, "log/tarnwick_temp", true, false, true, false, false, 9},
        {"earlier version's copy", base::Answer::Ok, "log/Tarnwick_temp.exe", true, false, true, false, false, 9},
        // the installed program itself, reached through a link: nothing to ask or copy
        {"installed through a link", base::Answer::Ok, "linked/tarnwick", false, true, false, false, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        std::filesystem::create_directories(dir.file("log"));
        std::filesystem::create_directories(dir.file("elsewhere"));
        const std::string running = dir.file(c.runningName);
        const bool linked = std::string_view(c.runningName).starts_with("linked/");
        if (linked) {
            std::filesystem::create_directories(dir.file("app"));
            std::filesystem::create_directory_symlink(dir.file("app"), dir.file("linked"));
        }
        (void)platform::writeFileAtomic(running, "new program");
        const std::string installDir = c.blockInstall ? dir.file("blocked/app") : dir.file("app");
        if (c.blockInstall)
            (void)platform::writeFileAtomic(dir.file("blocked"), "a file, not a folder");
        (void)platform::writeFileAtomic(dir.file("settings.ini"), "");
        AppContext app(dir.file("settings.ini"));
        app.settings.setValue(base::setting::Install, installDir);
        app.settings.setValue(base::setting::ShortcutFolder, dir.file("menu"));
        test::ScriptedFrontEnd fe;
        if (c.answer != base::Answer::Ok)
            fe.nextAnswer(c.answer);
        int pauses = 0;
        const InstallationOutcome out =
            installationCheck(app, fe, running, false, [&](std::chrono::milliseconds) { ++pauses; });
        EXPECT_EQ(platform::readFile(installDir + "/tarnwick").has_value(), c.copied);
        EXPECT_EQ(out.restart, c.restart);
        EXPECT_EQ(out.closeWindow, c.closeWindow);
        EXPECT_EQ(app.settings.value(base::setting::Install) == dir.file("elsewhere"), c.installMoved);
        EXPECT_EQ(pauses, c.pauses);
        EXPECT_EQ(std::filesystem::exists(dir.file("menu/Tarnwick.desktop")), !c.closeWindow);
        if (linked) {
            EXPECT_TRUE(fe.boxes.empty());
        } else if (c.answer == base::Answer::Ok) {
            ASSERT_EQ(fe.boxes.size(), 1u);
            EXPECT_EQ(fe.boxes[0].text, k_copyFailedText);
        } else {
            ASSERT_FALSE(fe.boxes.empty());
            EXPECT_EQ(fe.boxes[0].text.rfind("You are running " + running + "\nThe Application Directory " +
                                                 installDir +
                                                 " holds no copy of the program yet.\n\nDo you want "
                                                 "to copy this program into the Application Directory?",
                                             0),
                      0u);
            EXPECT_EQ(fe.boxes[0].buttons, base::Buttons::YesNoCancel);
        }
    }
}

TEST(InstallationCheck, TheCopyKeepsTheProgramsNameAndTheQuestionSaysWhatItIsFor)
{
    test::TempDir dir;
    std::filesystem::create_directories(dir.file("elsewhere"));
    const std::string running = dir.file("elsewhere/tarnwick-4.3");
    (void)platform::writeFileAtomic(running, "new program");
    AppContext app(dir.file("settings.ini"));
    app.settings.setValue(base::setting::Install, dir.file("app"));
    app.settings.setValue(base::setting::ShortcutFolder, dir.file("menu"));
    test::ScriptedFrontEnd fe;
    const InstallationOutcome out = installationCheck(app, fe, running, true);
    EXPECT_EQ(out.program, dir.file("app/tarnwick-4.3"));
    EXPECT_EQ(platform::readFile(out.program), "new program");
    EXPECT_NE(platform::readFile(dir.file("menu/Tarnwick.desktop")).value_or("").find("Exec=" + out.program),
              std::string::npos);

    const struct {
        std::string running;
        bool previousCopy;
        std::string question;
    } cases[] = {
        {running, true,
         "You are running " + running +
             "\nPreviously you ran /home/ann/app/tarnwick-4.3\n\nDo you want to "
             "overwrite the previous copy of tarnwick-4.3?\n\nIf you choose NO the Application Directory will "
             "be changed to " +
             dir.file("elsewhere") + "."},
        {"/usr/local/bin/tarnwick-4.3", true,
         "You are running /usr/local/bin/tarnwick-4.3\nPreviously you ran /home/ann/app/tarnwick-4.3\n\nTarnwick "
         "keeps its own copy of the program in the Application Directory, a folder you can write: that copy is "
         "what the applications menu starts and what Options > Upgrade replaces. /usr/local/bin is a system folder, "
         "where Tarnwick cannot upgrade itself.\n\nDo you want to overwrite the previous copy of tarnwick-4.3 with "
         "this program?\n\nIf you choose NO the Application Directory will be changed to /usr/local/bin, and "
         "upgrades will fail there."},
        {running, false,
         "You are running " + running +
             "\nThe Application Directory /home/ann/app holds no copy of the program yet.\n\nDo you want to copy "
             "this program into the Application Directory?\n\nIf you choose NO the Application Directory will be "
             "changed to " +
             dir.file("elsewhere") + "."},
    };
    for (const auto& c : cases)
        EXPECT_EQ(overwriteQuestion(c.running, "/home/ann/app/tarnwick-4.3", c.previousCopy), c.question);
}

TEST(RestartArguments, TheProgramThatTakesOverReadsTheSameSettings)
{
    const std::string cwd = std::filesystem::current_path().string();
    const std::pair<std::vector<std::string>, std::vector<std::string>> cases[] = {
        {{"tarnwick"}, {}},
        {{"tarnwick", "--settings", "my.ini", "-auto"}, {"--settings", cwd + "/my.ini", "-auto"}},
        {{"tarnwick", "--settings", "/etc/t.ini"}, {"--settings", "/etc/t.ini"}},
    };
    for (const auto& [argv, expected] : cases)
        EXPECT_EQ(restartArguments(parseArguments(argv)), expected);
}

// tarnwick-cli upgrade against the office simulator, which serves the program file and
// its signature from a folder the test fills.
class UpgradeEndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (platform::distributorKey().empty())
            GTEST_SKIP() << "built without a distributor key";
        std::filesystem::create_directories(m_dir.file("serve"));
        std::filesystem::create_directories(m_dir.file("log"));
        std::filesystem::create_directories(m_dir.file("app"));
        ::setenv("TARNWICK_SIM_PROGRAM_DIR", m_dir.file("serve").c_str(), 1);
        m_office.start(2);
        (void)platform::writeFileAtomic(installed(), k_oldProgram);
        base::AppSettings s(m_dir.file("settings.ini"));
        s.setValue(base::setting::LogDir, m_dir.file("log"));
        s.setValue(base::setting::Install, m_dir.file("app"));
        ASSERT_TRUE(s.writeAll());
        // the rules in use already name the simulator, so the download of newer rules reaches it
        std::filesystem::create_directories(m_dir.file("log/Tarnwick"));
        (void)platform::writeFileAtomic(m_dir.file("log/Tarnwick/rules.txt"), m_office.rulesText("4.2.06.900"));
    }
    void TearDown() override
    {
        m_office.stop();
        ::unsetenv("TARNWICK_SIM_PROGRAM_DIR");
    }
    std::string installed() const { return m_dir.file("app/tarnwick"); }
    void sign(const std::string& file, const std::string& key, const std::string& sig)
    {
        const std::string cmd = "openssl pkeyutl -sign -rawin -inkey " + test::shellQuoted(key) + " -in " +
                                test::shellQuoted(file) + " -out " + test::shellQuoted(sig);
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    }

    static constexpr const char* k_oldProgram = "#!/bin/sh\necho old program\n";
    test::TempDir m_dir;
    test::OfficeSimulator m_office;
};

// A release as the distributor makes one: a manifest naming the version and the expanded program's digest, signed.
TEST_F(UpgradeEndToEnd, OnlyANewerProgramTheDistributorVouchesForIsInstalled)
{
    const std::string testKey = std::string(TARNWICK_TEST_DATA) + "/distributor-test-key.pem";
    const std::string otherKey = m_dir.file("other.pem");
    ASSERT_EQ(std::system(("openssl genpkey -algorithm ed25519 -out " + test::shellQuoted(otherKey)).c_str()), 0);
    std::string program = "#!/bin/sh\necho new program\n";
    program.append(4000, '#'); // long enough to compress well
    const std::string running = app::systemPlaces().version;

    enum class Sig { Good, Bad, Missing, WrongKey, OtherProgram };
    struct Case {
        const char* name;
        bool compressed;
        Sig sig;
        std::string version;
        bool installed;
    };
    const Case cases[] = {
        {"plain, good", false, Sig::Good, "99.0.00", true},
        {"compressed, good", true, Sig::Good, "99.0.00", true},
        {"compressed, bad", true, Sig::Bad, "99.0.00", false},
        {"plain, missing", false, Sig::Missing, "99.0.00", false},
        {"plain, wrong key", false, Sig::WrongKey, "99.0.00", false},
        {"a manifest for another program", false, Sig::OtherProgram, "99.0.00", false},
        {"an older signed program", false, Sig::Good, "0.9.00", false},
        {"this very version", false, Sig::Good, running, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(m_dir.file("serve"));
        std::filesystem::create_directories(m_dir.file("serve"));
        (void)platform::writeFileAtomic(installed(), k_oldProgram);
        // the rules name the compressed address; a plain file there is installed as it is
        const std::string plain = m_dir.file("serve/tarnwick.exe");
        const std::string served = m_dir.file("serve/tarnwick.ex_");
        const std::string manifest = served + ".manifest";
        (void)platform::writeFileAtomic(plain, c.sig == Sig::OtherProgram ? "#!/bin/sh\necho another\n" : program);
        const std::string write = "printf 'Tarnwick program manifest\\nversion: %s\\nsize: %s\\nsha256: %s\\n' " +
                                  test::shellQuoted(c.version) + " \"$(stat -c %s " + test::shellQuoted(plain) +
                                  ")\" \"$(sha256sum " + test::shellQuoted(plain) + " | cut -c1-64)\" >" +
                                  test::shellQuoted(manifest);
        ASSERT_EQ(std::system(write.c_str()), 0);
        (void)platform::writeFileAtomic(plain, program);
        if (c.compressed) {
            ASSERT_EQ(std::system(("mscompress " + test::shellQuoted(plain) + " >/dev/null 2>&1").c_str()), 0);
            std::filesystem::rename(plain + "_", served);
        } else {
            std::filesystem::copy_file(plain, served);
        }
        if (c.sig != Sig::Missing)
            sign(manifest, c.sig == Sig::WrongKey ? otherKey : testKey, manifest + ".sig");
        if (c.sig == Sig::Bad) {
            std::string bytes = platform::readFile(manifest + ".sig").value_or("");
            bytes[10] ^= 1;
            (void)platform::writeFileAtomic(manifest + ".sig", bytes);
        }

        // each case starts from an installation that never installed a newer program
        ASSERT_EQ(test::runCli({"config", "set", "HighestInstalledVersion", ""}, m_dir.file("settings.ini")).exit, 0);
        const test::CliRun run = test::runCli({"upgrade", "--yes"}, m_dir.file("settings.ini"));
        EXPECT_EQ(run.exit, c.installed ? 0 : 1) << run.out << run.err;
        EXPECT_TRUE(platform::readFile(installed()).value_or("") == (c.installed ? program : k_oldProgram));
        if (!c.installed) {
            // the manifest of another, shorter program stops the expansion at its length
            const std::string expected =
                c.sig == Sig::OtherProgram ? expandsPastText(std::string_view("#!/bin/sh\necho another\n").size())
                : c.version == "99.0.00"   ? std::string(k_notSignedText)
                                           : notNewerText(c.version, {running, UpgradeBaseline::Source::Running});
            EXPECT_NE(run.err.find(expected), std::string::npos) << run.err;
        }
        EXPECT_FALSE(std::filesystem::exists(m_dir.file("log/tarnwick_temp.tmp")));
        EXPECT_FALSE(std::filesystem::exists(m_dir.file("log/tarnwick_temp")));
    }
}

TEST_F(UpgradeEndToEnd, WithoutATerminalTheDownloadQuestionIsAnsweredNo)
{
    const test::CliRun run = test::runCli({"upgrade"}, m_dir.file("settings.ini"));
    EXPECT_EQ(run.exit, 1);
    EXPECT_NE(run.err.find(std::string(k_downloadQuestion) + "\n  -> no\n"), std::string::npos) << run.err;
    EXPECT_EQ(platform::readFile(installed()).value_or(""), k_oldProgram);
}

TEST_F(UpgradeEndToEnd, WithoutAnApplicationDirectoryNothingIsDownloaded)
{
    ASSERT_EQ(test::runCli({"config", "set", "Install", ""}, m_dir.file("settings.ini")).exit, 0);
    const test::CliRun run = test::runCli({"upgrade", "--yes"}, m_dir.file("settings.ini"));
    EXPECT_EQ(run.exit, 1);
    EXPECT_NE(run.err.find(k_noInstallDirText), std::string::npos) << run.err;
    EXPECT_FALSE(std::filesystem::exists("tarnwick"));
}

TEST(CliInstall, WritesTheShortcutsOfTheInstalledProgramAndCopiesNothing)
{
    test::TempDir dir;
    {
        base::AppSettings s(dir.file("settings.ini"));
        s.setValue(base::setting::Install, dir.file("app"));
        s.setValue(base::setting::ShortcutFolder, dir.file("menu"));
        ASSERT_TRUE(s.writeAll());
    }
    const test::CliRun run = test::runCli({"install"}, dir.file("settings.ini"));
    ASSERT_EQ(run.exit, 0) << run.err;
    const std::string entry = platform::readFile(dir.file("menu/Tarnwick (auto).desktop")).value_or("");
    EXPECT_NE(entry.find(dir.file("app/tarnwick")), std::string::npos) << entry;
    // the entries show the program's own icon, written beside them
    EXPECT_NE(entry.find("\nIcon=" + dir.file("menu/tarnwick.svg") + "\n"), std::string::npos) << entry;
    EXPECT_NE(platform::readFile(dir.file("menu/tarnwick.svg")).value_or("").find("<svg"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir.file("app/tarnwick")));
}

} // namespace
