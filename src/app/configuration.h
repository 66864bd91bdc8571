#pragma once

#include "app/configfields.h"
#include "platform/result.h"

#include <array>
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

// Which rules read the office: the built-in rules for its web pages, the built-in rules for its XML records
// (written as the rules file), or a rules file that is neither (downloaded, or the user's own), which the
// dialog leaves as it is.
enum class RulesChoice { WebPages, XmlRecords, OwnFile };

// The rules choices as the dialog names them, and the button that chooses a file.
namespace officelabels {
constexpr std::string_view WebPages = "The office's web pages (built-in rules)";
constexpr std::string_view XmlRecords = "The office's XML records (needs an API key)";
constexpr std::string_view OwnFile = "The rules file in the logging directory";
constexpr std::string_view Browse = "&Browse...";
} // namespace officelabels

// A choice of mail security: the SmtpSecurity value, its name and one line on what it means.
using MailSecurityChoice = FieldChoice;
// STARTTLS, TLS and none, in the order the dialog offers them.
const std::vector<MailSecurityChoice>& mailSecurityChoices();

// The configuration dialog's own buttons beside its fields and its Help button; their mnemonics, like the
// fields', are each the dialog's only one.
constexpr std::string_view k_addAddressButton = "&Add...";
constexpr std::string_view k_deleteAddressButton = "&Delete";
constexpr std::string_view k_helpButton = "&Help";

extern const char* const k_configureTitle;        // "Tarnwick® - Configure"
extern const char* const k_advancedTitle;         // "Tarnwick® - Configure (Advanced)"
extern const char* const k_addAddressTitle;       // "Tarnwick® - Add an E-Mail Notification Address"
extern const char* const k_pendingLocksLogDir;    // shown when pending e-mail pins the logging directory
extern const char* const k_deleteAddressQuestion; // "Are you sure that you want to delete this entry?"

// The add-address dialog's label.
constexpr std::string_view k_addAddressLabel = "&Address:";

// What the two dialogs edit: the text of every field that keeps a setting (a flag "1" or "0", a number in
// decimal, a choice its value), the notification addresses and the rules. The password and the API key are
// their plain text; they are stored in their stored form.
struct ConfigValues {
    ConfigValues();
    std::string& operator[](ConfigField field) { return texts[static_cast<size_t>(field)]; }
    const std::string& operator[](ConfigField field) const { return texts[static_cast<size_t>(field)]; }

    std::array<std::string, k_configFieldCount> texts;
    std::vector<std::string> notifyAddresses;
    RulesChoice rules = RulesChoice::WebPages;
    RulesChoice rulesAtOpen = RulesChoice::WebPages; // what the dialog showed first: only a change is applied
    std::string rulesVersion;                        // of the rules file, for the choice that leaves it as it is
};

// The dialog's opening state: the values from the settings (readField); `logDirLocked` when pending e-mail lives
// in the logging directory.
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

// The checks of Accept, in the fields' order; the first failure is shown (titled "Tarnwick®") and returned with
// the field that gets the focus (a field of the advanced dialog: its button). The directory test may create
// directories after asking.
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

// The help: the page and its figures written into `folder`, which is created level by level when missing, each
// file replaced atomically. Returns the path of "help.html", or why it could not be written.
platform::ResultOf<std::string> writeHelp(const std::string& folder);
// The file name of a help resource: lower case, the last "_" turned into "." ("HELP_HTML" gives "help.html").
std::string helpFileName(std::string_view resourceName);

} // namespace tarnwick::app
