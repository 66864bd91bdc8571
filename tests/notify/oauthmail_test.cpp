#include "base/oauthsignin.h"
#include "core/entry.h"
#include "notify/templates.h"
#include "support/files.h"
#include "support/oauthauthority.h"
#include "support/queuefixture.h"

#include <gtest/gtest.h>

using namespace tarnwick;
namespace setting = base::setting;

namespace {

class OAuthMailTest : public test::QueueFixture {
public:
    OAuthMailTest() : QueueFixture("me@example.test", {"n1@example.test"}) {}
    void TearDown() override { base::forgetMailAccessToken(); }
};

// A sign-in that cannot give a token sends nothing: the messages stay queued and the reason is logged.
TEST_F(OAuthMailTest, AFailedSignInKeepsTheMessagesQueued)
{
    const struct {
        const char* scenario;
        const char* clientId;
        bool signIn;
        const char* control; // posted after the sign-in
        std::string error;   // the start of the batch's error
    } cases[] = {
        {"no client id", "", false, nullptr, "OAuthClientId is empty. Register Tarnwick"},
        {"never signed in", "tarnwick-test", false, nullptr, base::k_notSignedIn},
        {"refresh token revoked", "tarnwick-test", true, "/test/revoke", base::k_signInExpired},
    };
    test::SmtpSink sink;
    sink.start();
    useSink(sink);
    int queued = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        test::OAuthAuthority authority;
        if (!authority.start())
            GTEST_SKIP() << authority.why;
        settings.setValue(setting::SmtpAuth, "oauth2");
        settings.setValue(setting::OAuthProvider, "custom");
        settings.setValue(setting::OAuthAuthorizeUrl, authority.url("/authorize"));
        settings.setValue(setting::OAuthTokenUrl, authority.url("/token"));
        settings.setValue(setting::OAuthDeviceUrl, authority.url("/device"));
        settings.setValue(setting::OAuthClientId, c.clientId);
        settings.setValue(setting::OAuthRefreshToken, "");
        base::forgetMailAccessToken();
        if (c.signIn) {
            net::SignInHooks hooks;
            hooks.wait = [&authority](int) { return authority.control("/test/approve") == 204; };
            ASSERT_TRUE(base::storeSignIn(settings, net::signInWithDevice(base::oauthSetup(settings).client, hooks)));
            // a later run of the program, as in auto mode, holds no access token: it starts from the refresh token
            base::forgetMailAccessToken();
        }
        if (c.control) {
            EXPECT_EQ(authority.control(c.control), 204);
        }
        core::Entry entry(45000);
        entry.RegNum = std::to_string(1000000 + queued);
        ASSERT_EQ(queue.PostEmail(entry, notify::templateid::EntryAdded, "a"), "");
        ++queued;

        queue.processPending(false, false);
        EXPECT_EQ(queue.lastBatchError().rfind(c.error, 0), 0u) << queue.lastBatchError();
        EXPECT_EQ(queue.pendingCount(), queued);
        EXPECT_NE(test::readAll(log.path()).find(c.error), std::string::npos);
    }
    EXPECT_TRUE(sink.messages().empty());
}

} // namespace
