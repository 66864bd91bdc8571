#pragma once

#include <optional>
#include <string_view>
#include <vector>

namespace tarnwick::core {
struct FieldInfo;
}

namespace tarnwick::base {

// A setting of the store: its value name, which names it in the settings file, the
// `config` command and the template variables, and whether it lives in the key itself
// rather than in its "\Settings" section. The settings are reached by the constants
// below, so that a misspelt name does not compile.
struct SettingKey {
    std::string_view name;
    bool inKey = false;
};
// A setting that holds text; the empty text is its default.
struct TextSetting : SettingKey {};
// A setting that holds a decimal number; an empty value reads as `whenEmpty`.
struct NumberSetting : SettingKey {
    long whenEmpty = 0;
};
// The rectangle and visibility of a window beside the main window.
struct WindowPlace {
    NumberSetting left, top, right, bottom, visible;
};

namespace setting {
// the application object
inline constexpr TextSetting ProxyServer{{"ProxyServer"}};
inline constexpr TextSetting UserName{{"UserName"}};
inline constexpr TextSetting Password{{"Password"}}; // its stored form (AppSettings::plainPassword)
inline constexpr TextSetting OrgName{{"OrgName"}};
inline constexpr TextSetting SmtpServer{{"SmtpServer"}};
inline constexpr TextSetting ReturnAddress{{"ReturnAddress"}};
inline constexpr TextSetting ShortcutFolder{{"ShortcutFolder", true}};
inline constexpr TextSetting Install{{"Install", true}};
// the newest program version ever installed in the application directory: an upgrade only goes past it
inline constexpr TextSetting HighestInstalledVersion{{"HighestInstalledVersion"}};
inline constexpr TextSetting LogDir{{"LogDir"}};
inline constexpr TextSetting ReportDir{{"ReportDir"}};
inline constexpr NumberSetting Left{{"Left"}};
inline constexpr NumberSetting Top{{"Top"}};
inline constexpr NumberSetting Right{{"Right"}};
inline constexpr NumberSetting Bottom{{"Bottom"}};
inline constexpr TextSetting SortBy{{"SortBy"}};
inline constexpr NumberSetting SortReversed{{"SortReversed"}};
inline constexpr NumberSetting TopIndex{{"TopIndex"}};
inline constexpr NumberSetting CountExec{{"CountExec"}};
inline constexpr NumberSetting CountStatusChange{{"CountStatusChange"}};
inline constexpr NumberSetting CountUpdateSucceeded{{"CountUpdateSucceeded"}};
inline constexpr NumberSetting CountUpdateFailed{{"CountUpdateFailed"}};
inline constexpr NumberSetting CountEmailPost{{"CountEmailPost"}};
inline constexpr NumberSetting CountEmailBatchSucceeded{{"CountEmailBatchSucceeded"}};
inline constexpr NumberSetting CountEmailBatchFailed{{"CountEmailBatchFailed"}};
inline constexpr TextSetting GUID{{"GUID"}};
inline constexpr TextSetting Timeout{{"Timeout"}}; // the choice as shown: "30 seconds", "10 minutes"
// the details, TCP/IP flow and deadlines windows
inline constexpr WindowPlace DetailsWindow{
    {{"DetailsLeft"}}, {{"DetailsTop"}}, {{"DetailsRight"}}, {{"DetailsBottom"}}, {{"DetailsVisible"}}};
inline constexpr WindowPlace FlowWindow{
    {{"TCPIPLeft"}}, {{"TCPIPTop"}}, {{"TCPIPRight"}}, {{"TCPIPBottom"}}, {{"TCPIPVisible"}}};
inline constexpr WindowPlace DeadlinesWindow{
    {{"DeadlinesLeft"}}, {{"DeadlinesTop"}}, {{"DeadlinesRight"}}, {{"DeadlinesBottom"}}, {{"DeadlinesVisible"}}};
// the docket: the days before a due day at which a reminder goes out ("60,14,3" also when empty; the largest is the
// calendar's alarm), the entry list's deadline column
inline constexpr TextSetting DeadlineReminderDays{{"DeadlineReminderDays"}};
inline constexpr NumberSetting ColWidthNextDeadline{{"ColWidthNextDeadline"}};
// today's office: the API key (stored like the password), the CA file, mail security, the request pace
inline constexpr TextSetting ApiKey{{"ApiKey"}};
inline constexpr TextSetting CaFile{{"CaFile"}};
inline constexpr TextSetting SmtpSecurity{{"SmtpSecurity"}};
inline constexpr NumberSetting RequestInterval{{"RequestInterval"}};
// the user's consent to the reports that go to the distributor: "1"
inline constexpr TextSetting SendUsageReports{{"SendUsageReports"}};
// a notice per changed entry ("each"), or one digest per update run ("digest")
inline constexpr TextSetting NotifyMode{{"NotifyMode"}};
// the pending e-mail goes out when an update run that queued messages ends: 1 (also when empty) or 0
inline constexpr NumberSetting SendAfterUpdate{{"SendAfterUpdate"}, 1};
// how Tarnwick signs in to the mail server: "password" (also when empty) or "oauth2"
inline constexpr TextSetting SmtpAuth{{"SmtpAuth"}};
// the OAuth 2.0 authority: microsoft, google or custom (the four addresses below); the tenant for microsoft
inline constexpr TextSetting OAuthProvider{{"OAuthProvider"}};
inline constexpr TextSetting OAuthTenant{{"OAuthTenant"}};
inline constexpr TextSetting OAuthClientId{{"OAuthClientId"}};
inline constexpr TextSetting OAuthClientSecret{{"OAuthClientSecret"}}; // stored like the password
inline constexpr TextSetting OAuthAuthorizeUrl{{"OAuthAuthorizeUrl"}};
inline constexpr TextSetting OAuthTokenUrl{{"OAuthTokenUrl"}};
inline constexpr TextSetting OAuthDeviceUrl{{"OAuthDeviceUrl"}};
inline constexpr TextSetting OAuthScope{{"OAuthScope"}};
// what a sign-in leaves: the refresh token, stored like the password and never shown
inline constexpr TextSetting OAuthRefreshToken{{"OAuthRefreshToken"}};
// when the refresh token was given and for which mail user name: "2026-12-10T07:41Z alice@example.com"
inline constexpr TextSetting OAuthSignedIn{{"OAuthSignedIn"}};
} // namespace setting

// The thresholds of a DeadlineReminderDays text, largest first and each once: whole numbers of days from 0 to
// 3650 divided by commas, blanks around them allowed; a single number as older versions kept it is one threshold.
// The empty text gives "60,14,3"; none for anything else.
std::optional<std::vector<int>> reminderThresholds(std::string_view text);
constexpr std::string_view k_defaultReminderDays = "60,14,3";
constexpr int k_maxReminderDays = 3650;

// The width of an entry-list column: the setting the field table names for it ("ColWidth" and the column's name);
// empty, the column takes its width from the font.
NumberSetting columnWidthSetting(const core::FieldInfo& field);

} // namespace tarnwick::base
