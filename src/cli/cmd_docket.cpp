#include "app/docketcommands.h"
#include "cli/session.h"

#include <iostream>

namespace tarnwick::cli {

namespace {

// The iCalendar file of every pending deadline, on standard output or into a file.
int calendar(const Invocation& inv)
{
    const std::optional<std::string> file = inv.options.value("out");
    if (!inv.args.empty())
        return inv.usage();
    std::unique_ptr<Session> s = Session::open(inv, false);
    if (!s)
        return 1;
    if (!file) {
        inv.out << app::calendarText(s->app);
        return 0;
    }
    const app::FileOutcome written = app::exportCalendar(s->app, *file);
    (written.ok ? inv.out : inv.err) << written.message << "\n";
    return written.ok ? 0 : 1;
}

// Every entry as a spreadsheet (CSV).
int exportEntries(const Invocation& inv)
{
    const std::optional<std::string> file = inv.options.value("csv");
    if (!inv.args.empty() || !file)
        return inv.usage();
    std::unique_ptr<Session> s = Session::open(inv, false);
    if (!s)
        return 1;
    const app::FileOutcome written = app::exportSpreadsheet(s->app, *file);
    (written.ok ? inv.out : inv.err) << written.message << "\n";
    return written.ok ? 0 : 1;
}

// Adds the entries of a spreadsheet: all of them or, when a line is bad, none.
int importEntries(const Invocation& inv)
{
    if (inv.args.size() != 1)
        return inv.usage();
    std::unique_ptr<Session> s = Session::open(inv, true);
    if (!s)
        return 1;
    const app::ImportOutcome imported = app::importSpreadsheet(s->state, inv.args[0]);
    for (const std::string& line : imported.errors)
        inv.err << line << "\n";
    if (!imported.errors.empty()) {
        inv.err << "nothing was imported\n";
        return 1;
    }
    for (const std::string& line : imported.duplicates)
        inv.out << line << ", skipped\n";
    for (int p : imported.added)
        inv.out << "added " << entryLabel(s->app.entries.at(p)) << "\n";
    // the data file was written with the new entries before their notices were queued
    const bool saved = imported.added.empty() || imported.saved;
    return saved && imported.postingError.empty() ? 0 : 1;
}

} // namespace

const Command k_calendarCommand{
    .name = "calendar",
    .summary = "the deadlines as an iCalendar file",
    .readsSettings = true,
    .options =
        {
            {"out", "FILE", "write the calendar into FILE instead of standard output"},
        },
    .run = calendar,
};

const Command k_exportCommand{
    .name = "export",
    .summary = "every entry as a spreadsheet (CSV)",
    .readsSettings = true,
    .options =
        {
            {"csv", "FILE", "the spreadsheet file to write", Option::Presence::Required},
        },
    .run = exportEntries,
};

const Command k_importCommand{
    .name = "import",
    .arguments = "FILE",
    .summary = "add the entries of a spreadsheet (CSV): all or none",
    .readsSettings = true,
    .run = importEntries,
};

} // namespace tarnwick::cli
