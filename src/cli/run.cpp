#include "cli/run.h"

#include "app/commandline.h"
#include "cli/commands.h"

#include <cstddef>
#include <iostream>
#include <iterator>

namespace tarnwick::cli {

namespace {

// in the order of the program's list of commands
const Command* const k_commands[] = {
    &k_normaliseCommand, &k_identifyCommand, &k_extractCommand,   &k_matchCommand,  &k_configCommand,
    &k_listCommand,      &k_fetchCommand,    &k_sendCommand,      &k_reportCommand, &k_testMailCommand,
    &k_mailLoginCommand, &k_addCommand,      &k_deleteCommand,    &k_changeCommand, &k_detailsCommand,
    &k_historyCommand,   &k_calendarCommand, &k_deadlinesCommand, &k_exportCommand, &k_importCommand,
    &k_updateCommand,    &k_autoCommand,     &k_templatesCommand, &k_rulesCommand,  &k_installCommand,
    &k_upgradeCommand,
};

// the column where a command's summary starts in the list
constexpr size_t k_summaryColumn = 28;

int dispatch(const std::vector<std::string>& words, std::ostream& out, std::ostream& err, std::istream& in,
             bool process)
{
    // the options before the command word
    std::string settings;
    size_t i = 0;
    for (; i < words.size(); ++i) {
        const std::string& a = words[i];
        if (a == "--settings" && i + 1 < words.size()) {
            settings = words[++i];
        } else if (a.starts_with("--settings=")) {
            settings = a.substr(11);
        } else if (a == "-h" || a == "--help") {
            out << programUsage();
            return 0;
        } else if (a == "--version") {
            out << "tarnwick-cli " << app::programVersion() << "\n";
            return 0;
        } else {
            break;
        }
    }
    if (i >= words.size()) {
        err << programUsage();
        return 1;
    }
    const std::string& name = words[i];
    for (const Command* command : k_commands) {
        if (name != command->name)
            continue;
        Invocation inv(*command, out, err, in, process);
        inv.settingsOption = std::move(settings);
        if (const std::optional<int> stopped =
                parseOptions(inv, {std::next(words.begin(), static_cast<std::ptrdiff_t>(i) + 1), words.end()}))
            return *stopped;
        return command->run(inv);
    }
    err << "tarnwick-cli: unknown command '" << name << "'\n" << programUsage();
    return 1;
}

} // namespace

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, std::istream& in)
{
    return dispatch(args, out, err, in, false);
}

int runProcess(const std::vector<std::string>& args)
{
    return dispatch(args, std::cout, std::cerr, std::cin, true);
}

std::string programUsage()
{
    std::string text = "usage: tarnwick-cli [--settings FILE] COMMAND [ARGS]\n"
                       "       tarnwick-cli COMMAND --help\n"
                       "       tarnwick-cli --help | --version\n\ncommands:\n";
    for (const Command* command : k_commands) {
        const std::string synopsis = "  " + command->synopsis();
        text += synopsis;
        // a long synopsis has its summary on a line of its own
        if (synopsis.size() + 2 <= k_summaryColumn)
            text.append(k_summaryColumn - synopsis.size(), ' ');
        else
            text.append("\n").append(k_summaryColumn, ' ');
        text.append(command->summary).append("\n");
    }
    text += "\nenvironment:\n  TARNWICK_DAYS_AHEAD=N     play the day N days after today (demos and tests)\n";
    return text;
}

} // namespace tarnwick::cli
