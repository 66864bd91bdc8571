#include "base/settings.h"

#include "core/fieldtable.h"
#include "core/text.h"
#include "core/version.h"
#include "net/base64.h"
#include "net/oauthprovider.h"
#include "platform/files.h"
#include "platform/settingsfile.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <pwd.h>
#include <unistd.h>

namespace tarnwick::base {

namespace {

std::string envValue(const char* name)
{
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

std::string homeFolder()
{
    std::string home = envValue("HOME");
    if (!home.empty())
        return home;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir)
        return pw->pw_dir;
    return ".";
}

} // namespace

std::string settingsPath(const std::string& option)
{
    if (!option.empty())
        return option;
    if (std::string env = envValue("TARNWICK_SETTINGS"); !env.empty())
        return env;
    if (std::string xdg = envValue("XDG_CONFIG_HOME"); !xdg.empty())
        return xdg + "/tarnwick/settings.ini";
    return homeFolder() + "/.config/tarnwick/settings.ini";
}

std::string passwordStoredForm(std::string_view plain)
{
    std::string once = net::base64Encode(plain);
    std::reverse(once.begin(), once.end());
    std::string twice = net::base64Encode(once);
    size_t end = twice.find_last_not_of('=');
    twice.resize(end == std::string::npos ? 0 : end + 1);
    return twice;
}

std::string passwordPlain(std::string_view stored)
{
    std::string once = net::base64Decode(stored);
    std::reverse(once.begin(), once.end());
    return net::base64Decode(once);
}

NumberSetting columnWidthSetting(const core::FieldInfo& field)
{
    return NumberSetting{{field.widthSetting}};
}

const std::vector<SettingKey>& AppSettings::keys()
{
    static const std::vector<SettingKey> keys = [] {
        using namespace setting;
        std::vector<SettingKey> all = {ProxyServer,
                                       UserName,
                                       Password,
                                       OrgName,
                                       SmtpServer,
                                       ReturnAddress,
                                       ShortcutFolder,
                                       Install,
                                       HighestInstalledVersion,
                                       LogDir,
                                       ReportDir,
                                       Left,
                                       Top,
                                       Right,
                                       Bottom,
                                       SortBy,
                                       SortReversed,
                                       TopIndex,
                                       CountExec,
                                       CountStatusChange,
                                       CountUpdateSucceeded,
                                       CountUpdateFailed,
                                       CountEmailPost,
                                       CountEmailBatchSucceeded,
                                       CountEmailBatchFailed,
                                       GUID,
                                       Timeout};
        for (const WindowPlace& w : {DetailsWindow, FlowWindow, DeadlinesWindow})
            all.insert(all.end(), {w.left, w.top, w.right, w.bottom, w.visible});
        for (const core::FieldInfo& f : core::fieldTable())
            all.push_back(columnWidthSetting(f));
        all.insert(all.end(), {DeadlineReminderDays, ColWidthNextDeadline, ApiKey, CaFile, SmtpSecurity,
                               RequestInterval, SendUsageReports, NotifyMode, SendAfterUpdate, SmtpAuth, OAuthProvider,
                               OAuthTenant, OAuthClientId, OAuthClientSecret, OAuthAuthorizeUrl, OAuthTokenUrl,
                               OAuthDeviceUrl, OAuthScope, OAuthRefreshToken});
        all.push_back(OAuthSignedIn);
        return all;
    }();
    return keys;
}

std::optional<SettingKey> AppSettings::named(std::string_view name)
{
    for (const SettingKey& key : keys()) {
        if (key.name == name)
            return key;
    }
    return std::nullopt;
}

std::string_view AppSettings::sectionOf(const SettingKey& key)
{
    return key.inKey ? k_key : k_settingsKey;
}

std::string AppSettings::listValueName(std::string_view prefix, int number)
{
    return std::string(prefix.substr(0, 27)) + std::to_string(number);
}

AppSettings::AppSettings(std::string path) : m_path(std::move(path))
{
    platform::SettingsFile::Sections sections = platform::SettingsFile(m_path).read();
    auto lookup = [&](std::string_view section, std::string_view name) -> const std::string* {
        auto s = sections.find(section);
        if (s == sections.end())
            return nullptr;
        auto v = s->second.find(name);
        if (v == s->second.end())
            return nullptr;
        // a value is the text up to its first NUL, as a registry string is
        if (size_t nul = v->second.find('\0'); nul != std::string::npos)
            v->second.resize(nul);
        return &v->second;
    };
    for (const SettingKey& key : keys()) {
        const std::string* v = lookup(sectionOf(key), key.name);
        m_values.emplace(std::string(key.name), v ? *v : std::string());
    }
    for (int n = 1;; ++n) {
        const std::string* v = lookup(k_settingsKey, listValueName(k_notifyPrefix, n));
        if (!v)
            break;
        m_notify.push_back(*v);
    }
}

AppSettings::~AppSettings()
{
    // a setting that cannot be written is lost, silently
    try {
        (void)writeAll();
    } catch (...) {
    }
}

std::string AppSettings::value(const SettingKey& key) const
{
    auto it = m_values.find(key.name);
    return it == m_values.end() ? std::string() : it->second;
}

long AppSettings::number(const NumberSetting& key) const
{
    auto it = m_values.find(key.name);
    if (it == m_values.end() || it->second.empty())
        return key.whenEmpty;
    return core::leadingInteger(it->second);
}

void AppSettings::setValue(const SettingKey& key, std::string value)
{
    auto it = m_values.find(key.name);
    if (it == m_values.end())
        m_values.emplace(std::string(key.name), std::move(value));
    else
        it->second = std::move(value);
    if (m_dirty.find(key.name) == m_dirty.end())
        m_dirty.emplace(key.name);
}

void AppSettings::setNumber(const NumberSetting& key, long value)
{
    setValue(key, std::to_string(value));
}

void AppSettings::increment(const NumberSetting& key)
{
    setNumber(key, number(key) + 1);
}

void AppSettings::setNotifyAddresses(std::vector<std::string> addresses)
{
    m_notify = std::move(addresses);
    m_notifyDirty = true;
}

std::string AppSettings::plainPassword() const
{
    return passwordPlain(value(setting::Password));
}

void AppSettings::setPlainPassword(std::string_view plain)
{
    setValue(setting::Password, passwordStoredForm(plain));
}

std::string AppSettings::plainApiKey() const
{
    return passwordPlain(value(setting::ApiKey));
}

void AppSettings::setPlainApiKey(std::string_view plain)
{
    setValue(setting::ApiKey, plain.empty() ? std::string() : passwordStoredForm(plain));
}

std::string AppSettings::plainSecret(const TextSetting& key) const
{
    return passwordPlain(value(key));
}

void AppSettings::setPlainSecret(const TextSetting& key, std::string_view plain)
{
    setValue(key, plain.empty() ? std::string() : passwordStoredForm(plain));
}

bool AppSettings::isSecretName(std::string_view name)
{
    return name == setting::Password.name || name == setting::ApiKey.name || name == setting::OAuthClientSecret.name ||
           name == setting::OAuthRefreshToken.name;
}

bool AppSettings::mailSignInByOAuth() const
{
    return core::equalNoCase(value(setting::SmtpAuth), "oauth2");
}

net::MailSecurity AppSettings::smtpSecurity() const
{
    const std::string v = value(setting::SmtpSecurity);
    if (core::equalNoCase(v, "none"))
        return net::MailSecurity::None;
    if (core::equalNoCase(v, "tls"))
        return net::MailSecurity::Implicit;
    return net::MailSecurity::StartTlsWhenOffered;
}

bool AppSettings::usageReportsAllowed() const
{
    return value(setting::SendUsageReports) == "1";
}

bool AppSettings::digestNotices() const
{
    return core::equalNoCase(value(setting::NotifyMode), "digest");
}

platform::Result AppSettings::checkValue(std::string_view name, std::string_view value)
{
    if (value.empty())
        return {};
    if (name == setting::SmtpSecurity.name && !core::equalNoCase(value, "starttls") &&
        !core::equalNoCase(value, "tls") && !core::equalNoCase(value, "none"))
        return platform::Result::failure("SmtpSecurity is starttls, tls or none, not '" + std::string(value) + "'");
    if (name == setting::SendUsageReports.name && value != "0" && value != "1")
        return platform::Result::failure("SendUsageReports is 1 (send) or 0 (do not send), not '" + std::string(value) +
                                         "'");
    if (name == setting::SendAfterUpdate.name && value != "0" && value != "1")
        return platform::Result::failure("SendAfterUpdate is 1 (send the e-mail after each update) or 0 (keep it "
                                         "until File > Send E-Mail), not '" +
                                         std::string(value) + "'");
    if (name == setting::RequestInterval.name && (value.find_first_not_of("0123456789") != std::string_view::npos ||
                                                  value.size() > 6 || std::stol(std::string(value)) > 120000))
        return platform::Result::failure("RequestInterval is a number of milliseconds from 0 to 120000, not '" +
                                         std::string(value) + "'");
    if (name == setting::CaFile.name) {
        if (const auto ca = platform::readFile(std::string(value), platform::FileKind::Regular); !ca)
            return platform::Result::failure("The CA file '" + std::string(value) + "' cannot be read: " +
                                             (ca.notRegular() ? "not a regular file" : ca.systemText()));
    }
    if (name == setting::HighestInstalledVersion.name && !core::wellFormedVersion(value))
        return platform::Result::failure(
            "HighestInstalledVersion is a version of numbers and dots, like 4.2.06, not '" + std::string(value) + "'");
    if (name == setting::SmtpAuth.name && !core::equalNoCase(value, "password") && !core::equalNoCase(value, "oauth2"))
        return platform::Result::failure("SmtpAuth is password or oauth2 (sign in with OAuthProvider), not '" +
                                         std::string(value) + "'");
    if (name == setting::OAuthProvider.name && !core::equalNoCase(value, "custom") && !net::findOAuthPreset(value))
        return platform::Result::failure(
            "OAuthProvider is microsoft, google or custom (the addresses OAuthAuthorizeUrl, "
            "OAuthTokenUrl, OAuthDeviceUrl and the scope OAuthScope), not '" +
            std::string(value) + "'");
    if (name == setting::OAuthTenant.name &&
        value.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-") !=
            std::string_view::npos)
        return platform::Result::failure(
            "OAuthTenant is a tenant's name or ID (letters, digits, \".\" and \"-\"), like "
            "organizations or contoso.onmicrosoft.com, not '" +
            std::string(value) + "'");
    if ((name == setting::OAuthAuthorizeUrl.name || name == setting::OAuthTokenUrl.name ||
         name == setting::OAuthDeviceUrl.name) &&
        !net::isAllowedAuthorityUrl(value))
        return platform::Result::failure(std::string(name) +
                                         " is an https address (http only to 127.0.0.1 or [::1]), not '" +
                                         std::string(value) + "'");
    if (name == setting::DeadlineReminderDays.name && !reminderThresholds(value))
        return platform::Result::failure("DeadlineReminderDays is a list of days before a due day, each from 0 to " +
                                         std::to_string(k_maxReminderDays) + ", divided by commas, like " +
                                         std::string(k_defaultReminderDays) + ", not '" + std::string(value) + "'");
    if (name == setting::NotifyMode.name && !core::equalNoCase(value, "each") && !core::equalNoCase(value, "digest"))
        return platform::Result::failure(
            "NotifyMode is each (a message per changed entry) or digest (one message per update run), not '" +
            std::string(value) + "'");
    return {};
}

std::optional<std::vector<int>> reminderThresholds(std::string_view text)
{
    auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
    auto trimmed = [&](std::string_view part) {
        while (!part.empty() && isBlank(part.front()))
            part.remove_prefix(1);
        while (!part.empty() && isBlank(part.back()))
            part.remove_suffix(1);
        return part;
    };
    if (trimmed(text).empty())
        text = k_defaultReminderDays;
    std::vector<int> days;
    for (size_t from = 0; from <= text.size();) {
        const size_t comma = std::min(text.find(',', from), text.size());
        const std::string_view part = trimmed(text.substr(from, comma - from));
        if (part.empty() || part.size() > 4 ||
            !std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return std::nullopt;
        int value = 0;
        for (char c : part)
            value = value * 10 + (c - '0');
        if (value > k_maxReminderDays)
            return std::nullopt;
        days.push_back(value);
        from = comma + 1;
    }
    std::sort(days.begin(), days.end(), std::greater<>());
    days.erase(std::unique(days.begin(), days.end()), days.end());
    return days;
}

bool AppSettings::sendAfterUpdate() const
{
    return number(setting::SendAfterUpdate) != 0;
}

int AppSettings::requestIntervalMs() const
{
    const long ms = number(setting::RequestInterval);
    return ms < 0 ? 0 : static_cast<int>(std::min(ms, 120000L));
}

namespace {

// The list's registry form: the old elements are deleted up to the first gap,
// then 1..n written, so no stale higher numbers remain.
void storeList(platform::SettingsFile::Sections& sections, std::string_view prefix,
               const std::vector<std::string>& list)
{
    auto& values = sections[std::string(AppSettings::k_settingsKey)];
    for (int n = 1;; ++n) {
        auto it = values.find(AppSettings::listValueName(prefix, n));
        if (it == values.end())
            break;
        values.erase(it);
    }
    for (size_t i = 0; i < list.size(); ++i)
        values.insert_or_assign(AppSettings::listValueName(prefix, static_cast<int>(i) + 1), list[i]);
}

} // namespace

platform::SettingsFile AppSettings::settingsFile() const
{
    return platform::SettingsFile(m_path, &isSecretName);
}

platform::Result AppSettings::written(const platform::Result& write) const
{
    if (write)
        return {};
    if (write.lockHeld())
        return platform::Result::failure(
            "Can't write the settings file '" + m_path + "': another program has held its lock file '" + m_path +
            ".lock' for " + std::to_string((platform::SettingsFile::lockWait().count() + 999) / 1000) + " s");
    return platform::Result::failure("Can't write the settings file '" + m_path + "': " + write.systemText());
}

void AppSettings::reread(const SettingKey& key)
{
    if (m_dirty.find(key.name) != m_dirty.end())
        return;
    const platform::SettingsFile::Sections sections = settingsFile().read();
    const auto section = sections.find(sectionOf(key));
    if (section == sections.end())
        return;
    const auto v = section->second.find(key.name);
    if (v == section->second.end())
        return;
    // a value is the text up to its first NUL, as when the file was first read
    m_values[std::string(key.name)] = v->second.substr(0, v->second.find('\0'));
}

platform::Result AppSettings::write(const SettingKey& key)
{
    platform::Result result = written(settingsFile().setValue(sectionOf(key), key.name, value(key)));
    if (result) {
        if (auto it = m_dirty.find(key.name); it != m_dirty.end())
            m_dirty.erase(it);
    }
    return result;
}

platform::Result AppSettings::writeNotifyAddresses()
{
    platform::Result result = written(settingsFile().update(
        [this](platform::SettingsFile::Sections& sections) { storeList(sections, k_notifyPrefix, m_notify); }));
    if (result)
        m_notifyDirty = false;
    return result;
}

platform::Result AppSettings::writeAll()
{
    if (m_dirty.empty() && !m_notifyDirty)
        return {};
    const platform::Result ok = settingsFile().update([this](platform::SettingsFile::Sections& sections) {
        for (const std::string& name : m_dirty) {
            const SettingKey key = named(name).value_or(SettingKey{name});
            sections[std::string(sectionOf(key))].insert_or_assign(name, value(key));
        }
        if (m_notifyDirty)
            storeList(sections, k_notifyPrefix, m_notify);
    });
    // a failed write keeps the values pending, so that a later write may still store them
    platform::Result result = written(ok);
    if (result) {
        m_dirty.clear();
        m_notifyDirty = false;
    }
    return result;
}

} // namespace tarnwick::base
