#pragma once

#include "base/frontend.h"
#include "tasks/taskhost.h"

#include <atomic>
#include <condition_variable>
#include <iosfwd>
#include <mutex>

namespace tarnwick::cli {

// The front end without a window: message boxes go to standard error and take
// their default answer (or the answer a --yes style option chose), progress is
// printed as lines, and Ctrl-C sets the cancel flag.
class CliFrontEnd final : public base::FrontEnd, public tasks::TaskHost {
public:
    explicit CliFrontEnd(std::ostream& out, std::ostream& err);
    ~CliFrontEnd() override;

    // Every question gets this answer instead of its default (none: the default).
    void setFixedAnswer(base::Answer answer)
    {
        m_fixed = answer;
        m_hasFixed = true;
    }
    void setShowProgress(bool show) { m_progress = show; }

    base::Answer messageBox(const std::string& text, const std::string& caption, base::Buttons buttons,
                           base::Answer defaultAnswer) override;
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
    // Whether Ctrl-C was pressed since start.
    static bool interrupted();

private:
    std::ostream& m_out;
    std::ostream& m_err;
    base::Answer m_fixed = base::Answer::Ok;
    bool m_hasFixed = false;
    bool m_progress = true;
    int m_range = 0;
    std::mutex m_wakeLock;
    std::condition_variable m_wakeSignal;
    bool m_woken = false;
};

} // namespace tarnwick::cli
