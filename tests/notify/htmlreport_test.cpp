#include "app/deadlinelist.h"
#include "core/entry.h"
#include "core/entrystore.h"
#include "core/reports.h"
#include "notify/htmlreport.h"
#include "platform/files.h"
#include "rules/templatevars.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <cstdlib>

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
