#include "base/oauthsignin.h"

#include "base/settings.h"
#include "platform/settingsfile.h"
#include "support/oauthauthority.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace tarnwick;
using base::AppSettings;
namespace setting = base::setting;

namespace {

TEST(OAuthSettings, StoredValuesAreChecked)
{
    const struct {
        const char* name;
        const char* value;
        bool settable;
    } cases[] = {
        {"SmtpAuth", "password", true},
        {"SmtpAuth", "OAuth2", true},
        {"SmtpAuth", "basic", false},
        {"OAuthProvider", "microsoft", true},
        {"OAuthProvider", "Google", true},
        {"OAuthProvider", "custom", true},
        {"OAuthProvider", "yahoo", false},
        {"OAuthTenant", "contoso.onmicrosoft.com", true},
        {"OAuthTenant", "9188040d-6c67-4c5b-b112-36a304b66dad", true},
        {"OAuthTenant", "common/../x", false},
        {"OAuthTokenUrl", "https://idp.example.com/token", true},
        {"OAuthAuthorizeUrl", "http://127.0.0.1:9000/authorize", true},
        {"OAuthDeviceUrl", "http://idp.example.com/device", false},
        {"OAuthTokenUrl", "", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + "=" + c.value);
        const platform::Result checked = AppSettings::checkValue(c.name, c.value);
        EXPECT_EQ(static_cast<bool>(checked), c.settable);
        if (!c.settable) {
            EXPECT_NE(checked.error().find(c.name), std::string::npos) << checked.error();
        }
    }
}

TEST(OAuthSettings, ProviderGivesTheAuthority)
{
    const struct {
        const char* provider;
        const char* tenant;
        const char* clientId;
        const char* tokenUrl; // of the setup; empty when it fails
        const char* error;    // a part of the failure
    } cases[] = {
        {"", "", "id", "https://login.microsoftonline.com/organizations/oauth2/v2.0/token", ""},
        {"Microsoft", "contoso.onmicrosoft.com", "id",
         "https://login.microsoftonline.com/contoso.onmicrosoft.com/oauth2/v2.0/token", ""},
        {"google", "ignored", "id", "https://oauth2.googleapis.com/token", ""},
        {"custom", "", "id", "", "OAuthAuthorizeUrl is empty"},
        {"microsoft", "", "", "", "Microsoft Entra admin center"},
        {"google", "", "", "", "client secret as OAuthClientSecret"},
        {"custom", "", "", "", "redirect to http://127.0.0.1"},
    };
    test::TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.provider) + "/" + c.clientId);
        AppSettings s(dir.file("settings.ini"));
        s.setValue(setting::OAuthProvider, c.provider);
        s.setValue(setting::OAuthTenant, c.tenant);
        s.setValue(setting::OAuthClientId, c.clientId);
        const base::OAuthSetup setup = base::oauthSetup(s);
        if (*c.error) {
            EXPECT_NE(setup.error.find(c.error), std::string::npos) << setup.error;
        } else {
            EXPECT_EQ(setup.error, "");
        }
        if (*c.tokenUrl) {
            EXPECT_EQ(setup.client.endpoints.tokenUrl, c.tokenUrl);
        }
    }
}

class MailAccessToken : public ::testing::Test {
protected:
    // Points the settings at `authority` and signs in through it by device code, as mail-login does.
    bool signIn(test::OAuthAuthority& authority, const std::vector<std::string>& args = {})
    {
        if (!authority.start(args))
            return false;
        settings.setValue(setting::SmtpAuth, "oauth2");
        settings.setValue(setting::OAuthProvider, "custom");
        settings.setValue(setting::OAuthAuthorizeUrl, authority.url("/authorize"));
        settings.setValue(setting::OAuthTokenUrl, authority.url("/token"));
        settings.setValue(setting::OAuthDeviceUrl, authority.url("/device"));
        settings.setValue(setting::OAuthClientId, "tarnwick-test");
        net::SignInHooks hooks;
        hooks.wait = [&authority](int) { return authority.control("/test/approve") == 204; };
        base::forgetMailAccessToken();
        EXPECT_TRUE(base::storeSignIn(settings, net::signInWithDevice(base::oauthSetup(settings).client, hooks)));
        return true;
    }
    static int refreshes(const test::OAuthAuthority& authority)
    {
        int n = 0;
        const std::string log = authority.log();
        for (std::size_t at = 0; (at = log.find(R"("grant_type": "refresh_token")", at)) != std::string::npos; ++at)
            ++n;
        return n;
    }

    void TearDown() override { base::forgetMailAccessToken(); }

    test::TempDir dir;
    AppSettings settings{dir.file("settings.ini")};
};

TEST_F(MailAccessToken, HeldUntilItsLastMinuteThenRenewed)
{
    const struct {
        const char* scenario;
        std::vector<std::string> args;
        bool force;
        int refreshes; // for two calls
    } cases[] = {
        {"an hour to live: held", {}, false, 0},
        {"forced: renewed each time", {}, true, 2},
        {"half a minute to live: renewed each time", {"--access-lifetime", "30"}, false, 2},
        {"a lifetime past the clock's range: held", {"--access-lifetime", "99999999999999999999"}, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        test::OAuthAuthority authority;
        if (!signIn(authority, c.args))
            GTEST_SKIP() << authority.why;
        const std::string firstRefresh = settings.plainSecret(setting::OAuthRefreshToken);
        const base::AccessToken a = base::mailAccessToken(settings, nullptr, c.force);
        const base::AccessToken b = base::mailAccessToken(settings, nullptr, c.force);
        ASSERT_EQ(a.error, "");
        ASSERT_EQ(b.error, "");
        EXPECT_EQ(a.token == b.token, c.refreshes == 0);
        EXPECT_EQ(refreshes(authority), c.refreshes);
        // the authority hands out a new refresh token with each renewal: the stored one follows it
        AppSettings reread(settings.path());
        EXPECT_EQ(reread.plainSecret(setting::OAuthRefreshToken) == firstRefresh, c.refreshes == 0);
        struct stat st {};
        ASSERT_EQ(::stat(settings.path().c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
    }
}

TEST_F(MailAccessToken, FailuresSayWhatToDo)
{
    const struct {
        const char* scenario;
        bool signedIn;
        const char* control; // posted after the sign-in
        bool stopAuthority;
        std::string error;
    } cases[] = {
        {"never signed in", false, nullptr, false, base::k_notSignedIn},
        {"refresh token revoked", true, "/test/revoke", false, base::k_signInExpired},
        {"authority unreachable", true, nullptr, true, "Network: Unable to initiate session (connection refused)."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        test::OAuthAuthority authority;
        if (!signIn(authority))
            GTEST_SKIP() << authority.why;
        if (!c.signedIn)
            settings.setValue(setting::OAuthRefreshToken, "");
        if (c.control) {
            EXPECT_EQ(authority.control(c.control), 204);
        }
        if (c.stopAuthority)
            authority.stop();
        const base::AccessToken token = base::mailAccessToken(settings, nullptr, true);
        EXPECT_EQ(token.token, "");
        EXPECT_EQ(token.error, c.error);
    }
}

TEST_F(MailAccessToken, ASignInMadeByAnotherProgramCounts)
{
    test::OAuthAuthority authority;
    if (!signIn(authority))
        GTEST_SKIP() << authority.why;
    ASSERT_TRUE(settings.writeAll());
    // a window started before tarnwick-cli mail-login signed in again and the old sign-in was revoked
    AppSettings window(settings.path());
    EXPECT_EQ(authority.control("/test/revoke"), 204);
    net::SignInHooks hooks;
    hooks.wait = [&authority](int) { return authority.control("/test/approve") == 204; };
    ASSERT_TRUE(base::storeSignIn(settings, net::signInWithDevice(base::oauthSetup(settings).client, hooks)));
    base::forgetMailAccessToken();
    const base::AccessToken token = base::mailAccessToken(window, nullptr, true);
    EXPECT_EQ(token.error, "");
    EXPECT_NE(token.token, "");
}

} // namespace
