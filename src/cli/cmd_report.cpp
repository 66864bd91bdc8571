#include "cli/commands.h"

#include "app/application.h"
#include "app/deadlinelist.h"
#include "core/reports.h"
#include "notify/htmlreport.h"
#include "platform/files.h"

#include <filesystem>
#include <iostream>

namespace tarnwick::cli {

namespace {

// Writes the HTML report and the XML export of the data file's entries into the report directory.
int report(const Invocation& inv)
{
    if (!inv.args.empty())
        return inv.usage();
    app::AppContext app(base::settingsPath(inv.settingsOption));
    const std::string reportDir = app.settings.value(base::setting::ReportDir);
    if (reportDir.empty()) {
        inv.err << "tarnwick-cli: no report directory is set (config set ReportDir DIR)\n";
        return 1;
    }
    if (const platform::Result loaded = app.loadEntries(); !loaded) {
        inv.err << loaded.error() << '\n';
        return 1;
    }
    std::error_code ec;
    std::filesystem::create_directories(reportDir, ec);

    // a user's template that cannot be used is named here as well as in the log
    app.templates.setReporter([&app, &inv](const std::string& message) {
        app.log.write("Template '%s'\n", message.c_str());
        inv.err << "tarnwick-cli: " << message << '\n';
    });
    notify::HtmlReportRenderer renderer(
        app.vars, &app.history(notify::HistoryKeep{{}, notify::HtmlReportRenderer::k_changesShown}), &app.templates);
    app::setReportDeadlines(renderer, app.entries.entries(), core::today());
    const core::ReportsWritten written = core::WriteReports(app.entries, reportDir, renderer);
    int status = 0;
    for (const auto& [ok, name] :
         {std::pair{written.html, core::k_htmlReportName}, std::pair{written.xml, core::k_xmlExportName}}) {
        const std::string path = platform::joinPath(reportDir, name);
        if (ok) {
            inv.out << path << '\n';
        } else {
            inv.err << "tarnwick-cli: cannot write " << path << '\n';
            status = 1;
        }
    }
    return status;
}

} // namespace

const Command k_reportCommand{
    .name = "report",
    .summary = "write the HTML report and the XML export",
    .readsSettings = true,
    .run = report,
};

} // namespace tarnwick::cli
