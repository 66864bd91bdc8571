#pragma once

#include "base/settingkeys.h"

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::base {
class AppSettings;
}

namespace tarnwick::app {

// The fields of the configuration dialog in tab order, then those of its advanced dialog.
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
    SendUsageReports,
    // the office section and the mail options
    Rules,
    ApiKey,
    RequestInterval,
    SendAfterUpdate,
    NotifyMode,
    // the advanced dialog
    ProxyServer,
    UserName,
    Password,
    SmtpSecurity,
    // the OAuth 2.0 sign-in that takes the password's place
    SmtpAuth,
    OAuthProvider,
    OAuthTenant,
    OAuthClientId,
    OAuthClientSecret,
    OAuthAuthorizeUrl,
    OAuthTokenUrl,
    OAuthDeviceUrl,
    OAuthScope,
    CaFile,
};
inline constexpr int k_configFieldCount = static_cast<int>(ConfigField::CaFile) + 1;

// How a dialog shows a field.
enum class WidgetKind {
    Text,        // a line of text
    Secret,      // a line of text shown masked
    Number,      // a whole number from 0 to `maximum` in steps of `step`, the unit after it
    File,        // a line of text and a button that chooses a file
    Flag,        // a check box: "1" or "0"
    Choice,      // one of `choices` (its value)
    AddressList, // the notification addresses with their Add and Delete buttons
    RulesChoice, // the rules that read the office
    Button,      // the button that opens the advanced dialog
};

// Where a field goes: the configuration dialog's form, its consent row below, its office and e-mail groups; the
// advanced dialog's proxy, authentication and certificate groups.
enum class FormSection { Main, Consent, Office, Mail, Proxy, Authentication, Certificates };
// The title of a section's group; empty for none.
std::string_view sectionTitle(FormSection section);
// The dialog a section belongs to.
inline bool isAdvanced(FormSection section)
{
    return section == FormSection::Proxy || section == FormSection::Authentication ||
           section == FormSection::Certificates;
}

// What OK checks of a field, in the table's order.
enum class CheckKind {
    None,
    Required,      // not empty, else `text` is the message
    Directory,     // the directory test: `text` says what is stored there, `name` names it in messages
    StoredValue,   // a value that every editor of the settings may store
    KeyForRecords, // the office's XML records are served only with an API key
};
struct FieldCheck {
    CheckKind kind = CheckKind::None;
    std::string_view text{};
    std::string_view name{};
};

// One choice of a field: the value stored, its name and one line on what it means.
struct FieldChoice {
    std::string_view value;
    std::string_view name;
    std::string_view meaning;
};

// A field of the configuration dialogs: the setting it shows, its label ("&" marks the mnemonic), how it is shown
// and checked. Its text is the setting's text unless `read` and `store` turn one into the other.
struct ConfigFieldInfo {
    ConfigField field{};
    const base::SettingKey* key = nullptr; // none: the field keeps no setting of its own
    std::string_view label{};
    WidgetKind kind = WidgetKind::Text;
    FormSection section = FormSection::Main;
    FieldCheck check{};
    std::string_view initial{}; // the text before anything is read
    std::string (*read)(const base::AppSettings& settings) = nullptr;
    void (*store)(base::AppSettings& settings, const std::string& text) = nullptr;
    std::string_view note{};                // shown in an empty field: what empty means, or what the field takes
    std::string_view hint{};                // the field's tooltip
    std::string_view unit{};                // after a number
    int maximum = 0;                        // of a number
    int step = 1;                           // of a number
    std::span<const FieldChoice> choices{}; // of a choice
    std::string_view fileTitle{};           // the file chooser's title
    std::string_view fileFilter{};          // and its filter
};

// Every field of the two dialogs in tab order, the configuration dialog's, then the advanced dialog's; each at the
// position of its ConfigField.
std::span<const ConfigFieldInfo> configFields();
const ConfigFieldInfo& fieldInfo(ConfigField field);

// The text a field of `settings` shows; the directory fields default to the application directory followed by
// "/Log" and "/Report".
std::string readField(const ConfigFieldInfo& info, const base::AppSettings& settings);
// Stores the text of a field into `settings`.
void storeField(const ConfigFieldInfo& info, const std::string& text, base::AppSettings& settings);

} // namespace tarnwick::app
