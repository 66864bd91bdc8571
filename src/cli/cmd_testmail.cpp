#include "cli/commands.h"

#include "app/log.h"
#include "app/settings.h"
#include "cli/clifrontend.h"
#include "notify/appnames.h"
#include "notify/emailqueue.h"
#include "notify/templates.h"
#include "rules/rulesfile.h"
#include "rules/templatevars.h"

#include <iostream>

namespace tarnwick::cli {

// Sends the test e-mail at once to the return address, or with --notify to the notification addresses.
int cmdTestMail(const Invocation& inv)
{
    bool toNotify = false;
    for (const std::string& a : inv.args) {
        if (a == "--notify") {
            toNotify = true;
        } else {
            std::cerr << "usage: tarnwick-cli [--settings FILE] test-mail [--notify]\n";
            return 1;
        }
    }
    app::AppSettings settings(app::settingsPath(inv.settingsOption));
    app::Log log(settings);
    CliFrontEnd frontEnd(std::cout, std::cerr);
    frontEnd.setShowProgress(false);

    rules::TemplateVars vars;
    rules::RulesFile rules(vars);
    rules.load(settings.value("LogDir"));
    notify::ApplicationNames names(settings);
    names.setRules(&rules);
    names.setLog(&log);
    vars.setAppNames(&names);
    vars.setRules(&rules);

    notify::EmailQueue queue({settings, log, frontEnd, frontEnd, vars, names, nullptr, nullptr, {}});
    const std::string error =
        queue.sendAtOnce(notify::templateid::TestMail,
                         toNotify ? notify::MailMode::NotifyAddresses : notify::MailMode::ReturnAddress, false);
    settings.writeAll();
    if (!error.empty()) {
        log.write("%s '%s'\n", "E-Mail Failed", error.c_str());
        std::cerr << error << '\n';
        return 1;
    }
    std::cout << "E-mail was sent successfully.\n";
    return 0;
}

} // namespace tarnwick::cli
