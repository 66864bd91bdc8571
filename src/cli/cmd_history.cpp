#include "app/historylisting.h"
#include "cli/session.h"
#include "notify/history.h"

#include <iostream>

namespace tarnwick::cli {

namespace {

// The recorded changes of the named entries (all without names), newest first.
int history(const Invocation& inv)
{
    std::unique_ptr<Session> s = Session::open(inv, false);
    if (!s)
        return 1;
    std::vector<std::string> numbers;
    for (const std::string& typed : inv.args) {
        std::string refusal;
        std::vector<std::string> own = app::historyNumbers(s->app.entries, typed, refusal);
        if (!refusal.empty()) {
            inv.err << typed << ": " << refusal << "\n";
            return 1;
        }
        numbers.insert(numbers.end(), own.begin(), own.end());
    }
    // the named entries' records alone are held; without names, every record
    const notify::HistoryText& history = s->app.history(notify::HistoryKeep{numbers, 0});
    if (!history.error.empty()) {
        inv.err << "tarnwick-cli: " << history.error << "\n";
        return 1;
    }
    if (history.damaged > 0)
        inv.err << "tarnwick-cli: " << history.damaged << (history.damaged == 1 ? " line" : " lines") << " of "
                << notify::k_historyFileName << " in " << s->app.logDir() << " hold no record and were skipped\n";
    const std::string listing = app::historyListing(history, numbers);
    inv.out << (listing.empty() ? std::string("No changes recorded.\n") : listing);
    return 0;
}

} // namespace

const Command k_historyCommand{
    .name = "history",
    .arguments = "[NUMBER...]",
    .summary = "the recorded changes of entries (all without numbers), newest first",
    .readsSettings = true,
    .run = history,
};

} // namespace tarnwick::cli
