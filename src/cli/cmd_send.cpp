#include "cli/commands.h"
#include "cli/session.h"

#include "notify/emailqueue.h"

#include <iostream>

namespace tarnwick::cli {

namespace {

// Sends the pending e-mail (or deletes it with --delete), printing each message as it goes.
int send(const Invocation& inv)
{
    if (!inv.args.empty())
        return inv.usage();
    const bool del = inv.options.has("delete");
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
        inv.err << "tarnwick-cli: " << written.error() << '\n';
        status = 1;
    }
    // the list error was shown as it happened: the messages sent stay listed
    if (!queue.lastListError().empty())
        status = 1;
    if (!pending)
        return status;
    if (del) {
        inv.out << "Deleted the pending e-mail.\n";
        return status;
    }
    if (!queue.lastBatchError().empty()) {
        inv.out << "Sent " << queue.lastBatchSent() << " message(s); the failed one and all after it stay queued.\n";
        return 1;
    }
    inv.out << "Sent " << queue.lastBatchSent() << " message(s).\n";
    return status;
}

} // namespace

const Command k_sendCommand{
    .name = "send",
    .summary = "send (or delete) the pending e-mail",
    .readsSettings = true,
    .options =
        {
            {"delete", nullptr, "delete the pending e-mail instead of sending it"},
        },
    .run = send,
};

} // namespace tarnwick::cli
