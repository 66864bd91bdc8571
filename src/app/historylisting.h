#pragma once

#include <string>
#include <vector>

namespace tarnwick::core {
class EntryStore;
}
namespace tarnwick::notify {
struct HistoryText;
}

namespace tarnwick::app {

// The records of `history` that belong to `numbers` (digits compared; every record when none is given), newest
// first: each change (the records of one day, number and reference in a row) under a line with its date, number
// and reference, then its fields, each with a "(now)" and a "(was)" line. Empty when no record belongs.
std::string historyListing(const notify::HistoryText& history, const std::vector<std::string>& numbers = {});

// The numbers whose records a typed number asks for: every number of the entry it names, or the number itself
// for an entry no longer in the list. None (with the reason in `refusal`) for a number that is refused.
std::vector<std::string> historyNumbers(const core::EntryStore& store, const std::string& typed, std::string& refusal);

} // namespace tarnwick::app
