#include "app/mailsignin.h"

#include "app/configuration.h"
#include "base/settings.h"
#include "support/clockscope.h"
#include "support/oauthauthority.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

using namespace tarnwick;
using app::ConfigField;
namespace setting = base::setting;

namespace {

constexpr std::int64_t k_signInTime = 1796888490000; // 2026-12-10 07:41:30 UTC

TEST(MailSignInView, FollowsTheDialogsValuesAndTheKeptSignIn)
{
    const struct {
        const char* dialogAuth; // as chosen in the dialog
        const char* savedAuth;  // as stored
        const char* clientId;
        const char* record; // OAuthSignedIn; nullptr: no refresh token kept
        const char* userName;
        bool enabled;
        const char* button;
        const char* tooltip; // a part of it
        const char* account;
    } cases[] = {
        {"password", "oauth2", "id", nullptr, "", false, "Sign &in...", "\"OAuth 2.0 sign-in\"", "Not signed in."},
        {"oauth2", "password", "id", nullptr, "", true, "Sign &in...", "Opens the provider's sign-in page",
         "Not signed in."},
        {"OAuth2", "", "", nullptr, "", true, "Sign &in...", "OAuthClientId is empty. ", "Not signed in."},
        {"oauth2", "oauth2", "id", "2026-12-10T07:41Z alice@firm.test", "Alice@Firm.test", true, "Sign &in again...",
         "press OK", "Signed in as alice@firm.test on 2026-12-10 at 07:41 UTC."},
        {"oauth2", "oauth2", "id", "2026-12-10T07:41Z alice@firm.test", "bob@firm.test", true, "Sign &in again...", "",
         "Signed in as alice@firm.test on 2026-12-10 at 07:41 UTC; the user name is now bob@firm.test: sign in "
         "again."},
        {"password", "", "id", "2026-12-10T07:41Z ", "", false, "Sign &in again...", "",
         "Signed in on 2026-12-10 at "
         "07:41 UTC."},
        {"oauth2", "oauth2", "id", "", "", true, "Sign &in again...", "", "Signed in."},
    };
    test::TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.dialogAuth) + " " + c.clientId + " " + (c.record ? c.record : "-"));
        base::AppSettings settings(dir.file("settings.ini"));
        settings.setValue(setting::SmtpAuth, c.savedAuth);
        settings.setPlainSecret(setting::OAuthRefreshToken, c.record ? "rt" : "");
        settings.setValue(setting::OAuthSignedIn, c.record ? c.record : "");
        app::ConfigValues values;
        values[ConfigField::SmtpAuth] = c.dialogAuth;
        values[ConfigField::OAuthClientId] = c.clientId;
        values[ConfigField::UserName] = c.userName;
        const app::MailSignInView view = app::mailSignInView(values, settings);
        EXPECT_EQ(view.enabled, c.enabled);
        EXPECT_EQ(view.button, c.button);
        EXPECT_NE(view.tooltip.find(c.tooltip), std::string::npos) << view.tooltip;
        EXPECT_EQ(view.account, c.account);
    }
}

// The window's sign-in: the client comes from the dialog's values, not the stored ones, and what it gives is kept
// as mail-login keeps it; a refusal or a cancel keeps nothing.
TEST(MailSignIn, BrowserSignInFromTheDialogsValues)
{
    const struct {
        const char* name;
        const char* knownClient; // the one client the authority knows
        bool cancel;             // the person presses Cancel once the address is shown
        const char* failure;     // a part of the box's text; empty: signed in
    } cases[] = {
        {"signed in", "dialog-client", false, ""},
        {"unknown client", "another-client", false, "does not know the application OAuthClientId names"},
        {"cancelled", "dialog-client", true, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::OAuthAuthority authority;
        if (!authority.start({"--client-id", c.knownClient, "--user", "alice@firm.test"}))
            GTEST_SKIP() << authority.why;
        test::TempDir dir;
        test::ClockScope clock(k_signInTime, 3600);
        base::AppSettings settings(dir.file("settings.ini"));
        settings.setValue(setting::OAuthClientId, "stored-client"); // at Microsoft: what OK would replace
        app::ConfigValues values;
        values[ConfigField::SmtpAuth] = "oauth2";
        values[ConfigField::UserName] = "alice@firm.test";
        values[ConfigField::OAuthProvider] = "custom";
        values[ConfigField::OAuthAuthorizeUrl] = authority.url("/authorize");
        values[ConfigField::OAuthTokenUrl] = authority.url("/token");
        values[ConfigField::OAuthScope] = "smtp offline_access";
        values[ConfigField::OAuthClientId] = "dialog-client";
        const base::OAuthSetup setup = app::mailSignInSetup(values);
        ASSERT_EQ(setup.error, "");

        // the person's browser: Python follows the authority's redirect back to the listener on 127.0.0.1
        test::ChildProcess browser;
        const auto open = [&](const std::string& url) {
            if (!c.cancel)
                browser.start({"/usr/bin/python3", "-c",
                               "import sys, urllib.request as u; "
                               "u.build_opener(u.ProxyHandler({})).open(sys.argv[1]).read()",
                               url});
            return true;
        };
        std::atomic<char> cancel{0};
        std::string shown;
        const app::MailSignInOutcome outcome = app::runMailSignIn(
            setup.client, open,
            [&](const std::string& url) {
                shown = url;
                if (c.cancel)
                    cancel.store(1);
            },
            cancel);
        EXPECT_EQ(shown.rfind(authority.url("/authorize?"), 0), 0u) << shown;
        EXPECT_EQ(outcome.cancelled, c.cancel);
        const std::string failure = app::finishMailSignIn(settings, outcome, values[ConfigField::UserName]);
        EXPECT_NE(failure.find(c.failure), std::string::npos) << failure;
        EXPECT_EQ(failure.empty(), !*c.failure) << failure;

        const bool signedIn = !c.cancel && !*c.failure;
        base::AppSettings reread(dir.file("settings.ini")); // kept at once, before any OK
        EXPECT_EQ(reread.plainSecret(setting::OAuthRefreshToken).empty(), !signedIn);
        EXPECT_EQ(reread.value(setting::OAuthSignedIn), signedIn ? "2026-12-10T07:41Z alice@firm.test" : "");
        EXPECT_EQ(app::mailSignInView(values, reread).button, signedIn ? "Sign &in again..." : "Sign &in...");
        if (signedIn) {
            EXPECT_NE(authority.log().find("authorization_code"), std::string::npos);
        }
        base::forgetMailAccessToken();
    }
}

} // namespace
