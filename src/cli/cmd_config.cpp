#include "cli/commands.h"

#include "base/settings.h"

#include <iostream>
#include <map>

namespace tarnwick::cli {

namespace {

bool isList(const std::string& name)
{
    return name == base::AppSettings::k_notifyPrefix;
}

bool checkName(const Invocation& inv, const std::string& name)
{
    if (isList(name) || base::AppSettings::named(name))
        return true;
    inv.err << "tarnwick-cli: unknown setting '" << name << "'\n";
    return false;
}

int configGet(const Invocation& inv, base::AppSettings& settings)
{
    const std::vector<std::string>& args = inv.args;
    if (args.size() != 2)
        return inv.usage();
    const std::string& name = args[1];
    if (!checkName(inv, name))
        return 1;
    if (isList(name)) {
        for (const std::string& address : settings.notifyAddresses())
            inv.out << address << '\n';
    } else if (name == base::setting::Password.name) {
        // asked for by name: the plain text
        inv.out << settings.plainPassword() << '\n';
    } else if (base::AppSettings::isSecretName(name)) {
        // the API key and the OAuth secrets are never shown again, only whether one is set
        inv.out << (settings.value(*base::AppSettings::named(name)).empty() ? "" : "(set)") << '\n';
    } else {
        inv.out << settings.value(*base::AppSettings::named(name)) << '\n';
    }
    return 0;
}

int configSet(const Invocation& inv, base::AppSettings& settings)
{
    const std::vector<std::string>& args = inv.args;
    if (args.size() < 2)
        return inv.usage();
    const std::string& name = args[1];
    if (!checkName(inv, name))
        return 1;
    std::vector<std::string> values(args.begin() + 2, args.end());
    if (isList(name)) {
        settings.setNotifyAddresses(std::move(values));
    } else {
        if (values.size() != 1) {
            inv.err << "tarnwick-cli: config set " << name << " takes exactly one value\n";
            return 1;
        }
        std::string value = std::move(values[0]);
        if (value == "-") {
            // a secret on the command line is there for every user to read: "-" takes it from standard input
            std::optional<std::string> line = inv.readLine(name + ": ", base::AppSettings::isSecretName(name));
            if (!line) {
                inv.err << "tarnwick-cli: no value for " << name << " on standard input\n";
                return 1;
            }
            value = std::move(*line);
        }
        if (const platform::Result checked = base::AppSettings::checkValue(name, value); !checked) {
            inv.err << "tarnwick-cli: " << checked.error() << "\n";
            return 1;
        }
        if (name == base::setting::Password.name)
            settings.setPlainPassword(value);
        else if (base::AppSettings::isSecretName(name))
            settings.setPlainSecret(base::TextSetting{*base::AppSettings::named(name)}, value);
        else
            settings.setValue(*base::AppSettings::named(name), std::move(value));
    }
    const platform::Result written =
        isList(name) ? settings.writeNotifyAddresses() : settings.write(*base::AppSettings::named(name));
    if (!written) {
        inv.err << "tarnwick-cli: " << written.error() << '\n';
        return 1;
    }
    return 0;
}

// Every setting that holds a value, sorted by name; the password only as "(set)", the other secrets not at all.
int configList(const Invocation& inv, const base::AppSettings& settings)
{
    std::multimap<std::string, std::string> lines;
    for (const base::SettingKey& key : base::AppSettings::keys()) {
        std::string value = settings.value(key);
        if (value.empty() || (base::AppSettings::isSecretName(key.name) && key.name != base::setting::Password.name))
            continue;
        lines.emplace(std::string(key.name), key.name == base::setting::Password.name ? std::string("(set)") : value);
    }
    for (const auto& [name, value] : lines) {
        if (name > base::AppSettings::k_notifyPrefix)
            break;
        inv.out << name << '=' << value << '\n';
    }
    const auto& addresses = settings.notifyAddresses();
    for (size_t i = 0; i < addresses.size(); ++i)
        inv.out << base::AppSettings::listValueName(base::AppSettings::k_notifyPrefix, static_cast<int>(i) + 1) << '='
                << addresses[i] << '\n';
    for (const auto& [name, value] : lines) {
        if (name > base::AppSettings::k_notifyPrefix)
            inv.out << name << '=' << value << '\n';
    }
    return 0;
}

int config(const Invocation& inv)
{
    if (inv.args.empty())
        return inv.usage();
    base::AppSettings settings(base::settingsPath(inv.settingsOption));
    const std::string& verb = inv.args[0];
    if (verb == "get")
        return configGet(inv, settings);
    if (verb == "set")
        return configSet(inv, settings);
    if (verb == "list" && inv.args.size() == 1)
        return configList(inv, settings);
    return inv.usage();
}

} // namespace

const Command k_configCommand{
    .name = "config",
    .arguments = "get NAME | set NAME VALUE... | set NAME - | list",
    .summary = "show or change settings (\"-\" reads the value from standard input)",
    .readsSettings = true,
    .run = config,
};

} // namespace tarnwick::cli
