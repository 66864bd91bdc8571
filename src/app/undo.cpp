#include "app/undo.h"

#include "app/application.h"
#include "app/entrycommands.h"
#include "app/mainstate.h"
#include "core/entrystore.h"
#include "core/fieldtable.h"
#include "core/text.h"
#include "notify/emailqueue.h"
#include "notify/pendinglist.h"
#include "notify/templates.h"
#include "platform/files.h"

#include <algorithm>

namespace tarnwick::app {

void UndoStack::push(Step step)
{
    if (step.entries.empty())
        return;
    m_steps.push_back(std::move(step));
    if (m_steps.size() > k_steps)
        m_steps.pop_front();
}

UndoStack::Step UndoStack::pop()
{
    Step step = std::move(m_steps.back());
    m_steps.pop_back();
    return step;
}

namespace {

// The notices an undo takes off the pending list; their files go once the data file holds the undo, so that a
// crash in between leaves a file that the next start settles by the data file.
class Withdrawal {
public:
    explicit Withdrawal(std::string dir) : m_dir(std::move(dir)), m_list(m_dir) {}

    // Whether the unsent notice of `kind` for `entry` was taken off the list (false: it went out, or was never
    // queued).
    bool withdraw(const core::Entry& entry, std::string_view kind)
    {
        if (m_dir.empty())
            return false;
        const platform::ResultOf<std::string> taken = m_list.withdrawLast(notify::messageFileName(entry, kind));
        if (!taken || taken->empty())
            return false;
        m_names.push_back(*taken);
        return true;
    }

    void removeFiles() const
    {
        for (const std::string& name : m_names)
            (void)platform::removeFile(platform::joinPath(m_dir, name));
    }

private:
    std::string m_dir;
    notify::PendingList m_list;
    std::vector<std::string> m_names;
};

// "KESTREL-EU, registration 3000004" for one entry, "3 entries" for more.
std::string namedOrCounted(const core::EntryStore& store, const std::vector<int>& positions)
{
    if (positions.size() == 1)
        return entryName(store.at(positions.front()));
    return core::counted(static_cast<long long>(positions.size()), "entry", "entries");
}

UndoOutcome restoreDeleted(MainState& state, UndoStack::Step& step, Withdrawal& withdrawal,
                           std::vector<MainState::EditNotice>& notices)
{
    core::EntryStore& store = state.app().entries;
    UndoOutcome out;
    std::vector<core::Entry> list = store.entries();
    int skipped = 0;
    for (auto& [position, entry] : step.entries) {
        // an entry added again since keeps its place; restoring would list the mark twice
        if (store.findDuplicate(entry)) {
            ++skipped;
            continue;
        }
        const int at = std::clamp(position, 0, static_cast<int>(list.size()));
        list.insert(list.begin() + at, entry);
        out.positions.push_back(at);
    }
    store.clear();
    for (core::Entry& e : list)
        store.appendEntry(std::move(e));
    int announced = 0;
    for (int p : out.positions) {
        if (!withdrawal.withdraw(store.at(p), "d")) {
            notices.push_back({store.at(p), notify::templateid::EntryAdded, "a", std::nullopt});
            ++announced;
        }
    }
    out.message = out.positions.empty() ? std::string("Nothing was restored")
                                        : "Restored " + namedOrCounted(store, out.positions);
    if (skipped > 0)
        out.message += skipped == 1 ? "; 1 deleted entry is in the list again"
                                    : "; " + std::to_string(skipped) + " deleted entries are in the list again";
    out.message += ".";
    if (announced > 0)
        out.message += announced == 1 ? " Its deletion notice had gone out, so an \"entry added\" notice is queued."
                                      : " Their deletion notices had gone out, so \"entry added\" notices are queued.";
    return out;
}

UndoOutcome restoreValues(MainState& state, UndoStack::Step& step, Withdrawal& withdrawal,
                          std::vector<MainState::EditNotice>& notices)
{
    core::EntryStore& store = state.app().entries;
    const bool reference = step.kind == UndoStack::Kind::Reference;
    UndoOutcome out;
    for (const auto& held : step.entries) {
        const core::Entry& was = held.second;
        // the entry is found by its number: the list may have been sorted since
        const std::optional<int> found = store.findDuplicate(was);
        if (!found)
            continue;
        const int p = *found;
        out.positions.push_back(p);
        if (!reference) {
            store.at(p).Frequency = was.Frequency;
            state.rowChanged(p);
            continue;
        }
        core::Entry changed = store.at(p);
        changed.setValueText(core::FieldId::Reference, was.Reference);
        core::Entry previous = store.replaceEntry(p, std::move(changed));
        state.rowChanged(p);
        if (previous.compareField(core::FieldId::Reference, store.at(p)) != 0 && !withdrawal.withdraw(previous, "c"))
            notices.push_back({store.at(p), notify::templateid::EntryChanged, "c", std::move(previous)});
    }
    std::sort(out.positions.begin(), out.positions.end());
    out.message = out.positions.empty() ? "Nothing was changed back: the entries are no longer in the list."
                                        : std::string(reference ? "Reference" : "Frequency") + " restored for " +
                                              namedOrCounted(store, out.positions) + ".";
    return out;
}

} // namespace

UndoOutcome undoLastEdit(MainState& state)
{
    if (state.busy() || state.undo().empty())
        return {};
    UndoStack::Step step = state.undo().pop();
    Withdrawal withdrawal(state.app().logDir());
    std::vector<MainState::EditNotice> notices;
    UndoOutcome out = step.kind == UndoStack::Kind::Delete ? restoreDeleted(state, step, withdrawal, notices)
                                                           : restoreValues(state, step, withdrawal, notices);
    out.undone = true;
    // a data file not written leaves the withdrawn files unlisted: the next start lists them again when the data file
    // still lacks the undo
    if (state.commitEdit(notices).dataFile)
        withdrawal.removeFiles();
    state.setSelection(out.positions);
    state.statusLine(out.message);
    return out;
}

} // namespace tarnwick::app
