#include "core/text.h"

#include <gtest/gtest.h>

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
