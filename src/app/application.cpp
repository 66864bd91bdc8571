#include "app/application.h"

#include "core/datafile.h"
#include "rules/applyrules.h"

namespace tarnwick::app {

AppContext::AppContext(const std::string& settingsPath)
    : settings(settingsPath), log(settings), rules(vars), names(settings), templates(settings, vars)
{
    logTemplateProblems();
    rules.load(logDir());
    names.setRules(&rules);
    names.setLog(&log);
    names.setEntryStore(&entries);
    vars.setAppNames(&names);
    vars.setRules(&rules);
    // the entry variable StatusUrl is the status-page address of the rules in use
    rules::installStatusUrlProvider(rules, vars);
}

AppContext::~AppContext() = default;

void AppContext::logTemplateProblems()
{
    templates.setReporter([this](const std::string& message) { log.write("Template '%s'\n", message.c_str()); });
}

platform::Result AppContext::loadEntries()
{
    std::string message = core::loadDataFile(entries, logDir());
    return message.empty() ? platform::Result() : platform::Result::failure(std::move(message));
}

} // namespace tarnwick::app
