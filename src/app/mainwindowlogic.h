#pragma once

#include "app/commands.h"
#include "app/sorting.h"
#include "app/startup.h"
#include "core/fieldtable.h"
#include "net/flowlog.h"
#include "notify/emailqueue.h"

#include <array>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::base {
class FrontEnd;
}
namespace tarnwick::tasks {
class TaskHost;
}

namespace tarnwick::app {

class AppContext;

// What the window sequences ask of the window around them.
class WindowHost {
public:
    virtual ~WindowHost() = default;
    // Queues a command; it runs after the current handler has returned.
    virtual void postCommand(int id) = 0;
    // Destroys the main window (its destroy step runs), which ends the message loop.
    virtual void destroyWindow() = 0;
    virtual void setTitle(const std::string& title) = 0;
    // The configuration dialog; returns when it closes.
    virtual void configurationDialog() {}
    // The installation check; `reinstall` asks for the installation step.
    virtual void installationCheck(bool /*reinstall*/) {}
    // The latest known version when it is newer than this program; empty otherwise.
    virtual std::string newerVersion() const { return {}; }
};

// Where the window stood when it went.
struct WindowLayout {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int topIndex = 0;
    std::array<int, core::k_fieldCount> columnWidths{};
};

// The cancel reasons of the window.
namespace cancelreason {
constexpr int None = 0;
constexpr int User = 1;
constexpr int TimedOut = 2;
constexpr int Closing = 0x8000;
} // namespace cancelreason

// "Tarnwick®", " - " and the organisation when there is one, and the notice of a newer version.
std::string windowTitle(std::string_view orgName, std::string_view newerVersion);
// A column's width: the setting's leading integer when it holds text, else
// (width of "Last Update" + 15) x the field's width factor / 2.
int columnWidth(std::string_view setting, int widthFactor, int lastUpdateTextWidth);
// The text the "Unhandled Exception" box shows for an error that escaped a handler.
std::string unhandledMessage(const std::exception_ptr& error);

extern const char* const k_disclaimerText;
extern const char* const k_mustConfigureText;
extern const char* const k_testMailQuestion;
extern const char* const k_shortcutAddedText;

// The main window without its toolkit: the opening, first showing, closing and
// destroying sequences, the Configure sequence, sorting, the e-mail commands and
// the state that enabling reads.
class MainWindowLogic {
public:
    MainWindowLogic(AppContext& app, base::FrontEnd& frontEnd, tasks::TaskHost& taskHost, WindowHost& host,
                    StartupState startup, bool autoMode);
    ~MainWindowLogic();
    MainWindowLogic(const MainWindowLogic&) = delete;
    MainWindowLogic& operator=(const MainWindowLogic&) = delete;

    // Opening: reads the data file (its message shown) and applies the saved order.
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

    // The order after a sort request; false when nothing changed.
    bool sort(int column, SortKind kind);
    SortOrder sortOrder() const { return m_sort; }
    std::string title() const;
    CommandState commandState(int selected, int focusedFrequency) const;

    // File > Send E-Mail and Delete E-Mail, the two Test commands, View Report (returns the report's path).
    void sendEmail();
    void deleteEmail();
    void testEmail(notify::MailMode mode);
    std::string writeReports();

    // A run of network operations: busy from start to end; `run` may throw the CAppError family.
    template <class F> void runBusy(F&& run)
    {
        BusyScope scope(*this);
        run();
    }
    // Called when a run ended: a close that waited for it goes ahead now.
    void runEnded();

    bool startupOk() const { return m_startupOk; }
    bool busy() const { return m_busy; }
    int& cancelReason() { return m_cancelReason; }
    bool autoMode() const { return m_autoMode; }
    // Any message box ends auto mode for good.
    void endAutoMode() { m_autoMode = false; }
    bool reinstall() const { return m_reinstall; }
    const std::string& version() const { return m_version; }

    net::FlowLog& flowLog() { return m_flowLog; }
    notify::EmailQueue& queue() { return *m_queue; }
    AppContext& app() { return m_app; }

private:
    struct BusyScope {
        explicit BusyScope(MainWindowLogic& w);
        ~BusyScope();
        MainWindowLogic& window;
    };

    AppContext& m_app;
    base::FrontEnd& m_frontEnd;
    WindowHost& m_host;
    net::FlowLog m_flowLog;
    std::unique_ptr<notify::EmailQueue> m_queue;
    SortOrder m_sort;
    std::string m_version;
    bool m_autoMode;
    bool m_startupOk = false;
    bool m_busy = false;
    int m_cancelReason = cancelreason::None;
    bool m_reinstall = false;
};

} // namespace tarnwick::app
