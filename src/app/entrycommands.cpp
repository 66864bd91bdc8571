#include "app/entrycommands.h"

#include "app/application.h"
#include "app/historylines.h"
#include "app/mainstate.h"
#include "base/log.h"
#include "core/entry.h"
#include "core/entrystore.h"
#include "core/fieldtable.h"
#include "core/identifier.h"
#include "docket/deadlines.h"
#include "notify/history.h"
#include "notify/templates.h"

#include <algorithm>
#include <functional>

namespace tarnwick::app {

const char* const k_duplicateEntryMessage = "This entry already exists.";

namespace {

// The given positions that exist, each once, in list order.
std::vector<int> validPositions(const core::EntryStore& store, std::vector<int> positions)
{
    std::erase_if(positions, [&](int p) { return p < 0 || p >= store.count(); });
    std::sort(positions.begin(), positions.end());
    positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
    return positions;
}

} // namespace

std::string entryName(const core::Entry& entry)
{
    const std::string number = core::identifierText(entry);
    if (entry.Reference.empty())
        return number;
    // the reference names the mark; the number says which, without its trademark
    return entry.Reference + ", " + number.substr(0, number.find(", trademark "));
}

AddOutcome addEntry(MainState& state, const std::string& typedNumber, const std::string& reference,
                    core::Frequency frequency)
{
    AddOutcome out;
    if (state.busy())
        return out;
    core::Entry entry;
    // a number pasted with blanks round it or separators inside is the number the filter finds
    if (std::optional<std::string> refusal = core::setIdentifier(entry, core::typedNumber(typedNumber))) {
        out.message = *refusal;
        return out;
    }
    entry.Reference = reference;
    entry.Frequency = frequency;
    const core::Added added = state.app().entries.addEntry(std::move(entry));
    // the row that holds the number is the one shown, whether it is the new one or not
    state.setSelection({added.position});
    if (!added.added) {
        out.message = k_duplicateEntryMessage;
        // a refusal, not a failure
        state.app().log.write("Duplicate Entry '%s'\n", out.message.c_str());
        state.tell(out.message, "Duplicate Entry", base::Severity::Warning);
        return out;
    }
    out.position = added.position;
    const MainState::EditSaved saved =
        state.commitEdit({{state.app().entries.at(added.position), notify::templateid::EntryAdded, "a", std::nullopt}});
    out.saved = bool(saved.dataFile);
    out.message = saved.noticeError;
    return out;
}

int deleteEntries(MainState& state, const std::vector<int>& positions)
{
    core::EntryStore& store = state.app().entries;
    std::vector<int> chosen = validPositions(store, positions);
    if (state.busy() || chosen.empty())
        return 0;
    const std::string question = chosen.size() == 1 ? "Delete " + entryName(store.at(chosen.front())) + "?"
                                                    : "Delete these " + std::to_string(chosen.size()) + " entries?";
    if (state.ask(base::Question::DeleteEntries, question) != base::Answer::Yes)
        return 0;
    UndoStack::Step undo{UndoStack::Kind::Delete, {}};
    for (int p : chosen)
        undo.entries.emplace_back(p, store.at(p));
    state.undo().push(std::move(undo));
    std::vector<MainState::EditNotice> notices;
    int removed = 0;
    for (auto it = chosen.rbegin(); it != chosen.rend(); ++it) {
        notices.push_back({store.at(*it), notify::templateid::EntryDeleted, "d", std::nullopt});
        store.remove(*it);
        ++removed;
    }
    state.setSelection({});
    state.commitEdit(notices);
    return removed;
}

void setFrequency(MainState& state, const std::vector<int>& positions, core::Frequency frequency)
{
    core::EntryStore& store = state.app().entries;
    if (state.busy())
        return;
    UndoStack::Step undo{UndoStack::Kind::Frequency, {}};
    for (int p : validPositions(store, positions)) {
        if (store.at(p).Frequency != frequency)
            undo.entries.emplace_back(p, store.at(p));
        store.at(p).Frequency = frequency;
        state.rowChanged(p);
    }
    state.undo().push(std::move(undo));
    state.commitEdit();
}

platform::Result changeReference(MainState& state, const std::vector<int>& positions, const std::string& reference)
{
    core::EntryStore& store = state.app().entries;
    if (state.busy())
        return {};
    std::vector<MainState::EditNotice> notices;
    UndoStack::Step undo{UndoStack::Kind::Reference, {}};
    for (int p : validPositions(store, positions)) {
        core::Entry changed = store.at(p);
        changed.setValueText(core::FieldId::Reference, reference);
        core::Entry previous = store.replaceEntry(p, std::move(changed));
        state.rowChanged(p);
        // only a reference that really changed is announced
        if (previous.compareField(core::FieldId::Reference, store.at(p)) != 0) {
            undo.entries.emplace_back(p, previous);
            notices.push_back({store.at(p), notify::templateid::EntryChanged, "c", std::move(previous)});
        }
    }
    state.undo().push(std::move(undo));
    const MainState::EditSaved saved = state.commitEdit(notices);
    if (!saved.noticeError.empty())
        return platform::Result::failure(saved.noticeError);
    return saved.dataFile;
}

platform::Result changeReferenceAsking(MainState& state, const std::vector<int>& positions)
{
    core::EntryStore& store = state.app().entries;
    std::vector<int> chosen = validPositions(store, positions);
    if (state.busy() || chosen.empty())
        return {};
    const std::string label = std::string(core::fieldInfo(core::FieldId::Reference).columnCaption) + ":";
    std::optional<std::string> text = state.textInput("Change", label, store.at(chosen.front()).Reference);
    if (!text)
        return {};
    return changeReference(state, chosen, *text);
}

void clearError(MainState& state, const std::vector<int>& positions)
{
    core::EntryStore& store = state.app().entries;
    if (state.busy())
        return;
    for (int p : validPositions(store, positions)) {
        store.at(p).Error.clear();
        state.rowChanged(p);
    }
    state.commitEdit();
}

bool clearLastUpdate(MainState& state, const std::vector<int>& positions)
{
    core::EntryStore& store = state.app().entries;
    std::vector<int> chosen = validPositions(store, positions);
    if (state.busy() || chosen.empty())
        return false;
    if (state.ask(base::Question::ClearLastUpdate,
                  "Clearing the last update time will allow you to update the selected entries today.\n\nDo you want "
                  "to clear the last update time?",
                  "Clear Last Update") != base::Answer::Yes)
        return false;
    for (int p : chosen) {
        store.at(p).LastUpdate = 0;
        state.rowChanged(p);
    }
    state.commitEdit();
    return true;
}

void changeColumn(MainState& state, int fieldRow, const std::vector<int>& positions,
                  std::optional<core::Frequency> frequency)
{
    if (state.busy())
        return;
    switch (static_cast<core::FieldId>(fieldRow)) {
    case core::FieldId::Frequency:
        if (frequency)
            setFrequency(state, positions, *frequency);
        return;
    case core::FieldId::LastUpdate:
        clearLastUpdate(state, positions);
        return;
    case core::FieldId::Reference:
        // a posting that failed has been shown
        (void)changeReferenceAsking(state, positions);
        return;
    default:
        state.tell("This column cannot be edited.");
        return;
    }
}

namespace {

// The field listing with each part of a value joined with "|" (the attorney and
// the firm) on a line of its own below the first.
void appendListing(std::string& out, const core::Entry& e)
{
    const std::string listing = e.fieldListing();
    size_t from = 0;
    for (size_t bar = listing.find('|'); bar != std::string::npos; bar = listing.find('|', from)) {
        size_t end = bar;
        while (end > from && listing[end - 1] == ' ')
            --end;
        out.append(listing, from, end - from).append("\r\n\t");
        from = bar + 1;
        while (from < listing.size() && listing[from] == ' ')
            ++from;
    }
    out.append(listing, from, std::string::npos);
}

// "Last changes:" and the entry's newest changes, each as the two lines of a notice's change list.
void appendLastChanges(std::string& out, const core::Entry& e, const notify::HistoryText& history,
                       const notify::HistoryIndex& index)
{
    const std::vector<size_t> records = index.of(e);
    out += "\r\nLast changes:";
    if (records.empty()) {
        out += "\tnone recorded\r\n";
        return;
    }
    out += "\r\n";
    const size_t shown = std::min(records.size(), k_detailsChanges);
    for (size_t k = 0; k < shown; ++k) {
        const notify::ChangeRecord& r = history.records[records[records.size() - 1 - k]];
        const std::string_view caption = notify::fieldCaption(r.field);
        out.append(r.date).append("\t").append(caption).append(" (now): ").append(r.newValue).append("\r\n");
        out.append("\t").append(caption).append(" (was): ").append(r.oldValue).append("\r\n");
    }
    if (const size_t total = index.count(e); total > shown)
        out += std::to_string(total - shown) + " earlier: tarnwick-cli history " + notify::historyNumber(e) + "\r\n";
}

} // namespace

std::string detailsText(AppContext& app, const std::vector<int>& positions, HistoryLines* lines)
{
    // of a history however long, only the shown entries' newest changes are held
    notify::HistoryKeep keep{{}, k_detailsChanges};
    for (int p : validPositions(app.entries, positions)) {
        const core::Entry& e = app.entries.at(p);
        for (const std::string* number : {&e.SerNum, &e.RegNum, &e.IntNum}) {
            if (!number->empty())
                keep.numbers.push_back(*number);
        }
    }
    if (keep.numbers.empty())
        return detailsText(app.entries, positions, nullptr);
    if (lines) {
        const notify::HistoryText history = lines->read(app.logDir(), keep);
        return detailsText(app.entries, positions, &history);
    }
    return detailsText(app.entries, positions, &app.history(keep));
}

std::string detailsText(const core::EntryStore& store, const std::vector<int>& positions,
                        const notify::HistoryText* history)
{
    std::optional<notify::HistoryIndex> index;
    if (history)
        index.emplace(*history);
    std::string out;
    bool first = true;
    for (int p : validPositions(store, positions)) {
        if (!first)
            out += "\r\n---\r\n\r\n";
        first = false;
        if (out.size() > 25000) {
            out += "truncated...";
            break;
        }
        const core::Entry& e = store.at(p);
        out += "Changed within the last week: ";
        out += e.recentlyChanged() ? "Yes" : "No";
        out += "\r\n";
        out += e.valueText(core::FieldId::Frequency, false);
        out += " update needed: ";
        out += e.isUpToDate() ? "No" : "Yes";
        out += "\r\n\r\n";
        appendListing(out, e);
        out += "Next Deadline:\t" + docket::deadlineDetails(docket::nextDeadline(e, e.Today)) + "\r\n";
        if (index)
            appendLastChanges(out, e, *history, *index);
    }
    return out;
}

std::optional<int> findByNumber(const core::EntryStore& store, const std::string& typedNumber)
{
    core::Entry probe(core::k_noDay);
    if (core::setIdentifier(probe, typedNumber))
        return std::nullopt;
    return store.findDuplicate(probe);
}

} // namespace tarnwick::app
