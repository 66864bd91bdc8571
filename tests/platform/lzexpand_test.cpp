#include "platform/lzexpand.h"

#include "platform/command.h"
#include "platform/files.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <random>
#include <sys/stat.h>

using namespace tarnwick;

namespace {

// A compressed file by hand: the header with `length`, then `codes` as they are.
std::string compressed(std::uint32_t length, std::string_view codes, char method = 'A')
{
    std::string out("SZDD\x88\xF0\x27\x33", 8);
    out += method;
    out += 'e';
    for (int i = 0; i < 4; ++i)
        out += static_cast<char>((length >> (8 * i)) & 0xFF);
    out.append(codes);
    return out;
}

std::string randomBytes(std::size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    std::string out(n, '\0');
    for (char& c : out)
        c = static_cast<char>(gen() & 0xFF);
    return out;
}

// Words from a small vocabulary: matches of every length mixed with literals.
std::string prose(std::size_t n)
{
    static const char* const words[] = {"trademark ", "status ", "registered ", "SERIAL ",  "pending\r\n",
                                        "office ",    "owner ",  "2004-07-13 ", "Velmora ", "\x01\x02 "};
    std::mt19937 gen(7);
    std::string out;
    while (out.size() < n)
        out += words[gen() % 10];
    out.resize(n);
    return out;
}

} // namespace

// mscompress writes files under 16 bytes wrongly (they expand to blanks and
// zeros with msexpand too), so the shortest cases are the hand-made ones below.
TEST(LzExpand, RestoresWhatMscompressCompressed)
{
    const struct {
        const char* name;
        std::string original;
    } cases[] = {
        {"empty", ""},
        {"sixteen.txt", "Tarnwick 4.2.06\n"},
        {"blank-led.txt", std::string(40, ' ') + "starts inside the blank-filled window"},
        {"repetitive.bin", std::string(1 << 20, '\0')},
        {"phrase.txt",
         [] {
             std::string s;
             while (s.size() < 100000)
                 s += "status unchanged; ";
             return s;
         }()},
        {"random.bin", randomBytes(256 * 1024, 1)},
        {"prose.txt", prose(300 * 1024)},
    };
    test::TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file(c.name);
        ASSERT_TRUE(platform::writeFileAtomic(path, c.original));
        ASSERT_EQ(test::runCommand({"mscompress", path}).exit, 0);
        std::optional<std::string> packed = platform::readFile(path + "_");
        ASSERT_TRUE(packed);
        ASSERT_TRUE(platform::isLzCompressed(*packed));
        std::string out;
        EXPECT_EQ(platform::lzExpand(*packed, out), "");
        EXPECT_TRUE(out == c.original) << "expanded " << out.size() << " of " << c.original.size() << " bytes";
    }
}

TEST(LzExpand, ReadsEachKindOfCode)
{
    const struct {
        const char* scenario;
        std::string data;
        std::string expanded;
    } cases[] = {
        {"one literal", compressed(1, "\x01x"), "x"},
        {"a copy from the untouched window gives blanks", compressed(3, std::string(3, '\0')), "   "},
        {"a copy overlapping its own output repeats it",
         compressed(8, "\x03"
                       "ab\xF0\xF3"),
         "abababab"},
        {"the header's length ends a copy early",
         compressed(4, "\x03"
                       "ab\xF0\xF3"),
         "abab"},
        {"codes beyond the header's length are ignored", compressed(0, "\x01\x00"), ""},
        {"writing and copying wrap from the window's end to its start",
         compressed(21, "\xFF"
                        "01234567"
                        "\xFF"
                        "89abcdef"
                        "\x01"
                        "g\xFE\xF1"),
         "0123456789abcdefgefge"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        std::string out;
        EXPECT_EQ(platform::lzExpand(c.data, out), "");
        EXPECT_EQ(out, c.expanded);
    }
}

TEST(LzExpand, CopiesOtherFilesUnchanged)
{
    const std::string cases[] = {
        "",
        std::string("\x7f"
                    "ELF\x02\x01\x01\0",
                    8),
        "SZDD",                                                 // the magic's start only
        std::string("SZ \x88\xF0\x27\x33\xD1\0\0\0\0\0\0", 14), // another program's variant
        "KWAJ\x88\xF0\x27\xD1",
    };
    for (const std::string& data : cases) {
        SCOPED_TRACE(data);
        std::string out = "stale";
        EXPECT_EQ(platform::lzExpand(data, out), "");
        EXPECT_EQ(out, data);
    }
}

TEST(LzExpand, RefusesDamagedFiles)
{
    const struct {
        const char* scenario;
        std::string data;
        const char* error;
    } cases[] = {
        {"header cut short", compressed(5, "").substr(0, 13),
         "The compressed file is truncated: its header is incomplete."},
        {"unknown method", compressed(1, "\x01x", 'B'), "The compressed file uses an unknown compression method."},
        {"huge length claimed", compressed(0xFFFFFFFF, "\x01x"),
         "The compressed file is truncated: it holds 1 of the 4294967295 bytes its header gives."},
        {"codes stop before the length", compressed(3, "\x01x"),
         "The compressed file is truncated: it holds 1 of the 3 bytes its header gives."},
        {"ends inside a copy code", compressed(3, std::string("\0\0", 2)),
         "The compressed file is truncated: it holds 0 of the 3 bytes its header gives."},
        {"ends where a literal should be",
         compressed(2, "\x03"
                       "a"),
         "The compressed file is truncated: it holds 1 of the 2 bytes its header gives."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        std::string out = "stale";
        EXPECT_EQ(platform::lzExpand(c.data, out), c.error);
        EXPECT_EQ(out, "");
    }
}

TEST(LzExpandFile, WritesAnExecutableProgramOrNothing)
{
    test::TempDir dir;
    ASSERT_TRUE(platform::writeFileAtomic(dir.file("good.ex_"), compressed(8, "\x03"
                                                                              "ab\xF0\xF3")));
    ASSERT_TRUE(platform::writeFileAtomic(dir.file("bad.ex_"), compressed(9, "\x03"
                                                                             "ab\xF0\xF3")));
    const struct {
        const char* from;
        const char* to;
        bool ok;
        long long length;
    } cases[] = {
        {"good.ex_", "good.exe", true, 8},
        {"bad.ex_", "bad.exe", false, 0},
        {"missing.ex_", "missing.exe", false, 0},
        {"good.ex_", "no-such-folder/good.exe", false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.to);
        long long length = -1;
        const std::string error = platform::lzExpandFile(dir.file(c.from), dir.file(c.to), length);
        EXPECT_EQ(error.empty(), c.ok) << error;
        EXPECT_EQ(length, c.length);
        EXPECT_EQ(platform::fileExists(dir.file(c.to)), c.ok);
    }
    EXPECT_EQ(platform::readFile(dir.file("good.exe")), "abababab");
    struct stat st {};
    ASSERT_EQ(::stat(dir.file("good.exe").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);
}
