#pragma once

#include "base/frontend.h"

#include <functional>
#include <optional>
#include <string>

class QMainWindow;

namespace tarnwick::gui {

class Dialogs;
class RunPanel;

// The main window as the front end of app/: its boxes and text inputs are the dialogs' over the window, the run
// and the operation show in the run panel, the status line in the status bar, and a wait handles the window's
// events. What busy and a changed row mean for the window (its list, panel, banner and actions), the window does
// through its hooks.
class WindowFrontEnd final : public base::FrontEnd {
public:
    struct Hooks {
        std::function<void(bool busy)> busyChanged;
        std::function<void(int position)> rowChanged;
    };

    // Neither is owned; the run panel and the hooks come with attach, once the window has built them.
    WindowFrontEnd(QMainWindow& window, Dialogs& dialogs) : m_window(window), m_dialogs(dialogs) {}
    void attach(RunPanel& panel, Hooks hooks);

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

private:
    QMainWindow& m_window;
    Dialogs& m_dialogs;
    RunPanel* m_panel = nullptr;
    Hooks m_hooks;
};

} // namespace tarnwick::gui
