#pragma once

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

} // namespace tarnwick::app
