#include "app/deadlinelist.h"
#include "base/settings.h"
#include "core/entry.h"
#include "core/entrystore.h"
#include "core/reports.h"
#include "core/textfile.h"
#include "notify/htmlreport.h"
#include "notify/usertemplates.h"
#include "platform/files.h"
#include "rules/templatevars.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

using namespace tarnwick;

// The report opens with the deadlines of the next 60 days and the overdue ones, or a line saying there are none;
// either way the page is valid HTML5.
TEST(HtmlReport, OpensWithUpcomingDeadlines)
{
    const core::DayNumber today = core::dayNumberOf("2026-12-10");
    auto registration = [&](const char* reference, const char* number, const char* registered) {
        core::Entry e(today);
        e.Reference = reference;
        e.RegNum = number;
        e.RegDate = registered;
        e.Trademark = "MARK";
        return e;
    };
    struct Case {
        std::vector<core::Entry> entries;
        std::vector<std::string> shown; // in this order
        std::vector<std::string> absent;
    };
    const Case cases[] = {
        {{registration("LATER", "5000003", "2017-03-16"), registration("R&D <soon>", "5000002", "2016-12-22"),
          registration("PAST", "5000001", "2016-12-01")},
         {"<h1>", "<h2>Upcoming deadlines</h2>",
          "<tr class=\"overdue\"><td>PAST</td><td>5000001</td><td>MARK</td><td>Renewal at 10 years</td><td>2026-12-01 "
          "<span class=\"badge overdue\">overdue</span></td><td>2027-06-01</td></tr>",
          "<tr><td>R&amp;D &lt;soon&gt;</td><td>5000002</td><td>MARK</td><td>Renewal at 10 "
          "years</td><td>2026-12-22</td>"
          "<td>2027-06-22</td></tr>",
          "<table id=\"entries\">"},
         {"<td>LATER</td>", "No deadlines"}},
        {{registration("LATER", "5000003", "2017-03-16")},
         {"<h2>Upcoming deadlines</h2>\r\n<p>No deadlines in the next 60 days.</p>", "<table id=\"entries\">"},
         {"<table class=\"deadlines\">"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.entries.size());
        core::EntryStore store;
        for (const core::Entry& e : c.entries)
            store.appendEntry(e);
        rules::TemplateVars vars;
        test::TempDir dir;
        notify::HtmlReportRenderer renderer(vars);
        app::setReportDeadlines(renderer, store.entries(), today);
        core::WriteReports(store, dir.path(), renderer);
        const std::string text = platform::readFile(dir.file("Tarnwick.html")).value_or("");
        size_t at = 0;
        for (const std::string& part : c.shown) {
            const size_t found = text.find(part, at);
            EXPECT_NE(found, std::string::npos) << part;
            at = found == std::string::npos ? at : found;
        }
        for (const std::string& part : c.absent)
            EXPECT_EQ(text.find(part), std::string::npos) << part;
        const std::string command = "/usr/bin/python3 " + std::string(TARNWICK_SOURCE_DIR) +
                                    "/tests/notify/html5check.py '" + dir.file("Tarnwick.html") + "' > '" +
                                    dir.file("parse.txt") + "' 2>&1";
        EXPECT_EQ(std::system(command.c_str()), 0) << platform::readFile(dir.file("parse.txt")).value_or("");
    }
}

namespace {

class CountingNames : public rules::TemplateVars::AppNames {
public:
    explicit CountingNames(const core::EntryStore& store) : m_store(store) {}
    std::optional<std::string> value(std::string_view name) const override
    {
        if (name == "CountEntry")
            return std::to_string(m_store.count());
        return std::nullopt;
    }

private:
    const core::EntryStore& m_store;
};

size_t occurrences(const std::string& text, std::string_view part)
{
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size()))
        ++n;
    return n;
}

} // namespace

// Up to k_fullTableUpTo entries every one is a full row; beyond, only the changed and failing ones are, and the
// others are compact rows in closed parts of k_rowsPerPart, each named by its first and last reference.
TEST(HtmlReport, LargeDocketKeepsUnremarkableEntriesCompact)
{
    constexpr size_t full = notify::HtmlReportRenderer::k_fullTableUpTo;
    constexpr size_t part = notify::HtmlReportRenderer::k_rowsPerPart;
    struct Case {
        size_t entries;
        size_t fullRows;
        std::vector<std::string> shown; // in this order
        std::string tail;               // the user's own tail; empty: the built-in one
    };
    const Case cases[] = {
        {full, full, {"<td class=\"ref\">R0</td>", "<td class=\"ref\">R2</td>"}, ""},
        {full + part + 3,
         2,
         {"<tr class=\"failing\"><td class=\"nowrap\">", "<td class=\"ref\">R0</td>", "<tr class=\"recent\">",
          "<section id=\"others\">", std::to_string(full + part + 1) + " other entries",
          "<details><summary>1&ndash;" + std::to_string(part) + ": R2 &hellip; R" + std::to_string(part + 1) +
              "</summary>",
          "<tr><td>R2<td>75000002<td><td><td>MARK &amp; CO<td>2024-01-02<td>\r\n<tr><td>R3<td>",
          "<summary>" + std::to_string(2 * part + 1) + "&ndash;" + std::to_string(full + part + 1) + ": R" +
              std::to_string(2 * part + 2) + " &hellip; R" + std::to_string(full + part + 2) + "</summary>",
          "</details>\r\n</section>", "<footer>"},
         ""},
        // a tail of the user's own without the recorded changes still shows the other entries
        {full + 2, 2, {"<section id=\"others\">", "</section>\r\n</body>"}, "</table>\r\n</body></html>\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.entries);
        core::EntryStore store;
        for (size_t i = 0; i < c.entries; ++i) {
            core::Entry e(45000);
            e.Reference = "R" + std::to_string(i);
            e.SerNum = std::to_string(75000000 + i);
            e.Trademark = "MARK & CO";
            e.StatusDate = "2024-01-02";
            e.LastUpdate = 45000;
            e.LastChange = i == 1 ? 45000 : 44000;
            if (i == 0)
                e.Error = "HttpGet: Operation timed out.";
            store.appendEntry(std::move(e));
        }
        CountingNames names(store);
        rules::TemplateVars vars;
        vars.setAppNames(&names);
        test::TempDir dir;
        base::AppSettings settings(dir.file("settings.ini"));
        settings.setValue(base::setting::LogDir, dir.path());
        notify::TemplateStore templates(settings, vars);
        if (!c.tail.empty()) {
            std::filesystem::create_directories(notify::userTemplateDir(dir.path()));
            ASSERT_TRUE(platform::writeFileAtomic(
                platform::joinPath(notify::userTemplateDir(dir.path()), "report-tail.html"), c.tail));
        }
        notify::HtmlReportRenderer renderer(vars, nullptr, &templates);
        core::WriteReports(store, dir.path(), renderer);
        const std::string text = platform::readFile(dir.file("Tarnwick.html")).value_or("");
        EXPECT_EQ(occurrences(text, "<td class=\"ref\">"), c.fullRows);
        size_t at = 0;
        for (const std::string& shown : c.shown) {
            const size_t found = text.find(shown, at);
            EXPECT_NE(found, std::string::npos) << shown;
            at = found == std::string::npos ? at : found;
        }
        const std::string command = "/usr/bin/python3 " + std::string(TARNWICK_SOURCE_DIR) +
                                    "/tests/notify/html5check.py '" + dir.file("Tarnwick.html") + "' > '" +
                                    dir.file("parse.txt") + "' 2>&1";
        EXPECT_EQ(std::system(command.c_str()), 0) << platform::readFile(dir.file("parse.txt")).value_or("");
    }
}

// Both files written in one pass, each entry's next deadline counted once for its row and its export element, are
// the bytes each gives alone: the page, and the export in UTF-8 with CR LF line ends, whatever bytes a value holds.
TEST(HtmlReport, WritingBothFilesGivesWhatEachGivesAlone)
{
    const core::DayNumber today = core::dayNumberOf("2026-12-10");
    const auto entryNumbered = [&](size_t i) {
        core::Entry e(today);
        e.Reference = "R" + std::to_string(i);
        e.SerNum = std::to_string(75000000 + i);
        e.LastUpdate = today;
        e.LastChange = i % 5 == 0 ? today : today - 30;
        e.StatusDate = "2026-11-02";
        switch (i % 4) {
        case 0:
            e.RegNum = std::to_string(5000000 + i);
            e.RegDate = "2017-03-16";
            e.StatusText = "Registered.";
            break;
        case 1:
            e.StatusText = "Non-final action e-mailed.";
            break;
        case 2:
            e.RegNum = std::to_string(5000000 + i);
            e.RegDate = "2017-03-16";
            e.StatusText = "Registration cancelled.";
            break;
        default:
            e.Trademark = "Caf\xE9 \xC3\xA9 <&>\r\nsecond line";
            e.Owner = "\x01 tab\t";
            break;
        }
        return e;
    };
    for (size_t count : {size_t{8}, notify::HtmlReportRenderer::k_fullTableUpTo + 8}) {
        SCOPED_TRACE(count);
        core::EntryStore store;
        for (size_t i = 0; i < count; ++i)
            store.appendEntry(entryNumbered(i));
        CountingNames names(store);
        rules::TemplateVars vars;
        vars.setAppNames(&names);
        test::TempDir dir;
        notify::HtmlReportRenderer both(vars);
        ASSERT_TRUE(core::WriteReports(store, dir.path(), both).xml);
        notify::HtmlReportRenderer page(vars);
        notify::HtmlReportRenderer exported(vars);
        EXPECT_EQ(platform::readFile(dir.file("Tarnwick.html")).value_or(""), core::htmlReport(store, page));
        const std::string xml = platform::readFile(dir.file("Tarnwick.xml")).value_or("");
        EXPECT_EQ(xml, core::toTextMode(core::xmlExport(store, &exported)));
        EXPECT_NE(xml.find("<NextDeadline kind=\"Response to office action\""), std::string::npos);
    }
}
