#pragma once

#include "core/fieldtable.h"

#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::base {
class AppSettings;
}
namespace tarnwick::core {
struct Entry;
}

namespace tarnwick::app {

class AppContext;
class MainState;

// The docket's side of the window: the File menu's Export Calendar..., Export CSV... and Import CSV... (the file
// dialogs start at suggestedPath), and the entry list's deadline column.

constexpr const char* k_calendarFileName = "Tarnwick.ics";
constexpr const char* k_spreadsheetFileName = "Tarnwick.csv";

// The entry list's column after the field table's: the next deadline. It has no Sort item.
constexpr int k_deadlineColumn = core::k_fieldCount;
constexpr const char* k_deadlineCaption = "Next Deadline";
constexpr int k_deadlineWidthFactor = 8;
// "2029-05-18 Declaration of use (grace to 2029-11-18)" on the entry's Today; empty without a deadline.
std::string deadlineColumnText(const core::Entry& entry);

// The days before a due day at which a reminder goes out (DeadlineReminderDays), largest first: "60,14,3" when
// empty; a text that is no such list (written by hand) is one threshold, its leading number kept between 0 and 3650.
std::vector<int> reminderThresholds(const base::AppSettings& settings);
// The calendar's first alarm: the largest threshold.
int reminderDays(const base::AppSettings& settings);
// Where a file dialog starts: the report directory and `fileName`, or `fileName` alone without one.
std::string suggestedPath(const AppContext& app, std::string_view fileName);

// What an export or an import came to, in words for the user.
struct FileOutcome {
    bool ok = false;
    std::string message;
};

// The iCalendar file of every pending deadline, now, with the setting's alarm.
std::string calendarText(const AppContext& app, int* events = nullptr);
// Write `path` (temporary file, fsync, rename): "N deadlines written to PATH." or "Cannot write PATH: reason.".
FileOutcome exportCalendar(const AppContext& app, const std::string& path);
// The spreadsheet of every entry: "N entries written to PATH." or why not.
FileOutcome exportSpreadsheet(const AppContext& app, const std::string& path);

struct ImportOutcome {
    std::vector<int> added;              // positions of the new entries
    std::vector<std::string> duplicates; // "line N: NUMBER already exists", skipped
    std::vector<std::string> errors;     // why nothing was imported: "line N: reason" or the file's reading
    std::string postingError;            // the first "entry added" notification that could not be queued
    bool saved = false;                  // the data file holds the new entries
    std::string message;                 // all of it for a message box
};

// Reads the spreadsheet at `path` and, when no line of it is bad, appends its new entries and selects them;
// duplicates are skipped. The data file is written with all of them, and only then is the "entry added"
// notification of each queued, all in one group (none after the first that fails; none when the data file cannot
// be written). A bad line imports nothing. Refused (nothing happens) while the window is busy. The list is not
// re-sorted here.
ImportOutcome importSpreadsheet(MainState& state, const std::string& path);

// The window's commands: an export's outcome on the status line, or its failure in a box titled "Export Calendar"
// or "Export CSV"; the import's summary in a box titled "Import CSV".
void exportCalendarCommand(MainState& state, const std::string& path);
void exportSpreadsheetCommand(MainState& state, const std::string& path);
ImportOutcome importSpreadsheetCommand(MainState& state, const std::string& path);

} // namespace tarnwick::app
