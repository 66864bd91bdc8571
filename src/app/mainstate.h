#pragma once

#include "app/historylines.h"
#include "app/undo.h"
#include "base/frontend.h"
#include "base/scopes.h"
#include "core/entrystore.h"
#include "notify/emailqueue.h"
#include "platform/result.h"
#include "tasks/taskhost.h"
#include "update/updaterun.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tarnwick::net {
class FlowLog;
}

namespace tarnwick::app {

class AppContext;

// What the main window keeps, without the window: the busy flag, the cancel
// reason (the run state), the operation time-out and the start of the current
// network operation, the selection, auto mode and the last fetch; and the
// update, rules-download and sending commands that run on them.
//
// It decorates the real front end (`view`): in auto mode a message box goes to the log instead, the
// operation display times the operation, and every dispatch cycle checks the
// operation time-out; every other call goes to the view unchanged. It is the
// task host of every worker task, and where the entries' notices go (grouped
// while an update runs).
class MainState final : public base::FrontEndDecorator, public tasks::TaskHost, public notify::NoticeSink {
public:
    // Neither `app`, `view` nor `flowLog` is owned; the flow log must outlive
    // every worker job (a job cut loose may still log).
    MainState(AppContext& app, base::FrontEnd& view, net::FlowLog& flowLog);
    ~MainState() override;
    MainState(const MainState&) = delete;
    MainState& operator=(const MainState&) = delete;

    AppContext& app() { return m_app; }
    notify::EmailQueue& queue() { return m_queue; }
    net::FlowLog& flowLog() { return m_flowLog; }

    // --- window state ---
    bool busy() const { return m_control.busy; }
    // The cancel reason (the run state).
    base::RunState cancelReason() const { return m_control.runState; }
    // Where the cancel reason lives, for a sending that reads and resets it.
    base::RunState* cancelSlot() { return &m_control.runState; }
    bool autoMode() const { return m_control.autoMode; }
    void setAutoMode(bool on) { m_control.autoMode = on; }
    // The window's operation time-out in milliseconds. No floor here: the 30 s
    // floor belongs to reading the Timeout setting (timeoutFromSetting).
    int operationTimeoutMs() const { return m_control.timeoutMs; }
    void setOperationTimeoutMs(int ms) { m_control.timeoutMs = ms; }
    // The time-out of the operation under way: its own fixed one (a download's)
    // while it has one, else the window's. 0 clears the fixed one.
    int currentTimeoutMs() const { return m_control.operationTimeoutMs(); }
    void setFixedTimeoutMs(int ms) { m_control.fixedTimeoutMs = ms; }
    // Whether a network operation runs, when it started (tick count) and how
    // long it has run.
    bool operationRunning() const { return m_operationRunning; }
    std::uint64_t operationStartTick() const { return m_operationStart; }
    int operationElapsedMs() const;
    // The selected list positions, in list order.
    const std::vector<int>& selection() const { return m_selection; }
    void setSelection(std::vector<int> positions) { m_selection = std::move(positions); }
    // Whether an e-mail sending is under way (the "sending" mark).
    bool sending() const { return m_sending; }

    // An operation of the window (a sending, a download) for the life of the
    // scope: busy, cancellable and timed like the update run, with a clear cancel
    // reason at its start, and with its own fixed time-out when one is given.
    // None begins while another operation runs (false).
    class Operation {
    public:
        explicit Operation(MainState& state, int fixedTimeoutMs = 0);
        ~Operation();
        Operation(const Operation&) = delete;
        Operation& operator=(const Operation&) = delete;
        explicit operator bool() const { return m_busy.has_value(); }

    private:
        MainState& m_state;
        std::optional<base::BusyScope> m_busy;
    };

    // --- commands ---
    // Update Selected (over the selection) or Update All: the run of the update
    // layer, its notices committed in groups, and the entries and the rules saved
    // after a run that started; a close asked for during the run is owed after it. When
    // the run queued messages and ended uncancelled, the pending e-mail is sent as Send
    // E-Mail sends it, unless SendAfterUpdate is off.
    update::RunSummary runUpdate(update::Scope scope);
    // The last run sent the pending e-mail (queue().lastBatchSent() and lastBatchError() say how it went).
    bool mailedAfterRun() const { return m_mailedAfterRun; }
    // The rules download (once per run of the program).
    void downloadRules();
    // The stop operation: closes every job's socket of the running task, then
    // sets the cancel reason. Does nothing while not busy unless `reason` is
    // Closing.
    void cancel(base::RunState reason = base::RunState::Cancelled);
    // Checks the operation time-out; cancels with reason 2 when it has passed.
    // Called on every dispatch cycle (and by a window timer, if any).
    void checkTimeout();
    // Send E-Mail / Delete E-Mail (and the closing question with `ask`); true
    // when the caller may go on.
    bool processPending(bool ask, bool del);
    // The Test commands and other messages sent at once (template, recipients),
    // as one operation of the window; returns the error text.
    std::string sendAtOnce(int templateId, notify::MailMode mode, bool showResult);
    // Close request: while busy the run is cancelled with 0x8000 and false is
    // returned (closeAfterRun() then tells the window to close); otherwise the
    // pending e-mail is offered and the answer decides. In auto mode it is sent
    // without asking (not again after the run's own sending failed); a failure is
    // logged and the window goes. Unattended, the window goes and the queue stays.
    bool requestClose();
    bool closeAfterRun() const { return m_closeAfterRun; }
    // The close that a run's end owes the window, once: a close that the pending
    // e-mail question then refused is not posted again after the next run.
    bool takeCloseAfterRun() { return std::exchange(m_closeAfterRun, false); }
    // What saveAll came to: the data file and the reports.
    struct Saved {
        platform::Result entries;
        platform::Result reports;
    };
    // Writes the data file, the rules file when it must be saved, and the
    // reports, in this order.
    Saved saveAll();
    // Writes the reports into the report directory (created when missing); a
    // success too when none is set.
    platform::Result writeReports();
    // The data file alone (after every run and every edit, so that a crash loses nothing). A background save
    // under way ends first, and one waiting is dropped: this one holds its edits too.
    platform::Result saveEntries();
    // The window's edits that queue no notice save the data file on a thread of their own, so that typing never
    // waits for the disk: the entries' text is made at once, written there (the newest text wins, each write as
    // whole as any), and `ended` is called on that thread after each write, for the window to call
    // reportBackgroundSave. Without this every save is made at once.
    void setBackgroundSave(std::function<void()> ended);
    // A background save that failed, once and unless a newer one is under way: reported as a save made at once.
    void reportBackgroundSave();
    // Waits for the background save under way (and one waiting) to be written.
    void finishBackgroundSave();

    // A notice that an edit owes: queued only once the data file holds the edit.
    struct EditNotice {
        core::Entry entry;
        int templateId = 0;
        std::string kind;
        std::optional<core::Entry> previous;
    };
    // What saving an edit came to: the data file, and the first notice that could not be queued (already
    // reported).
    struct EditSaved {
        platform::Result dataFile;
        std::string noticeError;
    };
    // An edit of the entries (add, delete, a change, an import) is kept at once: the data file is written, and
    // only then are the edit's notices queued, together, none after the first that cannot be written. A data file
    // that cannot be written is reported and queues none of them, so that no notice tells of a change that the
    // next start would not know.
    EditSaved commitEdit(const std::vector<EditNotice>& notices = {});
    // What the last edit's saving came to.
    const EditSaved& lastEdit() const { return m_lastEdit; }
    // The edits of this session that Undo takes back.
    UndoStack& undo() { return m_undo; }
    const UndoStack& undo() const { return m_undo; }
    // Where the history file's lines lie, for the details of the selection.
    HistoryLines& historyLines() { return m_historyLines; }

    // The session is ending (a logout, a shutdown): nobody answers any more. No box is shown (each is logged and
    // answered as a close without a person needs), no text is asked for, and a close leaves the pending e-mail
    // queued for the next start.
    void setUnattended(bool on) { m_unattended = on; }
    bool unattended() const { return m_unattended; }

    // Observers: the title after a rules download, each due entry of a run.
    void setTitleRefresh(std::function<void()> f) { m_titleRefresh = std::move(f); }
    void setEntryObserver(std::function<void(const update::EntryOutcome&)> f) { m_entryObserver = std::move(f); }
    // The tally of a run once its entries are done, before its closing message.
    void setRunEndObserver(std::function<void(const update::RunSummary&)> f) { m_runEndObserver = std::move(f); }
    // How a job's end wakes a waiting dispatch of the view (any thread).
    void setWaker(std::function<void()> f) { m_waker = std::move(f); }

    // The time-out choices of the window and the setting's reading: a leading
    // integer, times 60 when the text holds "m"; empty 60000; at least 30000.
    static int timeoutFromSetting(const std::string& text);

    // --- base::FrontEnd: what the state adds to the view ---
    base::Answer messageBox(const base::MessageBox& box) override;
    std::optional<std::string> textInput(const std::string& title, const std::string& prompt,
                                         const std::string& initial) override;
    void operationStart(int timeoutSeconds) override;
    void operationEnd() override;
    void dispatch(int maxWaitMs) override;

    // --- tasks::TaskHost ---
    bool cancelRequested() const override { return m_control.runState != base::RunState::Running; }
    void setRunningTask(tasks::Cancellable* task) override { m_runningTask = task; }
    void wake() override;

    // --- notify::NoticeSink: posted at once, or staged while an update run commits them in groups ---
    std::string postNotice(const core::Entry& entry, int templateId, std::string_view kind,
                           const core::Entry* previous) override;

private:
    update::UpdateContext updateContext();
    // Why the data file may not be written now, else its path.
    platform::Result dataFileWritable(std::string& path) const;
    void reportDataFileFailure(const platform::Result& failure, bool withNotices);

    class BackgroundSave;
    std::unique_ptr<BackgroundSave> m_background;

    AppContext& m_app;
    base::FrontEnd& m_view;
    net::FlowLog& m_flowLog;
    update::RunControl m_control;
    notify::EmailQueue m_queue;
    tasks::Cancellable* m_runningTask = nullptr;
    bool m_operationRunning = false;
    std::uint64_t m_operationStart = 0;
    bool m_sending = false;
    bool m_closeAfterRun = false;
    bool m_mailedAfterRun = false;
    bool m_groupNotices = false; // an update run commits its notices in groups
    // Whether the entries hold the one a queued message's file name is for.
    bool holdsEntryNamed(const std::string& name) const;

    bool m_unattended = false;
    EditSaved m_lastEdit;
    UndoStack m_undo;
    HistoryLines m_historyLines;
    std::vector<int> m_selection;
    std::function<void()> m_titleRefresh;
    std::function<void(const update::EntryOutcome&)> m_entryObserver;
    std::function<void(const update::RunSummary&)> m_runEndObserver;
    std::function<void()> m_waker;
};

} // namespace tarnwick::app
