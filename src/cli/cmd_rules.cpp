#include "cli/commands.h"
#include "cli/session.h"

#include "app/configuration.h"
#include "base/settings.h"
#include "platform/files.h"
#include "rules/rulesfile.h"

#include <iostream>
#include <string>

namespace tarnwick::cli {

namespace {

// Chooses the rules in use as the configuration does: "office-xml" writes the rules for the
// office's XML status records as the rules file below the logging folder; "built-in" removes
// the rules file, so that the built-in default rules are read at the next start.
int rulesUse(const Invocation& inv)
{
    if (inv.args.size() != 2 || inv.args[0] != "use" || (inv.args[1] != "office-xml" && inv.args[1] != "built-in"))
        return inv.usage();
    // a running update may save the rules file too
    std::unique_ptr<Session> s = Session::open(inv, Needs{true, true, Needs::Entries::Unread});
    if (!s)
        return 1;
    const std::string logDir = s->app.logDir();
    const std::string path = rules::RulesFile::filePath(logDir);

    const bool builtIn = inv.args[1] == "built-in";
    const bool existed = platform::fileExists(path);
    if (const platform::Result used =
            app::useRules(logDir, builtIn ? app::RulesChoice::WebPages : app::RulesChoice::XmlRecords);
        !used) {
        inv.err << "tarnwick-cli: " << used.error() << "\n";
        return 1;
    }
    if (builtIn)
        inv.out << "The built-in rules are in use: " << (existed ? path + " is removed." : "there is no " + path + ".")
                << "\n";
    else
        inv.out << "The rules for the office's XML status records (version "
                << rules::RulesFile::versionOf(rules::RulesFile::officeXmlText()) << ") are in " << path << ".\n";
    return 0;
}

} // namespace

const Command k_rulesCommand{
    .name = "rules",
    .arguments = "use office-xml|built-in",
    .summary = "the rules for the office's XML records, or the built-in ones",
    .readsSettings = true,
    .run = rulesUse,
};

} // namespace tarnwick::cli
