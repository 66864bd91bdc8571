#pragma once

#include <QWidget>

#include <functional>
#include <string>

class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace tarnwick::app {
class MainWindowLogic;
}

namespace tarnwick::gui {

// The panel shown while the window is busy: the run with its caption and progress,
// the network operation with its activity icon and its elapsed seconds against the
// time-out, the time-out choice and the Cancel button. Every 100 ms of an operation
// it takes a new time-out choice into the logic, moves the progress and lets the
// logic end an operation whose time is up.
class RunPanel final : public QWidget {
    Q_OBJECT
public:
    // `guarded` runs the tick under the window's catch-all; `cancel` is the Cancel command.
    RunPanel(app::MainWindowLogic& logic, std::function<void(const std::function<void()>&)> guarded,
             std::function<void()> cancel, QWidget* parent = nullptr);

    void runStart(const std::string& caption, int range);
    void runPosition(int position);
    void runEnd();
    void operationStart(int timeoutSeconds);
    void operationEnd();
    void setBusy(bool busy);
    // A flow line went out (`sending`) or came in: the icon shows it for a few ticks.
    void noteActivity(bool sending);
    // The choice that holds the window's operation time-out.
    void showTimeout(int milliseconds);
    QComboBox* timeoutChoice() const { return m_timeout; }

private:
    void tick();

    app::MainWindowLogic& m_logic;
    std::function<void(const std::function<void()>&)> m_guarded;
    QWidget* m_runGroup;
    QLabel* m_runCaption;
    QProgressBar* m_runBar;
    QWidget* m_operationGroup;
    QLabel* m_statusIcon;
    QProgressBar* m_operationBar;
    QComboBox* m_timeout;
    QPushButton* m_cancel;
    QTimer* m_timer;
    int m_sendingTicks = 0;
    int m_receivingTicks = 0;
};

} // namespace tarnwick::gui
