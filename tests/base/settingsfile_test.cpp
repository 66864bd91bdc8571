#include "platform/settingsfile.h"

#include "platform/files.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <random>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tarnwick;
using platform::SettingsFile;

namespace {

const std::string k_section = "Software\\Velmora Systems\\Tarnwick\\Settings";

SettingsFile::Sections roundTrip(const SettingsFile::Sections& sections)
{
    return SettingsFile::parse(SettingsFile::format(sections));
}

} // namespace

TEST(SettingsFileFormat, EveryByteRoundTripsInNamesValuesAndSections)
{
    std::string all;
    for (int b = 1; b < 256; ++b)
        all += static_cast<char>(b);
    SettingsFile::Sections sections;
    sections[k_section][all] = all;
    sections[all]["v"] = all;
    for (int b = 0; b < 256; ++b) {
        const std::string c(1, static_cast<char>(b));
        // the byte alone, at both ends, and inside
        sections[k_section][c] = c;
        sections[k_section][c + "name" + c] = c + "value" + c;
        sections[k_section]["in" + c + "side"] = "in" + c + c + "side";
        sections["s" + c][c + c] = " " + c + " ";
    }
    sections[k_section]["blanks"] = "  both ends  ";
    sections[k_section][""] = "";
    sections[""]["nameless section"] = "[not a header";
    EXPECT_EQ(roundTrip(sections), sections);

    const std::string text = SettingsFile::format(sections);
    // one line per value: no raw line break or control byte survives in the text
    for (char c : text)
        EXPECT_TRUE(c == '\n' || static_cast<unsigned char>(c) >= 0x20) << static_cast<int>(c);
}

TEST(SettingsFileFormat, ReadsWhatItCanOfADamagedFile)
{
    struct Case {
        const char* name;
        std::string text;
        SettingsFile::Sections expected;
    };
    const Case cases[] = {
        {"empty", "", {}},
        {"plain", "[S]\nA=1\nB = two words \r\n", {{"S", {{"A", "1"}, {"B", "two words"}}}}},
        {"comments and blank lines", "; c\n# c\n\n[S]\n  ; c\nA=1\n", {{"S", {{"A", "1"}}}}},
        {"line without =", "[S]\ngarbage\nA=1\n", {{"S", {{"A", "1"}}}}},
        {"broken header: its values go nowhere",
         "[S]\nA=1\n[T\nB=2\n[U]\nC=3\n",
         {{"S", {{"A", "1"}}}, {"U", {{"C", "3"}}}}},
        {"last value of a name wins", "[S]\nA=1\nA=2\n", {{"S", {{"A", "2"}}}}},
        {"repeated section merges",
         "[S]\nA=1\n[T]\nX=x\n[S]\nB=2\n",
         {{"S", {{"A", "1"}, {"B", "2"}}}, {"T", {{"X", "x"}}}}},
        {"value may hold =", "[S]\nA=b=c\n", {{"S", {{"A", "b=c"}}}}},
        {"stray percent reads as itself",
         "[S]\nA=100%\nB=%4\nC=%zz%41\n",
         {{"S", {{"A", "100%"}, {"B", "%4"}, {"C", "%zzA"}}}}},
        {"lower-case escapes", "[S]\nA=%0d%0a\n", {{"S", {{"A", "\r\n"}}}}},
        {"NUL in the text", std::string("[S]\nA=x\0y\n", 10), {{"S", {{"A", std::string("x\0y", 3)}}}}},
        {"no final line end", "[S]\nA=1", {{"S", {{"A", "1"}}}}},
        {"a leading byte-order mark is skipped", "\xEF\xBB\xBF[S]\nA=1\n", {{"S", {{"A", "1"}}}}},
        {"empty section is dropped", "[S]\n[T]\nA=1\n", {{"T", {{"A", "1"}}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SettingsFile::Sections got = SettingsFile::parse(c.text);
        EXPECT_EQ(got, c.expected);
        EXPECT_EQ(roundTrip(got), got);
    }
}

TEST(SettingsFile, UpdateMergesKeepsUnknownValuesAndCreatesFolders)
{
    test::TempDir dir;
    const std::string path = dir.file("a/b/settings.ini");
    SettingsFile file(path);
    EXPECT_TRUE(file.read().empty());
    ASSERT_TRUE(file.setValue(k_section, "A", "1"));
    // another program's values and sections on disk survive our writes
    ASSERT_TRUE(platform::writeFileAtomic(path, platform::readFile(path).value() + "[Other]\nZ=kept\n"));
    ASSERT_TRUE(file.setValue(k_section, "B", std::string(100000, 'b')));
    ASSERT_TRUE(file.setValue(k_section, "A", std::nullopt));
    SettingsFile::Sections expected{{"Other", {{"Z", "kept"}}}, {k_section, {{"B", std::string(100000, 'b')}}}};
    EXPECT_EQ(file.read(), expected);

    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "the file holds the password";
}

TEST(SettingsFile, FileThatCannotBeReadIsNotReplaced)
{
    test::TempDir dir;
    ASSERT_EQ(::mkdir(dir.file("settings.ini").c_str(), 0700), 0);
    EXPECT_FALSE(SettingsFile(dir.file("settings.ini")).setValue(k_section, "A", "1"));
    // below a regular file
    ASSERT_TRUE(platform::writeFileAtomic(dir.file("plain"), "x"));
    EXPECT_FALSE(SettingsFile(dir.file("plain/settings.ini")).setValue(k_section, "A", "1"));
    EXPECT_EQ(platform::readFile(dir.file("plain")), "x");
}

// Processes writing different values at the same time lose none of them.
TEST(SettingsFile, ConcurrentWritersKeepEachOthersValues)
{
    test::TempDir dir;
    const std::string path = dir.file("settings.ini");
    constexpr int k_writers = 4;
    constexpr int k_values = 25;
    std::vector<pid_t> children;
    for (int w = 0; w < k_writers; ++w) {
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            SettingsFile file(path);
            bool ok = true;
            for (int v = 0; v < k_values; ++v)
                ok = file.setValue(k_section, "W" + std::to_string(w) + "V" + std::to_string(v), "x") && ok;
            ::_exit(ok ? 0 : 1);
        }
        children.push_back(child);
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_EQ(SettingsFile(path).read()[k_section].size(), static_cast<size_t>(k_writers * k_values));
}

// A write killed at any moment leaves the old settings or the new ones, never a torn file.
TEST(SettingsFile, KilledWriteLeavesOneWholeFile)
{
    test::TempDir dir;
    const std::string path = dir.file("settings.ini");
    SettingsFile::Sections a;
    SettingsFile::Sections b;
    for (int i = 0; i < 2000; ++i) {
        std::string name = "Value" + std::to_string(i);
        a[k_section][name] = "first content " + std::to_string(i) + std::string(40, 'a');
        b[k_section][name] = "second content " + std::to_string(i) + std::string(40, 'b');
    }
    ASSERT_TRUE(SettingsFile(path).update([&](SettingsFile::Sections& s) { s = a; }));

    std::mt19937 random(6021);
    std::uniform_int_distribution<int> delayMicros(0, 8000);
    bool onDiskA = true;
    for (int round = 0; round < 200; ++round) {
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // the first write stores the other content than the one on disk
            SettingsFile file(path);
            for (bool writeA = !onDiskA;; writeA = !writeA)
                (void)file.update([&](SettingsFile::Sections& s) { s = writeA ? a : b; });
        }
        ::usleep(static_cast<useconds_t>(delayMicros(random)));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        SettingsFile::Sections now = SettingsFile(path).read();
        ASSERT_TRUE(now == a || now == b) << "torn after round " << round;
        onDiskA = now == a;
    }
}
