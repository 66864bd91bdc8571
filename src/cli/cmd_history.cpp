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
    // read from the end back and written a change at a time, so that no history is held whatever its size
    app::HistoryLister lister([&inv](std::string_view text) { inv.out << text; });
    const notify::HistoryScan scan = notify::readHistoryNewestFirst(
        s->app.logDir(), numbers, [&lister](const notify::ChangeRecord& record) { lister.add(record); });
    const bool listed = lister.finish();
    if (!scan.error.empty()) {
        inv.err << "tarnwick-cli: " << scan.error << "\n";
        return 1;
    }
    if (!listed)
        inv.out << "No changes recorded.\n";
    if (scan.damaged > 0)
        inv.err << "tarnwick-cli: " << scan.damaged << (scan.damaged == 1 ? " line" : " lines") << " of "
                << notify::k_historyFileName << " in " << s->app.logDir() << " hold no record and were skipped\n";
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
