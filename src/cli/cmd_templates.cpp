#include "app/application.h"
#include "cli/commands.h"
#include "notify/usertemplates.h"
#include "platform/files.h"

#include <algorithm>
#include <filesystem>
#include <iostream>

namespace tarnwick::cli {

namespace {

int exportTemplates(const Invocation& inv, const std::string& dir)
{
    const notify::ExportResult result = notify::exportTemplates(dir);
    for (const std::string& path : result.written)
        inv.out << path << "\n";
    for (const std::string& path : result.kept)
        inv.out << path << ": kept, a file of that name is there already\n";
    if (!result.error.empty()) {
        inv.err << "tarnwick-cli: " << result.error << "\n";
        return 1;
    }
    return 0;
}

int checkTemplates(const Invocation& inv, app::AppContext& app, std::string dir)
{
    if (dir.empty()) {
        if (app.logDir().empty()) {
            inv.err << "tarnwick-cli: no logging directory is set (config set LogDir DIR)\n";
            return 1;
        }
        dir = notify::userTemplateDir(app.logDir());
    }
    std::error_code ec;
    std::vector<std::string> names;
    for (const auto& file : std::filesystem::directory_iterator(dir, ec))
        names.push_back(file.path().filename().string());
    if (ec && ec != std::errc::no_such_file_or_directory) {
        inv.err << "tarnwick-cli: cannot read the folder " << dir << ": " << ec.message() << "\n";
        return 1;
    }
    std::sort(names.begin(), names.end());
    int status = 0;
    for (const std::string& name : names) {
        const std::string path = platform::joinPath(dir, name);
        const std::optional<int> id = notify::templateOfFile(name);
        if (!id) {
            inv.out << path << ": no template has this name, so it replaces none\n";
            continue;
        }
        std::string error;
        const std::optional<std::string> text = notify::readUserTemplate(path, error);
        if (!text) {
            inv.out << path << ": " << error << "\n";
            status = 1;
            continue;
        }
        const std::vector<notify::TemplateProblem> problems = notify::checkTemplate(*id, *text, app.vars);
        for (const notify::TemplateProblem& p : problems)
            inv.out << path << ":" << p.line << ": " << p.message << "\n";
        // a warning leaves the template in use
        const std::vector<notify::TemplateProblem> warnings = notify::templateWarnings(*id, *text);
        for (const notify::TemplateProblem& w : warnings)
            inv.out << path << ":" << w.line << ": warning: " << w.message << "\n";
        if (problems.empty() && warnings.empty())
            inv.out << path << ": ok\n";
        if (!problems.empty())
            status = 1;
    }
    if (names.empty())
        inv.out << "no templates in " << dir << "; the built-in ones are used\n";
    return status;
}

// The user's templates: the built-in ones written out to start from, and a check of the user's files.
int templates(const Invocation& inv)
{
    if (inv.args.size() == 2 && inv.args[0] == "export")
        return exportTemplates(inv, inv.args[1]);
    if ((inv.args.size() == 1 || inv.args.size() == 2) && inv.args[0] == "check") {
        app::AppContext app(base::settingsPath(inv.settingsOption));
        return checkTemplates(inv, app, inv.args.size() == 2 ? inv.args[1] : std::string());
    }
    return inv.usage();
}

} // namespace

const Command k_templatesCommand{
    .name = "templates",
    .arguments = "export DIR | check [DIR]",
    .summary = "the built-in templates to start from; a check of the user's templates",
    .readsSettings = true,
    .run = templates,
};

} // namespace tarnwick::cli
