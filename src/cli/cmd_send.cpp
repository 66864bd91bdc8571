#include "cli/commands.h"
#include "cli/session.h"

#include "notify/emailqueue.h"

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
    // the queue and the counters have one writer; the entries are counted by the activity report
    std::unique_ptr<Session> s = Session::open(inv, Needs{true, true, Needs::Entries::IfReadable});
    if (!s)
        return 1;
    if (del)
        s->frontEnd.setAnswerFor(base::Question::DeletePendingEmail, base::Answer::Yes); // the command is the answer

    const notify::EmailQueue& queue = s->state.queue();
    const bool pending = queue.pendingExists();
    s->state.processPending(false, del);
    int status = 0;
    if (const platform::Result written = s->app.settings.writeAll(); !written) {
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
