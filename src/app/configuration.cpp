#include "app/configuration.h"

#include "base/frontend.h"
#include "base/settings.h"
#include "core/text.h"
#include "notify/emailqueue.h"
#include "platform/files.h"
#include "resources/resources.h"
#include "rules/rulesfile.h"

#include <cctype>
#include <sys/stat.h>

namespace tarnwick::app {

const char* const k_configureTitle = "Tarnwick\xAE - Configure";
const char* const k_advancedTitle = "Tarnwick\xAE - Configure (Advanced)";
const char* const k_addAddressTitle = "Tarnwick\xAE - Add an E-Mail Notification Address";
const char* const k_pendingLocksLogDir = "There is pending e-mail to send. You will not be able to change the logging "
                                         "directory until you send or delete the e-mail.";
const char* const k_deleteAddressQuestion = "Are you sure that you want to delete this entry?";
const char* const k_usageReportsLabel =
    "Send usage reports to the distributor: your organization name, SMTP server, return and notification "
    "addresses, operating system, installation ID, the program's counters and the rules version; when first "
    "configured, about every fifth message sent, and after an upgrade. No entries are sent.";

namespace {

// The help resources: the page and its figures, by resource name.
constexpr std::string_view k_helpResources[] = {"HELP_HTML",   "FIGMAIN_PNG",      "FIGDETAILS_PNG",
                                                "FIGFLOW_PNG", "FIGCONFIGURE_PNG", "FIGADVANCED_PNG"};

void showMessage(base::FrontEnd& frontEnd, const std::string& text)
{
    frontEnd.tell(text);
}

std::string withDefault(std::string value, const std::string& install, std::string_view sub)
{
    if (value.empty() && !install.empty())
        value = platform::joinPath(install, sub);
    return value;
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

const std::vector<FieldLabel>& configurationLabels()
{
    static const std::vector<FieldLabel> labels = {
        {ConfigField::OrgName, "&Organization Name:"},
        {ConfigField::SmtpServer, "&SMTP Server:"},
        {ConfigField::ReturnAddress, "&Return Address:"},
        {ConfigField::NotifyAddresses, "&E-Mail Notification Addresses:"},
        {ConfigField::Advanced, "Ad&vanced HTTP and SMTP Settings..."},
        {ConfigField::ShortcutFolder, "Short&cut Folder:"},
        {ConfigField::Install, "Application Director&y:"},
        {ConfigField::LogDir, "&Logging Directory:"},
        {ConfigField::ReportDir, "H&TML Report Directory:"},
    };
    return labels;
}

ConfigDialogState openConfiguration(const base::AppSettings& settings)
{
    ConfigDialogState state;
    ConfigValues& v = state.values;
    v.orgName = settings.value(base::setting::OrgName);
    v.smtpServer = settings.value(base::setting::SmtpServer);
    v.returnAddress = settings.value(base::setting::ReturnAddress);
    v.notifyAddresses = settings.notifyAddresses();
    v.shortcutFolder = settings.value(base::setting::ShortcutFolder);
    v.install = settings.value(base::setting::Install);
    v.logDir = withDefault(settings.value(base::setting::LogDir), v.install, "Log");
    v.reportDir = withDefault(settings.value(base::setting::ReportDir), v.install, "Report");
    v.proxyServer = settings.value(base::setting::ProxyServer);
    v.userName = settings.value(base::setting::UserName);
    v.password = settings.plainPassword();
    v.sendUsageReports = settings.usageReportsAllowed();
    showRulesOf(v, settings.value(base::setting::LogDir));
    v.apiKey = settings.plainApiKey();
    v.requestIntervalMs = settings.requestIntervalMs();
    v.caFile = settings.value(base::setting::CaFile);
    // a value stored by hand that is none of the three reads as the first, as sending reads it
    v.smtpSecurity = mailSecurityChoices().front().value;
    for (const MailSecurityChoice& c : mailSecurityChoices()) {
        if (core::equalNoCase(c.value, settings.value(base::setting::SmtpSecurity)))
            v.smtpSecurity = c.value;
    }
    v.sendAfterUpdate = settings.sendAfterUpdate();
    v.digestNotices = settings.digestNotices();
    // the pending messages live in the logging directory
    state.logDirLocked =
        !v.logDir.empty() && platform::fileExists(platform::joinPath(v.logDir, notify::k_pendingListName));
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

std::optional<CheckFailure> checkConfiguration(const ConfigValues& v, base::FrontEnd& frontEnd)
{
    struct Required {
        bool missing;
        ConfigField field;
        const char* message;
    };
    const Required required[] = {
        {v.orgName.empty(), ConfigField::OrgName, "Please enter an organization name."},
        {v.smtpServer.empty(), ConfigField::SmtpServer, "Please enter an SMTP server name. (like mail.example.com)"},
        {v.returnAddress.empty(), ConfigField::ReturnAddress,
         "Please enter a E-Mail return address. (like you@example.com)"},
        {v.notifyAddresses.empty(), ConfigField::NotifyAddresses,
         "Please enter at least one E-Mail notification address. (like you@example.com)"},
    };
    for (const Required& r : required) {
        if (r.missing) {
            showMessage(frontEnd, r.message);
            return CheckFailure{r.field, r.message};
        }
    }
    struct Directory {
        const std::string& path;
        ConfigField field;
        std::string_view word;
        std::string_view label;
    };
    const Directory directories[] = {
        {v.shortcutFolder, ConfigField::ShortcutFolder, "shortcuts", "Shortcuts folder"},
        {v.install, ConfigField::Install, "application", "Application directory"},
        {v.logDir, ConfigField::LogDir, "logged data", "Logging directory"},
        {v.reportDir, ConfigField::ReportDir, "report", "Report directory"},
    };
    for (const Directory& d : directories) {
        std::string message = directoryTest(d.path, d.word, d.label, frontEnd);
        if (!message.empty())
            return CheckFailure{d.field, std::move(message)};
    }
    if (v.rules == RulesChoice::XmlRecords && v.apiKey.empty()) {
        const std::string message = "Please enter the office's API key: it serves its XML records only with one.";
        showMessage(frontEnd, message);
        return CheckFailure{ConfigField::ApiKey, message};
    }
    // what every editor of the settings may store
    const struct {
        const base::SettingKey& key;
        std::string value;
        ConfigField field;
    } typed[] = {
        {base::setting::RequestInterval, std::to_string(v.requestIntervalMs), ConfigField::RequestInterval},
        {base::setting::CaFile, v.caFile, ConfigField::CaFile},
        {base::setting::SmtpSecurity, v.smtpSecurity, ConfigField::Advanced},
    };
    for (const auto& t : typed) {
        if (const platform::Result ok = base::AppSettings::checkValue(t.key.name, t.value); !ok) {
            showMessage(frontEnd, ok.error());
            return CheckFailure{t.field, ok.error()};
        }
    }
    return std::nullopt;
}

std::optional<CheckFailure> acceptConfiguration(const ConfigValues& v, base::AppSettings& settings,
                                                base::FrontEnd& frontEnd, rules::RulesFile* rules)
{
    if (std::optional<CheckFailure> failure = checkConfiguration(v, frontEnd))
        return failure;
    // the rules file and the help pages live there
    ::mkdir(platform::joinPath(v.logDir, "Tarnwick").c_str(), 0777);
    settings.setNotifyAddresses(v.notifyAddresses);
    settings.setValue(base::setting::OrgName, v.orgName);
    settings.setValue(base::setting::SmtpServer, v.smtpServer);
    settings.setValue(base::setting::ReturnAddress, v.returnAddress);
    settings.setValue(base::setting::ShortcutFolder, v.shortcutFolder);
    settings.setValue(base::setting::Install, v.install);
    settings.setValue(base::setting::LogDir, v.logDir);
    settings.setValue(base::setting::ReportDir, v.reportDir);
    settings.setValue(base::setting::ProxyServer, v.proxyServer);
    settings.setValue(base::setting::UserName, v.userName);
    settings.setPlainPassword(v.password);
    settings.setValue(base::setting::SendUsageReports, v.sendUsageReports ? "1" : "0");
    settings.setPlainApiKey(v.apiKey);
    settings.setValue(base::setting::RequestInterval,
                      v.requestIntervalMs > 0 ? std::to_string(v.requestIntervalMs) : "");
    settings.setValue(base::setting::CaFile, v.caFile);
    settings.setValue(base::setting::SmtpSecurity, v.smtpSecurity);
    settings.setValue(base::setting::SendAfterUpdate, v.sendAfterUpdate ? "1" : "0");
    settings.setValue(base::setting::NotifyMode, v.digestNotices ? "digest" : "each");
    // a rules file in a logging directory the user only typed in is left as it is
    if (v.rules != v.rulesAtOpen && v.rules != rulesChoice(v.logDir)) {
        if (const platform::Result used = useRules(v.logDir, v.rules); !used)
            showMessage(frontEnd, used.error());
        else if (rules)
            rules->load(v.logDir);
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

std::optional<std::string> writeHelp(const std::string& logDir)
{
    if (logDir.empty())
        return std::nullopt;
    const std::string dir = platform::joinPath(logDir, "Tarnwick");
    ::mkdir(dir.c_str(), 0777);
    std::string page;
    for (std::string_view name : k_helpResources) {
        const std::optional<std::string_view> bytes = resources::text(name);
        const std::string path = platform::joinPath(dir, helpFileName(name));
        if (!bytes || !platform::writeFileAtomic(path, *bytes))
            return std::nullopt;
        if (name == "HELP_HTML")
            page = path;
    }
    return page;
}

} // namespace tarnwick::app
