#pragma once

#include "tasks/taskhost.h"

#include <optional>
#include <string>
#include <string_view>

namespace tarnwick::base {

enum class Buttons { Ok, YesNo, YesNoCancel };
enum class Answer { Ok, Yes, No, Cancel };

// "Tarnwick®" (0xAE after the name), or that caption, " - " and the title.
std::string caption(std::string_view title = {});

// Everything the system logic needs from a window. The Qt main window, the CLI
// and the scripted test double implement it.
class FrontEnd {
public:
    virtual ~FrontEnd() = default;

    // A message box with its full caption (see caption()); returns the answer.
    virtual Answer messageBox(const std::string& text, const std::string& caption, Buttons buttons,
                              Answer defaultAnswer) = 0;
    // A text-input dialog; none when cancelled.
    virtual std::optional<std::string> textInput(const std::string& title, const std::string& prompt,
                                                 const std::string& initial) = 0;

    // Run display: caption, range 0..range, position.
    virtual void runStart(const std::string& caption, int range) = 0;
    virtual void runPosition(int position) = 0;
    virtual void runEnd() = 0;
    // Operation display: one network operation with its time-out in seconds.
    virtual void operationStart(int timeoutSeconds) = 0;
    virtual void operationEnd() = 0;
    virtual void statusLine(const std::string& text) = 0;
    virtual void setBusy(bool busy) = 0;
    virtual void rowChanged(int position) = 0;

    // Wait up to `maxWaitMs` for input, then handle what came (Qt: process
    // events; CLI: sleep and watch for Ctrl-C).
    virtual void dispatch(int maxWaitMs) = 0;
};

} // namespace tarnwick::base
