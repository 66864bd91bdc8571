#pragma once

#include "app/mainstate.h"
#include "app/mainwindowlogic.h"
#include "gui/dialogs.h"
#include "gui/windowfrontend.h"
#include "net/flowlog.h"

#include <QMainWindow>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QSocketNotifier;
class QTableView;

namespace tarnwick::app {
class AppContext;
}
namespace tarnwick::platform {
class FrontRequests;
}

namespace tarnwick::gui {

class CommandActions;
class DeadlinesWindow;
class DesktopNotice;
class EntryList;
class EntryModel;
class FlowWindow;
class RunPanel;
class SideWindow;

// The main window: the menus, keys and tool bar (CommandActions), the entry list
// (EntryList), the run and operation panel (RunPanel), the status bar; the details
// and TCP/IP flow windows beside it. It draws and forwards: every decision is in
// app/ (MainWindowLogic and the commands), which reach the window through its front end (WindowFrontEnd). Its
// modal dialogs are those of `dialogs`.
class MainWindow final : public QMainWindow, public app::WindowHost {
    Q_OBJECT
public:
    MainWindow(app::AppContext& app, app::StartupState startup, bool autoMode, Dialogs& dialogs);
    ~MainWindow() override;

    // Opening: the data file, the saved sort, layout and side windows.
    void open();
    // Runs a command under the catch-all (an error that escapes ends the process with 9999).
    void runCommand(app::Command id);
    // Whether the destroy step has run (the loop has been told to quit).
    bool isDestroyed() const { return m_destroyed; }
    // A second start's call brings the window to the front, for the life of the window.
    void acceptFrontRequests(std::unique_ptr<platform::FrontRequests> requests);
    // Shown, not minimised, raised and active.
    void bringToFront();
    // The session ends (SIGTERM, SIGHUP): the window closes as a close does, without waiting for anyone. An open
    // dialog is cancelled, no question is asked any more, a running operation is cancelled and the window closes
    // when it has unwound; the pending e-mail stays queued.
    void sessionEnding(int signal);

    app::MainWindowLogic& logic() { return m_logic; }
    app::MainState& state() { return m_state; }
    EntryModel* model() const;
    QTableView* table() const;
    QAction* action(app::Command id) const;
    QLineEdit* filter() const { return m_filter; }
    QComboBox* timeoutChoice() const;
    SideWindow* detailsWindow() const { return m_details; }
    FlowWindow* flowWindow() const { return m_flow; }
    DeadlinesWindow* deadlinesWindow() const { return m_deadlines; }
    // Enabling and check marks for the current state (run when a menu opens).
    void refreshActions();

    // What app/ shows and asks through, the window's front end.
    base::FrontEnd& frontEnd() { return m_frontEnd; }

    // app::WindowHost
    void postCommand(app::Command id) override;
    void destroyWindow() override;
    void setTitle(const std::string& title) override;
    void configurationDialog() override;
    void installationCheck(bool reinstall) override;

    // The program to start once the window is gone and the lock released (an
    // installed or upgraded copy); empty for none.
    const std::string& restartProgram() const { return m_restartProgram; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void buildCentral();
    // What busy and a changed row mean for the list, the panel, the banner and the actions.
    void busyChanged(bool busy);
    void rowChanged(int position);
    void buildToolBar();
    void execute(app::Command id);
    void guarded(const std::function<void()>& handler);

    app::CommandState commandState() const;
    void selectionChanged();
    void sortBy(int column, app::SortKind kind);
    // The store gained entries at the end: the list shows `chosen` selected and is sorted again.
    void entriesAdded(const std::vector<int>& chosen);
    void changeColumnCommand(int column);
    void addEntryCommand();
    void undoCommand();
    void importCommand();
    std::optional<std::string> chooseDocketFile(const char* title, const char* fileName, const char* filter, bool save);
    void openPath(const std::string& path);
    void popup(const QPoint& pos);
    void updateStatusBar();
    // The details window shows the selected entries again once the current handler is done (one refresh waits at a
    // time).
    void scheduleDetails();
    void refreshDetails();
    // A deadline chosen in the deadlines window selects its entries; their rows again once the current handler is
    // done (when it shows).
    void followDeadlines();
    void scheduleDeadlines();
    // The desktop notification of a run that found changes while the window was not in front.
    void notifyChanges(const update::RunSummary& summary);

    app::AppContext& m_app;
    Dialogs& m_dialogs;
    net::FlowLog m_flowLog;
    WindowFrontEnd m_frontEnd;
    app::MainState m_state;
    app::MainWindowLogic m_logic;

    CommandActions* m_actions = nullptr;
    EntryList* m_list = nullptr;
    RunPanel* m_panel = nullptr;
    QLineEdit* m_filter = nullptr;
    QLabel* m_banner = nullptr;
    QLabel* m_counts = nullptr;
    QLabel* m_outcome = nullptr; // what the last command came to, under the passing messages of menus and runs
    SideWindow* m_details = nullptr;
    FlowWindow* m_flow = nullptr;
    DeadlinesWindow* m_deadlines = nullptr;
    bool m_deadlinesQueued = false;

    bool m_shown = false;
    bool m_destroyed = false;
    std::string m_restartProgram;
    bool m_detailsQueued = false;
    std::unique_ptr<platform::FrontRequests> m_frontRequests;
    QSocketNotifier* m_frontNotifier = nullptr;
    DesktopNotice* m_notice = nullptr; // made for the first notification, withdrawn when the window is in front
};

} // namespace tarnwick::gui
