#include "app/configuration.h"

#include "base/frontend.h"
#include "base/settings.h"
#include "core/text.h"
#include "notify/emailqueue.h"
#include "platform/files.h"
#include "resources/resources.h"
#include "rules/rulesfile.h"

#include <cctype>
#include <filesystem>
#include <sys/stat.h>

namespace tarnwick::app {

const char* const k_configureTitle = "Tarnwick\xAE - Configure";
const char* const k_advancedTitle = "Tarnwick\xAE - Configure (Advanced)";
const char* const k_addAddressTitle = "Tarnwick\xAE - Add an E-Mail Notification Address";
const char* const k_pendingLocksLogDir = "There is pending e-mail to send. You will not be able to change the logging "
                                         "directory until you send or delete the e-mail.";
const char* const k_deleteAddressQuestion = "Are you sure that you want to delete this entry?";

namespace {

// The help resources: the page and its figures.
bool isHelpResource(std::string_view name)
{
    return name == "HELP_HTML" || (name.starts_with("FIG") && name.ends_with("_PNG"));
}

void showMessage(base::FrontEnd& frontEnd, const std::string& text)
{
    frontEnd.tell(text, {}, base::Severity::Warning);
}

} // namespace

const std::vector<MailSecurityChoice>& mailSecurityChoices()
{
    static const std::vector<MailSecurityChoice> choices = {
        {"starttls", "STARTTLS",
         "The dialogue is encrypted once the server offers it; without that the password is never sent. Port 25 "
         "unless the server name gives one (mail.example.com:587)."},
        {"tls", "TLS", "The dialogue is encrypted from its first byte. Port 465 unless the server name gives one."},
        {"none", "None",
         "Nothing is encrypted, the password neither: only for a mail server on this computer or your own "
         "network."},
    };
    return choices;
}

RulesChoice rulesChoice(const std::string& logDir)
{
    if (logDir.empty())
        return RulesChoice::WebPages;
    const platform::ResultOf<std::string> text = platform::readFile(rules::RulesFile::filePath(logDir));
    if (!text)
        return text.missing() ? RulesChoice::WebPages : RulesChoice::OwnFile;
    return *text == rules::RulesFile::officeXmlText() ? RulesChoice::XmlRecords : RulesChoice::OwnFile;
}

void showRulesOf(ConfigValues& values, const std::string& logDir)
{
    values.rules = values.rulesAtOpen = rulesChoice(logDir);
    values.rulesVersion.clear();
    if (values.rules == RulesChoice::OwnFile)
        values.rulesVersion =
            rules::RulesFile::versionOf(platform::readFile(rules::RulesFile::filePath(logDir)).value_or(""));
}

bool followLogDir(ConfigValues& values, RulesChoice shown, const std::string& logDir)
{
    if (shown != values.rulesAtOpen)
        return false;
    const RulesChoice rules = values.rules;
    const std::string version = values.rulesVersion;
    showRulesOf(values, logDir);
    return values.rules != rules || values.rulesVersion != version;
}

platform::Result useRules(const std::string& logDir, RulesChoice choice)
{
    const std::string path = rules::RulesFile::filePath(logDir);
    if (choice == RulesChoice::WebPages) {
        if (const platform::Result removed = platform::removeFile(path); !removed && !removed.missing())
            return platform::Result::failure("Can't remove the rules file " + path + ": " + removed.systemText());
    }
    if (choice == RulesChoice::XmlRecords) {
        ::mkdir(platform::joinPath(logDir, "Tarnwick").c_str(), 0777);
        if (const platform::Result written = platform::writeFileAtomic(path, rules::RulesFile::officeXmlText());
            !written)
            return platform::Result::failure("Can't write the rules file " + path + ": " + written.systemText());
    }
    return {};
}

ConfigValues::ConfigValues()
{
    for (const ConfigFieldInfo& f : configFields())
        (*this)[f.field] = f.initial;
}

ConfigDialogState openConfiguration(const base::AppSettings& settings)
{
    ConfigDialogState state;
    ConfigValues& v = state.values;
    for (const ConfigFieldInfo& f : configFields())
        v[f.field] = readField(f, settings);
    v.notifyAddresses = settings.notifyAddresses();
    showRulesOf(v, settings.value(base::setting::LogDir));
    // the pending messages live in the logging directory
    const std::string& logDir = v[ConfigField::LogDir];
    state.logDirLocked = !logDir.empty() && platform::fileExists(platform::joinPath(logDir, notify::k_pendingListName));
    return state;
}

void announceLogDirLock(const ConfigDialogState& state, base::FrontEnd& frontEnd)
{
    if (state.logDirLocked)
        showMessage(frontEnd, k_pendingLocksLogDir);
}

void addAddress(AddressList& list, const std::string& address)
{
    if (address.empty())
        return;
    list.addresses.push_back(address);
    list.selected = static_cast<int>(list.addresses.size()) - 1;
}

void deleteSelectedAddress(AddressList& list, base::FrontEnd& frontEnd)
{
    const int count = static_cast<int>(list.addresses.size());
    if (list.selected < 0 || list.selected >= count)
        return;
    if (frontEnd.ask(base::Question::DeleteAddress, k_deleteAddressQuestion) != base::Answer::Yes)
        return;
    list.addresses.erase(list.addresses.begin() + list.selected);
    if (list.selected >= count - 1)
        list.selected = count - 2;
}

bool directoryUsable(const std::string& dir)
{
    const std::string path = platform::joinPath(dir, "xxyyzzww.tmp");
    if (!platform::writeFileAtomic(path, "ABCD"))
        return false;
    const std::optional<std::string> back = platform::readFile(path);
    const platform::Result removed = platform::removeFile(path);
    return back && *back == "ABCD" && removed;
}

bool createDirectoryLevels(const std::string& dir)
{
    for (size_t slash = dir.find('/', 1); slash != std::string::npos; slash = dir.find('/', slash + 1))
        ::mkdir(dir.substr(0, slash).c_str(), 0777);
    ::mkdir(dir.c_str(), 0777);
    return directoryUsable(dir);
}

std::string directoryTest(const std::string& dir, std::string_view word, std::string_view label,
                          base::FrontEnd& frontEnd)
{
    std::string message;
    if (dir.empty()) {
        message = "Please enter a directory for storing the " + std::string(word) + ".";
    } else if (!directoryUsable(dir)) {
        const std::string question = std::string(label) + " does not exist. Do you want it created?";
        if (frontEnd.ask(base::Question::CreateDirectory, question) == base::Answer::Yes && createDirectoryLevels(dir))
            return {};
        message = std::string(label) + " was not created.";
    } else {
        return {};
    }
    showMessage(frontEnd, message);
    return message;
}

namespace {

// The message of a failed check of `f` (already shown); empty when it passes.
std::string checkField(const ConfigFieldInfo& f, const ConfigValues& v, base::FrontEnd& frontEnd)
{
    const std::string& text = v[f.field];
    std::string message;
    switch (f.check.kind) {
    case CheckKind::None:
        return {};
    case CheckKind::Required:
        if (f.kind == WidgetKind::AddressList ? !v.notifyAddresses.empty() : !text.empty())
            return {};
        message = f.check.text;
        break;
    case CheckKind::Directory:
        return directoryTest(text, f.check.text, f.check.name, frontEnd);
    case CheckKind::KeyForRecords:
        if (v.rules != RulesChoice::XmlRecords || !text.empty())
            return {};
        message = f.check.text;
        break;
    case CheckKind::StoredValue: {
        // what every editor of the settings may store
        const platform::Result ok = base::AppSettings::checkValue(f.key->name, text);
        if (ok)
            return {};
        message = ok.error();
        break;
    }
    }
    showMessage(frontEnd, message);
    return message;
}

} // namespace

std::optional<CheckFailure> checkConfiguration(const ConfigValues& v, base::FrontEnd& frontEnd)
{
    for (const ConfigFieldInfo& f : configFields()) {
        if (std::string message = checkField(f, v, frontEnd); !message.empty())
            return CheckFailure{isAdvanced(f.section) ? ConfigField::Advanced : f.field, std::move(message)};
    }
    return std::nullopt;
}

std::optional<CheckFailure> acceptConfiguration(const ConfigValues& v, base::AppSettings& settings,
                                                base::FrontEnd& frontEnd, rules::RulesFile* rules)
{
    if (std::optional<CheckFailure> failure = checkConfiguration(v, frontEnd))
        return failure;
    const std::string& logDir = v[ConfigField::LogDir];
    // the rules file and the help pages live there
    ::mkdir(platform::joinPath(logDir, "Tarnwick").c_str(), 0777);
    settings.setNotifyAddresses(v.notifyAddresses);
    for (const ConfigFieldInfo& f : configFields())
        storeField(f, v[f.field], settings);
    // a rules file in a logging directory the user only typed in is left as it is
    if (v.rules != v.rulesAtOpen && v.rules != rulesChoice(logDir)) {
        if (const platform::Result used = useRules(logDir, v.rules); !used)
            showMessage(frontEnd, used.error());
        else if (rules)
            rules->load(logDir);
    }
    // what the user confirmed is kept now, not only when the program closes
    if (const platform::Result stored = settings.writeAll(); !stored)
        showMessage(frontEnd, stored.error() + ".\n\nThe configuration is in use and is written again when "
                                               "Tarnwick closes.");
    return std::nullopt;
}

std::string helpFileName(std::string_view resourceName)
{
    std::string name;
    name.reserve(resourceName.size());
    for (char c : resourceName)
        name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const size_t last = name.rfind('_');
    if (last != std::string::npos)
        name[last] = '.';
    return name;
}

platform::ResultOf<std::string> writeHelp(const std::string& folder)
{
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec)
        return platform::Result::systemFailure(ec.value());
    std::string page;
    for (const resources::Resource& r : resources::all()) {
        if (!isHelpResource(r.name))
            continue;
        const std::string path = platform::joinPath(folder, helpFileName(r.name));
        if (const platform::Result written = platform::writeFileAtomic(path, r.bytes); !written)
            return written;
        if (r.name == "HELP_HTML")
            page = path;
    }
    return page;
}

} // namespace tarnwick::app
