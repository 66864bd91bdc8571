#include "net/oauthflow.h"

#include "flowcapture.h"
#include "support/oauthauthority.h"
#include "support/runcli.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace tarnwick::net {
namespace {

using test::OAuthAuthority;

TEST(AuthorityAddress, HttpsOrLoopbackOnly)
{
    const struct {
        const char* url;
        bool allowed;
    } cases[] = {
        {"https://login.microsoftonline.com/organizations/oauth2/v2.0/token", true},
        {"HTTPS://oauth2.googleapis.com/token", true},
        {"http://127.0.0.1:8080/token", true},
        {"http://127.9.8.7/token", true},
        {"http://[::1]:9000/token", true},
        {"http://localhost/token", false}, // a name may resolve anywhere
        {"http://128.0.0.1/token", false},
        {"http://login.example.com/token", false},
        {"http://127.0.0.1@evil.example/token", false},
        {"http://127.0.0.1#@evil.example/token", false},
        {"http://127.0.0.1?.evil.example/token", false},
        {"https://idp.example.com/token?tenant=a#b", true},
        {"http://[::2]/token", false},
        {"ftp://127.0.0.1/token", false},
        {"127.0.0.1/token", false},
        {"https:///token", false},
        {"https://host/to ken", false},
        {"", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        EXPECT_EQ(isAllowedAuthorityUrl(c.url), c.allowed);
    }
}

TEST(AuthorityAnswer, FlatJsonObjects)
{
    const struct {
        const char* json;
        bool valid;
        const char* name;
        const char* value;
    } cases[] = {
        {R"({"access_token":"a.b-c","expires_in":3599})", true, "expires_in", "3599"},
        {R"( { "error" : "invalid_grant" , "error_codes":[70000,{"x":"]"}] } )", true, "error", "invalid_grant"},
        {R"({"d":"\u00e9\ud83d\ude00\"\\\/"})", true, "d", "\xc3\xa9\xf0\x9f\x98\x80\"\\/"},
        {R"({"lone":"\ud800"})", true, "lone", "\xef\xbf\xbd"},
        {R"({"ok":true,"n":null})", true, "ok", "true"},
        {"{}", true, "", ""},
        {R"({"a":"b"} trailing)", false, "", ""},
        {R"({"a":"b",})", false, "", ""},
        {R"({"a":"line
break"})",
         false, "", ""},
        {R"(["a"])", false, "", ""},
        {"<html>", false, "", ""},
        {"", false, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.json);
        const auto fields = readJsonObject(c.json);
        ASSERT_EQ(fields.has_value(), c.valid);
        if (c.valid && *c.name) {
            EXPECT_EQ(fields->at(c.name), c.value);
        }
    }
}

// What an authority says reaches the log and the boxes as one line of its own words.
TEST(AuthorityAnswer, ARefusalIsOneLine)
{
    const struct {
        const char* code;
        std::string description;
        std::string message;
    } cases[] = {
        {"invalid_grant", "", "The sign-in authority refused: invalid_grant"},
        {"invalid_grant", "AADSTS70000:\r\nForged: line\x1b[2J",
         "The sign-in authority refused: invalid_grant (AADSTS70000:  Forged: line [2J)"},
        {"x\ny", std::string(400, 'd'), "The sign-in authority refused: x y (" + std::string(300, 'd') + ")"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        const OAuthRefusal refusal(c.code, c.description);
        EXPECT_EQ(refusal.message(), c.message);
        EXPECT_EQ(refusal.code(), c.code); // compared as the authority sent it
    }
}

TEST(ProofKey, ChallengeIsTheVerifiersS256)
{
    // the example of the proof key's definition
    EXPECT_EQ(pkceChallenge("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"),
              "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM");
    const PkcePair a = makePkcePair();
    const PkcePair b = makePkcePair();
    EXPECT_NE(a.verifier, b.verifier);
    EXPECT_GE(a.verifier.size(), 43u);
    EXPECT_LE(a.verifier.size(), 128u);
    EXPECT_EQ(a.verifier.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~"),
              std::string::npos);
}

// The whole answer to "GET `path`" at 127.0.0.1:`port`, headers included.
std::string rawGet(int port, const std::string& path)
{
    return test::loopbackExchange(port, "GET " + path + " HTTP/1.0\r\n\r\n");
}

// A browser for the tests: asks the authority for the sign-in page (after `change` edits its address) and follows
// its redirect to the loopback listener, on its own thread, as a person's browser would.
struct TestBrowser {
    std::function<std::string(std::string)> change = [](std::string url) { return url; };
    std::string opened;
    std::thread thread;

    ~TestBrowser()
    {
        if (thread.joinable())
            thread.join();
    }
    bool open(const std::string& address)
    {
        opened = address;
        const std::string url = change(address);
        thread = std::thread([url] {
            const std::size_t hostStart = url.find("://") + 3;
            const std::size_t path = url.find('/', hostStart);
            const int port = std::atoi(url.c_str() + url.find(':', hostStart) + 1);
            const std::string reply = rawGet(port, url.substr(path));
            const std::size_t at = reply.find("Location: ");
            if (at == std::string::npos)
                return;
            const std::string location = reply.substr(at + 10, reply.find("\r\n", at) - at - 10);
            const std::size_t to = location.find(':', 7);
            (void)rawGet(std::atoi(location.c_str() + to + 1), location.substr(location.find('/', 7)));
        });
        return true;
    }
};

class OAuthSignIn : public ::testing::Test {
protected:
    void startAuthority(const std::vector<std::string>& args = {})
    {
        if (!authority.start(args))
            GTEST_SKIP() << authority.why;
        client.endpoints = {authority.url("/authorize"), authority.url("/token"), authority.url("/device"),
                            "smtp offline_access"};
        client.clientId = "tarnwick-test";
        hooks.openBrowser = [this](const std::string& url) { return browser.open(url); };
        hooks.tell = [this](const std::string& line) { told.push_back(line); };
        hooks.wait = [this](int seconds) {
            waits.push_back(seconds);
            // the person approves while the program waits for the first time
            if (approveOnWait && waits.size() == 1) {
                EXPECT_EQ(authority.control(approveOnWait), 204);
            }
            return true;
        };
        hooks.flowLog = &flow.log;
        hooks.browserTimeoutSeconds = 20;
    }

    OAuthAuthority authority;
    OAuthClient client;
    SignInHooks hooks;
    TestBrowser browser;
    test::FlowCapture flow;
    std::vector<std::string> told;
    std::vector<int> waits;
    const char* approveOnWait = "/test/approve";
};

TEST_F(OAuthSignIn, BothFlowsGiveTokensAndTheFlowLogShowsNone)
{
    startAuthority();
    if (IsSkipped())
        return;
    for (const bool byDevice : {false, true}) {
        SCOPED_TRACE(byDevice ? "device" : "browser");
        const OAuthTokens tokens = byDevice ? signInWithDevice(client, hooks) : signInWithBrowser(client, hooks);
        EXPECT_EQ(tokens.accessToken.rfind("at-", 0), 0u);
        EXPECT_EQ(tokens.refreshToken.rfind("rt-", 0), 0u);
        EXPECT_EQ(tokens.expiresIn, 3600);
        const OAuthTokens renewed = refreshTokens(client, tokens.refreshToken, &flow.log);
        EXPECT_NE(renewed.accessToken, tokens.accessToken);
        for (const std::string& line : flow.texts()) {
            for (const std::string& secret : {tokens.accessToken, tokens.refreshToken, renewed.accessToken,
                                              renewed.refreshToken, std::string("code-"), std::string("dc-")})
                EXPECT_EQ(line.find(secret), std::string::npos) << line;
        }
    }
    EXPECT_NE(browser.opened.find("code_challenge_method=S256"), std::string::npos);
    EXPECT_NE(browser.opened.find("&state="), std::string::npos);
    ASSERT_FALSE(told.empty());
    EXPECT_NE(told.back().find("enter the code "), std::string::npos) << told.back();
    EXPECT_NE(authority.log().find(R"("grant_type": "authorization_code", "client_id": "tarnwick-test", "pkce": true)"),
              std::string::npos);
}

// A browser that opens a connection it sends nothing on, beside the one that carries the answer, holds up nothing.
TEST_F(OAuthSignIn, ASilentConnectionHoldsUpNothing)
{
    startAuthority();
    if (IsSkipped())
        return;
    int silent = -1;
    hooks.openBrowser = [&](const std::string& url) {
        const std::size_t at = url.find("127.0.0.1%3A");
        silent = test::connectLoopback(std::atoi(url.c_str() + at + 12));
        return browser.open(url);
    };
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(signInWithBrowser(client, hooks).refreshToken.empty());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_GE(silent, 0);
    ::close(silent);
}

// Each answer of the authority while the device sign-in waits, and what the program does with it.
TEST_F(OAuthSignIn, DevicePollingFollowsTheAuthority)
{
    const struct {
        const char* scenario;
        std::vector<std::string> args;
        const char* before; // a control posted before the sign-in
        const char* onWait; // posted at the wait numbered `at`
        std::size_t at;
        const char* refusal; // empty: signed in
        std::vector<int> waits;
    } cases[] = {
        {"pending, then approved", {}, nullptr, "/test/approve", 2, "", {1, 1}},
        {"slow down adds five seconds", {}, "/test/slow-down", "/test/approve", 2, "", {1, 6}},
        {"refused", {}, nullptr, "/test/deny", 1, "access_denied", {1}},
        {"expired", {"--device-lifetime", "0"}, nullptr, nullptr, 0, "expired_token", {1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        OAuthAuthority own;
        if (!own.start(c.args))
            GTEST_SKIP() << own.why;
        client.endpoints = {own.url("/authorize"), own.url("/token"), own.url("/device"), "smtp"};
        client.clientId = "tarnwick-test";
        std::vector<int> seen;
        hooks.wait = [&](int seconds) {
            seen.push_back(seconds);
            if (seen.size() == c.at) {
                EXPECT_EQ(own.control(c.onWait), 204);
            }
            return true;
        };
        if (c.before) {
            EXPECT_EQ(own.control(c.before), 204);
        }
        try {
            const OAuthTokens tokens = signInWithDevice(client, hooks);
            EXPECT_STREQ(c.refusal, "");
            EXPECT_FALSE(tokens.refreshToken.empty());
        } catch (const OAuthRefusal& refusal) {
            EXPECT_EQ(refusal.code(), c.refusal);
        }
        EXPECT_EQ(seen, c.waits);
    }
}

// A redirect that is not the answer to this sign-in is not taken, and a code is good only with its verifier.
TEST_F(OAuthSignIn, BrowserSignInRefusesForeignAnswers)
{
    startAuthority();
    if (IsSkipped())
        return;
    const struct {
        const char* scenario;
        const char* control;
        std::function<std::string(std::string)> change;
        const char* message;
    } cases[] = {
        {"another state", "/test/wrong-state", nullptr, "does not carry the state Tarnwick sent"},
        {"another proof key", nullptr,
         [](std::string url) {
             const std::size_t at = url.find("code_challenge=") + 15;
             return url.replace(at, 43, pkceChallenge("another-verifier-of-forty-three-characters-x"));
         },
         "invalid_grant"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        TestBrowser foreign;
        if (c.change)
            foreign.change = c.change;
        hooks.openBrowser = [&](const std::string& url) { return foreign.open(url); };
        if (c.control) {
            EXPECT_EQ(authority.control(c.control), 204);
        }
        try {
            signInWithBrowser(client, hooks);
            ADD_FAILURE() << "signed in";
        } catch (const tasks::CAppError& e) {
            EXPECT_NE(e.message().find(c.message), std::string::npos) << e.message();
        }
    }
    EXPECT_NE(authority.log().find(R"("pkce": false, "result": "invalid_grant")"), std::string::npos);
}

} // namespace
} // namespace tarnwick::net

namespace tarnwick::net {
namespace {

TEST(MailLoginCommand, SignsInByCodeAndKeepsTheTokenSecret)
{
    OAuthAuthority authority;
    if (!authority.start())
        GTEST_SKIP() << authority.why;
    test::TempDir dir;
    const std::string settings = dir.file("settings.ini");
    // the person approves on another device while the command waits
    std::atomic<bool> done{false};
    std::thread person([&] {
        while (!done && authority.control("/test/approve") != 204)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    });
    const struct {
        std::vector<std::string> args;
        int exit;
        const char* out; // a part of the output (standard output and error)
    } steps[] = {
        {{"mail-login", "--device"}, 1, "OAuthClientId is empty. Register Tarnwick in the Microsoft Entra"},
        {{"config", "set", "OAuthProvider", "custom"}, 0, ""},
        {{"config", "set", "OAuthTokenUrl", "http://example.com/token"}, 1, "OAuthTokenUrl is an https address"},
        {{"config", "set", "OAuthAuthorizeUrl", authority.url("/authorize")}, 0, ""},
        {{"config", "set", "OAuthTokenUrl", authority.url("/token")}, 0, ""},
        {{"config", "set", "OAuthDeviceUrl", authority.url("/device")}, 0, ""},
        {{"config", "set", "OAuthClientId", "tarnwick-test"}, 0, ""},
        {{"mail-login", "--device"}, 0, "Signed in to the mail server's authority."},
        {{"config", "get", "OAuthRefreshToken"}, 0, "(set)"},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.args[0] + " " + step.args[1]);
        const test::CliRun run = test::runCliInProcess(step.args, settings);
        EXPECT_EQ(run.exit, step.exit) << run.err;
        EXPECT_NE((run.out + run.err).find(step.out), std::string::npos) << run.out << run.err;
    }
    done = true;
    person.join();
    const test::CliRun list = test::runCliInProcess({"config", "list"}, settings);
    EXPECT_EQ(list.out.find("OAuthRefreshToken"), std::string::npos) << list.out;
    EXPECT_NE(platform::readFile(settings).value_or("").find("OAuthRefreshToken="), std::string::npos);
}

} // namespace
} // namespace tarnwick::net
