#include "cli/commands.h"
#include "cli/session.h"

#include "app/application.h"
#include "cli/clifrontend.h"
#include "notify/emailqueue.h"
#include "platform/instancelock.h"

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
    app::AppContext app(base::settingsPath(inv.settingsOption));
    if (app.logDir().empty()) {
        std::cerr << "tarnwick-cli: no logging directory is set (config set LogDir DIR)\n";
        return 1;
    }
    platform::InstanceLock lock; // the queue and the counters have one writer
    if (!takeInstanceLock(lock, app.logDir()))
        return 1;
    CliFrontEnd frontEnd(std::cout, std::cerr);
    if (del)
        frontEnd.setAnswerFor(base::Question::DeletePendingEmail, base::Answer::Yes); // the command is the answer

    (void)app.loadEntries(); // counted by the activity report; a file it cannot read counts none

    notify::EmailQueue queue({app.settings, app.log, frontEnd, frontEnd, app.vars, app.names, nullptr, nullptr, {}});
    const bool pending = queue.pendingExists();
    queue.processPending(false, del);
    int status = 0;
    if (const platform::Result written = app.settings.writeAll(); !written) {
        std::cerr << "tarnwick-cli: " << written.error() << '\n';
        status = 1;
    }
    // the list error was shown as it happened: the messages sent stay listed
    if (!queue.lastListError().empty())
        status = 1;
    if (!pending)
        return status;
    if (del) {
        std::cout << "Deleted the pending e-mail.\n";
        return status;
    }
    if (!queue.lastBatchError().empty()) {
        std::cout << "Sent " << queue.lastBatchSent() << " message(s); the failed one and all after it stay queued.\n";
        return 1;
    }
    std::cout << "Sent " << queue.lastBatchSent() << " message(s).\n";
    return status;
}

} // namespace tarnwick::cli
