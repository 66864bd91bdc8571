#include "rules/pattern.h"

#include "rules/rulesfile.h"
#include "rules/templatevars.h"

#include <gtest/gtest.h>

using namespace tarnwick;
using rules::matchPattern;

namespace {

struct MatchCase {
    const char* what;
    std::string page;
    std::string pattern;
    std::string expected;
};

void runCases(const std::vector<MatchCase>& cases)
{
    for (const MatchCase& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(matchPattern(c.page, c.pattern), c.expected);
    }
}

} // namespace

TEST(PatternMatch, ForwardAnchorsCapturesAndSkips)
{
    runCases({
        {"capture at the end captures nothing", "x<b>A</b>y", "<b>A</b>[*]", ""},
        {"... but its edit still appends", "x<b>A</b>y", "<b>A</b>[*'!]", "!"},
        {"a leading token matches any page", "anything", "[*'!]<br/>", ""},
        {"numbered slot with an append", "aXbcYd", "X[*3'!]Y", "bc!"},
        {"raw capture again", "XabY", "X[*#*]Y", "abab"},
        {"operations in order", "XabY", "X[*#'(#*#')]Y", "ab(ab)"},
        {"slot 0 is slot 1, its edit does nothing", "XabY", "X[*0]Y", "ab"},
        {"other edits do nothing", "XabY", "X[*2x]Y", "ab"},
        {"skip passes over the text", "X1Y2Y3Z", "X[-]Y[*]Z", "2Y3"},
        {"each anchor is the first after the previous", "ZX1Y2Y", "X[*]Y", "1"},
        {"a missing anchor fails the whole match", "X1Y2", "X[*]Y[*2]Z", ""},
        {"slots join in slot order", "<s>Reg<d>2004<e>", "<s>[*2]<d>[*1' - ]<e>", "2004 - Reg"},
        {"a later token overwrites the capture", "A1B2C", "A[*]B[*]C", "2"},
        {"[*] keeps the slot's edit", "A1B2C", "A[*'!]B[*]C", "2!"},
        {"[*2] keeps slot 2's edit", "aaX1 -2Ybb", "X[*2#-=+]1[*2]Y", " +2"},
        {"two tokens in a row end the match", "A1B2C", "A[*]B[-][*2]C", "1"},
        {"an unclosed token takes the rest", "A1B2", "A[*]B[*2", "1"},
        {"escaped open bracket is literal", "za[*]bz", "a[[]*]b[*'!]", "!"},
        {"... and must be on the page", "zabz", "a[[]*]b[*'!]", ""},
        {"escaped close bracket", "x]y123z", "x[]]y[*]z", "123"},
        {"literals meet the page's line breaks", "A:1<br/>\r\nB", "A:[*]<br/>", "1"},
        {"... so a bare <br/> does not match", "A:1<br/>B", "A:[*]<br/>", ""},
        {"replace edits search in page form", "S<br/>\r\nL1<br/>\r\nL2<br/>\r\nE", "S[*#<br/>=|]E", "|L1|L2|"},
        {"only the first = divides", "Xa=bY", "X[*#a==c]Y", "=c=b"},
        {"empty operations are skipped", "XabY", "X[*##'!##]Y", "ab!"},
        {"empty page", "", "X[*]Y", ""},
        {"empty pattern", "abc", "", ""},
    });
}

TEST(PatternMatch, DateEditsConvertTheRawCapture)
{
    runCases({
        {"day month year", "D:15 Mar 2004.", "D:[*#dmy].", "2004-03-15"},
        {"month day year, earlier text discarded", "D:Mar 15, 2004.", "D:[*#'x#mdy].", "2004-03-15"},
        {"from the raw capture, not the edited text", "D:15 Mar 2004.", "D:[*#1=2#dmy].", "2004-03-15"},
        {"appends after the date", "D:05.12.2003;", "D:[*#dd?mm?yyyy#' - ];", "2003-12-05 - "},
        {"unknown format", "D:15 Mar 2004.", "D:[*#ymd].", "\?\?\?\?-\?\?-\?\?"},
    });
}

TEST(PatternMatch, TailIsMatchedBackwardsFromItsLastAnchor)
{
    runCases({
        {"tail anchor nearest before the next one", "X1YP2P3Q", "X[*]Y[--]P[*2]Q", "13"},
        {"tail fails when its last anchor is missing", "X1YP2", "X[*]Y[--]P[*2]Q", ""},
        {"the last anchor must follow the head", "QX1Y", "X[*]Y[--]Q", ""},
        {"the head must match", "P2Q", "X[*]Y[--]P[*2]Q", ""},
        {"skips work backwards too", "HS1M.S2M..E", "H[--]S[*]M[-]E", "2"},
        {"the last anchor is its first occurrence", "H<a><b>", "H[--]<[*2'!]>", "a!"},
        {"nearest line before the end anchor", "H<br/>\r\nv<br/>\r\nw<br/>\r\n<hr/>", "H[--]\r\n[*]<br/>\r\n<hr/>",
         "w"},
        {"escapes in the tail", "Xa[b9c]d", "X[--]a[[]b[*]c[]]d", "9"},
        {"a tail ending in a token reads nothing, not even its edit", "X1YQ", "X[*]Y[--]Q[*2'!]", "1"},
        {"only the first [--] divides", "X1Y[--]Z", "X[*]Y[--][--]Z", "1"},
    });
}

namespace {

class FieldRead : public ::testing::Test {
protected:
    FieldRead() : m_rules(m_vars)
    {
        m_rules.useText("version: 1\r\n"
                        "fetch1:\r\n"
                        " [A]: A:[*]<br/>\r\n"
                        " none[A]: (NOT AVAILABLE)\r\n"
                        " [B]: B:[*]<br/>\r\n"
                        " none[B]: (NOT AVAILABLE)==\?\?\?\?-\?\?-\?\? - Not found.\r\n"
                        " [C]: C:[*]<br/>\r\n"
                        " none[C]:  - (NA)==replaced\r\n"
                        " [D]: D:[*#dmy]<br/>\r\n"
                        " none[E]: ==filled in\r\n");
    }
    std::string read(std::string_view page, std::string_view key, bool raw = false)
    {
        return rules::extractField(page, m_rules, "fetch1", key, raw);
    }
    rules::TemplateVars m_vars;
    rules::RulesFile m_rules;
};

} // namespace

TEST_F(FieldRead, CleansValuesAndAppliesTheNoneRule)
{
    struct Case {
        const char* page;
        const char* key;
        bool raw;
        const char* expected;
    } cases[] = {
        {"A:<i>ACME &amp; SONS</i>&nbsp; INC <br/>\r\n", "[A]", false, "ACME & SONS INC"},
        {"A: <i>x</i> <br/>\r\n", "[A]", true, " <i>x</i> "},
        {"A: (NOT AVAILABLE) <br/>\r\n", "[A]", false, ""},
        {"A:(not available)<br/>\r\n", "[A]", false, "(not available)"}, // case matters
        {"B:(NOT AVAILABLE)<br/>\r\n", "[B]", false, "\?\?\?\?-\?\?-\?\? - Not found."},
        {"C: - (NA)<br/>\r\n", "[C]", false, "- (NA)"}, // a cleaned value never starts with a blank
        {"C: - (NA)<br/>\r\n", "[C]", true, "replaced"},
        {"D:no date here<br/>\r\n", "[D]", false, ""}, // the unknown date reads as empty
        {"D:15 Mar 2004<br/>\r\n", "[D]", false, "2004-03-15"},
        {"no anchors", "[A]", false, ""},
        {"anything", "[E]", false, "filled in"}, // no pattern: the empty value meets the none rule
        {"anything", "[Missing]", false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.key) + " on " + c.page);
        EXPECT_EQ(read(c.page, c.key, c.raw), c.expected);
    }
}

TEST(PatternMatchScale, NearMissAnchorsOnALargePage)
{
    std::string page;
    const std::string nearMiss = "<b>Serial Number:</b <br/>\r\n";
    while (page.size() < 2'000'000)
        page += nearMiss;
    EXPECT_EQ(matchPattern(page, "<b>Serial Number:</b>[*]<br/>"), "");
    page += "<b>Serial Number:</b>75123456<br/>\r\n";
    EXPECT_EQ(matchPattern(page, "<b>Serial Number:</b>[*]<br/>"), "75123456");
}

TEST(PatternMatchScale, EditsCannotGrowACaptureWithoutBound)
{
    std::string edits;
    for (int i = 0; i < 25; ++i)
        edits += "#a=aa#*";
    std::string value = matchPattern("XaY", "X[*" + edits + "]Y");
    EXPECT_LE(value.size(), rules::editLimit(1));
    EXPECT_GT(value.size(), rules::editLimit(1) / 2);
    EXPECT_EQ(value.find_first_not_of('a'), std::string::npos);
}

TEST(PatternMatchScale, ChainOfEditsPastItsWorkBudgetLeavesOutTheRest)
{
    std::string edits;
    for (int i = 0; i < 200000; ++i)
        edits += "#A=AA";
    std::string value = matchPattern("XAY", "X[*" + edits + "#'!]Y");
    EXPECT_LE(value.size(), rules::editLimit(1));
    EXPECT_EQ(value.find('!'), std::string::npos);
}
