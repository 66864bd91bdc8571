#include "app/deadlinelist.h"
#include "cli/session.h"
#include "core/daynumber.h"

#include <iostream>

namespace tarnwick::cli {

namespace {

// the farthest a look ahead reaches: past any deadline a docket holds
constexpr int k_longestWithin = 36500;

// Every open deadline of the docket (those of the next DAYS days and the overdue ones with --within) as a table.
int deadlines(const Invocation& inv)
{
    if (!inv.args.empty())
        return inv.usage();
    std::optional<int> within;
    if (const std::optional<std::string> days = inv.options.value("within")) {
        const bool digits =
            !days->empty() && days->size() <= 5 && days->find_first_not_of("0123456789") == std::string::npos;
        if (!digits || std::stoi(*days) > k_longestWithin) {
            inv.err << "tarnwick-cli: --within takes a number of days from 0 to " << k_longestWithin << "\n";
            return inv.usage();
        }
        within = std::stoi(*days);
    }
    std::unique_ptr<Session> s = Session::open(inv, false);
    if (!s)
        return 1;
    inv.out << app::deadlineTable(app::deadlineList(s->app.entries.entries(), core::today(), within), within);
    return 0;
}

} // namespace

const Command k_deadlinesCommand{
    .name = "deadlines",
    .summary = "every open deadline of the docket, by due day",
    .readsSettings = true,
    .options =
        {
            {"within", "DAYS", "only those due within DAYS days (and every overdue one)"},
        },
    .run = deadlines,
};

} // namespace tarnwick::cli
