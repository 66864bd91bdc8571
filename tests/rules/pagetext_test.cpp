#include "rules/pagetext.h"

#include "core/text.h"
#include "platform/files.h"

#include <gtest/gtest.h>

#include <string>

using namespace tarnwick;
using namespace std::string_literals;

namespace {

struct Case {
    std::string input;
    std::string expected;
};

std::string samplePage()
{
    std::optional<std::string> page = platform::readFile(TARNWICK_TEST_DATA "/status-registered.html");
    EXPECT_TRUE(page.has_value());
    return page.value_or("");
}

} // namespace

TEST(NormalisePage, Cases)
{
    const Case cases[] = {
        // line ends
        {"a\nb\n", "a\r\nb\r\n"},
        {"a\r\nb\nc\n", "a\r\nb\nc\n"},
        {"\r\n\r\n", "\r\n\r\n"},
        // comments: a closed one goes, an unterminated one and what follows stays
        {"<!-- a --> x <!-- b", "x<!-- b"},
        {"<!-->x", "x"},
        {"<!<!-- x -->-- y -->", "<!-->"},
        {"a <!-- b > c", "a<!-->c"},
        // blank space around tags, case, attributes
        {"Serial Number:  </B>\r\n   <BR>  75123456", "Serial Number:</b><br>\r\n75123456"},
        {"<TD VALIGN=top>x<td>y", "\r\n<td>x\r\n<td>y"},
        {"a<br />b", "a<br/>\r\nb"},
        {"a<BR/ >b", "a<br/>\r\nb"},
        {"a < b and c > d", "a<>d"},
        {"x<B>  ", "x<b>  "},
        {"x<B>  y  ", "x<b>y  "},
        {"  \r\n  <P>text", "\r\n<p>text"},
        {"<b>\r\n  x</b>", "<b>\r\nx</b>"},
        {"<B>\n  x", "<b>\r\nx"},
        {"<A\r\nHREF=x>", "<a\r\nhref=x>"},
        {"A  <B\r\nc  <D>", "A<b\r\nc>"},
        {"<BR><P><BR/><TD>", "<br>\r\n\r\n<p><br/>\r\n\r\n<td>"},
        // a "<" without ">" ends the tag step; the rest keeps its case and blanks
        {"A  <B\r\nc  d", "A<B\r\nc  d"},
        {"a <", "a<"},
        // other blank forms
        {"x\xA0<B>\xA0y", "x<b>y"},
        {"&nbsp;&#160;\t<I>\tz", "<i>z"},
        {"&amp;nbsp;", "&amp;nbsp;"},
        {"<&NBSP; x>", "<&nbsp;>"},
        // NUL bytes are ordinary characters
        {"a\0<B>\0b"s, "a\0<b>\0b"s},
        {"<A\0B>"s, "<a\0b>"s},
        // line starts
        {"  a\r\n   b\r\n\r\n  c", "a\r\nb\r\n\r\nc"},
        {"", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(rules::normalisePage(c.input), c.expected);
    }
}

TEST(InsertLineBreaks, OnlyExactLowerCaseForms)
{
    const Case cases[] = {
        {"<p><form><input><table><td><br><br/>", "\r\n<p>\r\n<form>\r\n<input>\r\n<table>\r\n<td><br>\r\n<br/>\r\n"},
        {"<P><td ><tdx><br /><br/", "<P><td ><tdx><br /><br/"},
        {"a<<br>>b", "a<<br>\r\n>b"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(rules::insertLineBreaks(c.input), c.expected);
    }
}

TEST(NormalisePage, ManyCopiesOfAPageJoinWhereTheCopiesMeet)
{
    const std::string page = samplePage();
    ASSERT_TRUE(page.starts_with("<"));
    ASSERT_TRUE(page.ends_with(">\r\n"));
    const std::string one = rules::normalisePage(page);
    ASSERT_TRUE(one.ends_with("\r\n"));
    // the line end after the last tag of a copy is blank space before the next copy's first tag
    const std::string joined = one.substr(0, one.size() - 2);
    std::string many;
    std::string expected;
    for (int i = 0; i < 100; ++i) {
        many += page;
        expected += i == 99 ? one : joined;
    }
    EXPECT_TRUE(rules::normalisePage(many) == expected);
}

TEST(NormalisePage, SamplePageHasTheAnchorsOfTheDefaultRules)
{
    struct Anchor {
        std::string before;
        std::string after;
        std::string value;
    };
    const Anchor anchors[] = {
        {"<b>Serial Number:</b>", "<br/>\r\n", "76123456"},
        {"<b>Registration Number:</b>", "<br/>\r\n", "2824281"},
        {"<b>International Registration Number:</b>", "<br/>\r\n", "(NOT AVAILABLE)"},
        {"<b>(words only):</b>", "<br/>\r\n", "TARNWICK SAMPLE MARK"},
        {"<b>Current Status:</b>", "<br/>\r\n<b>Date of Status:</b>", "Registered."},
        {"<b>Date of Status:</b>", "<br/>\r\n", "2004-03-23"},
        {"<b>Filing Date:</b>", "<br/>\r\n", "2000-05-09"},
        {"<b>Registration Date:</b>", "<br/>\r\n", "2004-03-23"},
        {"<b>The Information will be/was published in the Official Gazette on</b>", "<br/>\r\n", "2003-12-30"},
        {"<b>Law Office Assigned:</b>", "<br/>\r\n", "LAW OFFICE 108"},
        {"<b>LAST APPLICANT(S)/OWNER(S) OF RECORD</b>", "<br/>\r\n", "1. TARNWICK HOLDINGS, INC."},
        {"<b>Correspondent</b><br/>\r\n", "<br/>\r\n<br/>\r\n<hr/>",
         "MARGARET A. OSTLER|OSTLER & VANCE LLP|1200 HARBOUR ROW, SUITE 5|PORTLAND OR 97204-1187"},
        {"near the top of this page.</b><br/>\r\n<br/>\r\n</center>", "<br/>\r\n",
         "2004-03-23 - Registered - Principal Register"},
        {"<b>Current Location:</b>", "<br/>\r\n", "650 -Publication And Issue Section"},
        {"<b>Date In Location:</b>", "<br/>\r\n", "2004-03-23"},
    };
    const std::string page = rules::normalisePage(samplePage());
    EXPECT_GT(page.size(), 30000u);
    EXPECT_NE(page.find("<b>PROSECUTION HISTORY</b>"), std::string::npos);
    EXPECT_EQ(page.find("Please double check the number"), std::string::npos);
    for (const Anchor& a : anchors) {
        SCOPED_TRACE(a.before);
        const size_t at = page.find(a.before);
        ASSERT_NE(at, std::string::npos);
        const size_t from = at + a.before.size();
        const size_t to = page.find(a.after, from);
        ASSERT_NE(to, std::string::npos);
        // read as a field is read; line breaks inside a block are kept as "|"
        const std::string raw = core::replaceAll(page.substr(from, to - from), "<br/>\r\n", "|");
        const std::string value = rules::trimValue(rules::collapseSpaces(rules::cleanValue(raw)));
        EXPECT_EQ(value, a.value);
    }
}

TEST(CleanValue, Cases)
{
    const Case cases[] = {
        {"<b>ACME &amp; SONS</b>&nbsp;INC", "ACME & SONS INC"},
        {"x &lt;y&gt;", "x <y>"},
        {"&amp;lt; &quot;q&quot; &apos;a&apos; &#160; &copy;", "&lt; \"q\" 'a' &#160; &copy;"},
        {"<!-- c -->x<i>y</i><!-->z", "xyz"},
        {"a<!--b", "a<!--b"},
        {"a<b", "a<b"},
        {"a<x <y> b>c", "a b>c"},
        {"line1\r\n   line2\n\t x", "line1\r\nline2\n\t x"},
        {"&nbsp;&nbsp;x", "x"},
        {"a\0<b>\0"s, "a\0\0"s},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(rules::cleanValue(c.input), c.expected);
    }
}

TEST(CollapseSpaces, Cases)
{
    const Case cases[] = {
        {"\tA\r\n B\xA0", "A B"},
        {"a  \t\xA0 b  c", "a b c"},
        {" \r\n\t\xA0", ""},
        {"", ""},
        {"x", "x"},
        // a 0xA0 that ends a UTF-8 letter (à, Š, †) is part of it; one after a cut-off letter is a blank
        {"\xC3\xA0 \xC5\xA0KODA\xA0\xE2\x80\xA0", "\xC3\xA0 \xC5\xA0KODA \xE2\x80\xA0"},
        {"\xE2\xA0x\xC3\xA0\xA0", "\xE2 x\xC3\xA0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(rules::collapseSpaces(c.input), c.expected);
    }
}

TEST(TrimValue, Cases)
{
    const Case cases[] = {
        {"  - ", ""}, {" - x", "- x"}, {"-", ""}, {"--", "--"}, {"\t-", "\t-"}, {"   ", ""}, {" a b ", "a b"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(rules::trimValue(c.input), c.expected);
    }
}
