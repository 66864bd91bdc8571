#include "cli/clifrontend.h"

#include "core/text.h"
#include "platform/terminal.h"

#include <algorithm>
#include <csignal>
#include <iostream>
#include <unistd.h>

namespace tarnwick::cli {

namespace {
// back to the start of the progress line and clear it
constexpr std::string_view k_clearLine = "\r\033[K";

volatile std::sig_atomic_t g_interrupted = 0;
void onInterrupt(int)
{
    // a second Ctrl-C ends the process at once; every file is replaced whole,
    // so nothing is left torn
    if (g_interrupted)
        ::_exit(130);
    g_interrupted = 1;
}

const char* answerWord(base::Answer a)
{
    switch (a) {
    case base::Answer::Yes:
        return "yes";
    case base::Answer::No:
        return "no";
    case base::Answer::Cancel:
        return "cancel";
    default:
        return "ok";
    }
}
} // namespace

CliFrontEnd::CliFrontEnd(std::ostream& out, std::ostream& err, std::istream& in, bool process)
    : m_out(out), m_err(err), m_in(in)
{
    if (!process)
        return;
    struct sigaction sa {};
    sa.sa_handler = onInterrupt;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
}

CliFrontEnd::~CliFrontEnd() = default;

base::Answer CliFrontEnd::messageBox(const base::MessageBox& box)
{
    const base::Buttons buttons = box.buttons;
    const base::Answer defaultAnswer = box.defaultAnswer;
    if (m_lineShown) {
        platform::writeControl(m_err, k_clearLine);
        m_lineShown = false;
    }
    m_err << box.caption << ": " << box.text << "\n";
    if (buttons == base::Buttons::Ok)
        return base::Answer::Ok;
    if (const auto it = m_answers.find(box.question); it != m_answers.end()) {
        m_err << "  -> " << answerWord(it->second) << "\n";
        return it->second;
    }
    if (m_hasFixed) {
        m_err << "  -> " << answerWord(m_fixed) << "\n";
        return m_fixed;
    }
    if (m_interactive) {
        const bool cancel = buttons == base::Buttons::YesNoCancel;
        for (;;) {
            m_err << (cancel ? "[y]es, [n]o or [c]ancel" : "[y]es or [n]o") << " (default " << answerWord(defaultAnswer)
                  << "): " << std::flush;
            std::string line;
            if (!std::getline(m_in, line))
                break;
            if (line.empty())
                return defaultAnswer;
            const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(line[0])));
            if (c == 'y')
                return base::Answer::Yes;
            if (c == 'n')
                return base::Answer::No;
            if (cancel && c == 'c')
                return base::Answer::Cancel;
        }
    }
    m_err << "  -> " << answerWord(defaultAnswer) << "\n";
    return defaultAnswer;
}

std::optional<std::string> CliFrontEnd::textInput(const std::string&, const std::string& prompt,
                                                  const std::string& initial)
{
    m_err << prompt << "\n";
    std::string line;
    if (!std::getline(m_in, line))
        return std::nullopt;
    return line.empty() ? initial : line;
}

void CliFrontEnd::runStart(const std::string& caption, int range)
{
    m_range = range;
    m_caption = caption;
    m_position = 0;
    if (m_progress && !m_inPlace)
        m_out << caption << " (" << range << ")\n";
}

void CliFrontEnd::runPosition(int position)
{
    m_position = position;
    if (m_progress && !m_inPlace)
        m_out << "  [" << position << "/" << m_range << "]\n";
}

void CliFrontEnd::runEnd()
{
    if (m_lineShown) {
        platform::writeControl(m_err, k_clearLine);
        m_err << std::flush;
        m_lineShown = false;
    }
}

void CliFrontEnd::operationStart(int timeoutSeconds)
{
    m_operation = true;
    m_timeoutSeconds = timeoutSeconds;
    m_operationStart = std::chrono::steady_clock::now();
    redraw();
}

void CliFrontEnd::operationEnd()
{
    m_operation = false;
}

void CliFrontEnd::statusLine(const std::string& text)
{
    // the window's label shows a doubled "&" as one
    m_current = core::replaceAll(text, "&&", "&");
    if (m_progress && !m_inPlace && !text.empty())
        m_out << "  " << text << "\n";
}

void CliFrontEnd::setBusy(bool) {}
void CliFrontEnd::rowChanged(int) {}

void CliFrontEnd::redraw()
{
    if (!m_inPlace)
        return;
    std::string line = "[" + std::to_string(std::min(m_position + 1, std::max(m_range, 1))) + "/" +
                       std::to_string(m_range) + "] " + m_current;
    if (m_operation) {
        const auto elapsed =
            std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - m_operationStart);
        line += "  " + std::to_string(elapsed.count()) + "s/" + std::to_string(m_timeoutSeconds) + "s";
    }
    if (line.size() > 78)
        line.resize(78);
    if (m_lineShown && line == m_shownLine)
        return;
    platform::writeControl(m_err, k_clearLine);
    m_err << line << std::flush;
    m_shownLine = std::move(line);
    m_lineShown = true;
}

void CliFrontEnd::dispatch(int maxWaitMs)
{
    // Nothing to dispatch without a window: wait for a job to end or for Ctrl-C
    // (checked every 10 ms: a signal handler cannot notify a condition variable).
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(maxWaitMs);
        std::unique_lock lock(m_wakeLock);
        while (!m_woken && !g_interrupted) {
            const auto now = std::chrono::steady_clock::now();
            if (now >= end)
                break;
            m_wakeSignal.wait_for(
                lock, std::min<std::chrono::steady_clock::duration>(end - now, std::chrono::milliseconds(10)));
        }
        m_woken = false;
    }
    if (g_interrupted && !m_interruptSeen) {
        m_interruptSeen = true;
        if (m_onInterrupt)
            m_onInterrupt();
        else if (m_runningTask)
            m_runningTask->cancelAll();
    }
    redraw();
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
