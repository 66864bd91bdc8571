#include "app/configfields.h"

#include "app/configuration.h"
#include "base/settings.h"
#include "core/text.h"
#include "platform/files.h"

#include <algorithm>

namespace tarnwick::app {

namespace {

namespace setting = base::setting;
using base::AppSettings;

constexpr FieldChoice k_notices[] = {
    {"each", "One message per changed entry", {}},
    {"digest", "One digest per update", {}},
};

constexpr FieldChoice k_signIns[] = {
    {"password", "Password", "The user name and password above (AUTH PLAIN or LOGIN)."},
    {"oauth2", "OAuth 2.0 sign-in",
     "A sign-in at the provider's authority (Microsoft 365, Google Workspace): sign in once with \"Sign in...\" "
     "below or tarnwick-cli mail-login; the password is not used."},
};
constexpr FieldChoice k_providers[] = {
    {"microsoft", "Microsoft 365", "Microsoft identity platform; the tenant below."},
    {"google", "Google Workspace", "Google's OAuth 2.0 authority."},
    {"custom", "Other authority", "The addresses and scope below."},
};

std::string flag(bool on)
{
    return on ? "1" : "0";
}

// An empty directory setting names the directory of that name in the application directory.
std::string inInstall(const AppSettings& s, const base::TextSetting& key, std::string_view sub)
{
    std::string value = s.value(key);
    const std::string install = s.value(setting::Install);
    if (value.empty() && !install.empty())
        value = platform::joinPath(install, sub);
    return value;
}

} // namespace

std::span<const ConfigFieldInfo> configFields()
{
    // clang-format off
    static const ConfigFieldInfo fields[] = {
    {.field = ConfigField::OrgName, .key = &setting::OrgName, .label = "&Organization Name:",
     .check = {CheckKind::Required, "Please enter an organization name."}},
    {.field = ConfigField::SmtpServer, .key = &setting::SmtpServer, .label = "&SMTP Server:",
     .check = {CheckKind::Required, "Please enter an SMTP server name. (like mail.example.com)"},
     .note = "host or host:port, like mail.example.com:587",
     .hint = "The mail server's name, followed by a colon and the port when it is not the one the mail security "
             "gives (25 for STARTTLS and None, 465 for TLS)."},
    {.field = ConfigField::ReturnAddress, .key = &setting::ReturnAddress, .label = "&Return Address:",
     .check = {CheckKind::Required, "Please enter a E-Mail return address. (like you@example.com)"}},
    {.field = ConfigField::NotifyAddresses, .label = "&E-Mail Notification Addresses:",
     .kind = WidgetKind::AddressList,
     .check = {CheckKind::Required, "Please enter at least one E-Mail notification address. (like you@example.com)"}},
    {.field = ConfigField::Advanced, .label = "Ad&vanced HTTP and SMTP Settings...", .kind = WidgetKind::Button},
    {.field = ConfigField::ShortcutFolder, .key = &setting::ShortcutFolder, .label = "Short&cut Folder:",
     .check = {CheckKind::Directory, "shortcuts", "Shortcuts folder"}},
    {.field = ConfigField::Install, .key = &setting::Install, .label = "Application Director&y:",
     .check = {CheckKind::Directory, "application", "Application directory"}},
    {.field = ConfigField::LogDir, .key = &setting::LogDir, .label = "&Logging Directory:",
     .check = {CheckKind::Directory, "logged data", "Logging directory"},
     .read = [](const AppSettings& s) { return inInstall(s, setting::LogDir, "Log"); }},
    {.field = ConfigField::ReportDir, .key = &setting::ReportDir, .label = "H&TML Report Directory:",
     .check = {CheckKind::Directory, "report", "Report directory"},
     .read = [](const AppSettings& s) { return inInstall(s, setting::ReportDir, "Report"); }},
    // off until the user agrees; the text says exactly what the reports hold
    {.field = ConfigField::SendUsageReports, .key = &setting::SendUsageReports,
     .label = "Send usage reports to the distributor: your organization name, SMTP server, return and notification "
              "addresses, operating system, installation ID, the program's counters and the rules version; when "
              "first configured, about every fifth message sent, and after an upgrade. No entries are sent.",
     .kind = WidgetKind::Flag, .section = FormSection::Consent, .initial = "0",
     .read = [](const AppSettings& s) { return flag(s.usageReportsAllowed()); }},
    {.field = ConfigField::Rules, .label = "R&ules:", .kind = WidgetKind::RulesChoice, .section = FormSection::Office},
    {.field = ConfigField::ApiKey, .key = &setting::ApiKey, .label = "AP&I Key:", .kind = WidgetKind::Secret,
     .section = FormSection::Office,
     .check = {CheckKind::KeyForRecords, "Please enter the office's API key: it serves its XML records only with one."},
     .read = [](const AppSettings& s) { return s.plainApiKey(); },
     .store = [](AppSettings& s, const std::string& text) { s.setPlainApiKey(text); }},
    {.field = ConfigField::RequestInterval, .key = &setting::RequestInterval, .label = "Request &Pace:",
     .kind = WidgetKind::Number, .section = FormSection::Office, .check = {CheckKind::StoredValue}, .initial = "0",
     .read = [](const AppSettings& s) { return std::to_string(s.requestIntervalMs()); },
     .store = [](AppSettings& s, const std::string& text) {
         const long ms = core::leadingInteger(text);
         s.setValue(setting::RequestInterval, ms > 0 ? std::to_string(ms) : "");
     },
     .unit = " ms between requests to one server", .maximum = 120000, .step = 100},
    {.field = ConfigField::SendAfterUpdate, .key = &setting::SendAfterUpdate, .label = "Send e-&mail after each update",
     .kind = WidgetKind::Flag, .section = FormSection::Mail, .initial = "1",
     .read = [](const AppSettings& s) { return flag(s.sendAfterUpdate()); }},
    {.field = ConfigField::NotifyMode, .key = &setting::NotifyMode, .label = "&Notices:", .kind = WidgetKind::Choice,
     .section = FormSection::Mail, .initial = "each",
     .read = [](const AppSettings& s) { return std::string(s.digestNotices() ? "digest" : "each"); },
     .choices = k_notices},
    {.field = ConfigField::ProxyServer, .key = &setting::ProxyServer, .label = "&Server:",
     .section = FormSection::Proxy},
    {.field = ConfigField::UserName, .key = &setting::UserName, .label = "&User Name:",
     .section = FormSection::Authentication},
    {.field = ConfigField::Password, .key = &setting::Password, .label = "&Password:", .kind = WidgetKind::Secret,
     .section = FormSection::Authentication,
     .read = [](const AppSettings& s) { return s.plainPassword(); },
     .store = [](AppSettings& s, const std::string& text) { s.setPlainPassword(text); }},
    // a value stored by hand that is none of the three reads as the first, as sending reads it
    {.field = ConfigField::SmtpSecurity, .key = &setting::SmtpSecurity, .label = "Securi&ty:",
     .kind = WidgetKind::Choice, .section = FormSection::Authentication, .check = {CheckKind::StoredValue},
     .initial = "starttls", .choices = mailSecurityChoices()},
    {.field = ConfigField::SmtpAuth, .key = &setting::SmtpAuth, .label = "Sign-in &Method:",
     .kind = WidgetKind::Choice, .section = FormSection::Authentication, .check = {CheckKind::StoredValue},
     .initial = "password", .choices = k_signIns},
    {.field = ConfigField::OAuthProvider, .key = &setting::OAuthProvider, .label = "Pro&vider:",
     .kind = WidgetKind::Choice, .section = FormSection::Authentication, .check = {CheckKind::StoredValue},
     .initial = "microsoft", .choices = k_providers},
    {.field = ConfigField::OAuthTenant, .key = &setting::OAuthTenant, .label = "Te&nant:",
     .section = FormSection::Authentication, .check = {CheckKind::StoredValue},
     .note = "empty: organizations (any work or school account)",
     .hint = "Microsoft 365 only: the tenant's domain (contoso.onmicrosoft.com) or ID."},
    {.field = ConfigField::OAuthClientId, .key = &setting::OAuthClientId, .label = "&Client ID:",
     .section = FormSection::Authentication,
     .hint = "The application (client) ID of the registration the administrator made for Tarnwick."},
    {.field = ConfigField::OAuthClientSecret, .key = &setting::OAuthClientSecret, .label = "Client Secr&et:",
     .kind = WidgetKind::Secret, .section = FormSection::Authentication,
     .read = [](const AppSettings& s) { return s.plainSecret(setting::OAuthClientSecret); },
     .store = [](AppSettings& s, const std::string& text) { s.setPlainSecret(setting::OAuthClientSecret, text); },
     .note = "only where the provider gives one (Google)"},
    {.field = ConfigField::OAuthAuthorizeUrl, .key = &setting::OAuthAuthorizeUrl, .label = "Authori&ze Address:",
     .section = FormSection::Authentication, .check = {CheckKind::StoredValue}, .note = "other authority: https://..."},
    {.field = ConfigField::OAuthTokenUrl, .key = &setting::OAuthTokenUrl, .label = "To&ken Address:",
     .section = FormSection::Authentication, .check = {CheckKind::StoredValue}, .note = "other authority: https://..."},
    {.field = ConfigField::OAuthDeviceUrl, .key = &setting::OAuthDeviceUrl, .label = "&Device Address:",
     .section = FormSection::Authentication, .check = {CheckKind::StoredValue},
     .note = "other authority, for a sign-in by code"},
    {.field = ConfigField::OAuthScope, .key = &setting::OAuthScope, .label = "Sc&ope:",
     .section = FormSection::Authentication, .note = "other authority: the scope that lets a token send mail"},
    // one file serves the office's HTTPS and the mail server's TLS alike
    {.field = ConfigField::CaFile, .key = &setting::CaFile, .label = "CA &File:", .kind = WidgetKind::File,
     .section = FormSection::Certificates, .check = {CheckKind::StoredValue},
     .note = "empty: the system's certificate authorities",
     .hint = "The certificate authorities (PEM) that the office's HTTPS server and the mail server's STARTTLS or TLS "
             "are checked against, instead of the system's.",
     .fileTitle = "Certificate Authorities", .fileFilter = "Certificates (*.pem *.crt);;All files (*)"},
    };
    // clang-format on
    return fields;
}

const ConfigFieldInfo& fieldInfo(ConfigField field)
{
    return configFields()[static_cast<size_t>(field)];
}

std::string_view sectionTitle(FormSection section)
{
    switch (section) {
    case FormSection::Office:
        return "Trademark Office";
    case FormSection::Mail:
        return "E-Mail";
    case FormSection::Proxy:
        return "HTTP Proxy";
    case FormSection::Authentication:
        return "SMTP Authentication";
    case FormSection::Certificates:
        return "Certificates for HTTPS and Mail over TLS";
    default:
        return {};
    }
}

std::string readField(const ConfigFieldInfo& info, const base::AppSettings& settings)
{
    if (!info.key)
        return std::string(info.initial);
    std::string text = info.read ? info.read(settings) : settings.value(*info.key);
    if (info.kind == WidgetKind::Choice) {
        // a value stored by hand that is none of the choices reads as the first
        const auto known = std::find_if(info.choices.begin(), info.choices.end(),
                                        [&](const FieldChoice& c) { return core::equalNoCase(c.value, text); });
        text = known != info.choices.end() ? known->value : info.choices.front().value;
    }
    return text;
}

void storeField(const ConfigFieldInfo& info, const std::string& text, base::AppSettings& settings)
{
    if (!info.key)
        return;
    if (info.store)
        info.store(settings, text);
    else if (info.kind == WidgetKind::Flag)
        settings.setValue(*info.key, text == "1" ? "1" : "0");
    else
        settings.setValue(*info.key, text);
}

} // namespace tarnwick::app
