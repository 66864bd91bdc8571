#pragma once

#include "base/settingkeys.h"
#include "net/sendmail.h"
#include "platform/result.h"

#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::platform {
class SettingsFile;
}

namespace tarnwick::base {

// The settings file's location: `option` (--settings) when given, else
// $TARNWICK_SETTINGS, else $XDG_CONFIG_HOME/tarnwick/settings.ini, else
// ~/.config/tarnwick/settings.ini.
std::string settingsPath(const std::string& option = {});

// The password's stored form: Base64, reversed, Base64 again, trailing "=" removed.
std::string passwordStoredForm(std::string_view plain);
std::string passwordPlain(std::string_view stored);

// The per-user store of everything remembered between runs apart from the
// entries. Every setting reads its value when the store is built and writes it
// back when the store is destroyed; owners may also write chosen settings at
// once. Values are text; numbers are decimal text.
class AppSettings {
public:
    // The registry key paths that name the file's sections.
    static constexpr std::string_view k_key = "Software\\Velmora Systems\\Tarnwick";
    static constexpr std::string_view k_settingsKey = "Software\\Velmora Systems\\Tarnwick\\Settings";
    static constexpr std::string_view k_notifyPrefix = "NotifyAddress";

    // Every single setting the system keeps, in the order of its tables (not the list setting).
    static const std::vector<SettingKey>& keys();
    // The setting a value name names (the `config` command's words); none for another name.
    static std::optional<SettingKey> named(std::string_view name);
    // The section a value lives in: the key itself for ShortcutFolder and Install, else "\Settings".
    static std::string_view sectionOf(const SettingKey& key);
    // The name of list element `number` (1-based): the prefix cut to 27 characters, then the number.
    static std::string listValueName(std::string_view prefix, int number);

    // Reads every setting from the settings file at `path`.
    explicit AppSettings(std::string path);
    // Writes every setting back (see writeAll).
    ~AppSettings();
    AppSettings(const AppSettings&) = delete;
    AppSettings& operator=(const AppSettings&) = delete;

    const std::string& path() const { return m_path; }

    // The text of a setting; the empty text when it has none.
    std::string value(const SettingKey& key) const;
    // An empty value gives the setting's `whenEmpty`, otherwise the leading decimal number (0 when none).
    long number(const NumberSetting& key) const;
    void setValue(const SettingKey& key, std::string value);
    void setNumber(const NumberSetting& key, long value);
    // Counters: read as a number, add one, keep as decimal text.
    void increment(const NumberSetting& key);

    // The "NotifyAddress" list setting (NotifyAddress1, NotifyAddress2, ...).
    const std::vector<std::string>& notifyAddresses() const { return m_notify; }
    void setNotifyAddresses(std::vector<std::string> addresses);

    // The password: held in its stored form, turned back only where the plain text is needed.
    std::string plainPassword() const;
    void setPlainPassword(std::string_view plain);
    // The office's API key: kept in the password's stored form, never listed.
    std::string plainApiKey() const;
    void setPlainApiKey(std::string_view plain);
    // A secret kept in the password's stored form (the API key, OAuthClientSecret, OAuthRefreshToken); the empty
    // text stays empty.
    std::string plainSecret(const TextSetting& key) const;
    void setPlainSecret(const TextSetting& key, std::string_view plain);
    // The settings whose plain value nothing may show: the password, the API key, the OAuth client secret and the
    // refresh token.
    static bool isSecretName(std::string_view name);
    // SmtpAuth: whether the mail server is signed in to with an OAuth 2.0 access token ("oauth2") rather than the
    // password ("password", also when empty).
    bool mailSignInByOAuth() const;

    // SmtpSecurity: "starttls" (also when empty, and for a value stored by hand that is none of the three),
    // "tls" or "none".
    net::MailSecurity smtpSecurity() const;
    // SendUsageReports: "1" when the user agreed that the welcome, activity and upgrade reports go to the
    // distributor; off when empty.
    bool usageReportsAllowed() const;
    // NotifyMode: "digest" sends the status changes of one update run as one message; "each" (also when empty,
    // and for a value stored by hand that is neither) a message per changed entry.
    bool digestNotices() const;
    // Whether `value` may be stored in the setting `name`, and why not: SmtpSecurity takes starttls, tls or none,
    // SmtpAuth password or oauth2, OAuthProvider microsoft, google or custom, OAuthTenant a name of letters,
    // digits, "." and "-", the OAuth addresses https (or http to a loopback address),
    // SendUsageReports and SendAfterUpdate 0 or 1, NotifyMode each or digest, RequestInterval 0 to 120000, CaFile
    // a readable file; each also the empty text. Every editor of settings asks this.
    static platform::Result checkValue(std::string_view name, std::string_view value);
    // SendAfterUpdate: whether the pending e-mail goes out when an update run that queued messages ends (on when
    // empty).
    bool sendAfterUpdate() const;
    // RequestInterval in milliseconds: 0 when empty, at most 120000.
    int requestIntervalMs() const;

    // Takes one setting's value from the file again, where another program may have written it since; a value
    // changed here and not yet written, and one the file does not hold, stay as they are.
    void reread(const SettingKey& key);

    // Store one setting now (merged into what is on disk; the last writer of a value wins).
    // A failure says "Can't write the settings file '...': reason".
    platform::Result write(const SettingKey& key);
    platform::Result writeNotifyAddresses();
    // Store every setting now. Only the settings given a value since they were
    // read or last written reach the file, so that two stores on one file keep
    // each other's values: the last writer of a value wins. A failed store keeps
    // the values pending for a later one.
    platform::Result writeAll();

private:
    platform::Result written(const platform::Result& write) const;
    platform::SettingsFile settingsFile() const;

    std::string m_path;
    std::map<std::string, std::string, std::less<>> m_values;
    std::vector<std::string> m_notify;
    std::set<std::string, std::less<>> m_dirty;
    bool m_notifyDirty = false;
};

} // namespace tarnwick::base
