#include "app/mailsignin.h"

#include "app/configfields.h"
#include "app/configuration.h"
#include "base/settings.h"
#include "core/text.h"
#include "platform/clock.h"

#include <cstdio>
#include <ctime>

namespace tarnwick::app {

namespace {

namespace setting = base::setting;

// The text the dialog holds for a setting; the secrets are plain there.
std::string dialogValue(const ConfigValues& values, const base::TextSetting& key)
{
    for (const ConfigFieldInfo& f : configFields()) {
        if (f.key && f.key->name == key.name)
            return values[f.field];
    }
    return {};
}

// Now in UTC to the minute: "2026-12-10T07:41Z".
std::string stampNow()
{
    const std::time_t seconds = static_cast<std::time_t>(platform::clock().utcMillis() / 1000);
    std::tm t{};
    gmtime_r(&seconds, &t);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02dZ", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour,
                  t.tm_min);
    return text;
}

// "2026-12-10T07:41Z" as the user reads it, "2026-12-10 at 07:41 UTC"; another text as it is.
std::string readableStamp(const std::string& stamp)
{
    if (stamp.size() != 17 || stamp[10] != 'T' || stamp[16] != 'Z')
        return stamp;
    return stamp.substr(0, 10) + " at " + stamp.substr(11, 5) + " UTC";
}

std::string accountText(const ConfigValues& values, const base::AppSettings& settings)
{
    if (settings.value(setting::OAuthRefreshToken).empty())
        return "Not signed in.";
    // the record is the stamp, a blank and the user name
    const std::string record = settings.value(setting::OAuthSignedIn);
    if (record.empty())
        return "Signed in.";
    const std::size_t blank = record.find(' ');
    const std::string when = readableStamp(record.substr(0, blank));
    const std::string user = blank == std::string::npos ? std::string() : record.substr(blank + 1);
    std::string text = user.empty() ? "Signed in on " + when : "Signed in as " + user + " on " + when;
    // the mail server takes the token only together with the user name it was given for
    const std::string& shown = values[ConfigField::UserName];
    if (!core::equalNoCase(shown, user))
        return text + "; the user name is now " + (shown.empty() ? "empty" : shown) + ": sign in again.";
    return text + ".";
}

} // namespace

MailSignInView mailSignInView(const ConfigValues& values, const base::AppSettings& settings)
{
    MailSignInView view;
    view.button = settings.value(setting::OAuthRefreshToken).empty() ? "Sign &in..." : "Sign &in again...";
    view.account = accountText(values, settings);
    view.enabled = core::equalNoCase(values[ConfigField::SmtpAuth], "oauth2");
    if (!view.enabled) {
        view.tooltip = "Signing in at the provider is for the sign-in method \"OAuth 2.0 sign-in\"; with "
                       "\"Password\" the user name and password are sent.";
        return view;
    }
    const base::OAuthSetup setup = mailSignInSetup(values);
    view.tooltip = !setup.error.empty()
                       ? setup.error
                       : "Opens the provider's sign-in page in your browser with the provider, tenant and client ID "
                         "shown here. The sign-in is kept at once; the other changes when you press OK.";
    return view;
}

base::OAuthSetup mailSignInSetup(const ConfigValues& values)
{
    return base::oauthSetup([&values](const base::TextSetting& key) { return dialogValue(values, key); });
}

MailSignInOutcome runMailSignIn(const net::OAuthClient& client,
                                const std::function<bool(const std::string&)>& openBrowser,
                                const std::function<void(const std::string&)>& showAddress,
                                const std::atomic<char>& cancel)
{
    net::SignInHooks hooks;
    hooks.openBrowser = [&](const std::string& url) {
        showAddress(url);
        return openBrowser(url);
    };
    hooks.cancel = &cancel;
    MailSignInOutcome outcome;
    try {
        outcome.tokens = net::signInWithBrowser(client, hooks);
    } catch (const tasks::CAppError& e) {
        outcome.cancelled = cancel.load() != 0;
        if (!outcome.cancelled)
            outcome.error = base::signInFailureText(e);
    }
    return outcome;
}

platform::Result storeMailSignIn(base::AppSettings& settings, const net::OAuthTokens& tokens,
                                 const std::string& userName)
{
    if (platform::Result stored = base::storeSignIn(settings, tokens); !stored)
        return stored;
    settings.setValue(setting::OAuthSignedIn, stampNow() + " " + userName);
    return settings.write(setting::OAuthSignedIn);
}

std::string finishMailSignIn(base::AppSettings& settings, const MailSignInOutcome& outcome, const std::string& userName)
{
    if (!outcome.error.empty())
        return outcome.error;
    // a sign-in cancelled only after the authority had answered is kept all the same
    if (outcome.tokens.accessToken.empty() && outcome.tokens.refreshToken.empty())
        return {};
    const platform::Result stored = storeMailSignIn(settings, outcome.tokens, userName);
    return stored ? std::string() : stored.error();
}

} // namespace tarnwick::app
