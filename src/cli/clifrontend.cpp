#include "cli/clifrontend.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <iostream>

namespace tarnwick::cli {

namespace {
volatile std::sig_atomic_t g_interrupted = 0;
void onInterrupt(int)
{
    g_interrupted = 1;
}
} // namespace

CliFrontEnd::CliFrontEnd(std::ostream& out, std::ostream& err) : m_out(out), m_err(err)
{
    struct sigaction sa {};
    sa.sa_handler = onInterrupt;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
}

CliFrontEnd::~CliFrontEnd() = default;

base::Answer CliFrontEnd::messageBox(const std::string& text, const std::string& caption, base::Buttons buttons,
                                    base::Answer defaultAnswer)
{
    base::Answer answer = buttons == base::Buttons::Ok ? base::Answer::Ok : (m_hasFixed ? m_fixed : defaultAnswer);
    m_err << caption << ": " << text << "\n";
    return answer;
}

std::optional<std::string> CliFrontEnd::textInput(const std::string&, const std::string& prompt,
                                                  const std::string& initial)
{
    m_err << prompt << "\n";
    std::string line;
    if (!std::getline(std::cin, line))
        return std::nullopt;
    return line.empty() ? initial : line;
}

void CliFrontEnd::runStart(const std::string& caption, int range)
{
    m_range = range;
    if (m_progress)
        m_out << caption << " (" << range << ")\n";
}

void CliFrontEnd::runPosition(int position)
{
    if (m_progress)
        m_out << "  [" << position << "/" << m_range << "]\n";
}

void CliFrontEnd::runEnd() {}
void CliFrontEnd::operationStart(int) {}
void CliFrontEnd::operationEnd() {}

void CliFrontEnd::statusLine(const std::string& text)
{
    if (m_progress && !text.empty())
        m_out << "  " << text << "\n";
}

void CliFrontEnd::setBusy(bool) {}
void CliFrontEnd::rowChanged(int) {}

void CliFrontEnd::dispatch(int maxWaitMs)
{
    // Nothing to dispatch without a window: wait for a job to end or for Ctrl-C
    // (checked every 10 ms: a signal handler cannot notify a condition variable).
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(maxWaitMs);
    std::unique_lock lock(m_wakeLock);
    while (!m_woken && !g_interrupted) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= end)
            break;
        m_wakeSignal.wait_for(lock,
                              std::min<std::chrono::steady_clock::duration>(end - now, std::chrono::milliseconds(10)));
    }
    m_woken = false;
}

void CliFrontEnd::wake()
{
    {
        std::lock_guard lock(m_wakeLock);
        m_woken = true;
    }
    m_wakeSignal.notify_all();
}

bool CliFrontEnd::cancelRequested() const
{
    return g_interrupted != 0;
}

bool CliFrontEnd::interrupted()
{
    return g_interrupted != 0;
}

} // namespace tarnwick::cli
