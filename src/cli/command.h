#pragma once

#include <initializer_list>
#include <iosfwd>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tarnwick::cli {

struct Invocation;

// One "--name [ARGUMENT]" a command accepts.
struct Option {
    enum class Presence {
        Optional, // "[--name ARG]"
        Required, // "--name ARG"
        OneOf,    // exactly one of the command's OneOf options: "(--a ARG | --b)"
    };
    const char* name;     // without the leading "--"
    const char* argument; // the value's name in the usage line; nullptr for a flag
    const char* help;
    Presence presence = Presence::Optional;
};

// A command as the user sees it: its word, its arguments, what it does and the options it takes. The parsing,
// the usage line, its --help and the program's list of commands are all made from this one declaration.
struct Command {
    const char* name;
    const char* arguments = ""; // the words after the command besides its options, e.g. "NUMBER..."
    const char* summary = "";
    // the command reads the settings, so it takes --settings FILE (after the command as well as before it)
    bool readsSettings = false;
    std::vector<Option> options = {};
    int (*run)(const Invocation&) = nullptr;

    // "add NUMBER [--reference TEXT]": the command's part of a usage line, without --settings.
    std::string synopsis() const;
    // "usage: tarnwick-cli [--settings FILE] add NUMBER [--reference TEXT]" and a line end.
    std::string usageLine() const;
    // The usage line, the summary and one line per option (--settings and --help among them).
    std::string help() const;
};

// The options given to a command, in the order given.
class GivenOptions {
public:
    void add(std::string name, std::string value) { m_given.emplace_back(std::move(name), std::move(value)); }
    bool has(const std::string& name) const { return count(name) > 0; }
    int count(const std::string& name) const;
    // The value given last for `name`; none when it was not given.
    std::optional<std::string> value(const std::string& name) const;
    // How many of `names` were given, counting repeats.
    int countOf(std::initializer_list<const char*> names) const;

private:
    std::vector<std::pair<std::string, std::string>> m_given;
};

// What every command gets: where it talks to, its own words (after the command word, options taken out) and the
// options given.
struct Invocation {
    Invocation(const Command& command, std::ostream& out, std::ostream& err, std::istream& in, bool process)
        : command(command), out(out), err(err), in(in), process(process)
    {
    }

    const Command& command;
    std::vector<std::string> args;
    GivenOptions options;
    std::string settingsOption; // --settings FILE, empty when not given
    std::ostream& out;
    std::ostream& err;
    std::istream& in;
    // The streams are the process's own standard output, error and input (not a caller's strings): what goes
    // to a terminal, and what is written straight to a file descriptor, goes there.
    bool process;

    // The descriptor of standard output when `out` is the process's own; -1 otherwise.
    int outFd() const;
    // Whether standard input and standard error are one terminal a person types on.
    bool onTerminal() const;
    // One line of standard input without its line end (prompted for, and hidden when `hidden`, on a terminal);
    // none when the input ends before any byte.
    std::optional<std::string> readLine(const std::string& prompt, bool hidden) const;
    // Prints the command's usage line on standard error; the exit status of a command used wrongly.
    int usage() const;
};

// Parses `words` (what follows the command word) by the command's options into `inv`. Returns the exit
// status when the command is not to run: 0 after its help, 1 after its usage line for an option it does not
// take or one without its value.
std::optional<int> parseOptions(Invocation& inv, const std::vector<std::string>& words);

} // namespace tarnwick::cli
