#pragma once

#include "core/daynumber.h"

#include <optional>
#include <string>
#include <vector>

namespace tarnwick::core {
struct Entry;
}
namespace tarnwick::docket {
struct Deadline;
}
namespace tarnwick::notify {
class HtmlReportRenderer;
}

namespace tarnwick::app {

// The docket's open deadlines across every entry, as the Deadlines window, `tarnwick-cli deadlines` and the HTML
// report show them.

// Where a deadline stands on the day the list is made.
enum class DeadlineBand {
    Overdue,     // the due day has passed and the deadline is still open (an extension or grace may remain)
    Soon,        // due within k_soonDays
    Later,       // due after that
    Information, // shown for information only (the opposition period), never the owner's to meet
};

constexpr int k_soonDays = 30;
// The report's "Upcoming deadlines" reach this many days ahead (and take in every overdue deadline).
constexpr int k_reportDays = 60;

struct DeadlineRow {
    std::vector<int> entries; // the store's positions of the entries that give it, the first one first
    std::string reference;
    std::string number; // registration number, else application number, else international registration number
    std::string mark;
    std::string kind;              // "Response to office action", "Renewal at 10 years" ...
    core::DayNumber due = 0;       // the business day it is due
    core::DayNumber extension = 0; // the last day an extension or grace reaches; 0 when none is available
    int daysLeft = 0;              // due - today: negative when overdue
    DeadlineBand band = DeadlineBand::Later;
    std::string note; // "2027-02-20 is a Saturday" when the due day was moved to a business day; else empty
};

// The row of `deadline` of `entry` on `today` (its entries left empty).
DeadlineRow deadlineRow(const core::Entry& entry, const docket::Deadline& deadline, core::DayNumber today);

// Every open deadline of `entries` on `today`, one row per deadline: a number watched by two entries gives its
// deadlines once (the row names both entries). The owner's deadlines come first, by due day and then reference;
// then those shown for information, in the same order. With `within`, only the deadlines due within that many
// days, and every overdue one.
std::vector<DeadlineRow> deadlineList(const std::vector<core::Entry>& entries, core::DayNumber today,
                                      std::optional<int> within = std::nullopt);

// "Overdue", "Next 30 days", "Later", "Information".
std::string bandText(DeadlineBand band);
// "today", "1 day", "12 days", "1 day overdue", "3 days overdue".
std::string daysLeftText(const DeadlineRow& row);
// The extension or grace day, or "none".
std::string extensionText(const DeadlineRow& row);

// `tarnwick-cli deadlines`: the rows as a table in UTF-8, a heading line and then one line a row, the columns
// aligned; "No open deadlines." (or "No deadlines in the next N days.") for none.
std::string deadlineTable(const std::vector<DeadlineRow>& rows, std::optional<int> within = std::nullopt);

// The Deadlines window (View > Deadlines, Command::ViewDeadlines): its title and its columns (the bands are heading
// rows).
constexpr const char* k_deadlinesTitle = "Tarnwick\xAE - Deadlines";
std::vector<std::string> deadlineColumns();
// A line of the window: a band's heading ("Overdue (2)", or "No open deadlines." alone for none) when `row` is -1,
// else the deadline rows[row].
struct DeadlineLine {
    std::string heading;
    int row = -1;
};
std::vector<DeadlineLine> deadlineLines(const std::vector<DeadlineRow>& rows);
// The entries that choosing rows[i] for each i of `chosen` selects in the main list: every entry that gives one of
// them, in store order.
std::vector<int> chosenEntries(const std::vector<DeadlineRow>& rows, const std::vector<int>& chosen);
// The text of `column` of a row, in the order of deadlineColumns().
std::string deadlineCell(const DeadlineRow& row, int column);

// The report's "Upcoming deadlines": the deadlines of the next k_reportDays days and every overdue one.
void setReportDeadlines(notify::HtmlReportRenderer& renderer, const std::vector<core::Entry>& entries,
                        core::DayNumber today);

} // namespace tarnwick::app
