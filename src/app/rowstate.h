#pragma once

#include "core/entry.h"

#include <string>

namespace tarnwick::app {

// What a row's icon says of its entry, the first that holds: its last update failed (Error), it was never updated,
// it changed within the last week, it is up to date, its update is due.
enum class RowState { Error, Never, Recent, UpToDate, Due };
RowState rowState(const core::Entry& entry);

// The icon's words, its tooltip and accessible name: "Last update failed: " and the Error, "Never updated",
// "Changed within the last week", "Up to date", "Update due".
std::string rowStateText(const core::Entry& entry);

} // namespace tarnwick::app
