#include "notify/templates.h"

#include "core/entry.h"
#include "core/entrystore.h"
#include "core/reports.h"
#include "net/mimetext.h"
#include "notify/htmlreport.h"
#include "platform/files.h"
#include "rules/templatevars.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

using namespace tarnwick;
using notify::expandTemplate;

namespace {

// A lookup over a fixed table; unknown names come back in brackets, as the real lookup does.
notify::VariableLookup tableLookup(std::map<std::string, std::string> table)
{
    return [table = std::move(table)](std::string_view name) {
        auto it = table.find(std::string(name));
        return it != table.end() ? it->second : "[" + std::string(name) + "]";
    };
}

std::string expand(std::string_view text, const notify::VariableLookup& lookup, bool escape = false)
{
    std::string out;
    expandTemplate(text, lookup, out, {.escapeValues = escape});
    return out;
}

struct SyntaxCase {
    const char* text;
    const char* expected;
};

TEST(TemplateExpand, SyntaxTable)
{
    auto lookup = tableLookup({
        {"A", "alpha"},
        {"S", "new"},
        {"SOld", "old"},
        {"E", "same"},
        {"EOld", "same"},
        {"Tricky", "[A] %Cur% %Old%"},
        {"TrickyOld", "[A] %Cur% %Old%"},
        {"Case", "Yes"},
    });
    const SyntaxCase cases[] = {
        {"no brackets at all\r\nsecond line\r\n", "no brackets at all\r\nsecond line\r\n"},
        {"", ""},
        {"[A]", "alpha"},
        {"x[A]y[A]z", "xalphayalphaz"},
        {"[]]", "]"},
        {"[abc]]", "]"},
        {"[[]", "["},
        {"[]", "]"},
        {"[[x]", "["},
        {"a[b", "a[b"},
        {"[A]tail[", "alphatail["},
        {"[NoSuchName]", "[NoSuchName]"},
        {"[NoSuchName=x?yes|no]", "no"},
        // compare value: case-insensitive
        {"[Case=yes?<b>]", "<b>"},
        {"[Case=YES?<b>|<i>]", "<b>"},
        {"[Case=No?<b>|<i>]", "<i>"},
        {"[Case=No?<b>]", ""},
        {"[Case=yes]", ""},
        {"[Case=No|other]", "other"},
        // without "=": compared with the Old value, %Old% filled in
        {"[S?same|was %Old%, now %Cur%]", "was old, now new"},
        {"[E?same|was %Old%, now %Cur%]", "same"},
        {"[S|changed]", "changed"},
        {"[E|changed]", ""},
        // with "=" only %Cur% is replaced
        {"[Case=yes?%Cur%/%Old%]", "Yes/%Old%"},
        // inserted values are never scanned again, nor expanded
        {"[Tricky?%Cur%|x]", "[A] %Cur% %Old%"},
        {"[Tricky]", "[A] %Cur% %Old%"},
        // a "[" in a chosen text is literal; the item ends at the first "]"
        {"[Case=yes?x[A|y]", "x[A"},
        {"[Case=yes?a|b]c]", "ac]"},
        // partial tokens stay
        {"[S?%Cur|%Ol%Old%d]", "%Ololdd"},
    };
    for (const SyntaxCase& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(expand(c.text, lookup), c.expected);
    }
}

TEST(TemplateExpand, SplitsAtFirstSeparatorsInOrder)
{
    // the name ends at "=", the compare value at "?", the then-text at "|"
    auto lookup = tableLookup({{"N", "a|b"}, {"K", "v=w"}});
    const SyntaxCase cases[] = {
        {"[K=v=w?eq|ne]", "eq"}, // the compare value may hold "="
        {"[N=a|b?eq|ne]", "eq"}, // and "|" when a "?" follows
        {"[N=a|b]", "b"},        // without "?" the "|" ends the compare value
        {"[N=a?t|e|f]", "e|f"},  // the else-text runs to the "]"
        {"[K?t?u|e]", "e"},      // the then-text may hold "?"
    };
    for (const SyntaxCase& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(expand(c.text, lookup), c.expected);
    }
}

TEST(TemplateExpand, HtmlEscapingCoversValuesButNotMarkup)
{
    auto lookup = tableLookup({
        {"T", "Fish & <Chips> \"quoted\" it's"},
        {"TOld", "x"},
        {"CourtesyHtml", "<p><i>kept</i></p>"},
        {"courtesyhtml", "<p><i>kept</i></p>"},
        {"LinkHtml", "<a href=\"#h-1\">1 change</a>"},
        {"Utf8", "Soci\xc3\xa9t\xc3\xa9"},
        {"Latin1", "Soci\xe9t\xe9 \x99"},
        {"Controls", "a\x01"
                     "b\x7f"
                     "c\xc2\x85"
                     "d\xef\xbf\xbe"
                     "e"},
    });
    const SyntaxCase cases[] = {
        {"<td>[T]</td>", "<td>Fish &amp; &lt;Chips&gt; &quot;quoted&quot; it&#39;s</td>"},
        {"[CourtesyHtml]", "<p><i>kept</i></p>"},
        {"[courtesyhtml]", "<p><i>kept</i></p>"},
        {"[T?same|<b>%Cur%</b>]", "<b>Fish &amp; &lt;Chips&gt; &quot;quoted&quot; it&#39;s</b>"},
        {"[T?|%Old%]", "x"},
        {"[LinkHtml]", "<a href=\"#h-1\">1 change</a>"},
        // the page is UTF-8: a text from a Latin-1 page is converted, controls and noncharacters are blanks
        {"[Utf8]", "Soci\xc3\xa9t\xc3\xa9"},
        {"[Latin1]", "Soci\xc3\xa9t\xc3\xa9 \xe2\x84\xa2"},
        {"[Controls]", "a b c d e"},
    };
    for (const SyntaxCase& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(expand(c.text, lookup, true), c.expected);
    }
    EXPECT_EQ(expand("[T]", lookup, false), "Fish & <Chips> \"quoted\" it's");
}

class FixedNames : public rules::TemplateVars::AppNames {
public:
    std::optional<std::string> value(std::string_view name) const override
    {
        if (name == "AppName" || name == "appname" || name == "APPNAME")
            return std::string("Tarnwick");
        return std::nullopt;
    }
};

TEST(TemplateExpand, WithEntriesAndTheOldSuffix)
{
    FixedNames names;
    rules::TemplateVars vars;
    vars.setAppNames(&names);

    core::Entry fresh(45000);
    fresh.LastChange = fresh.LastUpdate = 45000 - 3;
    fresh.StatusDate = "2023-03-01";
    fresh.StatusText = "Registered";
    core::Entry stale(45000);
    stale.LastChange = 45000 - 8;
    stale.StatusText = "Pending";
    core::Entry blankReference(45000);

    struct Case {
        const char* text;
        const core::Entry* current;
        const core::Entry* previous;
        const char* expected;
    };
    const Case cases[] = {
        {"[appname]", nullptr, nullptr, "Tarnwick"},
        {"[RecentChange=Yes?<b>]", &fresh, nullptr, "<b>"},
        {"[RecentChange=yes?<b>]", &fresh, nullptr, "<b>"},
        {"[RecentChange=Yes?<b>]", &stale, nullptr, ""},
        {"[StatusText?same|was %Old%, now %Cur%]", &fresh, &stale, "was Pending, now Registered"},
        {"[StatusText?same|was %Old%, now %Cur%]", &fresh, &fresh, "same"},
        {"[ReferenceOld]", &fresh, nullptr, "[ReferenceOld]"},
        {"[ReferenceOld]", &fresh, &blankReference, "-"},
        {"[Old]", &fresh, &stale, "[Old]"},
        {"[AllChanges]", &fresh, &fresh, "-"},
        {"[Reference]", &blankReference, nullptr, "-"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        rules::CurrentEntryScope scope(vars, c.current, c.previous);
        EXPECT_EQ(expandTemplate(c.text, vars), c.expected);
    }
    EXPECT_EQ(vars.current(), nullptr);
}

TEST(ShippedTemplates, MailTemplatesHaveSubjectAndCrLfLines)
{
    const std::map<int, std::string> subjects = {
        {1, "Subject: [AppName] Activity for [OrgName]\r\n\r\n"},
        {2, "Subject: [DataKind] entry added, [Identifier]\r\n\r\n"},
        {3, "Subject: [DataKind] entry changed, [Identifier]\r\n\r\n"},
        {4, "Subject: [DataKind] entry deleted, [Identifier]\r\n\r\n"},
        {5, "Subject: [AppName] Test e-mail\r\n\r\n"},
        {9, "Subject: [Reference=-?|%Cur%: ][StatusText=-?Status changed|%Cur%] \xE2\x80\x94 [Identifier]\r\n\r\n"},
        {10, "Subject: [AppName] Welcome for [OrgName]\r\n\r\n"},
        {12, "Subject: [AppName] Upgrade for [OrgName]\r\n\r\n"},
        {13, "Subject: [AppName] Problem Report for [OrgName]\r\n\r\n"},
        {14, "Subject: [DataKind] status: [DigestSummary]\r\n\r\n"},
        {16, "Subject: [AppName]: [FailureCount] [FailureCount=1?mark|marks] could not be updated\r\n\r\n"},
        {17, "Subject: [Reference=-?|%Cur%: ][ReminderThreshold=overdue?Overdue: |][DeadlineKind] due [DeadlineDate]"},
        {18, "Subject: [ImportCount] [DataKind] entries added\r\n\r\n"},
    };
    for (int id : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 12, 13, 14, 15, 16, 17, 18}) {
        SCOPED_TRACE(id);
        std::optional<std::string_view> text = notify::loadTemplate(id);
        ASSERT_TRUE(text.has_value());
        ASSERT_TRUE(text->ends_with("\r\n"));
        for (size_t i = text->find('\n'); i != std::string_view::npos; i = text->find('\n', i + 1)) {
            ASSERT_TRUE(i > 0 && (*text)[i - 1] == '\r') << "bare line feed at " << i;
        }
        if (auto it = subjects.find(id); it != subjects.end()) {
            EXPECT_TRUE(text->starts_with(it->second));
        }
    }
    EXPECT_FALSE(notify::loadTemplate(19).has_value());
}

class HtmlNames : public rules::TemplateVars::AppNames {
public:
    std::optional<std::string> value(std::string_view name) const override
    {
        if (name == "OrgName")
            return std::string("Smith & <Sons> \"Ltd\" 'x'");
        if (name == "CourtesyHtml")
            return std::string("<p><i>Courtesy</i></p>");
        return std::nullopt;
    }
};

TEST(ShippedTemplates, HtmlReportOfMarkupIsValidHtml5)
{
    HtmlNames names;
    rules::TemplateVars vars;
    vars.setAppNames(&names);
    core::setStatusUrlProvider([](const core::Entry& e) { return "http://127.0.0.1/s?a=" + e.SerNum + "&b=<x>"; });

    core::EntryStore store;
    core::Entry e(45000);
    e.SerNum = "75<123>";
    e.Reference = "R&D \"one\"";
    e.Trademark = "<script>alert('x')</script> & [AppName]";
    e.StatusDate = "2024-01-02";
    e.LastChange = e.LastUpdate = 45000;
    e.RegNum = "1234567";
    e.RegDate = "2020-05-18";
    store.appendEntry(e);
    e.Reference = "</td></tr></table>";
    e.LastChange = 1;
    e.Error = "HttpGet: Operation timed out.";
    store.appendEntry(e);

    // two records of the number both entries share: each row links to a section of its own
    notify::HistoryText history;
    history.records.push_back({"2024-01-02", "75<123>", "R&D", "StatusText", "Pending <b>", "Registered"});
    history.records.push_back({"2024-01-03", "1234567", "R&D", "Owner", "", "O'Brien & Co"});

    test::TempDir dir;
    notify::HtmlReportRenderer renderer(vars, &history);
    core::WriteReports(store, dir.path(), renderer);
    core::setStatusUrlProvider({});

    const std::string text = platform::readFile(dir.file("Tarnwick.html")).value_or("");
    EXPECT_NE(text.find("&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt; &amp; [AppName]"), std::string::npos);
    EXPECT_NE(text.find("<tr class=\"recent\">"), std::string::npos);
    EXPECT_NE(text.find("<span class=\"date\">2024-01-02</span>"), std::string::npos);
    EXPECT_NE(text.find("<tr class=\"failing\">"), std::string::npos);
    EXPECT_NE(text.find("<div class=\"error\">HttpGet: Operation timed out.</div>"), std::string::npos);
    EXPECT_NE(text.find("href=\"http://127.0.0.1/s?a=75&lt;123&gt;&amp;b=&lt;x&gt;\""), std::string::npos);
    EXPECT_NE(text.find("<p><i>Courtesy</i></p>"), std::string::npos);
    EXPECT_EQ(text.find("<script>alert"), std::string::npos);
    EXPECT_NE(text.find("<a class=\"history\" href=\"#h-75_123_\">2 changes</a>"), std::string::npos);
    EXPECT_NE(text.find("<a class=\"history\" href=\"#h-75_123_-2\">2 changes</a>"), std::string::npos);
    EXPECT_NE(text.find("<tbody id=\"h-75_123_-2\">"), std::string::npos);
    // newest first, an empty value shown as such
    const size_t owner =
        text.find("<td>Owner</td><td><span class=\"none\">(nothing)</span></td><td>O&#39;Brien &amp; Co");
    const size_t status = text.find("<td>Status</td><td>Pending &lt;b&gt;</td><td>Registered</td>");
    EXPECT_LT(owner, status);
    EXPECT_NE(status, std::string::npos);
    // the next deadline: the last column of the report, the last element of each entry in the XML export
    EXPECT_NE(text.find("<th scope=\"col\">Next Deadline</th></tr>"), std::string::npos);
    EXPECT_NE(text.find("<td class=\"deadline\">2026-05-18 Declaration of use (grace to 2026-11-18)</td></tr>"),
              std::string::npos);
    EXPECT_NE(platform::readFile(dir.file("Tarnwick.xml"))
                  ->find("</Error>\r\n  <NextDeadline kind=\"Declaration of use\" opens=\"2025-05-18\" "
                         "grace=\"2026-11-18\">2026-05-18</NextDeadline>\r\n </Entry>"),
              std::string::npos);

    const std::string command = "/usr/bin/python3 " + std::string(TARNWICK_SOURCE_DIR) +
                                "/tests/notify/html5check.py '" + dir.file("Tarnwick.html") + "' > '" +
                                dir.file("parse.txt") + "' 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << platform::readFile(dir.file("parse.txt")).value_or("");
}

} // namespace

// A status change's built-in subject tells whose mark changed and to what; an empty reference or status leaves
// no dangling separator, no value breaks the line, and the sent lines stay within 78 characters however long the
// values are.
TEST(ShippedTemplates, StatusChangeSubjectNamesReferenceAndNewStatus)
{
    const std::string longMark(120, 'W');
    struct Case {
        const char* reference;
        const char* status;
        std::string trademark;
        std::string subject;
    };
    const Case cases[] = {
        {"KESTREL-EU", "Cancelled - Section 8", "TIMBERLINE CRAFT",
         "KESTREL-EU: Cancelled - Section 8 \xE2\x80\x94 registration 3000004, trademark TIMBERLINE CRAFT"},
        {"", "Cancelled - Section 8", "TIMBERLINE CRAFT",
         "Cancelled - Section 8 \xE2\x80\x94 registration 3000004, trademark TIMBERLINE CRAFT"},
        {"KESTREL-EU", "", "", "KESTREL-EU: Status changed \xE2\x80\x94 registration 3000004"},
        {"K-1", "Registered", longMark, "K-1: Registered \xE2\x80\x94 registration 3000004, trademark " + longMark},
        // a value's line break would start a header line of its own
        {"KESTREL\r\nBcc: x", "Registered", "", "KESTREL  Bcc: x: Registered \xE2\x80\x94 registration 3000004"},
    };
    rules::TemplateVars vars;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.subject);
        core::Entry now(45000);
        now.Reference = c.reference;
        now.RegNum = "3000004";
        now.Trademark = c.trademark;
        now.StatusText = c.status;
        core::Entry was = now;
        was.StatusText = "Registered before";
        rules::CurrentEntryScope scope(vars, &now, &was);
        std::string message;
        notify::expandMailTemplate(*notify::loadTemplate(notify::templateid::StatusUpdate), vars, message);
        EXPECT_EQ(message.substr(0, message.find("\r\n")), "Subject: " + c.subject);
        const std::string sent = net::composeMessage("", message, "<1@x>");
        for (size_t at = 0, end = 0; at < sent.find("\r\n\r\n"); at = end + 2) {
            end = sent.find("\r\n", at);
            EXPECT_LE(end - at, 78u) << sent.substr(at, end - at);
        }
    }
}

// In a message's header no value ends a line or starts one: its control characters become blanks, whoever expands
// it; the body, and any text that is no message, keeps them.
TEST(TemplateExpand, MessageHeaderValuesStayOnTheirLine)
{
    const std::string injected = "A\r\nBcc: victim@example.test";
    struct Case {
        const char* what;
        std::string text;
        std::string value;
        std::string expected;
    };
    const Case cases[] = {
        {"subject and body", "Subject: [V]\r\n\r\n[V]\r\n", injected,
         "Subject: A  Bcc: victim@example.test\r\n\r\n" + injected + "\r\n"},
        {"a recipients line", "to: [V]\r\nSubject: s\r\n\r\n", "a@x\nb@y", "to: a@x b@y\r\nSubject: s\r\n\r\n"},
        {"a conditional's %Cur%", "Subject: [V?same|%Cur% now]\r\n\r\n", "x\ry", "Subject: x y now\r\n\r\n"},
        {"no empty line: all header", "Cc: [V]", "a\r\nb", "Cc: a  b"},
        // TAB stays; ESC, DEL and C1 in UTF-8 go; Windows-1252 bytes 0x80-0x9F are characters (0x99 is a trade mark)
        {"every control", "Subject: [V]\r\n\r\n",
         "a\tb\x1b\x7f\xc2\x85\x01"
         "c\x99\xc2\xae",
         "Subject: a\tb    c\x99\xc2\xae\r\n\r\n"},
        {"no message", "<p>[V]</p>", injected, "<p>" + injected + "</p>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(expand(c.text, tableLookup({{"V", c.value}, {"VOld", "other"}})), c.expected);
    }

    // every mail the program builds keeps the header lines its template has, whatever every value holds
    for (int id : {1, 2, 3, 4, 5, 9, 10, 12, 13, 14, 16}) {
        SCOPED_TRACE(id);
        const std::string_view text = *notify::loadTemplate(id);
        const std::string out = expand(text, [&](std::string_view) { return injected; });
        const std::string_view header = std::string_view(out).substr(0, out.find("\r\n\r\n"));
        const std::string_view ownHeader = text.substr(0, text.find("\r\n\r\n"));
        EXPECT_EQ(std::count(header.begin(), header.end(), '\n'), std::count(ownHeader.begin(), ownHeader.end(), '\n'));
        EXPECT_EQ(header.find("\nBcc:"), std::string_view::npos);
    }
}
