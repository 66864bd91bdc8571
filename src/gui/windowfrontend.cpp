#include "gui/windowfrontend.h"

#include "gui/dialogs.h"
#include "gui/runpanel.h"
#include "gui/textconv.h"

#include <QCoreApplication>
#include <QMainWindow>
#include <QStatusBar>
#include <QTimer>

#include <algorithm>

namespace tarnwick::gui {

void WindowFrontEnd::attach(RunPanel& panel, Hooks hooks)
{
    m_panel = &panel;
    m_hooks = std::move(hooks);
}

base::Answer WindowFrontEnd::messageBox(const base::MessageBox& box)
{
    return m_dialogs.messageBox(&m_window, box);
}

std::optional<std::string> WindowFrontEnd::textInput(const std::string& title, const std::string& prompt,
                                                     const std::string& initial)
{
    return m_dialogs.textInput(&m_window, title, prompt, initial);
}

void WindowFrontEnd::runStart(const std::string& caption, int range)
{
    m_panel->runStart(caption, range);
}

void WindowFrontEnd::runPosition(int position)
{
    m_panel->runPosition(position);
}

void WindowFrontEnd::runEnd()
{
    m_panel->runEnd();
}

void WindowFrontEnd::operationStart(int timeoutSeconds)
{
    m_panel->operationStart(timeoutSeconds);
}

void WindowFrontEnd::operationEnd()
{
    m_panel->operationEnd();
}

void WindowFrontEnd::statusLine(const std::string& text)
{
    m_window.statusBar()->showMessage(fromBytes(base::plainStatusText(text)));
}

void WindowFrontEnd::setBusy(bool busy)
{
    if (m_hooks.busyChanged)
        m_hooks.busyChanged(busy);
}

void WindowFrontEnd::rowChanged(int position)
{
    if (m_hooks.rowChanged)
        m_hooks.rowChanged(position);
}

void WindowFrontEnd::dispatch(int maxWaitMs)
{
    // the timer ends the wait when nothing else comes; a finished job wakes it at once
    QTimer limit;
    limit.setSingleShot(true);
    limit.start(std::max(maxWaitMs, 0));
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

} // namespace tarnwick::gui
