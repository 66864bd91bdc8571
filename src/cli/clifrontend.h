#pragma once

#include "base/frontend.h"
#include "tasks/taskhost.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <iosfwd>
#include <map>
#include <mutex>
#include <string>

namespace tarnwick::cli {

// The front end without a window: message boxes go to standard error and take
// their default answer (or the answer a --yes style option chose), progress is
// printed as lines, and Ctrl-C sets the cancel flag. Answers are read from `in`; only the front end of the
// process itself (`process`) takes Ctrl-C over.
class CliFrontEnd final : public base::FrontEnd, public tasks::TaskHost {
public:
    CliFrontEnd(std::ostream& out, std::ostream& err, std::istream& in, bool process);
    ~CliFrontEnd() override;

    // Every question gets this answer instead of its default (none: the default).
    void setFixedAnswer(base::Answer answer)
    {
        m_fixed = answer;
        m_hasFixed = true;
    }
    void setShowProgress(bool show) { m_progress = show; }
    // `question` gets `answer` (before any other rule).
    void setAnswerFor(base::Question question, base::Answer answer) { m_answers[question] = answer; }
    // Questions are asked on the terminal (standard input and error are one).
    void setInteractive(bool on) { m_interactive = on; }
    // One progress line redrawn in place on standard error instead of printed lines.
    void setInPlaceProgress(bool on) { m_inPlace = on; }
    // Called once, from a dispatch cycle, after the first Ctrl-C; without one the
    // running task's sockets are closed (the stop operation).
    void setInterruptHandler(std::function<void()> handler) { m_onInterrupt = std::move(handler); }

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

    bool cancelRequested() const override;
    void wake() override;
    void setRunningTask(tasks::Cancellable* task) override { m_runningTask = task; }
    // Whether Ctrl-C was pressed since start.
    static bool interrupted();

private:
    void redraw();

    std::ostream& m_out;
    std::ostream& m_err;
    std::istream& m_in;
    base::Answer m_fixed = base::Answer::Ok;
    bool m_hasFixed = false;
    bool m_progress = true;
    int m_range = 0;
    bool m_interactive = false;
    bool m_inPlace = false;
    bool m_interruptSeen = false;
    std::map<base::Question, base::Answer> m_answers;
    std::function<void()> m_onInterrupt;
    tasks::Cancellable* m_runningTask = nullptr;
    // the in-place line: run caption, position, what runs now, operation time
    std::string m_caption;
    std::string m_current;
    int m_position = 0;
    bool m_operation = false;
    int m_timeoutSeconds = 0;
    std::chrono::steady_clock::time_point m_operationStart;
    bool m_lineShown = false;
    std::string m_shownLine;
    std::mutex m_wakeLock;
    std::condition_variable m_wakeSignal;
    bool m_woken = false;
};

} // namespace tarnwick::cli
