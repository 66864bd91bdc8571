#include "app/mainwindowlogic.h"

#include "app/application.h"
#include "app/mainstate.h"
#include "app/servicecommands.h"
#include "app/timeout.h"
#include "app/upgrade.h"
#include "base/frontend.h"
#include "base/log.h"
#include "base/scopes.h"
#include "core/datafile.h"
#include "core/reports.h"
#include "core/text.h"
#include "notify/servicereports.h"
#include "notify/templates.h"
#include "platform/files.h"
#include "platform/install.h"
#include "tasks/errors.h"

#include <filesystem>

namespace tarnwick::app {

const char* const k_disclaimerText =
    "Tarnwick is provided free of charge on an \"as is\" basis. Its reliability cannot be promised: it may miss "
    "a change of status, report one wrongly, or fail to send a notification, and no one accepts liability for "
    "the consequences of using it.\n\nDo you agree to these terms?";
const char* const k_mustConfigureText =
    "You must fill in the configuration information before you can use this application. Do you want to quit?";
const char* const k_testMailQuestion =
    "It is a good idea to test your e-mail connection by sending a test message to the return address you gave "
    "in the configuration step.\n\nIn order to send e-mail you must be able to reach your SMTP server. If you "
    "reach it only through a VPN or a dial-up connection, connect now.\n\nDo you want to test your e-mail "
    "connection right now?";
const char* const k_shortcutAddedText =
    "A shortcut to Tarnwick has been added to the applications menu under \"Tarnwick\".";

namespace {

constexpr int k_testTemplate = 5;

} // namespace

std::string windowTitle(std::string_view orgName, std::string_view newerVersion)
{
    std::string title = base::caption();
    if (!orgName.empty()) {
        title += " - ";
        title += orgName;
    }
    if (!newerVersion.empty()) {
        title += " (v";
        title += newerVersion;
        title += " available - use Options|Upgrade)";
    }
    return title;
}

int columnWidth(std::string_view setting, int widthFactor, int lastUpdateTextWidth)
{
    if (!setting.empty())
        return static_cast<int>(core::leadingInteger(setting));
    return (lastUpdateTextWidth + 15) * widthFactor / 2;
}

std::string unhandledMessage(const std::exception_ptr& error)
{
    try {
        std::rethrow_exception(error);
    } catch (const tasks::CAppError& e) {
        return e.message();
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "Unknown exception.";
    }
}

bool commandAllowed(Command id, const CommandState& state)
{
    if (id == Command::Close)
        return true;
    const bool columnCommand = commandColumn(id, Command::ChangeColumn) || commandColumn(id, Command::SortColumn) ||
                               commandColumn(id, Command::HeaderColumn);
    return (!state.busy && !columnCommand) || isEnabled(id, state);
}

std::optional<std::string> changesNotification(const update::RunSummary& summary, bool windowInFront)
{
    if (windowInFront || !summary.started || summary.changed <= 0)
        return std::nullopt;
    std::string text = core::counted(summary.changed, "mark", "marks") + " changed at the office.";
    if (summary.failed > 0)
        text += " " + core::counted(summary.failed, "mark", "marks") + " could not be updated.";
    return text;
}

MainWindowLogic::MainWindowLogic(MainState& state, WindowHost& host, StartupState startup, bool autoMode)
    : m_state(state), m_host(host), m_sort{startup.sortColumn, startup.sortReversed},
      m_version(std::move(startup.version)), m_programPath(std::move(startup.programPath)), m_autoStart(autoMode),
      m_auto(state)
{
    m_state.setAutoMode(autoMode);
    m_state.setTitleRefresh([this] { m_host.setTitle(title()); });
}

void MainWindowLogic::open()
{
    AppContext& app = m_state.app();
    const platform::Result loaded = app.loadEntries();
    m_startupOk = bool(loaded);
    if (!loaded)
        m_state.tell(loaded.error(), {}, base::Severity::Error);
    m_state.setOperationTimeoutMs(MainState::timeoutFromSetting(app.settings.value(base::setting::Timeout)));
    // the list's own sort, keys made once per entry: the window waits for it before its first paint
    moveEntries(app.entries, sortedPositions(app.entries.entries(), m_sort));
}

void MainWindowLogic::firstShowing()
{
    if (!m_startupOk) {
        m_host.destroyWindow();
        return;
    }
    m_host.setTitle(title());
    if (m_state.app().settings.value(base::setting::OrgName).empty()) {
        m_host.postCommand(Command::Configure);
        return;
    }
    m_host.installationCheck(false);
    if (m_state.autoMode())
        m_host.postCommand(Command::UpdateAll);
}

bool MainWindowLogic::close()
{
    return m_state.requestClose();
}

void MainWindowLogic::afterRun(bool autoClose)
{
    if (m_state.takeCloseAfterRun() || m_state.cancelReason() == base::RunState::Closing ||
        (autoClose && m_state.autoMode()))
        m_host.postCommand(Command::Close);
}

update::RunSummary MainWindowLogic::runUpdate(update::Scope scope)
{
    update::RunSummary summary = m_state.runUpdate(scope);
    if (scope == update::Scope::All && m_state.autoMode())
        m_auto.runEnded(summary);
    afterRun(scope == update::Scope::All);
    return summary;
}

int MainWindowLogic::exitStatus()
{
    return m_autoStart ? m_auto.finish(m_startupOk, m_saved) : exitcode::Normal;
}

void MainWindowLogic::destroy(const WindowLayout& layout)
{
    // the data file and the reports are written on every way out; what fails is in the log or lost, and an
    // unattended run says so in its exit status
    const MainState::Saved saved = m_state.saveAll();
    m_saved = saved.entries && saved.reports;

    base::AppSettings& s = m_state.app().settings;
    s.setNumber(base::setting::Left, layout.left);
    s.setNumber(base::setting::Top, layout.top);
    s.setNumber(base::setting::Right, layout.right);
    s.setNumber(base::setting::Bottom, layout.bottom);
    s.setNumber(base::setting::TopIndex, layout.topIndex);
    for (const core::FieldInfo& f : core::fieldTable())
        s.setNumber(base::columnWidthSetting(f), layout.columnWidths[static_cast<size_t>(f.id)]);
    s.setNumber(base::setting::ColWidthNextDeadline, layout.deadlineWidth);
    s.setValue(base::setting::SortBy, std::string(core::fieldInfo(static_cast<core::FieldId>(m_sort.column)).key));
    s.setNumber(base::setting::SortReversed, m_sort.reversed ? 1 : 0);
}

void MainWindowLogic::configure()
{
    base::AppSettings& s = m_state.app().settings;
    const bool firstRun = s.value(base::setting::OrgName).empty();
    if (firstRun && m_state.ask(base::Question::Disclaimer, k_disclaimerText, "Disclaimer") != base::Answer::Yes) {
        m_host.postCommand(Command::Close);
        return;
    }
    const std::string shortcutFolder = s.value(base::setting::ShortcutFolder);
    m_host.configurationDialog();
    if (s.value(base::setting::OrgName).empty()) {
        const base::Answer quit = m_state.ask(base::Question::QuitUnconfigured, k_mustConfigureText);
        m_host.postCommand(quit == base::Answer::Yes ? Command::Close : Command::Configure);
        return;
    }
    if (firstRun || !core::equalNoCase(shortcutFolder, s.value(base::setting::ShortcutFolder)))
        m_reinstall = true;
    if (firstRun) {
        notify::queueWelcomeReport(m_state.queue(), s);
        if (m_state.ask(base::Question::TestEmailConnection, k_testMailQuestion) == base::Answer::Yes)
            testEmail(notify::MailMode::ReturnAddress);
    }
    if (!platform::sameFile(platform::folderOf(m_programPath), s.value(base::setting::Install)))
        m_reinstall = true;
    m_host.setTitle(title());
    if (m_reinstall) {
        if (firstRun)
            m_state.tell(k_shortcutAddedText);
        m_host.installationCheck(true);
    }
}

bool MainWindowLogic::sort(int column, SortKind kind)
{
    m_moves.clear();
    const std::optional<SortOrder> next = sortRequest(m_sort, column, kind);
    if (!next)
        return false;
    m_sort = *next;
    // one sort that both the store and the list's selection follow
    m_moves = sortedPositions(m_state.app().entries.entries(), m_sort);
    moveEntries(m_state.app().entries, m_moves);
    return true;
}

std::string MainWindowLogic::title() const
{
    const AppContext& app = m_state.app();
    return windowTitle(app.settings.value(base::setting::OrgName), newerVersion(app.rules, app.settings, m_version));
}

bool MainWindowLogic::busy() const
{
    return m_state.busy() || m_state.sending() || m_upgrading || m_reporting;
}

CommandState MainWindowLogic::commandState(std::optional<core::Frequency> focusedFrequency) const
{
    CommandState c;
    c.busy = busy();
    c.selected = static_cast<int>(m_state.selection().size());
    c.pendingEmail = m_state.queue().pendingExists();
    c.focusedFrequency = focusedFrequency;
    c.sortColumn = m_sort.column;
    c.sortReversed = m_sort.reversed;
    return c;
}

MainWindowLogic::Counts MainWindowLogic::counts() const
{
    Counts c;
    const core::EntryStore& entries = m_state.app().entries;
    c.entries = entries.count();
    for (const core::Entry& e : entries.entries())
        c.due += e.isUpToDate() ? 0 : 1;
    c.pending = m_state.queue().pendingCount();
    return c;
}

void MainWindowLogic::setTimeoutChoice(int milliseconds)
{
    m_state.app().settings.setValue(base::setting::Timeout, timeoutText(milliseconds));
    m_state.setOperationTimeoutMs(milliseconds);
}

void MainWindowLogic::sendEmail()
{
    m_state.processPending(false, false);
    afterRun(false);
}

void MainWindowLogic::deleteEmail()
{
    // one confirmation; the question about sending belongs to closing
    m_state.processPending(false, true);
    afterRun(false);
}

void MainWindowLogic::testEmail(notify::MailMode mode)
{
    if (busy())
        return;
    m_state.sendAtOnce(k_testTemplate, mode, true);
    afterRun(false);
}

UpgradeOutcome MainWindowLogic::upgrade()
{
    if (busy())
        return {};
    UpgradeOutcome outcome;
    {
        const base::BusyScope upgrading(m_upgrading, m_state);
        outcome = upgradeCommand(m_state, m_version, UpgradeTarget::TemporaryCopy);
    }
    afterRun(false);
    return outcome;
}

notify::ProblemReportResult MainWindowLogic::reportProblem(notify::MessagePreview& preview)
{
    if (busy())
        return notify::ProblemReportResult::Cancelled;
    notify::ProblemReportResult result;
    {
        const base::ScopedValue<bool> reporting(m_reporting, true);
        result = app::reportProblem(m_state, preview);
    }
    afterRun(false);
    return result;
}

std::string MainWindowLogic::writeReports()
{
    const std::string reportDir = m_state.app().settings.value(base::setting::ReportDir);
    if (reportDir.empty())
        return {};
    if (const platform::Result written = m_state.writeReports(); !written) {
        base::errorReport(m_state.app().log, m_state, written.error(), "View Report");
        return {};
    }
    return platform::joinPath(reportDir, core::k_htmlReportName);
}

} // namespace tarnwick::app
