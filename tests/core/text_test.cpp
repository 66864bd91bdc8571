#include "core/text.h"

#include <gtest/gtest.h>

#include <string>

using namespace tarnwick::core;

TEST(ReplaceAll, NeverRescansInsertedText)
{
    struct Case {
        const char* text;
        const char* from;
        const char* to;
        const char* want;
    } cases[] = {
        {"aaa", "a", "aa", "aaaaaa"}, {"abcabc", "bc", "", "aa"}, {"xyz", "", "q", "xyz"},
        {"aaaa", "aa", "a", "aa"},    {"", "a", "b", ""},         {"<br/>", "<br/>", "<br/>\r\n", "<br/>\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(replaceAll(c.text, c.from, c.to), c.want);
    }
}

TEST(FindBytes, AgreesWithAPlainSearchWithAndWithoutCase)
{
    const std::string page = std::string(40, 'a') + "<b>Serial Number:</b>75123456<br/>" + std::string(40, 'a') + "X";
    // a needle that nearly matches at every other position: the search must stay linear and still find it
    std::string hostileNeedle;
    for (int i = 0; i < 1000; ++i)
        hostileNeedle += "ab";
    hostileNeedle += "c";
    const std::string hostileText = hostileNeedle.substr(0, 2000) + hostileNeedle.substr(0, 2000) + hostileNeedle;
    struct Case {
        std::string text;
        std::string needle;
        size_t from;
    } cases[] = {
        {page, "<b>Serial Number:</b>", 0},
        {page, "<B>serial NUMBER:</B>", 0},
        {page, "<b>Serial Number:</b>", 41},
        {page, "X", 0},
        {page, "aX", 0},
        {page, "ax", 0},
        {page, "", 5},
        {page, "q", 0},
        {page, page + "a", 0},
        {page, "a", page.size() + 1},
        {"x@y", "x`y", 0},
        {"x[Y", "X{y", 0},
        {"\r\n", "-*", 0},
        {hostileText, hostileNeedle, 0},
        {hostileText, "ABC", 3},
    };
    auto upper = [](std::string s) {
        for (char& c : s)
            c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
        return s;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.needle.substr(0, 30));
        const size_t exact = c.from > c.text.size() ? std::string::npos : c.text.find(c.needle, c.from);
        const size_t folded = c.from > c.text.size() ? std::string::npos : upper(c.text).find(upper(c.needle), c.from);
        EXPECT_EQ(findBytes(c.text, c.needle, c.from), exact);
        EXPECT_EQ(findBytesNoCase(c.text, c.needle, c.from), folded);
    }
}

TEST(CompareNoCase, FoldsAsciiAndLatin1Letters)
{
    EXPECT_EQ(compareNoCase("ABC", "abc"), 0);
    EXPECT_EQ(compareNoCase("\xC9T\xC9", "\xE9t\xE9"), 0); // ÉTÉ / été
    EXPECT_LT(compareNoCase("abc", "abd"), 0);
    EXPECT_LT(compareNoCase("ab", "abc"), 0);
    EXPECT_NE(compareNoCase("\xD7", "\xF7"), 0); // multiplication and division signs are no letters
}

TEST(LeadingInteger, ReadsLikeTheCLibraryWithoutOverflow)
{
    EXPECT_EQ(leadingInteger("  42abc"), 42);
    EXPECT_EQ(leadingInteger("-7"), -7);
    EXPECT_EQ(leadingInteger("+3"), 3);
    EXPECT_EQ(leadingInteger("x1"), 0);
    EXPECT_EQ(leadingInteger(""), 0);
    EXPECT_GT(leadingInteger("99999999999999999999999"), 0);
}

TEST(EscapeXml, ReplacesTheFiveMarkupCharactersOnly)
{
    EXPECT_EQ(escapeXml("R&D <X> \"q\" 'a' \xE9"), "R&amp;D &lt;X&gt; &quot;q&quot; &apos;a&apos; \xE9");
    // control bytes XML cannot carry become blanks; TAB, LF and CR stay
    EXPECT_EQ(escapeXml(std::string("E\x01V\x0bI\x1fL\0\t\n\r\x7f", 12)), "E V I L \t\n\r\x7f");
}
