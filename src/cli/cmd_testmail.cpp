#include "cli/commands.h"
#include "cli/session.h"

#include "notify/templates.h"

#include <iostream>

namespace tarnwick::cli {

namespace {

// Sends the test e-mail at once to the return address, or with --notify to the notification addresses.
int testMail(const Invocation& inv)
{
    if (!inv.args.empty())
        return inv.usage();
    const bool toNotify = inv.options.has("notify");
    // the counters have one writer; without a logging directory there is no lock, and no message file
    std::unique_ptr<Session> s = Session::open(inv, Needs{true, false, Needs::Entries::Unread});
    if (!s)
        return 1;
    s->frontEnd.setShowProgress(false);

    const std::string error =
        s->state.sendAtOnce(notify::templateid::TestMail,
                            toNotify ? notify::MailMode::NotifyAddresses : notify::MailMode::ReturnAddress, false);
    if (const platform::Result written = s->app.settings.writeAll(); !written) {
        inv.err << "tarnwick-cli: " << written.error() << '\n';
        if (error.empty())
            return 1;
    }
    if (!error.empty()) {
        s->app.log.write("%s '%s'\n", "E-Mail Failed", error.c_str());
        inv.err << error << '\n';
        return 1;
    }
    inv.out << "E-mail was sent successfully.\n";
    return 0;
}

} // namespace

const Command k_testMailCommand{
    .name = "test-mail",
    .summary = "send the test e-mail",
    .readsSettings = true,
    .options =
        {
            {"notify", nullptr, "send it to the notification addresses instead of the return address"},
        },
    .run = testMail,
};

} // namespace tarnwick::cli
