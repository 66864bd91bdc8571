#include "cli/commands.h"

#include "app/log.h"
#include "app/settings.h"
#include "cli/clifrontend.h"
#include "core/datafile.h"
#include "core/entrystore.h"
#include "notify/appnames.h"
#include "notify/emailqueue.h"
#include "rules/rulesfile.h"
#include "rules/templatevars.h"

#include <iostream>

namespace tarnwick::cli {

// Sends the pending e-mail (or deletes it with --delete), printing each message as it goes.
int cmdSend(const Invocation& inv)
{
    bool del = false;
    for (const std::string& a : inv.args) {
        if (a == "--delete") {
            del = true;
        } else {
            std::cerr << "usage: tarnwick-cli [--settings FILE] send [--delete]\n";
            return 1;
        }
    }
    app::AppSettings settings(app::settingsPath(inv.settingsOption));
    const std::string logDir = settings.value("LogDir");
    if (logDir.empty()) {
        std::cerr << "tarnwick-cli: no logging directory is set (config set LogDir DIR)\n";
        return 1;
    }
    app::Log log(settings);
    CliFrontEnd frontEnd(std::cout, std::cerr);
    if (del)
        frontEnd.setFixedAnswer(app::Answer::Yes); // the command itself is the answer to "really delete?"

    rules::TemplateVars vars;
    rules::RulesFile rules(vars);
    rules.load(logDir);
    core::EntryStore store; // counted by the activity report
    core::loadDataFile(store, logDir);
    notify::ApplicationNames names(settings);
    names.setRules(&rules);
    names.setLog(&log);
    names.setEntryStore(&store);
    vars.setAppNames(&names);
    vars.setRules(&rules);

    notify::EmailQueue queue({settings, log, frontEnd, frontEnd, vars, names, nullptr, nullptr, {}});
    const bool pending = queue.pendingExists();
    queue.processPending(false, del);
    settings.writeAll();
    if (!pending)
        return 0;
    if (del) {
        std::cout << "Deleted the pending e-mail.\n";
        return 0;
    }
    if (!queue.lastBatchError().empty()) {
        std::cout << "Sent " << queue.lastBatchSent() << " message(s); the failed one and all after it stay queued.\n";
        return 1;
    }
    std::cout << "Sent " << queue.lastBatchSent() << " message(s).\n";
    return 0;
}

} // namespace tarnwick::cli
