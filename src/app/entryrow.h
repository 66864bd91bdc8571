#pragma once

#include "core/daynumber.h"

#include <string>

namespace tarnwick::core {
struct Entry;
}

namespace tarnwick::app {

// The mark at the head of an entry's row in the list.
enum class RowMark { Failing, NeverUpdated, Changed, UpToDate, Due };

// An entry with an Error is failing whatever else holds; one never updated has nothing else to show; then a
// change that its last update found (core::Entry::recentlyChanged, the rule the report and the details follow);
// else whether it is up to date.
RowMark rowMark(const core::Entry& entry);

// The mark's words, its tooltip and accessible name: "Last update failed: " and the Error, "Never updated",
// "Changed within the last week", "Up to date", "Update due".
std::string rowMarkText(const core::Entry& entry);

// The list's Next Deadline cell: the entry's next deadline as it stands on `day` ("2029-05-18 Declaration of use
// (grace to 2029-11-18)"); empty without one. A window left open over midnight counts from the new day.
std::string deadlineCellText(const core::Entry& entry, core::DayNumber day);
// Every cell of the entry's row on `day` as the list shows them, one text, the cells divided by line breaks (no
// typed text spans two).
std::string rowCellsText(const core::Entry& entry, core::DayNumber day);

} // namespace tarnwick::app
