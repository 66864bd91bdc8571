#pragma once

#include "app/mainstate.h"
#include "app/mainwindowlogic.h"
#include "base/frontend.h"
#include "gui/dialogs.h"
#include "net/flowlog.h"

#include <QMainWindow>

#include <map>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QSortFilterProxyModel;
class QTableView;
class QTimer;
class QWidget;

namespace tarnwick::app {
class AppContext;
}

namespace tarnwick::gui {

class EntryModel;
class FlowWindow;
class SideWindow;

// The main window: menus and keys from the command table, the entry list, the
// progress and time-out panel, the status bar; the details and TCP/IP flow
// windows beside it. It draws and forwards: every decision is in app/. Its modal
// dialogs are those of `dialogs`.
class MainWindow final : public QMainWindow, public base::FrontEnd, public app::WindowHost {
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

    app::MainWindowLogic& logic() { return m_logic; }
    app::MainState& state() { return m_state; }
    EntryModel* model() const { return m_model; }
    QTableView* table() const { return m_table; }
    QAction* action(app::Command id) const;
    QLineEdit* filter() const { return m_filter; }
    QComboBox* timeoutChoice() const { return m_timeout; }
    SideWindow* detailsWindow() const;
    FlowWindow* flowWindow() const { return m_flow; }
    // Enabling and check marks for the current state (run when a menu opens).
    void refreshActions();

    // base::FrontEnd
    base::Answer messageBox(const base::MessageBox& box) override;
    std::optional<std::string> textInput(const std::string& title, const std::string& prompt,
                                         const std::string& initial) override;
    void runStart(const std::string& caption, int range) override;
    void runPosition(int position) override;
    void runEnd() override;
    void operationStart(int timeoutSeconds) override;
    void operationEnd() override;
    void statusLine(const std::string& text) override;
    void setBusy(bool busy) override;
    void rowChanged(int position) override;
    void dispatch(int maxWaitMs) override;

    // app::WindowHost
    void postCommand(app::Command id) override;
    void destroyWindow() override;
    void setTitle(const std::string& title) override;
    void configurationDialog() override;
    void installationCheck(bool reinstall) override;
    std::string newerVersion() const override;

    // The program to start once the window is gone and the lock released (an
    // installed or upgraded copy); empty for none.
    const std::string& restartProgram() const { return m_restartProgram; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void buildMenus();
    void buildToolBar();
    void buildCentral();
    QMenu* buildMenu(QMenu* menu, const std::vector<app::MenuItem>& items, bool popup);
    QAction* commandAction(app::Command id);
    void execute(app::Command id);
    void guarded(const std::function<void()>& handler);

    std::vector<int> selectedRows() const;
    app::CommandState commandState() const;
    int focusedRow() const;
    void selectionChanged();
    void sortBy(int column, app::SortKind kind);
    void changeColumnCommand(int column);
    void addEntryCommand();
    void openPath(const std::string& path);
    void popup(const QPoint& pos);
    void tick();
    void updateStatusBar();
    void refreshDetails();
    void aboutBox();

    app::AppContext& m_app;
    Dialogs& m_dialogs;
    net::FlowLog m_flowLog;
    app::MainState m_state;
    app::MainWindowLogic m_logic;

    EntryModel* m_model = nullptr;
    QSortFilterProxyModel* m_proxy = nullptr;
    QTableView* m_table = nullptr;
    QLineEdit* m_filter = nullptr;
    QLabel* m_banner = nullptr;
    QWidget* m_panel = nullptr;
    QWidget* m_runGroup = nullptr;
    QLabel* m_runCaption = nullptr;
    QProgressBar* m_runBar = nullptr;
    QWidget* m_operationGroup = nullptr;
    QLabel* m_statusIcon = nullptr;
    QProgressBar* m_operationBar = nullptr;
    QComboBox* m_timeout = nullptr;
    QPushButton* m_cancel = nullptr;
    QLabel* m_counts = nullptr;
    QTimer* m_timer = nullptr;
    SideWindow* m_details = nullptr;
    FlowWindow* m_flow = nullptr;
    std::map<app::Command, QAction*> m_actions;

    int m_sendingTicks = 0;
    int m_receivingTicks = 0;
    bool m_shown = false;
    bool m_destroyed = false;
    std::string m_restartProgram;
    bool m_detailsQueued = false;
};

} // namespace tarnwick::gui
