#include "cli/commands.h"
#include "cli/session.h"

#include "app/application.h"
#include "cli/clifrontend.h"
#include "notify/emailqueue.h"
#include "notify/templates.h"
#include "platform/instancelock.h"

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
    app::AppContext app(base::settingsPath(inv.settingsOption));
    platform::InstanceLock lock; // the queue and the counters have one writer
    if (!takeInstanceLock(lock, app.logDir()))
        return 1;
    CliFrontEnd frontEnd(std::cout, std::cerr);
    frontEnd.setShowProgress(false);

    notify::EmailQueue queue({app.settings, app.log, frontEnd, frontEnd, app.vars, app.names, nullptr, nullptr, {}});
    const std::string error =
        queue.sendAtOnce(notify::templateid::TestMail,
                         toNotify ? notify::MailMode::NotifyAddresses : notify::MailMode::ReturnAddress, false);
    if (const platform::Result written = app.settings.writeAll(); !written) {
        std::cerr << "tarnwick-cli: " << written.error() << '\n';
        if (error.empty())
            return 1;
    }
    if (!error.empty()) {
        app.log.write("%s '%s'\n", "E-Mail Failed", error.c_str());
        std::cerr << error << '\n';
        return 1;
    }
    std::cout << "E-mail was sent successfully.\n";
    return 0;
}

} // namespace tarnwick::cli
