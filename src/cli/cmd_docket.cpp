#include "app/docketcommands.h"
#include "cli/session.h"

#include <iostream>

namespace tarnwick::cli {

// The iCalendar file of every pending deadline, on standard output or into a file.
int cmdCalendar(const Invocation& inv)
{
    std::string out;
    const bool toFile = inv.args.size() == 2 && inv.args[0] == "--out";
    if (!inv.args.empty() && !toFile) {
        std::cerr << "usage: tarnwick-cli calendar [--out FILE]\n";
        return 1;
    }
    std::unique_ptr<Session> s = Session::open(inv, false);
    if (!s)
        return 1;
    if (!toFile) {
        std::cout << app::calendarText(s->app);
        return 0;
    }
    const app::FileOutcome written = app::exportCalendar(s->app, inv.args[1]);
    (written.ok ? std::cout : std::cerr) << written.message << "\n";
    return written.ok ? 0 : 1;
}

// Every entry as a spreadsheet (CSV).
int cmdExport(const Invocation& inv)
{
    if (inv.args.size() != 2 || inv.args[0] != "--csv") {
        std::cerr << "usage: tarnwick-cli export --csv FILE\n";
        return 1;
    }
    std::unique_ptr<Session> s = Session::open(inv, false);
    if (!s)
        return 1;
    const app::FileOutcome written = app::exportSpreadsheet(s->app, inv.args[1]);
    (written.ok ? std::cout : std::cerr) << written.message << "\n";
    return written.ok ? 0 : 1;
}

// Adds the entries of a spreadsheet: all of them or, when a line is bad, none.
int cmdImport(const Invocation& inv)
{
    if (inv.args.size() != 1) {
        std::cerr << "usage: tarnwick-cli import FILE\n";
        return 1;
    }
    std::unique_ptr<Session> s = Session::open(inv, true);
    if (!s)
        return 1;
    const app::ImportOutcome imported = app::importSpreadsheet(s->state, inv.args[0]);
    for (const std::string& line : imported.errors)
        std::cerr << line << "\n";
    if (!imported.errors.empty()) {
        std::cerr << "nothing was imported\n";
        return 1;
    }
    for (const std::string& line : imported.duplicates)
        std::cout << line << ", skipped\n";
    for (int p : imported.added)
        std::cout << "added " << entryLabel(s->app.entries.at(p)) << "\n";
    // the data file was written with the new entries before their notices were queued
    const bool saved = imported.added.empty() || imported.saved;
    return saved && imported.postingError.empty() ? 0 : 1;
}

} // namespace tarnwick::cli
