#include "app/mainstate.h"

#include "app/application.h"
#include "app/autorun.h"
#include "app/deadlinelist.h"
#include "app/docketcommands.h"
#include "app/runoutcome.h"
#include "base/log.h"
#include "core/datafile.h"
#include "core/daynumber.h"
#include "core/reports.h"
#include "net/flowlog.h"
#include "notify/htmlreport.h"
#include "notify/reminders.h"
#include "notify/templates.h"
#include "platform/clock.h"
#include "platform/files.h"

#include <cctype>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

namespace tarnwick::app {

// Writes the data file on a thread of its own: the newest text handed to it wins, and each write is whole
// (temporary file, fsync, rename). A text waiting when it goes is still written.
class MainState::BackgroundSave {
public:
    explicit BackgroundSave(std::function<void()> ended) : m_ended(std::move(ended)), m_thread([this] { run(); }) {}
    ~BackgroundSave()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }
    BackgroundSave(const BackgroundSave&) = delete;
    BackgroundSave& operator=(const BackgroundSave&) = delete;

    void post(std::string path, std::string text)
    {
        {
            const std::lock_guard lock(m_mutex);
            m_path = std::move(path);
            m_text = std::move(text);
            m_waiting = true;
        }
        m_wake.notify_all();
    }
    // Until nothing is written or waits; with `drop` a text waiting is forgotten first.
    void wait(bool drop)
    {
        std::unique_lock lock(m_mutex);
        if (drop && m_waiting) {
            m_waiting = false;
            m_text.clear();
        }
        m_idle.wait(lock, [this] { return !m_waiting && !m_writing && !m_telling; });
    }
    // The last write's failure, once, when no newer write is under way.
    std::optional<platform::Result> takeFailure()
    {
        const std::lock_guard lock(m_mutex);
        if (m_waiting || m_writing)
            return std::nullopt;
        return std::exchange(m_failure, std::nullopt);
    }

private:
    void run()
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return m_stop || m_waiting; });
            if (!m_waiting)
                return;
            const std::string path = std::move(m_path);
            const std::string text = std::move(m_text);
            m_waiting = false;
            m_writing = true;
            lock.unlock();
            const platform::Result written = platform::writeFileAtomic(path, text);
            lock.lock();
            m_writing = false;
            m_failure.reset();
            if (!written)
                m_failure =
                    platform::Result::failure("Can't write the data file " + path + ": " + written.systemText());
            // whoever waits for the worker also waits until the end is told, so that the one told is still there
            if (m_ended) {
                m_telling = true;
                lock.unlock();
                m_ended();
                lock.lock();
                m_telling = false;
            }
            m_idle.notify_all();
        }
    }

    std::function<void()> m_ended;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::string m_path;
    std::string m_text;
    bool m_waiting = false;
    bool m_writing = false;
    bool m_telling = false; // the end of a write is being told
    bool m_stop = false;
    std::optional<platform::Result> m_failure;
    std::thread m_thread; // last: it starts once the rest is made
};

MainState::MainState(AppContext& app, base::FrontEnd& view, net::FlowLog& flowLog)
    : base::FrontEndDecorator(view), m_app(app), m_view(view), m_flowLog(flowLog),
      m_queue({app.settings, app.log, *this, *this, app.vars, app.names, &flowLog, &m_control.runState, &m_sending,
               &app.templates, [this](const std::string& name) { return holdsEntryNamed(name); }})
{
    m_app.names.setFlowLog(&m_flowLog);
    // the file is named and the built-in template used: the user hears of it once
    m_app.templates.setReporter(
        [this](const std::string& message) { base::errorReport(m_app.log, *this, message, "Template Not Used"); });
}

MainState::~MainState()
{
    m_background.reset();
    m_app.names.setFlowLog(nullptr);
    m_app.logTemplateProblems();
}

int MainState::timeoutFromSetting(const std::string& text)
{
    if (text.empty())
        return 60000;
    long value = 0;
    size_t i = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])) && value < 100000000)
        value = value * 10 + (text[i++] - '0');
    if (text.find('m') != std::string::npos)
        value *= 60;
    // the setting holds seconds or minutes as the window shows them
    long ms = value * 1000;
    return ms < 30000 ? 30000 : static_cast<int>(ms > 3600000 ? 3600000 : ms);
}

int MainState::operationElapsedMs() const
{
    if (!m_operationRunning)
        return 0;
    return static_cast<int>(platform::clock().tickMillis() - m_operationStart);
}

update::UpdateContext MainState::updateContext()
{
    return update::UpdateContext{
        .settings = m_app.settings,
        .log = m_app.log,
        .frontEnd = *this,
        .taskHost = *this,
        .notices = *this,
        .vars = m_app.vars,
        .rules = m_app.rules,
        .names = m_app.names,
        .entries = m_app.entries,
        .control = m_control,
        .flowLog = &m_flowLog,
        .refreshTitle = m_titleRefresh,
        .onEntry = m_entryObserver,
        .onRunEnd = m_runEndObserver,
        .commitNotices = [this] { return m_queue.commitEmail(); },
        .checkpoint = [this] { (void)saveEntries(); },
    };
}

update::RunSummary MainState::runUpdate(update::Scope scope)
{
    if (m_control.busy)
        return {};
    update::UpdateRun run(updateContext());
    update::RunSummary summary;
    int reminders = 0;
    m_mailedAfterRun = false;
    {
        // the status changes of a run go out as one digest when the user wants it so
        const base::ScopedValue<bool> grouped(m_groupNotices, true);
        struct DigestEnd {
            notify::EmailQueue& queue;
            ~DigestEnd() { queue.endDigest(); }
        } digestEnd{m_queue};
        summary = run.Run(scope == update::Scope::Selected, m_selection);
        // the deadlines' reminders follow the run's changes, in its digest when there is one; a run the user
        // stopped sends none, and a data file that was not read forgets none of the reminders sent
        if (m_control.runState == base::RunState::Running && m_app.entries.loadOk())
            reminders = notify::queueReminders(m_queue, m_app.vars, m_app.log, m_app.logDir(), m_app.entries.entries(),
                                               core::today(), reminderThresholds(m_app.settings),
                                               m_app.settings.digestNotices())
                            .queued;
        summary.remindersQueued = reminders;
    }
    if (summary.started) {
        // a crash after a long run must not lose its results; the data file is written again at the end
        (void)saveEntries();
        m_app.rules.save(m_app.logDir());
    }
    if (m_control.runState == base::RunState::Closing)
        m_closeAfterRun = true;
    // the e-mail is what the user waits for: the whole queue goes now, whatever this run queued itself (the
    // notices of edits made before it too), unless the user stopped the run or turned this off
    if ((summary.started || reminders > 0) && m_control.runState == base::RunState::Running &&
        m_app.settings.sendAfterUpdate() && m_queue.pendingCount() > 0) {
        m_mailedAfterRun = true;
        processPending(false, false);
    }
    // the end of the run says what it came to, the messages the sending got out included
    if (summary.started) {
        const int sent = m_mailedAfterRun ? m_queue.lastBatchSent() : 0;
        statusLine(runStatusText(summary, sent));
        if (!m_control.autoMode || summary.failed != 0)
            tell(runClosingText(summary, sent), {},
                 summary.failed > 0 ? base::Severity::Warning : base::Severity::Information);
    }
    return summary;
}

void MainState::downloadRules()
{
    // a download before a command starts it; its cancel cancels the command, an earlier one nothing
    if (!m_control.busy)
        m_control.runState = base::RunState::Running;
    update::UpdateRun run(updateContext());
    run.download();
}

void MainState::cancel(base::RunState reason)
{
    if (!m_control.busy && !m_sending && reason != base::RunState::Closing)
        return;
    // sockets first, so that a job blocked in a silent peer ends at once
    if (m_runningTask)
        m_runningTask->cancelAll();
    m_control.runState = reason;
}

void MainState::checkTimeout()
{
    if (m_operationRunning && operationElapsedMs() >= m_control.operationTimeoutMs() &&
        m_control.runState == base::RunState::Running)
        cancel(base::RunState::TimedOut);
}

MainState::Operation::Operation(MainState& state, int fixedTimeoutMs) : m_state(state)
{
    if (state.m_control.busy)
        return;
    // a cancel of an earlier operation must not cut this one short
    state.m_control.runState = base::RunState::Running;
    state.m_control.fixedTimeoutMs = fixedTimeoutMs;
    m_busy.emplace(state.m_control.busy, state.m_view);
}

MainState::Operation::~Operation()
{
    if (m_busy)
        m_state.m_control.fixedTimeoutMs = 0;
}

bool MainState::processPending(bool ask, bool del)
{
    const Operation operation(*this);
    return operation && m_queue.processPending(ask, del);
}

std::string MainState::sendAtOnce(int templateId, notify::MailMode mode, bool showResult)
{
    const Operation operation(*this);
    return operation ? m_queue.sendAtOnce(templateId, mode, showResult) : std::string();
}

bool MainState::requestClose()
{
    if (m_control.busy) {
        cancel(base::RunState::Closing);
        m_closeAfterRun = true;
        return false;
    }
    // the pending e-mail waits for the next start: a session that ends does not wait for a mail server
    if (m_unattended)
        return true;
    if (!m_control.autoMode)
        return processPending(true, false);
    // nobody is there to answer: the pending e-mail goes as the headless auto command sends it, and a server
    // that refused the run's own sending is not tried twice
    if (m_queue.pendingExists() && !(m_mailedAfterRun && !m_queue.lastBatchError().empty()))
        processPending(false, false);
    return m_control.autoMode;
}

platform::Result MainState::dataFileWritable(std::string& path) const
{
    const std::string dir = m_app.logDir();
    if (dir.empty())
        return platform::Result::failure("no logging directory is set");
    path = core::dataFilePath(dir);
    // a data file that could not be read (another version's) is never written over
    if (!m_app.entries.loadOk())
        return platform::Result::failure("the data file " + path + " was not read, so it is not written");
    return {};
}

platform::Result MainState::saveEntries()
{
    // an older text must not land after this one
    if (m_background)
        m_background->wait(true);
    std::string path;
    if (const platform::Result writable = dataFileWritable(path); !writable)
        return writable;
    if (const platform::Result saved = core::saveDataFile(m_app.entries, m_app.logDir()); !saved)
        return platform::Result::failure("Can't write the data file " + path + ": " + saved.systemText());
    return {};
}

void MainState::setBackgroundSave(std::function<void()> ended)
{
    m_background = std::make_unique<BackgroundSave>(std::move(ended));
}

void MainState::reportBackgroundSave()
{
    if (!m_background)
        return;
    if (const std::optional<platform::Result> failed = m_background->takeFailure()) {
        m_lastEdit.dataFile = *failed;
        reportDataFileFailure(*failed, false);
    }
}

void MainState::finishBackgroundSave()
{
    if (m_background)
        m_background->wait(false);
}

void MainState::reportDataFileFailure(const platform::Result& failure, bool withNotices)
{
    std::string text = failure.error() + ".\n\nThe change stays in the list and is written again when Tarnwick closes";
    text += withNotices ? "; its e-mail notification is not queued." : ".";
    base::errorReport(m_app.log, *this, text, "Data File Not Written");
}

MainState::EditSaved MainState::commitEdit(const std::vector<EditNotice>& notices)
{
    EditSaved saved;
    std::string path;
    if (m_background && notices.empty() && dataFileWritable(path)) {
        // the text of the entries as they are now; the disk is the worker's
        m_background->post(std::move(path), core::dataFileText(m_app.entries));
        m_lastEdit = saved;
        return saved;
    }
    for (const EditNotice& n : notices) {
        saved.noticeError = m_queue.stageEmail(n.entry, n.templateId, n.kind, n.previous ? &*n.previous : nullptr);
        if (!saved.noticeError.empty())
            break;
    }
    // the notices are durable under their names, then the data file holds the edit, then the list names them: a
    // crash in between leaves notices that the next start lists because the data file agrees with them
    bool written = false;
    std::string committed = m_queue.commitEmail([&] {
        written = true;
        saved.dataFile = saveEntries();
        return bool(saved.dataFile);
    });
    if (!written)
        saved.dataFile = saveEntries();
    if (!saved.dataFile) {
        reportDataFileFailure(saved.dataFile, !notices.empty());
    } else if (saved.noticeError.empty()) {
        // the notices staged before a failure still go: they tell of what the data file now holds
        saved.noticeError = std::move(committed);
    }
    m_lastEdit = saved;
    return saved;
}

bool MainState::holdsEntryNamed(const std::string& name) const
{
    constexpr size_t k_kindAt = std::string_view("Tarnwick_").size();
    if (name.size() <= k_kindAt + 4)
        return false;
    // a second message of one entry and kind is "Tarnwick_a3000004_2.tmp"
    std::string plain = name;
    const size_t end = name.size() - 4;
    const size_t mark = name.rfind('_', end);
    if (mark != std::string::npos && mark > k_kindAt && mark + 1 < end &&
        name.find_first_not_of("0123456789", mark + 1) == end)
        plain = name.substr(0, mark) + ".tmp";
    const std::string kind(1, name[k_kindAt]);
    for (int i = 0; i < m_app.entries.count(); ++i) {
        const std::string own = notify::messageFileName(m_app.entries.at(i), kind);
        if (own == name || own == plain)
            return true;
    }
    return false;
}

MainState::Saved MainState::saveAll()
{
    Saved saved;
    saved.entries = saveEntries();
    m_app.rules.save(m_app.logDir());
    saved.reports = writeReports();
    return saved;
}

platform::Result MainState::writeReports()
{
    const std::string reportDir = m_app.settings.value(base::setting::ReportDir);
    if (reportDir.empty())
        return {};
    std::error_code ec;
    std::filesystem::create_directories(reportDir, ec);
    notify::HtmlReportRenderer renderer(
        m_app.vars, &m_app.history(notify::HistoryKeep{{}, notify::HtmlReportRenderer::k_changesShown}),
        &m_app.templates);
    setReportDeadlines(renderer, m_app.entries.entries(), core::today());
    const core::ReportsWritten written = core::WriteReports(m_app.entries, reportDir, renderer);
    if (written.html && written.xml)
        return {};
    // the later of two failures tells why
    const platform::Result& failed = written.xml ? written.html : written.xml;
    return platform::Result::failure("Can't write the reports into " + reportDir + ": " +
                                     (ec ? ec.message() : failed.systemText()));
}

base::Answer MainState::messageBox(const base::MessageBox& box)
{
    if (m_unattended)
        return logUnattendedBox(m_app.log, box, Unattended::SessionEnding);
    // nobody waits for a box in auto mode: it goes to the log, and auto mode goes on
    if (m_control.autoMode)
        return logUnattendedBox(m_app.log, box, Unattended::AutoMode);
    return m_view.messageBox(box);
}

std::optional<std::string> MainState::textInput(const std::string& title, const std::string& prompt,
                                                const std::string& initial)
{
    if (m_unattended)
        return std::nullopt;
    return m_view.textInput(title, prompt, initial);
}

void MainState::operationStart(int timeoutSeconds)
{
    m_operationRunning = true;
    m_operationStart = platform::clock().tickMillis();
    // the display shows the time-out that ends the operation
    (void)timeoutSeconds;
    m_view.operationStart(m_control.operationTimeoutMs() / 1000);
}

void MainState::operationEnd()
{
    m_operationRunning = false;
    m_view.operationEnd();
    m_flowLog.post(net::FlowLog::k_status, "\r\n");
}

void MainState::dispatch(int maxWaitMs)
{
    m_view.dispatch(maxWaitMs);
    checkTimeout();
}

void MainState::wake()
{
    if (m_waker)
        m_waker();
}

std::string MainState::postNotice(const core::Entry& entry, int templateId, std::string_view kind,
                                  const core::Entry* previous)
{
    if (!m_groupNotices)
        return m_queue.PostEmail(entry, templateId, kind, previous);
    // the status changes of a run go out as one digest when the user wants it so
    if (templateId == notify::templateid::StatusUpdate && previous && m_app.settings.digestNotices())
        return m_queue.stageDigest(entry, *previous);
    return m_queue.stageEmail(entry, templateId, kind, previous);
}

} // namespace tarnwick::app
