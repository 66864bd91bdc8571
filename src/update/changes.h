#pragma once

#include <string>

namespace tarnwick::base {
class AppSettings;
class FrontEnd;
} // namespace tarnwick::base
namespace tarnwick::core {
struct Entry;
class EntryStore;
} // namespace tarnwick::core
namespace tarnwick::notify {
class NoticeSink;
}

namespace tarnwick::update {

// The watched fields that are empty in `now` and were not in `was`: how many,
// and the list text ("\n", caption, " (was): ", old text per field).
struct RevertedFields {
    int count = 0;
    std::string list;
};
RevertedFields revertedFields(const core::Entry& now, const core::Entry& was);

// The question asked when three or more watched fields reverted to nothing.
std::string revertedQuestion(const core::Entry& was, const std::string& list);

// Guards against a page from which the extraction silently failed: true
// accepts the new values. Asks while `warnReverted` holds and three or more
// fields reverted; Yes clears `warnReverted`, Cancel refuses.
bool CheckReverted(const core::Entry& now, const core::Entry& was, bool& warnReverted, base::FrontEnd& frontEnd);

// Whether the entry holds values read from the office to compare with: a
// LastChange, and at least one extracted field that is not empty. An entry
// added and saved before its first update has a LastChange from loading but
// nothing read yet; its first reading is no change. A page from which nothing
// could be taken leaves the unknown status date, so that an entry once read
// keeps its baseline.
bool hasBaseline(const core::Entry& entry);

// What storing the new values of an updated entry came to.
struct ApplyResult {
    std::string error;    // empty on success
    bool changed = false; // a change against a baseline: stamped, counted and posted
};

// Stores `now` at `position` (the stored entry is the previous one); a change
// of the watched fields against a baseline stamps LastChange, counts
// CountStatusChange and posts the status-change notification to `notices`.
// When that posting fails nothing is stored and its error is returned.
ApplyResult ApplyUpdate(core::EntryStore& store, int position, core::Entry& now, notify::NoticeSink& notices,
                        base::AppSettings& settings);

// The change list of a notice (the AllChanges variable).
std::string ChangeList(const core::Entry& current, const core::Entry& previous);

} // namespace tarnwick::update
