#include "cli/session.h"
#include "core/entry.h"
#include "update/updaterun.h"

#include <iostream>

namespace tarnwick::cli {

namespace {

// One line per due entry when no terminal shows the line redrawn in place.
void printOutcome(const Session& s, const update::EntryOutcome& o)
{
    std::string line = "[" + std::to_string(o.number) + "/" + std::to_string(o.due) + "] " +
                       entryLabel(s.app.entries.at(o.position)) + ": ";
    using Kind = update::EntryOutcome::Kind;
    switch (o.kind) {
    case Kind::Changed: {
        line += "changed (";
        for (size_t i = 0; i < o.changedCaptions.size(); ++i)
            line += (i ? ", " : "") + o.changedCaptions[i];
        line += ")";
        break;
    }
    case Kind::Unchanged:
        line += "unchanged";
        break;
    case Kind::FirstReading:
        line += "first reading";
        break;
    case Kind::NoRecord:
        line += "no record at the office";
        break;
    case Kind::Failed:
        line += "failed: " + o.error;
        break;
    }
    std::cout << line << std::endl;
}

// Wires the progress display and the questions of an update.
void prepare(Session& s, bool yes, bool redo)
{
    const bool terminal = CliFrontEnd::onTerminal();
    s.frontEnd.setShowProgress(terminal);
    s.frontEnd.setInPlaceProgress(terminal);
    s.frontEnd.setInteractive(terminal);
    if (yes)
        s.frontEnd.setFixedAnswer(base::Answer::Yes);
    if (redo)
        s.frontEnd.setAnswerFor(base::Question::RedoUpdate, base::Answer::Yes);
    // without a terminal the reverted-fields question takes its answer Cancel: nothing suspicious is stored
    // without a person
    if (!terminal)
        s.state.setEntryObserver([&s](const update::EntryOutcome& o) { printOutcome(s, o); });
}

void printSummary(const update::RunSummary& r, int sent)
{
    std::cout << "due " << r.due << ", updated " << r.updated << ", changed " << r.changed << ", failed " << r.failed
              << ", notifications queued " << r.notificationsQueued << ", messages sent " << sent << "\n";
    if (r.warningRefused)
        std::cout << "Stopped at " << r.warningRefusedFor
                  << ": three or more fields reverted to nothing, so nothing was stored for it and the later entries "
                     "were not updated. Run the update on a terminal, or with --yes to store such values.\n";
    if (CliFrontEnd::interrupted())
        std::cout << "Cancelled with Ctrl-C.\n";
}

} // namespace

// Update Selected over the named entries, Update All without names; the pending e-mail goes after a run that
// queued messages unless SendAfterUpdate is off.
int cmdUpdate(const Invocation& inv)
{
    std::vector<std::string> numbers;
    bool redo = false;
    bool yes = false;
    for (const std::string& a : inv.args) {
        if (a == "--redo") {
            redo = true;
        } else if (a == "--yes") {
            yes = true;
        } else if (a.starts_with("--")) {
            std::cerr << "usage: tarnwick-cli update [--redo] [--yes] [NUMBER...]\n";
            return 1;
        } else {
            numbers.push_back(a);
        }
    }
    std::unique_ptr<Session> s = Session::open(inv, true);
    if (!s)
        return 1;
    std::vector<int> selection;
    for (const std::string& n : numbers) {
        std::optional<int> p = entryArgument(*s, n);
        if (!p)
            return 1;
        selection.push_back(*p);
    }
    prepare(*s, yes, redo);
    update::RunSummary r;
    if (numbers.empty()) {
        r = s->state.runUpdate(update::Scope::All);
    } else {
        s->state.setSelection(selection);
        r = s->state.runUpdate(update::Scope::Selected);
    }
    const bool saved = s->saveEntries();
    app::MainState& state = s->state;
    const bool mailed = state.mailedAfterRun();
    printSummary(r, mailed ? state.queue().lastBatchSent() : 0);
    const bool sendFailed = mailed && !state.queue().lastBatchError().empty();
    return saved && r.failed == 0 && !sendFailed && !CliFrontEnd::interrupted() ? 0 : 1;
}

// What auto mode does, headless: Update All, the pending e-mail sent without
// asking, the reports written, everything saved.
int cmdAuto(const Invocation& inv)
{
    if (!inv.args.empty()) {
        std::cerr << "usage: tarnwick-cli auto\n";
        return 1;
    }
    std::unique_ptr<Session> s = Session::open(inv, true);
    if (!s)
        return 1;
    prepare(*s, false, false);
    s->state.setAutoMode(true);
    const update::RunSummary r = s->state.runUpdate(update::Scope::All);
    // the run itself has sent the pending e-mail when SendAfterUpdate is on; a failed sending is not tried twice
    const bool mailed = s->state.mailedAfterRun();
    if (!mailed && !CliFrontEnd::interrupted() && s->state.queue().pendingExists())
        s->state.processPending(false, false);
    const int sent = s->state.queue().lastBatchSent();
    const bool sendFailed = !s->state.queue().lastBatchError().empty();
    const app::MainState::Saved saved = s->state.saveAll();
    (void)s->app.settings.writeAll();
    printSummary(r, sent);
    const std::string reportDir = s->app.settings.value(base::setting::ReportDir);
    if (!saved.reports)
        std::cerr << "tarnwick-cli: " << saved.reports.error() << "\n";
    else if (!reportDir.empty())
        std::cout << "reports in " << reportDir << "\n";
    return saved.entries && saved.reports && r.failed == 0 && !sendFailed && !CliFrontEnd::interrupted() ? 0 : 1;
}

} // namespace tarnwick::cli
