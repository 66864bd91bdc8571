#include "app/deadlinelist.h"
#include "core/daynumber.h"
#include "core/entry.h"
#include "docket/deadlines.h"
#include "platform/files.h"
#include "support/runcli.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

using namespace tarnwick;

namespace {

core::DayNumber day(const char* text)
{
    return core::dayNumberOf(text);
}

core::Entry registration(const char* reference, const char* number, const char* registered)
{
    core::Entry e(day("2026-12-10"));
    e.Reference = reference;
    e.RegNum = number;
    e.RegDate = registered;
    e.Trademark = "MARK";
    return e;
}

// "REFERENCE band days-left entries..." of each row
std::vector<std::string> described(const std::vector<app::DeadlineRow>& rows)
{
    std::vector<std::string> out;
    for (const app::DeadlineRow& r : rows) {
        std::string line = r.reference + " " + app::bandText(r.band) + " " + std::to_string(r.daysLeft);
        for (int p : r.entries)
            line += " " + std::to_string(p);
        out.push_back(line);
    }
    return out;
}

} // namespace

// Registered ten years before, the renewals fall due on weekdays around 2026-12-10: one overdue, one within 30
// days, two later on one day (ordered by reference), one registration watched twice.
TEST(DeadlineList, BandsOrderWithinAndWatchedTwice)
{
    const core::DayNumber today = day("2026-12-10");
    const std::vector<core::Entry> entries = {
        registration("ZULU", "5000003", "2017-03-16"),  registration("SOON", "5000002", "2016-12-22"),
        registration("LATE", "5000001", "2016-12-01"),  registration("ALPHA", "5000004", "2017-03-16"),
        registration("again", "5000002", "2016-12-22"), registration("DEAD", "5000005", "2016-12-22"),
    };
    std::vector<core::Entry> docket = entries;
    docket[5].StatusText = "Cancelled - Section 8";
    struct Case {
        std::optional<int> within;
        std::vector<std::string> rows;
    };
    const Case cases[] = {
        {std::nullopt, {"LATE Overdue -9 2", "SOON Next 30 days 12 1 4", "ALPHA Later 96 3", "ZULU Later 96 0"}},
        {30, {"LATE Overdue -9 2", "SOON Next 30 days 12 1 4"}},
        {12, {"LATE Overdue -9 2", "SOON Next 30 days 12 1 4"}},
        {11, {"LATE Overdue -9 2"}},
        {0, {"LATE Overdue -9 2"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.within.value_or(-1));
        EXPECT_EQ(described(app::deadlineList(docket, today, c.within)), c.rows);
    }
    const app::DeadlineRow late = app::deadlineList(docket, today).front();
    EXPECT_EQ(late.kind, "Renewal at 10 years");
    EXPECT_EQ(late.number, "5000001");
    EXPECT_EQ(app::extensionText(late), "2027-06-01");
    EXPECT_EQ(app::daysLeftText(late), "9 days overdue");
    // the window selects every entry of the chosen deadlines
    EXPECT_EQ(app::chosenEntries(app::deadlineList(docket, today), {1, 0, 1}), (std::vector<int>{1, 2, 4}));
}

// A deadline's band, days left, extension and the note of a due day moved to a business day.
TEST(DeadlineList, RowOfADeadline)
{
    const core::DayNumber today = day("2027-02-10");
    core::Entry entry = registration("R", "", "");
    entry.SerNum = "97-123456";
    struct Case {
        docket::DeadlineKind kind;
        const char* nominal;
        const char* closes;
        const char* grace; // "" none
        bool informational;
        app::DeadlineBand band;
        const char* daysLeft;
        const char* extension;
        const char* note;
    };
    const Case cases[] = {
        {docket::DeadlineKind::OfficeActionResponse, "2027-02-20", "2027-02-22", "2027-05-20", false,
         app::DeadlineBand::Soon, "12 days", "2027-05-20", "2027-02-20 is a Saturday"},
        {docket::DeadlineKind::OfficeActionResponse, "2027-03-14", "2027-03-15", "", false, app::DeadlineBand::Later,
         "33 days", "none", "2027-03-14 is a Sunday"},
        {docket::DeadlineKind::StatementOfUse, "2027-02-15", "2027-02-16", "2027-08-16", false, app::DeadlineBand::Soon,
         "6 days", "2027-08-16", "2027-02-15 is a federal holiday"},
        {docket::DeadlineKind::StatementOfUse, "2027-02-09", "2027-02-09", "2027-08-09", false,
         app::DeadlineBand::Overdue, "1 day overdue", "2027-08-09", ""},
        {docket::DeadlineKind::OppositionPeriod, "2027-02-10", "2027-02-10", "", true, app::DeadlineBand::Information,
         "today", "none", ""},
    };
    for (const Case& c : cases) {
        docket::Deadline d;
        d.kind = c.kind;
        d.nominal = day(c.nominal);
        d.closes = day(c.closes);
        d.graceEnds = *c.grace ? day(c.grace) : 0;
        d.informational = c.informational;
        SCOPED_TRACE(c.closes);
        const app::DeadlineRow row = app::deadlineRow(entry, d, today);
        EXPECT_EQ(row.number, "97-123456");
        EXPECT_EQ(row.band, c.band);
        EXPECT_EQ(app::daysLeftText(row), c.daysLeft);
        EXPECT_EQ(app::extensionText(row), c.extension);
        EXPECT_EQ(row.note, c.note);
    }
}

// The command prints the list as a table, its columns aligned by characters (a Latin-1 reference in UTF-8).
TEST(DeadlineList, CliTable)
{
    test::TempDir dir;
    const core::DayNumber today = core::today();
    // the renewals fall due about 20 and 200 days from now (a weekend or holiday may move them a few days on)
    const std::string soon = core::formatDay(docket::addYears(today + 20, -10));
    const std::string later = core::formatDay(docket::addYears(today + 200, -10));
    ASSERT_TRUE(platform::writeFileAtomic(dir.file("tradmark.dat"), "8\r\n1\tSOON-\xC9T\xC9\t\t2824281\t\tMARK\t\t" +
                                                                        soon + "\r\n1\tLATER\t\t2824282\t\tMARK\t\t" +
                                                                        later + "\r\n"));
    const std::string settings = dir.file("settings.ini");
    ASSERT_EQ(test::runCliInProcess({"config", "set", "LogDir", dir.path()}, settings).exit, 0);

    const test::CliRun all = test::runCliInProcess({"deadlines"}, settings);
    EXPECT_EQ(all.exit, 0);
    EXPECT_EQ(all.err, "");
    std::vector<std::string> lines;
    for (size_t at = 0, end; (end = all.out.find('\n', at)) != std::string::npos; at = end + 1)
        lines.push_back(all.out.substr(at, end - at));
    ASSERT_EQ(lines.size(), 3u) << all.out;
    EXPECT_TRUE(lines[0].starts_with("Band          Due         Days Left  Deadline             Reference  Number"))
        << lines[0];
    EXPECT_TRUE(lines[1].starts_with("Next 30 days  ")) << lines[1];
    EXPECT_NE(lines[1].find("  Renewal at 10 years  SOON-\xC3\x89T\xC3\x89   2824281  MARK  "), std::string::npos)
        << lines[1];
    EXPECT_TRUE(lines[2].starts_with("Later         ")) << lines[2];
    EXPECT_NE(lines[2].find("  Renewal at 10 years  LATER      2824282  MARK  "), std::string::npos) << lines[2];

    const test::CliRun within = test::runCliInProcess({"deadlines", "--within", "60"}, settings);
    EXPECT_EQ(within.exit, 0);
    EXPECT_EQ(within.out, lines[0] + "\n" + lines[1] + "\n");
    EXPECT_EQ(test::runCliInProcess({"deadlines", "--within", "5"}, settings).out,
              "No deadlines in the next 5 days.\n");
    const test::CliRun wrong = test::runCliInProcess({"deadlines", "--within", "soon"}, settings);
    EXPECT_EQ(wrong.exit, 1);
    EXPECT_EQ(wrong.err, "tarnwick-cli: --within takes a number of days from 0 to 36500\n"
                         "usage: tarnwick-cli [--settings FILE] deadlines [--within DAYS]\n");
}
