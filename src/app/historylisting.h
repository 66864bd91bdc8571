#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::core {
class EntryStore;
}
namespace tarnwick::notify {
struct ChangeRecord;
struct HistoryText;
} // namespace tarnwick::notify

namespace tarnwick::app {

// Writes a listing of records handed newest first, in the form historyListing gives, a change at a time: `write`
// receives each change's text as soon as the next record shows it complete, so a listing of any length holds only
// the records of one change.
class HistoryLister {
public:
    explicit HistoryLister(std::function<void(std::string_view)> write);
    // The next record, older than those handed before.
    void add(const notify::ChangeRecord& record);
    // Writes the last change; whether any record was listed.
    bool finish();

private:
    void writeChange();

    std::function<void(std::string_view)> m_write;
    std::vector<notify::ChangeRecord> m_change; // the fields of the change being read, newest first
    std::string m_text;
    bool m_listed = false;
};

// The records of `history` that belong to `numbers` (digits compared; every record when none is given), newest
// first: each change (the records of one day, number and reference in a row) under a line with its date, number
// and reference, then its fields, each with a "(now)" and a "(was)" line. Empty when no record belongs.
std::string historyListing(const notify::HistoryText& history, const std::vector<std::string>& numbers = {});

// The numbers whose records a typed number asks for: every number of the entry it names, or the number itself
// for an entry no longer in the list. None (with the reason in `refusal`) for a number that is refused.
std::vector<std::string> historyNumbers(const core::EntryStore& store, const std::string& typed, std::string& refusal);

} // namespace tarnwick::app
