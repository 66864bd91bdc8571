#include "cli/commands.h"
#include "platform/terminal.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

using namespace tarnwick::cli;

namespace {

struct Command {
    const char* name;
    int (*run)(const Invocation&);
    const char* usage;
};

const Command k_commands[] = {
    {"normalise", cmdNormalise, "normalise [FILE]          the normalised text of a status page"},
    {"identify", cmdIdentify, "identify NUMBER...        validate and classify typed numbers"},
    {"extract", cmdExtract, "extract PAGE [--rules FILE] [--number N]   the fields the rules read from a page"},
    {"match", cmdMatch, "match PAGE PATTERN        what one pattern yields on a page"},
    {"config", cmdConfig, "config get NAME | set NAME VALUE... | list"},
    {"list", cmdList, "list                      the entries of the data file"},
    {"fetch", cmdFetch, "fetch URL [--proxy HOST[:PORT]] [--flow]   fetch a page as the update does"},
    {"send", cmdSend, "send [--delete]           send (or delete) the pending e-mail"},
    {"report", cmdReport, "report                    write the HTML report and the XML export"},
    {"test-mail", cmdTestMail, "test-mail [--notify]      send the test e-mail"},
    {"rules", cmdRules, "rules use office-xml|built-in   the rules for the office's XML records, or the built-in ones"},
};

// A command whose output could not be written (a full disk, a closed pipe) has failed, whatever it did.
int checkedOutput(int code)
{
    std::cout.flush();
    if (!std::cout || std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::cerr << "tarnwick-cli: cannot write standard output: " << std::strerror(errno) << "\n";
        return 1;
    }
    return code;
}

int usage(std::ostream& os, int code)
{
    os << "usage: tarnwick-cli [--settings FILE] COMMAND [ARGS]\n\ncommands:\n";
    for (const Command& c : k_commands)
        os << "  " << c.usage << "\n";
    return code;
}

} // namespace

int main(int argc, char** argv)
{
    const tarnwick::platform::TerminalStreams terminal;
    Invocation inv;
    int i = 1;
    for (; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--settings" && i + 1 < argc) {
            inv.settingsOption = argv[++i];
        } else if (a.rfind("--settings=", 0) == 0) {
            inv.settingsOption = a.substr(11);
        } else if (a == "-h" || a == "--help") {
            return usage(std::cout, 0);
        } else {
            break;
        }
    }
    if (i >= argc)
        return usage(std::cerr, 1);
    std::string name = argv[i++];
    for (; i < argc; ++i)
        inv.args.emplace_back(argv[i]);
    for (const Command& c : k_commands) {
        if (name == c.name)
            return checkedOutput(c.run(inv));
    }
    std::cerr << "tarnwick-cli: unknown command '" << name << "'\n";
    return usage(std::cerr, 1);
}
