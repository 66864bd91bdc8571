#pragma once

#include <QObject>

#include <csignal>

class QSocketNotifier;

namespace tarnwick::gui {

// SIGTERM and SIGHUP (a logout, a shutdown, the session manager, a closed terminal) as a signal of the event loop.
// The handlers are installed at construction and only write the signal's number into a pipe; nothing is
// delivered until watch(), so that a signal that comes while the program starts waits for the window. The former
// handlers come back at destruction.
class TerminationSignals final : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

    // Delivers the signals that came and every later one as received().
    void watch();

signals:
    void received(int signal);

private:
    void drain();

    int m_read = -1;
    int m_write = -1;
    QSocketNotifier* m_notifier = nullptr;
    struct sigaction m_formerTerm {};
    struct sigaction m_formerHup {};
};

} // namespace tarnwick::gui
