#pragma once

#include "core/entry.h"

#include <cstddef>
#include <deque>
#include <string>
#include <utility>
#include <vector>

namespace tarnwick::app {

class MainState;

// The edits of this session that Edit > Undo takes back, newest first: a deletion (the entries with every value
// they held, at their positions), a change of frequency or of reference (the entries' values before it). Nothing
// of it outlives the session.
class UndoStack {
public:
    enum class Kind { Delete, Frequency, Reference };
    struct Step {
        Kind kind = Kind::Delete;
        // each entry as it was before the edit, with its list position then, in list order
        std::vector<std::pair<int, core::Entry>> entries;
    };
    static constexpr size_t k_steps = 20;

    // Keeps `step` as the newest; beyond k_steps the oldest goes. A step of no entry changed nothing and is not kept.
    void push(Step step);
    bool empty() const { return m_steps.empty(); }
    size_t size() const { return m_steps.size(); }
    // The newest step, taken off the stack; the stack must not be empty.
    Step pop();

private:
    std::deque<Step> m_steps;
};

// What an undo came to.
struct UndoOutcome {
    bool undone = false;
    std::vector<int> positions; // the entries restored or changed back, in list order (the window selects them)
    std::string message;        // for the status line: what was taken back
};

// Takes back the newest edit: deleted entries return to their positions with all their values (one whose number
// the list holds again stays out), a frequency or a reference returns to its previous value. The notice the edit
// queued is withdrawn while it has not gone out; one that has gone out is followed by a notice of the undo ("entry
// added" for a restored entry, "entry changed" for a restored reference), so that the mail always tells what the
// list holds. The data file is written as after any edit. Nothing happens while busy or with nothing to undo.
UndoOutcome undoLastEdit(MainState& state);

} // namespace tarnwick::app
