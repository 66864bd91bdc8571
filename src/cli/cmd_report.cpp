#include "cli/commands.h"

#include "app/log.h"
#include "app/settings.h"
#include "core/datafile.h"
#include "core/entrystore.h"
#include "core/reports.h"
#include "notify/appnames.h"
#include "notify/templates.h"
#include "platform/files.h"
#include "rules/applyrules.h"
#include "rules/rulesfile.h"
#include "rules/templatevars.h"

#include <filesystem>
#include <iostream>

namespace tarnwick::cli {

// Writes the HTML report and the XML export of the data file's entries into the report directory.
int cmdReport(const Invocation& inv)
{
    if (!inv.args.empty()) {
        std::cerr << "usage: tarnwick-cli [--settings FILE] report\n";
        return 1;
    }
    app::AppSettings settings(app::settingsPath(inv.settingsOption));
    const std::string logDir = settings.value("LogDir");
    const std::string reportDir = settings.value("ReportDir");
    if (reportDir.empty()) {
        std::cerr << "tarnwick-cli: no report directory is set (config set ReportDir DIR)\n";
        return 1;
    }
    core::EntryStore store;
    if (std::string message = core::loadDataFile(store, logDir); !message.empty()) {
        std::cerr << message << '\n';
        return 1;
    }
    std::error_code ec;
    std::filesystem::create_directories(reportDir, ec);

    app::Log log(settings);
    rules::TemplateVars vars;
    rules::RulesFile rules(vars); // the built-in rules give each row its status-page address
    notify::ApplicationNames names(settings);
    names.setRules(&rules);
    names.setLog(&log);
    names.setEntryStore(&store);
    vars.setAppNames(&names);
    vars.setRules(&rules);
    rules::installStatusUrlProvider(rules, vars);

    notify::HtmlReportRenderer renderer(vars);
    const core::ReportsWritten written = core::WriteReports(store, reportDir, renderer);
    core::setStatusUrlProvider({});
    int status = 0;
    for (const auto& [ok, name] :
         {std::pair{written.html, core::k_htmlReportName}, std::pair{written.xml, core::k_xmlExportName}}) {
        const std::string path = platform::joinPath(reportDir, name);
        if (ok) {
            std::cout << path << '\n';
        } else {
            std::cerr << "tarnwick-cli: cannot write " << path << '\n';
            status = 1;
        }
    }
    return status;
}

} // namespace tarnwick::cli
