#pragma once

#include "notify/history.h"

#include <string>
#include <vector>

namespace tarnwick::core {
struct Entry;
}

namespace tarnwick::update {

// The history records of a change: one per watched field whose text differs, dated `now`'s Today.
std::vector<notify::ChangeRecord> changeRecords(const core::Entry& now, const core::Entry& was);

// Appends `records` to the history file in `logDir` and syncs it (the file and its header are made when
// missing). Each line carries its check, so one that a crash cuts short is never read as a record. The error text,
// empty on success; without a logging directory nothing is written.
std::string appendHistory(const std::string& logDir, const std::vector<notify::ChangeRecord>& records);

} // namespace tarnwick::update
