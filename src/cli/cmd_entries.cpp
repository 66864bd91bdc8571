#include "app/entrycommands.h"
#include "cli/session.h"
#include "core/entry.h"
#include "core/text.h"

#include <iostream>

namespace tarnwick::cli {

namespace {

// "Daily".."Never" (any case); none for another word.
std::optional<core::Frequency> frequencyArgument(const std::string& word)
{
    if (std::optional<core::Frequency> frequency = core::frequencyNamed(word))
        return frequency;
    std::cerr << "tarnwick-cli: unknown frequency '" << word << "' (Daily, Weekly, Monthly, Yearly or Never)\n";
    return std::nullopt;
}

bool takesValue(const std::vector<std::string>& args, size_t& i, const char* option, std::string& value)
{
    if (args[i] != option || i + 1 >= args.size())
        return false;
    value = args[++i];
    return true;
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

} // namespace

// The add sequence of the main window for one typed number.
int cmdAdd(const Invocation& inv)
{
    std::string number;
    std::string reference;
    std::string frequencyWord = "Daily";
    for (size_t i = 0; i < inv.args.size(); ++i) {
        if (takesValue(inv.args, i, "--reference", reference) || takesValue(inv.args, i, "--frequency", frequencyWord))
            continue;
        if (!number.empty() || inv.args[i].starts_with("--")) {
            number.clear();
            break;
        }
        number = inv.args[i];
    }
    if (number.empty()) {
        std::cerr
            << "usage: tarnwick-cli add NUMBER [--reference TEXT] [--frequency Daily|Weekly|Monthly|Yearly|Never]\n";
        return 1;
    }
    const std::optional<core::Frequency> frequency = frequencyArgument(frequencyWord);
    if (!frequency)
        return 1;
    std::unique_ptr<Session> s = Session::open(inv, true);
    if (!s)
        return 1;
    const app::AddOutcome added = app::addEntry(s->state, number, reference, *frequency);
    if (!added.position) {
        // the duplicate has been reported already
        if (added.message != app::k_duplicateEntryMessage)
            std::cerr << number << ": " << added.message.substr(0, added.message.find('\n')) << "\n";
        return 1;
    }
    // the data file was written before the notice was queued (a failure has been reported)
    std::cout << "added " << entryLabel(s->app.entries.at(*added.position)) << "\n";
    return added.saved && added.message.empty() ? 0 : 1;
}

// The delete sequence: confirmation, then "entry deleted" notifications.
int cmdDelete(const Invocation& inv)
{
    std::vector<std::string> numbers;
    bool yes = false;
    for (const std::string& a : inv.args) {
        if (a == "--yes")
            yes = true;
        else
            numbers.push_back(a);
    }
    if (numbers.empty()) {
        std::cerr << "usage: tarnwick-cli delete NUMBER... [--yes]\n";
        return 1;
    }
    std::unique_ptr<Session> s = Session::open(inv, true);
    if (!s)
        return 1;
    std::optional<std::vector<int>> positions = positionsOf(*s, numbers);
    if (!positions)
        return 1;
    s->frontEnd.setInteractive(CliFrontEnd::onTerminal());
    if (yes)
        s->frontEnd.setAnswerFor(base::Question::DeleteEntries, base::Answer::Yes);
    const int removed = app::deleteEntries(s->state, *positions);
    if (removed == 0)
        return 1;
    std::cout << "deleted " << core::counted(removed, "entry", "entries") << "\n";
    return s->state.lastEdit().dataFile ? 0 : 1;
}

// The Change commands over the named entries.
int cmdChange(const Invocation& inv)
{
    std::vector<std::string> numbers;
    std::string frequencyWord;
    std::string reference;
    bool haveReference = false;
    int actions = 0;
    bool clearErr = false;
    bool clearUpdate = false;
    for (size_t i = 0; i < inv.args.size(); ++i) {
        const std::string& a = inv.args[i];
        if (takesValue(inv.args, i, "--frequency", frequencyWord)) {
            ++actions;
        } else if (takesValue(inv.args, i, "--reference", reference)) {
            haveReference = true;
            ++actions;
        } else if (a == "--clear-error") {
            clearErr = true;
            ++actions;
        } else if (a == "--clear-update") {
            clearUpdate = true;
            ++actions;
        } else if (a.starts_with("--")) {
            actions = 0;
            break;
        } else {
            numbers.push_back(a);
        }
    }
    if (numbers.empty() || actions != 1) {
        std::cerr << "usage: tarnwick-cli change NUMBER... (--frequency F | --reference TEXT | --clear-error | "
                     "--clear-update)\n";
        return 1;
    }
    std::optional<core::Frequency> frequency;
    if (!frequencyWord.empty() && !(frequency = frequencyArgument(frequencyWord)))
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
    } else if (haveReference) {
        if (!app::changeReference(s->state, *positions, reference))
            status = 1;
    } else if (clearErr) {
        app::clearError(s->state, *positions);
    } else if (clearUpdate) {
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
int cmdDetails(const Invocation& inv)
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
    std::cout << core::replaceAll(app::detailsText(s->app, positions), "\r\n", "\n") << "\n";
    return 0;
}

} // namespace tarnwick::cli
