#pragma once

#include "core/entry.h"
#include "platform/result.h"

#include <optional>
#include <string>
#include <vector>

namespace tarnwick::core {
class EntryStore;
}
namespace tarnwick::notify {
struct HistoryText;
}

namespace tarnwick::app {

class AppContext;
class HistoryLines;
class MainState;

// The entry commands of the main window: add, delete and the Change items,
// with their questions and notifications. Positions are list positions in list
// order (the selection); every command refuses to act while the window is busy.
// Each edit is kept at once: the data file is written, then its notifications
// are queued (MainState::commitEdit); a data file that cannot be written is
// reported and queues none of them.

extern const char* const k_duplicateEntryMessage; // "This entry already exists."

// What the add sequence came to.
struct AddOutcome {
    std::optional<int> position; // the new entry's position; none when nothing was added
    std::string message;         // the refusal (invalid number, "This entry already exists.") or the posting's error
    bool saved = false;          // the data file holds the new entry
};

// Validates the typed number, refuses a duplicate ("This entry already exists."
// titled "Duplicate Entry"), appends the entry and posts the "entry added"
// notification. The list is not re-sorted here (the window does that).
AddOutcome addEntry(MainState& state, const std::string& typedNumber, const std::string& reference,
                    core::Frequency frequency = core::Frequency::Daily);

// How a question or the status line names an entry: its reference and number ("KESTREL-EU, registration
// 3000004"), or without a reference its number and trademark.
std::string entryName(const core::Entry& entry);

// Asks "Delete KESTREL-EU, registration 3000004?" ("Delete these 3 entries?" for several); on Yes removes
// the entries from the last to the first, posting "entry deleted" for each
// until the first posting fails. Undo brings them back. Returns the number removed.
int deleteEntries(MainState& state, const std::vector<int>& positions);

// The frequency of every given entry (Undo takes it back).
void setFrequency(MainState& state, const std::vector<int>& positions, core::Frequency frequency);

// Sets the Reference of every given entry and posts "entry changed" for each
// whose reference really changed (Undo takes it back); a failure names the first posting that failed,
// or the data file that could not be written.
platform::Result changeReference(MainState& state, const std::vector<int>& positions, const std::string& reference);
// The same, asking for the new text (pre-filled with the first entry's
// reference) through the front end's input dialog; Cancel changes nothing.
platform::Result changeReferenceAsking(MainState& state, const std::vector<int>& positions);

// Empties the Error of every given entry.
void clearError(MainState& state, const std::vector<int>& positions);

// Asks the "Clear Last Update" question (default No); Yes sets LastUpdate of
// every given entry to 0. Returns whether they were cleared.
bool clearLastUpdate(MainState& state, const std::vector<int>& positions);

// The change of a column by its field row (the Change items and a double
// click): Frequency (`frequency` given), Last Update and Reference change;
// every other column gives "This column cannot be edited.".
void changeColumn(MainState& state, int fieldRow, const std::vector<int>& positions,
                  std::optional<core::Frequency> frequency = std::nullopt);

// The details text of the given entries, in list order (the details window); each ends with its next deadline
// and, when a history is given, with its last changes (newest first, at most k_detailsChanges).
std::string detailsText(const core::EntryStore& store, const std::vector<int>& positions,
                        const notify::HistoryText* history = nullptr);
// The same with the history of the application's logging directory, read through `lines` when given (the window,
// which asks again at each selection) and else by one pass over the file.
std::string detailsText(AppContext& app, const std::vector<int>& positions, HistoryLines* lines = nullptr);
constexpr size_t k_detailsChanges = 5;

// Positions of the entries whose typed number (any form the entry dialog
// takes) names them; none for a number that is refused or not in the list.
std::optional<int> findByNumber(const core::EntryStore& store, const std::string& typedNumber);

} // namespace tarnwick::app
