#include "gui/terminationsignals.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace tarnwick::gui {

namespace {

// the pipe the handler writes to; -1 while none is installed
std::atomic<int> g_signalPipe{-1};

void onSignal(int signal)
{
    const int savedErrno = errno;
    const int fd = g_signalPipe.load();
    if (fd >= 0) {
        const auto byte = static_cast<unsigned char>(signal);
        // a full pipe holds signals enough already
        (void)!::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

} // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return; // without a pipe the signals keep their default: the process ends as before
    m_read = fds[0];
    m_write = fds[1];
    g_signalPipe.store(m_write);
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, &m_formerTerm);
    ::sigaction(SIGHUP, &action, &m_formerHup);
}

TerminationSignals::~TerminationSignals()
{
    if (m_write < 0)
        return;
    ::sigaction(SIGTERM, &m_formerTerm, nullptr);
    ::sigaction(SIGHUP, &m_formerHup, nullptr);
    g_signalPipe.store(-1);
    delete m_notifier;
    ::close(m_read);
    ::close(m_write);
}

void TerminationSignals::watch()
{
    if (m_read < 0 || m_notifier)
        return;
    m_notifier = new QSocketNotifier(static_cast<qintptr>(m_read), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] { drain(); });
}

void TerminationSignals::drain()
{
    unsigned char bytes[16];
    int last = 0;
    for (ssize_t n; (n = ::read(m_read, bytes, sizeof bytes)) > 0;)
        last = bytes[n - 1];
    // one close serves any number of signals
    if (last != 0)
        emit received(last);
}

} // namespace tarnwick::gui
