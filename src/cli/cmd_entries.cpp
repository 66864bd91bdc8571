#include "app/entrycommands.h"
#include "cli/session.h"
#include "core/entry.h"
#include "core/text.h"

#include <iostream>

namespace tarnwick::cli {

namespace {

// "Daily".."Never" (any case); none for another word.
std::optional<core::Frequency> frequencyArgument(const Invocation& inv, const std::string& word)
{
    if (std::optional<core::Frequency> frequency = core::frequencyNamed(word))
        return frequency;
    inv.err << "tarnwick-cli: unknown frequency '" << word << "' (Daily, Weekly, Monthly, Yearly or Never)\n";
    return std::nullopt;
}

// Positions of the typed numbers; none when any of them names no entry.
std::optional<std::vector<int>> positionsOf(const Session& s, const std::vector<std::string>& numbers)
{
    std::vector<int> positions;
    for (const std::string& n : numbers) {
        std::optional<int> p = entryArgument(s, n);
        if (!p)
            return std::nullopt;
        positions.push_back(*p);
    }
    return positions;
}

// The add sequence of the main window for one typed number.
int add(const Invocation& inv)
{
    if (inv.args.size() != 1 || inv.args[0].empty())
        return inv.usage();
    const std::string& number = inv.args[0];
    const std::string reference = inv.options.value("reference").value_or("");
    const std::optional<core::Frequency> frequency =
        frequencyArgument(inv, inv.options.value("frequency").value_or("Daily"));
    if (!frequency)
        return 1;
    std::unique_ptr<Session> s = Session::open(inv, true);
    if (!s)
        return 1;
    const app::AddOutcome added = app::addEntry(s->state, number, reference, *frequency);
    if (!added.position) {
        // the duplicate has been reported already
        if (added.message != app::k_duplicateEntryMessage)
            inv.err << number << ": " << added.message.substr(0, added.message.find('\n')) << "\n";
        return 1;
    }
    // the data file was written before the notice was queued (a failure has been reported)
    inv.out << "added " << entryLabel(s->app.entries.at(*added.position)) << "\n";
    return added.saved && added.message.empty() ? 0 : 1;
}

// The delete sequence: confirmation, then "entry deleted" notifications.
int deleteEntries(const Invocation& inv)
{
    const std::vector<std::string>& numbers = inv.args;
    if (numbers.empty())
        return inv.usage();
    std::unique_ptr<Session> s = Session::open(inv, true);
    if (!s)
        return 1;
    std::optional<std::vector<int>> positions = positionsOf(*s, numbers);
    if (!positions)
        return 1;
    s->frontEnd.setInteractive(s->onTerminal());
    if (inv.options.has("yes"))
        s->frontEnd.setAnswerFor(base::Question::DeleteEntries, base::Answer::Yes);
    const int removed = app::deleteEntries(s->state, *positions);
    if (removed == 0)
        return 1;
    inv.out << "deleted " << core::counted(removed, "entry", "entries") << "\n";
    return s->state.lastEdit().dataFile ? 0 : 1;
}

// The Change commands over the named entries.
int change(const Invocation& inv)
{
    const std::vector<std::string>& numbers = inv.args;
    if (numbers.empty() || inv.options.countOf({"frequency", "reference", "clear-error", "clear-update"}) != 1)
        return inv.usage();
    const std::optional<std::string> frequencyWord = inv.options.value("frequency");
    const std::optional<std::string> reference = inv.options.value("reference");
    std::optional<core::Frequency> frequency;
    if (frequencyWord && !(frequency = frequencyArgument(inv, *frequencyWord)))
        return 1;
    std::unique_ptr<Session> s = Session::open(inv, true);
    if (!s)
        return 1;
    std::optional<std::vector<int>> positions = positionsOf(*s, numbers);
    if (!positions)
        return 1;
    int status = 0;
    if (frequency) {
        app::setFrequency(s->state, *positions, *frequency);
    } else if (reference) {
        if (!app::changeReference(s->state, *positions, *reference))
            status = 1;
    } else if (inv.options.has("clear-error")) {
        app::clearError(s->state, *positions);
    } else {
        // the command names the change itself: the question is answered
        s->frontEnd.setAnswerFor(base::Question::ClearLastUpdate, base::Answer::Yes);
        app::clearLastUpdate(s->state, *positions);
    }
    // every change has written the data file itself (a failure has been reported)
    if (!s->state.lastEdit().dataFile)
        status = 1;
    return status;
}

// The details text of the named entries (all without names).
int details(const Invocation& inv)
{
    std::unique_ptr<Session> s = Session::open(inv, false);
    if (!s)
        return 1;
    std::vector<int> positions;
    if (inv.args.empty()) {
        for (int p = 0; p < s->app.entries.count(); ++p)
            positions.push_back(p);
    } else if (std::optional<std::vector<int>> named = positionsOf(*s, inv.args)) {
        positions = std::move(*named);
    } else {
        return 1;
    }
    // the window's text has CR LF line ends; a terminal wants line feeds
    inv.out << core::replaceAll(app::detailsText(s->app, positions), "\r\n", "\n") << "\n";
    return 0;
}

} // namespace

const Command k_addCommand{
    .name = "add",
    .arguments = "NUMBER",
    .summary = "add an entry",
    .readsSettings = true,
    .options =
        {
            {"reference", "TEXT", "the entry's reference, the user's own name for it"},
            {"frequency", "FREQUENCY",
             "how often it is updated: Daily (the default), Weekly, Monthly, Yearly or Never"},
        },
    .run = add,
};

const Command k_deleteCommand{
    .name = "delete",
    .arguments = "NUMBER...",
    .summary = "delete entries (asks first)",
    .readsSettings = true,
    .options =
        {
            {"yes", nullptr, "delete them without asking"},
        },
    .run = deleteEntries,
};

const Command k_changeCommand{
    .name = "change",
    .arguments = "NUMBER...",
    .summary = "change entries: one of the options",
    .readsSettings = true,
    .options =
        {
            {"frequency", "FREQUENCY", "update them Daily, Weekly, Monthly, Yearly or Never", Option::Presence::OneOf},
            {"reference", "TEXT", "give them this reference", Option::Presence::OneOf},
            {"clear-error", nullptr, "clear their last error", Option::Presence::OneOf},
            {"clear-update", nullptr, "clear their last update, so that they are due", Option::Presence::OneOf},
        },
    .run = change,
};

const Command k_detailsCommand{
    .name = "details",
    .arguments = "[NUMBER...]",
    .summary = "the details text of entries (all without numbers)",
    .readsSettings = true,
    .run = details,
};

} // namespace tarnwick::cli
