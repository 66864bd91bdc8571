#pragma once

#include "platform/result.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::base {
class AppSettings;
class FrontEnd;
} // namespace tarnwick::base

namespace tarnwick::rules {
class RulesFile;
}

namespace tarnwick::app {

// The fields of the configuration dialog in tab order.
enum class ConfigField {
    OrgName,
    SmtpServer,
    ReturnAddress,
    NotifyAddresses,
    Advanced,
    ShortcutFolder,
    Install,
    LogDir,
    ReportDir,
    // the office section and the mail options
    Rules,
    ApiKey,
    RequestInterval,
    CaFile,
    SendAfterUpdate,
    NotifyMode,
};

// Which rules read the office: the built-in rules for its web pages, the built-in rules for its XML records
// (written as the rules file), or a rules file that is neither (downloaded, or the user's own), which the
// dialog leaves as it is.
enum class RulesChoice { WebPages, XmlRecords, OwnFile };

// The office section's labels and the rules choices as the dialog names them.
namespace officelabels {
constexpr std::string_view Group = "Trademark Office";
constexpr std::string_view Rules = "R&ules:";
constexpr std::string_view WebPages = "The office's web pages (built-in rules)";
constexpr std::string_view XmlRecords = "The office's XML records (needs an API key)";
constexpr std::string_view OwnFile = "The rules file in the logging directory";
constexpr std::string_view ApiKey = "AP&I Key:";
constexpr std::string_view RequestInterval = "Request &Pace:";
constexpr std::string_view RequestIntervalUnit = " ms between requests to one server";
constexpr std::string_view CaFile = "CA &File:";
constexpr std::string_view CaFileNote = "empty: the system's certificate authorities";
constexpr std::string_view Browse = "&Browse...";
constexpr std::string_view MailGroup = "E-Mail";
constexpr std::string_view SendAfterUpdate = "Send e-&mail after each update";
constexpr std::string_view NotifyMode = "&Notices:";
constexpr std::string_view EachNotice = "One message per changed entry";
constexpr std::string_view DigestNotice = "One digest per update";
} // namespace officelabels

// A choice of mail security: the SmtpSecurity value, its name and one line on what it means.
struct MailSecurityChoice {
    std::string_view value;
    std::string_view name;
    std::string_view meaning;
};
// STARTTLS, TLS and none, in the order the dialog offers them.
const std::vector<MailSecurityChoice>& mailSecurityChoices();
constexpr std::string_view k_mailSecurityLabel = "Securi&ty:";

struct FieldLabel {
    ConfigField field;
    std::string_view label;
};

// The configuration dialog's own buttons beside its fields and its Help button; their mnemonics, like the
// fields', are each the dialog's only one.
constexpr std::string_view k_addAddressButton = "&Add...";
constexpr std::string_view k_deleteAddressButton = "&Delete";
constexpr std::string_view k_helpButton = "&Help";

// The configuration dialog's labels in tab order ("&" marks the mnemonic).
const std::vector<FieldLabel>& configurationLabels();

extern const char* const k_configureTitle;        // "Tarnwick® - Configure"
extern const char* const k_advancedTitle;         // "Tarnwick® - Configure (Advanced)"
extern const char* const k_addAddressTitle;       // "Tarnwick® - Add an E-Mail Notification Address"
extern const char* const k_pendingLocksLogDir;    // shown when pending e-mail pins the logging directory
extern const char* const k_deleteAddressQuestion; // "Are you sure that you want to delete this entry?"
// The consent to the reports for the distributor, saying exactly what they hold.
extern const char* const k_usageReportsLabel;

// The advanced dialog's groups and labels, and the add-address dialog's label.
namespace advancedlabels {
constexpr std::string_view ProxyGroup = "HTTP Proxy";
constexpr std::string_view ProxyServer = "&Server:";
constexpr std::string_view AuthGroup = "SMTP Authentication";
constexpr std::string_view UserName = "&User Name:";
constexpr std::string_view Password = "&Password:";
constexpr std::string_view AddAddress = "&Address:";
} // namespace advancedlabels

// What the two dialogs edit. The password is the plain text; it is stored in its stored form.
struct ConfigValues {
    std::string orgName;
    std::string smtpServer;
    std::string returnAddress;
    std::vector<std::string> notifyAddresses;
    std::string shortcutFolder;
    std::string install;
    std::string logDir;
    std::string reportDir;
    std::string proxyServer;
    std::string userName;
    std::string password;
    // SendUsageReports: the welcome, activity and upgrade reports go to the distributor
    bool sendUsageReports = false;
    RulesChoice rules = RulesChoice::WebPages;
    RulesChoice rulesAtOpen = RulesChoice::WebPages; // what the dialog showed first: only a change is applied
    std::string rulesVersion;                        // of the rules file, for the choice that leaves it as it is
    std::string apiKey;                              // the plain text, stored like the password
    int requestIntervalMs = 0;
    std::string caFile;
    std::string smtpSecurity = "starttls";
    bool sendAfterUpdate = true;
    bool digestNotices = false;
};

// The dialog's opening state: the values from the settings, the logging and report
// directories defaulting to the application directory followed by "/Log" and "/Report";
// `logDirLocked` when pending e-mail lives in the logging directory.
struct ConfigDialogState {
    ConfigValues values;
    bool logDirLocked = false;
};
ConfigDialogState openConfiguration(const base::AppSettings& settings);

// Shows the pending-e-mail message when the logging directory is locked.
void announceLogDirLock(const ConfigDialogState& state, base::FrontEnd& frontEnd);

// The notification address list of the dialog with its selection (-1 none).
struct AddressList {
    std::vector<std::string> addresses;
    int selected = -1;
};
// A non-empty address is appended (and selected).
void addAddress(AddressList& list, const std::string& address);
// Asks first; on Yes removes the selected address, the selection staying at its
// position or moving to the one before when the last was removed.
void deleteSelectedAddress(AddressList& list, base::FrontEnd& frontEnd);

// A failed check: the field that gets the focus.
struct CheckFailure {
    ConfigField field;
    std::string message;
};

// The checks of Accept, in their order; the first failure is shown (titled
// "Tarnwick®") and returned. The directory test may create directories after asking.
std::optional<CheckFailure> checkConfiguration(const ConfigValues& values, base::FrontEnd& frontEnd);

// Accept: the checks, then the "Tarnwick" subdirectory of the logging directory,
// then every value stored, and the rules file written or removed for a changed
// rules choice (`rules`, when given, reads it again at once); then the settings
// file is written at once (a failure is shown; the values stay in use). Nothing
// is stored when a check fails.
std::optional<CheckFailure> acceptConfiguration(const ConfigValues& values, base::AppSettings& settings,
                                                base::FrontEnd& frontEnd, rules::RulesFile* rules = nullptr);

// The rules choice of a logging directory, as its rules file tells.
RulesChoice rulesChoice(const std::string& logDir);
// The rules the dialog shows for `logDir` (the choice, and the version of a rules file), also as the choice it
// opened on: OK changes them only when the user picks another.
void showRulesOf(ConfigValues& values, const std::string& logDir);
// A logging directory typed into the dialog: while the user has left the rules choice as it was shown
// (`shown`), it follows what the new directory holds, so that the dialog shows the rules OK leaves in place.
// True when the values changed.
bool followLogDir(ConfigValues& values, RulesChoice shown, const std::string& logDir);
// Makes `choice` the rules of the logging directory: the XML records' rules written as its rules file, or the
// rules file removed for the web pages; the choice of the file as it is changes nothing. The reason on failure.
platform::Result useRules(const std::string& logDir, RulesChoice choice);

// True when a scratch file can be created in `dir`, written, read back equal and deleted.
bool directoryUsable(const std::string& dir);
// Creates every directory along `dir` in turn, then `dir`; true when it is usable afterwards.
bool createDirectoryLevels(const std::string& dir);
// The directory test: empty text when `dir` is usable (perhaps after creating it on
// the user's Yes), else the message (already shown).
std::string directoryTest(const std::string& dir, std::string_view word, std::string_view label,
                          base::FrontEnd& frontEnd);

// The help: every help resource written into the "Tarnwick" subdirectory of the
// logging directory. Returns the path of "help.html", or none when it could not be written.
std::optional<std::string> writeHelp(const std::string& logDir);
// The file name of a help resource: lower case, the last "_" turned into "." ("HELP_HTML" gives "help.html").
std::string helpFileName(std::string_view resourceName);

} // namespace tarnwick::app
