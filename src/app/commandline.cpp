#include "app/commandline.h"

#include "core/text.h"

#include <cstdio>

namespace tarnwick::app {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

} // namespace

CommandLine parseCommandLine(std::string_view line)
{
    CommandLine out;
    size_t pos = 0;
    if (!line.empty() && line.front() == '"') {
        size_t close = line.find('"', 1);
        out.programPath = std::string(line.substr(1, close == std::string_view::npos ? close : close - 1));
        pos = close == std::string_view::npos ? line.size() : close + 1;
    } else {
        while (pos < line.size() && !isBlank(line[pos]))
            ++pos;
        out.programPath = std::string(line.substr(0, pos));
    }
    while (pos < line.size() && isBlank(line[pos]))
        ++pos;
    out.arguments = std::string(line.substr(pos));

    for (size_t i = 0; i < line.size(); ++i) {
        if ((line[i] != '-' && line[i] != '/') || (i > 0 && !isBlank(line[i - 1])))
            continue;
        const std::string_view rest = line.substr(i + 1);
        if (core::equalNoCase(rest, "UnregServer")) {
            out.registration = CommandLine::Registration::Unregister;
        } else if (core::equalNoCase(rest, "RegServer")) {
            out.registration = CommandLine::Registration::Register;
        } else {
            size_t end = 0;
            while (end < rest.size() && !isBlank(rest[end]))
                ++end;
            if (core::equalNoCase(rest.substr(0, end), "Auto"))
                out.autoMode = true;
        }
    }
    return out;
}

std::string joinCommandLine(const std::vector<std::string>& argv)
{
    std::string line;
    for (size_t i = 0; i < argv.size(); ++i) {
        if (i > 0)
            line += ' ';
        const bool quote = i == 0 && argv[i].find_first_of(" \t") != std::string::npos;
        line += quote ? '"' + argv[i] + '"' : argv[i];
    }
    return line;
}

CommandLine parseArguments(const std::vector<std::string>& argv)
{
    CommandLine out = parseCommandLine(joinCommandLine(argv));
    if (!argv.empty())
        out.words.assign(argv.begin() + 1, argv.end());
    for (size_t i = 1; i + 1 < argv.size(); ++i) {
        if (argv[i] == "--settings")
            out.settingsFile = argv[i + 1];
    }
    return out;
}

std::optional<std::string> informationRequest(const std::vector<std::string>& argv)
{
    for (size_t i = 1; i < argv.size(); ++i) {
        if (argv[i] == "--settings")
            ++i;
        else if (argv[i] == "--version")
            return "tarnwick " + programVersion() + "\n";
        else if (argv[i] == "--help" || argv[i] == "-h")
            return "usage: tarnwick [--settings FILE] [-auto]\n"
                   "\n"
                   "The desktop program of Tarnwick: the list of watched trademarks, their updates\n"
                   "and the e-mail about their changes.\n"
                   "\n"
                   "  -auto, /auto     update all entries, send the e-mail and close; no box waits, each\n"
                   "                   goes to the log (exit status 3: entries failed, 4: mail not sent)\n"
                   "  --settings FILE  the settings file (default: $TARNWICK_SETTINGS, else\n"
                   "                   $XDG_CONFIG_HOME/tarnwick/settings.ini)\n"
                   "  --help           this text\n"
                   "  --version        the program's version\n"
                   "\n"
                   "tarnwick-cli does the same work without a window; see tarnwick(1) and tarnwick-cli(1).\n";
    }
    return std::nullopt;
}

std::string versionText(int major, int minor, int build)
{
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%d.%d.%02d", major, minor, build);
    return buffer;
}

std::string programVersion()
{
#if defined(TARNWICK_VERSION_MAJOR) && defined(TARNWICK_VERSION_MINOR) && defined(TARNWICK_VERSION_BUILD)
    return versionText(TARNWICK_VERSION_MAJOR, TARNWICK_VERSION_MINOR, TARNWICK_VERSION_BUILD);
#else
    return "?.?.??";
#endif
}

} // namespace tarnwick::app
