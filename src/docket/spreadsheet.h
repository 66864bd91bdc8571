#pragma once

#include "core/daynumber.h"
#include "core/entry.h"

#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::core {
class EntryStore;
}

namespace tarnwick::docket {

// The header of the exported table: Number, Reference, Frequency, the office's fields by their column captions (the
// watched ones and Status Date), Next Deadline, Deadline Kind, Grace Ends.
std::vector<std::string> spreadsheetHeader();

// The number of an entry as a typed number: the application number, else the registration number, else "I" and
// the international registration number.
std::string displayNumber(const core::Entry& entry);

// Every entry as one CSV record under the header, in store order, each next deadline as on `today`: UTF-8 (with
// a byte order mark, so that spreadsheets read it as such), texts of the data file converted from Windows-1252
// unless they are UTF-8 already. Every cell but the deadlines' is written so that a spreadsheet shows it as it is
// and writes it back unchanged: a text a spreadsheet would take for a number or a date (a number with its leading
// zeros, a year-month-day date) as a text cell, ="0912345"; one it would take for a formula (starting with "=",
// "+", "-", "@" or an apostrophe) after an apostrophe. The deadlines stay dates to compute with; nothing reads
// them back.
std::string spreadsheetOf(const std::vector<core::Entry>& entries, core::DayNumber today);

// What a file to import comes to.
struct ImportPlan {
    std::vector<core::Entry> entries;    // to add, in file order
    std::vector<std::string> duplicates; // "line N: NUMBER already exists": skipped
    std::vector<std::string> errors;     // "line N: reason"; when there is any, nothing may be added
};

// The longest reference a line may give, in characters.
constexpr size_t k_maxReferenceLength = 1000;

// Reads a CSV file whose header names its columns: Number (required), Reference and Frequency (Daily, Weekly,
// Monthly, Yearly or Never, any case; empty: Daily), and the office's fields the export writes; other columns are
// ignored, header names compared without regard to case. A header without commas but with semicolons divides by
// semicolons. Cells read back as the export wrote them (a text cell's text, an escaped formula without its
// apostrophe). Each number is validated as the entry dialog does; an entry of which `store` or an earlier line holds
// a number (sameNumber: 912345 is 0912345, whose leading zeros a spreadsheet dropped) is a duplicate. The office's
// values of a line become the new entry's baseline, its LastChange the day of its status date (else `today`), so
// that the next update mails what the office changed since; a line whose App # or Reg # names another mark than
// its Number gives its Number alone. Texts that Windows-1252 can hold are kept in it; line breaks and TABs become
// blanks. Empty lines are skipped. A reference longer than k_maxReferenceLength is a bad line.
ImportPlan planImport(std::string_view text, const core::EntryStore& store, core::DayNumber today);

} // namespace tarnwick::docket
