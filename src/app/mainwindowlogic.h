#pragma once

#include "app/autorun.h"
#include "app/commands.h"
#include "app/sorting.h"
#include "app/startup.h"
#include "app/upgrade.h"
#include "core/fieldtable.h"
#include "notify/emailqueue.h"
#include "notify/servicereports.h"
#include "update/updaterun.h"

#include <array>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::app {

class MainState;

// What the window sequences ask of the window around them.
class WindowHost {
public:
    virtual ~WindowHost() = default;
    // Queues a command; it runs after the current handler has returned.
    virtual void postCommand(Command id) = 0;
    // Destroys the main window (its destroy step runs), which ends the message loop.
    virtual void destroyWindow() = 0;
    virtual void setTitle(const std::string& title) = 0;
    // The configuration dialog; returns when it closes.
    virtual void configurationDialog() {}
    // The installation check; `reinstall` asks for the installation step.
    virtual void installationCheck(bool /*reinstall*/) {}
};

// Where the window stood when it went.
struct WindowLayout {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int topIndex = 0;
    std::array<int, core::k_fieldCount> columnWidths{};
    int deadlineWidth = 0; // the Next Deadline column after them
};

// "Tarnwick®", " - " and the organisation when there is one, and the notice of a newer version.
std::string windowTitle(std::string_view orgName, std::string_view newerVersion);
// A column's width: the setting's leading integer when it holds text, else
// (width of "Last Update" + 15) x the field's width factor / 2.
int columnWidth(std::string_view setting, int widthFactor, int lastUpdateTextWidth);
// The text the "Unhandled Exception" box shows for an error that escaped a handler.
std::string unhandledMessage(const std::exception_ptr& error);

// Whether a command that reaches the window now may start. Every command enters here, also those that come
// without an action greyed by the enabling rules (a double click, a header click, a command posted by the program
// or queued before its action was greyed): while an operation runs, only what the busy window leaves enabled
// starts (Cancel, Exit, the log and flow views, help); the system close always, as it waits for the operation.
bool commandAllowed(Command id, const CommandState& state);

// What the desktop notification says after an update run that found changes while
// the window was not in front (not active, or minimised); none otherwise.
std::optional<std::string> changesNotification(const update::RunSummary& summary, bool windowInFront);

extern const char* const k_disclaimerText;
extern const char* const k_mustConfigureText;
extern const char* const k_testMailQuestion;
extern const char* const k_shortcutAddedText;

// The main window without its toolkit, on the window state of MainState: the
// opening, first showing, closing and destroying sequences, the Configure
// sequence, sorting, the update and e-mail commands as the window runs them, and
// the state that enabling reads.
class MainWindowLogic {
public:
    MainWindowLogic(MainState& state, WindowHost& host, StartupState startup, bool autoMode);

    // Opening: reads the data file (its message shown), the operation time-out
    // and the saved order.
    void open();
    // First showing: the title, then Configure on a first run, else the
    // installation check and, in auto mode, Update All.
    void firstShowing();
    // Closing: true when the window may go now. While busy the operation is
    // cancelled and the window closes once it has ended.
    bool close();
    // Destroying: the data file, the rules when changed, the reports, then the
    // layout and the order into the settings.
    void destroy(const WindowLayout& layout);
    // The Configure sequence.
    void configure();

    // Update Selected or Update All as the window runs them: a close asked for
    // during the run, and in auto mode Update All itself, closes the window after it.
    // In auto mode Update All also logs how it went and queues the failure notice.
    update::RunSummary runUpdate(update::Scope scope);
    // The program's exit status once the window has gone: Normal for a start by a person, the outcome of the
    // unattended run (logged) for a start in auto mode.
    int exitStatus();
    // File > Send E-Mail and Delete E-Mail, the two Test commands, View Report (returns the report's path).
    void sendEmail();
    void deleteEmail();
    void testEmail(notify::MailMode mode);
    std::string writeReports();

    // The order after a sort request; false when nothing changed.
    bool sort(int column, SortKind kind);
    // Where the last sort moved the entries: each new position's old position.
    const std::vector<size_t>& lastMoves() const { return m_moves; }
    SortOrder sortOrder() const { return m_sort; }
    std::string title() const;
    // What the status bar counts: the entries, those due, the messages pending.
    struct Counts {
        int entries = 0;
        int due = 0;
        int pending = 0;
    };
    Counts counts() const;
    // The enabling state for the current selection; `focusedFrequency` none when no row has the focus.
    CommandState commandState(std::optional<core::Frequency> focusedFrequency) const;
    bool busy() const;
    // A time-out choice of the window becomes the Timeout setting and the operation time-out.
    void setTimeoutChoice(int milliseconds);

    bool startupOk() const { return m_startupOk; }
    bool reinstall() const { return m_reinstall; }
    // The installation step has run.
    void reinstallDone() { m_reinstall = false; }
    // The Upgrade command as one operation of the window (busy while it runs); the
    // window starts the program of a Downloaded outcome after its destroy step.
    UpgradeOutcome upgrade();
    // Help > Report Problem, likewise.
    notify::ProblemReportResult reportProblem(notify::MessagePreview& preview);
    const std::string& version() const { return m_version; }
    const std::string& programPath() const { return m_programPath; }
    MainState& state() { return m_state; }

private:
    // A close that waited for the operation goes ahead; in auto mode `autoClose` closes too.
    void afterRun(bool autoClose);

    MainState& m_state;
    WindowHost& m_host;
    SortOrder m_sort;
    std::vector<size_t> m_moves;
    std::string m_version;
    std::string m_programPath;
    bool m_startupOk = false;
    bool m_reinstall = false;
    bool m_upgrading = false; // the Upgrade command is under way
    bool m_reporting = false; // the problem report is under way
    bool m_autoStart = false; // started in auto mode
    bool m_saved = true;      // the destroy step wrote the data file and the reports
    AutoRun m_auto;
};

} // namespace tarnwick::app
