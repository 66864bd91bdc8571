#include "app/autorun.h"
#include "app/commandline.h"
#include "base/log.h"
#include "base/settings.h"
#include "cli/session.h"
#include "core/entry.h"
#include "platform/instancelock.h"
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
    s.out() << line << std::endl;
}

// Wires the progress display and the questions of an update.
void prepare(Session& s, bool yes, bool redo)
{
    const bool terminal = s.onTerminal();
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

void printSummary(std::ostream& out, const update::RunSummary& r, int sent)
{
    out << "due " << r.due << ", updated " << r.updated << ", changed " << r.changed << ", failed " << r.failed
        << ", notifications queued " << r.notificationsQueued;
    if (r.remindersQueued > 0)
        out << ", reminders queued " << r.remindersQueued;
    out << ", messages sent " << sent << "\n";
    if (r.warningRefused)
        out << "Stopped at " << r.warningRefusedFor
            << ": three or more fields reverted to nothing, so nothing was stored for it and the later entries "
               "were not updated. Run the update on a terminal, or with --yes to store such values.\n";
    if (CliFrontEnd::interrupted())
        out << "Cancelled with Ctrl-C.\n";
}

// Update Selected over the named entries, Update All without names; the pending e-mail goes after a run that
// queued messages unless SendAfterUpdate is off.
int update(const Invocation& inv)
{
    const std::vector<std::string>& numbers = inv.args;
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
    prepare(*s, inv.options.has("yes"), inv.options.has("redo"));
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
    printSummary(inv.out, r, mailed ? state.queue().lastBatchSent() : 0);
    const bool sendFailed = mailed && !state.queue().lastBatchError().empty();
    return saved && r.failed == 0 && !sendFailed && !CliFrontEnd::interrupted() ? 0 : 1;
}

// A timer's run that was refused (the reason is on standard error already) leaves its reason in the log too.
void logRefusedStart(const Invocation& inv)
{
    const base::AppSettings settings(base::settingsPath(inv.settingsOption));
    base::Log log(settings);
    const std::string logDir = settings.value(base::setting::LogDir);
    platform::InstanceLock probe;
    if (const platform::Result locked = probe.acquire(logDir); !locked)
        log.write("Auto mode: %s This start ends.\n", locked.error().c_str());
    else
        log.write("Auto mode: this start was refused; nothing was done.\n");
}

// What auto mode does, headless, as the window does it: Update All without a question (every box goes to the
// log), the failure notice, the pending e-mail sent as the close sends it, the reports written, everything saved.
// The exit status is the window's: 3 when entries were not updated, 4 when the e-mail could not be sent.
int autoMode(const Invocation& inv)
{
    if (!inv.args.empty())
        return inv.usage();
    std::unique_ptr<Session> s = Session::open(inv, true);
    if (!s) {
        logRefusedStart(inv);
        return app::exitcode::Refused;
    }
    prepare(*s, false, false);
    s->state.setAutoMode(true);
    app::AutoRun autoRun(s->state);
    const update::RunSummary r = s->state.runUpdate(update::Scope::All);
    autoRun.runEnded(r);
    if (!CliFrontEnd::interrupted())
        (void)s->state.requestClose();
    const int sent = s->state.queue().lastBatchSent();
    const std::string& sendError = s->state.queue().lastBatchError();
    const app::MainState::Saved saved = s->state.saveAll();
    (void)s->app.settings.writeAll();
    printSummary(inv.out, r, sent);
    if (!sendError.empty())
        inv.err << "tarnwick-cli: the e-mail could not be sent; it stays queued for the next run: " << sendError
                << "\n";
    const std::string reportDir = s->app.settings.value(base::setting::ReportDir);
    if (!saved.reports)
        inv.err << "tarnwick-cli: " << saved.reports.error() << "\n";
    else if (!reportDir.empty())
        inv.out << "reports in " << reportDir << "\n";
    return autoRun.finish(s->app.entries.loadOk(), saved.entries && saved.reports);
}

} // namespace

const Command k_updateCommand{
    .name = "update",
    .arguments = "[NUMBER...]",
    .summary = "update the named entries, or all",
    .readsSettings = true,
    .options =
        {
            {"redo", nullptr, "update them all again when none is due"},
            {"yes", nullptr, "answer every question with yes"},
        },
    .run = update,
};

const Command k_autoCommand{
    .name = "auto",
    .summary = "update all, send the e-mail, write the reports (for cron)",
    .readsSettings = true,
    .run = autoMode,
};

} // namespace tarnwick::cli
