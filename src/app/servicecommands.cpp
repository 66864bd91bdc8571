#include "app/servicecommands.h"

#include "app/application.h"
#include "app/configuration.h"
#include "app/mainstate.h"
#include "base/frontend.h"
#include "net/flowlog.h"
#include "platform/files.h"
#include "platform/install.h"

namespace tarnwick::app {

notify::ProblemReportResult reportProblem(MainState& state, notify::MessagePreview& preview)
{
    AppContext& app = state.app();
    const notify::ProblemReportContext context{app.settings, app.log,         state,   state, app.vars,
                                               app.names,    state.flowLog(), preview, {},    state.cancelSlot()};
    if (state.flowLog().isEmpty())
        return notify::reportProblem(context); // only the advice
    // a cancel during the rules download cancels the report
    state.downloadRules();
    if (state.cancelReason() != base::RunState::Running)
        return notify::ProblemReportResult::Cancelled;
    // the sending is an operation of the window: cancellable, timed, and a close waits for it
    const MainState::Operation operation(state);
    return operation ? notify::reportProblem(context) : notify::ProblemReportResult::Cancelled;
}

std::string helpFolder()
{
    return platform::joinPath(platform::cacheHome(), "tarnwick");
}

std::optional<std::string> helpPage(MainState& state)
{
    const std::string folder = helpFolder();
    platform::ResultOf<std::string> page = writeHelp(folder);
    if (!page) {
        base::errorReport(state.app().log, state,
                          "Can't write the help files into " + folder + ": " + page.error() + ".", "Help");
        return std::nullopt;
    }
    return *page;
}

void browserNotStarted(MainState& state, const std::string& target, const std::string& title)
{
    const bool address = target.find("://") != std::string::npos;
    base::errorReport(state.app().log, state,
                      std::string("No browser could be started to show ") + (address ? "the address" : "the file") +
                          ":\n\n" + target + "\n\nOpen it yourself, in a browser or another viewer.",
                      title);
}

} // namespace tarnwick::app
