#include "cli/command.h"

#include "platform/terminal.h"

#include <algorithm>
#include <cctype>
#include <iostream>
#include <unistd.h>

namespace tarnwick::cli {

namespace {

// what every command that reads the settings takes, and what every command takes
const Option k_settingsOption{"settings", "FILE", "the settings file to use instead of the default one"};
const Option k_helpOption{"help", nullptr, "print this help and exit"};

std::string optionText(const Option& o)
{
    std::string text = std::string("--") + o.name;
    if (o.argument)
        text.append(" ").append(o.argument);
    return text;
}

// The options a command takes, the ones every command takes last.
std::vector<const Option*> acceptedOptions(const Command& c)
{
    std::vector<const Option*> all;
    for (const Option& o : c.options)
        all.push_back(&o);
    if (c.readsSettings)
        all.push_back(&k_settingsOption);
    all.push_back(&k_helpOption);
    return all;
}

// "--name", "--name=value" and "--name value": a word of two dashes and a letter; "-", "--" and a pattern such as
// "-->" are words of their own.
bool isOptionWord(const std::string& word)
{
    return word.size() > 2 && word.starts_with("--") && std::isalpha(static_cast<unsigned char>(word[2]));
}

} // namespace

std::string Command::synopsis() const
{
    std::string text = name;
    if (*arguments)
        text.append(" ").append(arguments);
    bool oneOfShown = false;
    for (const Option& o : options) {
        switch (o.presence) {
        case Option::Presence::Optional:
            text.append(" [").append(optionText(o)).append("]");
            break;
        case Option::Presence::Required:
            text.append(" ").append(optionText(o));
            break;
        case Option::Presence::OneOf:
            if (oneOfShown)
                break;
            oneOfShown = true;
            text.append(" (");
            for (const Option& alternative : options) {
                if (alternative.presence == Option::Presence::OneOf)
                    text.append(&alternative == &o ? "" : " | ").append(optionText(alternative));
            }
            text.append(")");
            break;
        }
    }
    return text;
}

std::string Command::usageLine() const
{
    return std::string("usage: tarnwick-cli ") + (readsSettings ? "[--settings FILE] " : "") + synopsis() + "\n";
}

std::string Command::help() const
{
    std::string text = usageLine() + "\n";
    std::string sentence = summary;
    if (!sentence.empty())
        sentence[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(sentence[0])));
    text.append(sentence).append(".\n\noptions:\n");
    const std::vector<const Option*> all = acceptedOptions(*this);
    size_t width = 0;
    for (const Option* o : all)
        width = std::max(width, optionText(*o).size());
    for (const Option* o : all) {
        const std::string shown = optionText(*o);
        text.append("  ").append(shown).append(width - shown.size() + 3, ' ').append(o->help).append("\n");
    }
    return text;
}

int GivenOptions::count(const std::string& name) const
{
    return static_cast<int>(
        std::count_if(m_given.begin(), m_given.end(), [&name](const auto& given) { return given.first == name; }));
}

std::optional<std::string> GivenOptions::value(const std::string& name) const
{
    for (auto it = m_given.rbegin(); it != m_given.rend(); ++it) {
        if (it->first == name)
            return it->second;
    }
    return std::nullopt;
}

int GivenOptions::countOf(std::initializer_list<const char*> names) const
{
    int n = 0;
    for (const char* name : names)
        n += count(name);
    return n;
}

int Invocation::outFd() const
{
    return process ? STDOUT_FILENO : -1;
}

bool Invocation::onTerminal() const
{
    return process && ::isatty(STDIN_FILENO) == 1 && ::isatty(STDERR_FILENO) == 1;
}

std::optional<std::string> Invocation::readLine(const std::string& prompt, bool hidden) const
{
    if (process)
        return platform::readInputLine(STDIN_FILENO, prompt, hidden);
    std::string line;
    if (!std::getline(in, line) && line.empty())
        return std::nullopt;
    if (line.ends_with('\r'))
        line.pop_back();
    return line;
}

int Invocation::usage() const
{
    err << command.usageLine();
    return 1;
}

std::optional<int> parseOptions(Invocation& inv, const std::vector<std::string>& words)
{
    const std::vector<const Option*> accepted = acceptedOptions(inv.command);
    bool optionsEnded = false;
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (!optionsEnded && word == "--") {
            optionsEnded = true;
            continue;
        }
        if (optionsEnded || !isOptionWord(word)) {
            inv.args.push_back(word);
            continue;
        }
        const size_t equals = word.find('=');
        const std::string name = word.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
        const auto found =
            std::find_if(accepted.begin(), accepted.end(), [&name](const Option* o) { return name == o->name; });
        if (found == accepted.end())
            return inv.usage();
        const Option& option = **found;
        std::string value;
        if (equals != std::string::npos) {
            if (!option.argument)
                return inv.usage();
            value = word.substr(equals + 1);
        } else if (option.argument) {
            if (i + 1 >= words.size())
                return inv.usage();
            value = words[++i];
        }
        if (&option == &k_helpOption) {
            inv.out << inv.command.help();
            return 0;
        }
        if (&option == &k_settingsOption)
            inv.settingsOption = std::move(value);
        else
            inv.options.add(name, std::move(value));
    }
    return std::nullopt;
}

} // namespace tarnwick::cli
