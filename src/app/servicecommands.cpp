#include "app/servicecommands.h"

#include "app/application.h"
#include "app/configuration.h"
#include "app/mainstate.h"
#include "base/frontend.h"

namespace tarnwick::app {

notify::ProblemReportResult reportProblem(MainState& state, notify::MessagePreview& preview)
{
    AppContext& app = state.app();
    state.setBusy(true);
    const notify::ProblemReportResult result =
        notify::reportProblem({app.settings, app.log, state, state, app.vars, app.names, state.flowLog(), preview,
                               [&state] { state.downloadRules(); }});
    state.setBusy(false);
    return result;
}

std::optional<std::string> helpPage(MainState& state)
{
    std::optional<std::string> page = writeHelp(state.app().logDir());
    if (!page)
        base::errorReport(state.app().log, state, "Can't write the help files into the logging directory.", "Help");
    return page;
}

} // namespace tarnwick::app
