#include "platform/lzexpand.h"

#include "platform/command.h"
#include "platform/files.h"
#include "platform/signature.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <sys/resource.h>
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

// Words from a small vocabulary (copies of every length among literals), or random
// bytes (almost only literals) when `words` is false.
std::string sample(std::size_t n, bool words)
{
    static const char* const vocabulary[] = {"trademark ", "status ", "SERIAL ", "pending\r\n", "\x01\x02 "};
    std::mt19937 gen(7);
    std::string out;
    while (out.size() < n) {
        if (words)
            out += vocabulary[gen() % 5];
        else
            out += static_cast<char>(gen());
    }
    out.resize(n);
    return out;
}

// A compressed file of `length` bytes "a": one literal, then copies of 18 bytes from where it was written.
std::string manyA(std::uint32_t length)
{
    std::string codes = "\001a";
    int inGroup = 1;
    for (std::uint64_t out = 1; out < length; out += 18, ++inGroup) {
        if (inGroup == 8) {
            codes += '\0';
            inGroup = 0;
        }
        codes += "\xF0\xFF";
    }
    return compressed(length, codes);
}

long peakKilobytes()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
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
        {"zeros.bin", std::string(1 << 20, '\0')},
        {"random.bin", sample(256 * 1024, false)},
        {"words.txt", sample(300 * 1024, true)},
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

TEST(LzExpand, ReadsEachKindOfCodeAndPassesOtherFilesThrough)
{
    const struct {
        const char* scenario;
        std::string data;
        std::string expanded;
    } cases[] = {
        {"one literal", compressed(1, "\x01x"), "x"},
        {"a copy from the untouched window gives blanks", compressed(3, std::string(3, '\0')), "   "},
        {"a copy overlapping its own output repeats it", compressed(8, "\003ab\xF0\xF3"), "abababab"},
        {"the header's length ends a copy early", compressed(4, "\003ab\xF0\xF3"), "abab"},
        {"codes beyond the header's length are ignored", compressed(0, "\001x"), ""},
        {"writing and copying wrap from the window's end to its start",
         compressed(21, "\37701234567\37789abcdef\001g\xFE\xF1"), "0123456789abcdefgefge"},
        {"an empty file is not compressed", "", ""},
        {"nor is a program", "\177ELF\002\001", "\177ELF\002\001"},
        {"nor is the magic's start alone", "SZDD", "SZDD"},
        {"nor another program's variant", "SZ \x88\xF0\x27\x33\xD1\001x", "SZ \x88\xF0\x27\x33\xD1\001x"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        std::string out;
        EXPECT_EQ(platform::lzExpand(c.data, out), "");
        EXPECT_EQ(out, c.expanded);
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
        {"ends where a literal should be", compressed(2, "\003a"),
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
    ASSERT_TRUE(platform::writeFileAtomic(dir.file("good.ex_"), compressed(8, "\003ab\xF0\xF3")));
    ASSERT_TRUE(platform::writeFileAtomic(dir.file("bad.ex_"), compressed(9, "\003ab\xF0\xF3")));
    platform::ExpandedFile expanded;
    EXPECT_NE(platform::lzExpandFile(dir.file("bad.ex_"), dir.file("bad.exe"), 100, expanded), "");
    EXPECT_EQ(expanded.length, 0u);
    EXPECT_FALSE(platform::fileExists(dir.file("bad.exe")));

    EXPECT_EQ(platform::lzExpandFile(dir.file("good.ex_"), dir.file("good.exe"), 100, expanded), "");
    EXPECT_EQ(expanded.length, 8u);
    EXPECT_EQ(platform::readFile(dir.file("good.exe")), "abababab");
    struct stat st {};
    ASSERT_EQ(::stat(dir.file("good.exe").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);
}

TEST(LzExpandFile, StopsAtTheFirstBytePastTheMaximumAndHashesWhatItWrites)
{
    struct Case {
        const char* scenario;
        std::string data;
        std::uint64_t maxLength;
        std::string expanded; // empty: the expansion fails
        bool past;
    };
    const Case cases[] = {
        {"compressed, exactly the maximum", manyA(1000), 1000, std::string(1000, 'a'), false},
        {"compressed, one byte past", manyA(1001), 1000, "", true},
        // a small download that would fill the disk
        {"compressed, far past", manyA(64u << 20), 1 << 20, "", true},
        {"plain, exactly the maximum", "plain program", 13, "plain program", false},
        {"plain, one byte past", "plain program", 12, "", true},
        {"compressed, cut short", compressed(9, "\003ab\xF0\xF3"), 100, "", false},
    };
    test::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scenario);
        ASSERT_TRUE(platform::writeFileAtomic(dir.file("in"), c.data));
        ASSERT_TRUE(platform::writeFileAtomic(dir.file("out"), "old"));
        platform::ExpandedFile expanded;
        const std::string error = platform::lzExpandFile(dir.file("in"), dir.file("out"), c.maxLength, expanded);
        EXPECT_EQ(error.empty(), !c.expanded.empty()) << error;
        EXPECT_EQ(expanded.past, c.past);
        EXPECT_EQ(expanded.length, c.expanded.size());
        EXPECT_EQ(expanded.sha256, c.expanded.empty() ? "" : platform::sha256Hex(c.expanded));
        EXPECT_TRUE(platform::readFile(dir.file("out")) == (c.expanded.empty() ? "old" : c.expanded));
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2); // nothing left beside
    }
}

TEST(LzExpandFile, NeverHoldsTheExpandedProgramInMemory)
{
    constexpr std::uint32_t k_length = 96u << 20;
    test::TempDir dir;
    ASSERT_TRUE(platform::writeFileAtomic(dir.file("in"), manyA(k_length)));
    const long before = peakKilobytes();
    platform::ExpandedFile expanded;
    ASSERT_EQ(platform::lzExpandFile(dir.file("in"), dir.file("out"), k_length, expanded), "");
    EXPECT_EQ(expanded.length, k_length);
    EXPECT_LT(peakKilobytes() - before, 16 * 1024) << "kilobytes more at the peak";
}
