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

// The header of the exported table: Number, Reference, Frequency, the watched fields by their column captions,
// Next Deadline, Deadline Kind, Grace Ends.
std::vector<std::string> spreadsheetHeader();

// The number of an entry as a typed number: the application number, else the registration number, else "I" and
// the international registration number.
std::string displayNumber(const core::Entry& entry);

// Every entry as one CSV record under the header, in store order, each next deadline as on `today`: UTF-8 (with
// a byte order mark, so that spreadsheets read it as such), texts of the data file converted from Windows-1252
// unless they are UTF-8 already. A text from the office's page that a spreadsheet would take for a formula
// (starting with "=", "+", "-" or "@") is written after an apostrophe.
std::string spreadsheetOf(const std::vector<core::Entry>& entries, core::DayNumber today);

// What a file to import comes to.
struct ImportPlan {
    std::vector<core::Entry> entries;    // to add, in file order
    std::vector<std::string> duplicates; // "line N: NUMBER already exists": skipped
    std::vector<std::string> errors;     // "line N: reason"; when there is any, nothing may be added
};

// Reads a CSV file whose header names its columns: Number (required), Reference and Frequency (Daily, Weekly,
// Monthly, Yearly or Never, any case; empty: Daily); other columns are ignored, header names compared without
// regard to case. A header without commas but with semicolons divides by semicolons. Each number is validated as
// the entry dialog does; an entry that `store` or an earlier line holds already is a duplicate. Texts that
// Windows-1252 can hold are kept in it; line breaks and TABs become blanks. Empty lines are skipped.
ImportPlan planImport(std::string_view text, const core::EntryStore& store, core::DayNumber today);

} // namespace tarnwick::docket
