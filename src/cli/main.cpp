#include "app/commandline.h"
#include "cli/commands.h"
#include "platform/clock.h"
#include "platform/terminal.h"

#include <cstdlib>
#include <iostream>
#include <memory>
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
    {"fetch", cmdFetch,
     "fetch URL [--proxy HOST[:PORT]] [--flow]   fetch a page as the update does (ProxyServer, CaFile)"},
    {"send", cmdSend, "send [--delete]           send (or delete) the pending e-mail"},
    {"report", cmdReport, "report                    write the HTML report and the XML export"},
    {"test-mail", cmdTestMail, "test-mail [--notify]      send the test e-mail"},
    {"add", cmdAdd, "add NUMBER [--reference TEXT] [--frequency Daily|Weekly|Monthly|Yearly|Never]"},
    {"delete", cmdDelete, "delete NUMBER... [--yes]  delete entries (asks first)"},
    {"change", cmdChange, "change NUMBER... (--frequency F | --reference TEXT | --clear-error | --clear-update)"},
    {"details", cmdDetails, "details [NUMBER...]       the details text of entries"},
    {"history", cmdHistory,
     "history [NUMBER...]       the recorded changes of entries (all without numbers), newest first"},
    {"calendar", cmdCalendar, "calendar [--out FILE]     the deadlines as an iCalendar file"},
    {"export", cmdExport, "export --csv FILE         every entry as a spreadsheet (CSV)"},
    {"import", cmdImport, "import FILE               add the entries of a spreadsheet (CSV): all or none"},
    {"update", cmdUpdate, "update [--redo] [--yes] [NUMBER...]   update the named entries, or all"},
    {"auto", cmdAuto, "auto                      update all, send the e-mail, write the reports (for cron)"},
    {"templates", cmdTemplates,
     "templates export DIR | check [DIR]   the built-in templates to start from; a check of the user's templates"},
    {"rules", cmdRules, "rules use office-xml|built-in   the rules for the office's XML records, or the built-in ones"},
    {"install", cmdInstall, "install                   write the shortcuts of the installed program"},
    {"upgrade", cmdUpgrade, "upgrade [--yes]           install a newer signed program named by the rules"},
};

// The system clock moved on by whole days: TARNWICK_DAYS_AHEAD lets a demo or a
// test play the days after today without waiting for them.
class DaysAheadClock final : public tarnwick::platform::Clock {
public:
    explicit DaysAheadClock(long days) : m_shift(static_cast<std::int64_t>(days) * 86400000) {}
    std::int64_t utcMillis() const override { return m_system.utcMillis() + m_shift; }
    int utcOffsetSeconds() const override { return m_system.utcOffsetSeconds(); }
    std::uint64_t tickMillis() const override { return m_system.tickMillis(); }

private:
    tarnwick::platform::SystemClock m_system;
    std::int64_t m_shift;
};

// A command whose output could not be written (a full disk, a closed pipe) has failed, whatever it did.
int checkedOutput(int code)
{
    if (const tarnwick::platform::Result flushed = tarnwick::platform::flushStandardOutput(); !flushed) {
        std::cerr << "tarnwick-cli: cannot write standard output: " << flushed.systemText() << "\n";
        return 1;
    }
    return code;
}

int usage(std::ostream& os, int code)
{
    os << "usage: tarnwick-cli [--settings FILE] COMMAND [ARGS]\n"
          "       tarnwick-cli --help | --version\n\ncommands:\n";
    for (const Command& c : k_commands)
        os << "  " << c.usage << "\n";
    os << "\nenvironment:\n  TARNWICK_DAYS_AHEAD=N     play the day N days after today (demos and tests)\n";
    return code;
}

} // namespace

int main(int argc, char** argv)
{
    const tarnwick::platform::TerminalStreams terminal;
    static std::unique_ptr<DaysAheadClock> shifted;
    if (const char* days = std::getenv("TARNWICK_DAYS_AHEAD"); days && *days) {
        shifted = std::make_unique<DaysAheadClock>(std::strtol(days, nullptr, 10));
        tarnwick::platform::setClock(shifted.get());
    }
    Invocation inv;
    int i = 1;
    for (; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--settings" && i + 1 < argc) {
            inv.settingsOption = argv[++i];
        } else if (a.rfind("--settings=", 0) == 0) {
            inv.settingsOption = a.substr(11);
        } else if (a == "-h" || a == "--help") {
            return checkedOutput(usage(std::cout, 0));
        } else if (a == "--version") {
            std::cout << "tarnwick-cli " << tarnwick::app::programVersion() << "\n";
            return checkedOutput(0);
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
