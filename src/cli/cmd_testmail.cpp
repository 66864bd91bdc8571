#include "cli/commands.h"
#include "cli/session.h"

#include "notify/templates.h"

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
    // the counters have one writer; without a logging directory there is no lock, and no message file
    std::unique_ptr<Session> s = Session::open(inv, Needs{true, false, Needs::Entries::Unread});
    if (!s)
        return 1;
    s->frontEnd.setShowProgress(false);

    const std::string error =
        s->state.sendAtOnce(notify::templateid::TestMail,
                            toNotify ? notify::MailMode::NotifyAddresses : notify::MailMode::ReturnAddress, false);
    if (const platform::Result written = s->app.settings.writeAll(); !written) {
        std::cerr << "tarnwick-cli: " << written.error() << '\n';
        if (error.empty())
            return 1;
    }
    if (!error.empty()) {
        s->app.log.write("%s '%s'\n", "E-Mail Failed", error.c_str());
        std::cerr << error << '\n';
        return 1;
    }
    std::cout << "E-mail was sent successfully.\n";
    return 0;
}

} // namespace tarnwick::cli
