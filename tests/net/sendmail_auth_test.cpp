// Logins against a real SMTP server on loopback: aiosmtpd through tests/net/smtp_auth_peer.py, offering the mechanisms
// each case names and recording the commands it receives.
#include "flowcapture.h"
#include "net/base64.h"
#include "net/sendmail.h"
#include "net/socketconnection.h"
#include "support/peers.h"
#include "support/testca.h"
#include "tasks/errors.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

using namespace tarnwick;
using namespace tarnwick::net;
using namespace std::chrono_literals;

namespace {

using Lines = std::vector<std::string>;

// The login server: offers `offer`, takes the user "tester" with the password "secret" or the token "tok-1"; with
// `certs`, it wants STARTTLS first and offers AUTH only after it.
class AuthPeer {
public:
    AuthPeer(const std::string& offer, const test::TestCa* certs = nullptr)
    {
        std::vector<std::string> argv = {"/usr/bin/python3",
                                         std::string(TARNWICK_SOURCE_DIR) + "/tests/net/smtp_auth_peer.py"};
        argv.insert(argv.end(), {"--port", "0", "--record", m_dir.file("record"), "--offer", offer, "--password",
                                 "secret", "--token", "tok-1"});
        if (certs)
            argv.insert(argv.end(), {"--tls", "starttls", "--cert", certs->certFile(), "--key", certs->keyFile()});
        m_child.start(argv);
        const std::string line = m_child.readLine(30000);
        m_port = line.empty() ? 0 : std::stoi(line);
        if (m_port <= 0)
            throw std::runtime_error("the login server did not start");
    }
    std::string server() const { return "localhost:" + std::to_string(m_port); }
    // What the server recorded, one event a line, the lines joined by "; ".
    std::string record() const
    {
        std::string text = test::readAll(m_dir.file("record"));
        for (std::size_t at = 0; (at = text.find('\n', at)) != std::string::npos;)
            text.replace(at, 1, at + 1 == text.size() ? "" : "; ");
        return text;
    }

private:
    test::TempDir m_dir;
    test::ChildProcess m_child;
    int m_port = 0;
};

class SendMailLogin : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (std::system("/usr/bin/python3 -c 'import aiosmtpd' >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "needs aiosmtpd (the Debian package python3-aiosmtpd)";
    }

    static MailRequest request(const std::string& server, bool oauth2, FlowLog* log = nullptr)
    {
        MailRequest r(log, "SendMail: ");
        r.server = server;
        r.userName = "tester";
        r.password = "secret";
        r.oauth2 = oauth2;
        r.accessToken = oauth2 ? "tok-1" : "";
        r.sender = "s@example.test";
        r.to = "a@example.test";
        r.message = "Subject: login\r\n\r\nbody\r\n";
        return r;
    }
    static std::string failureOf(MailRequest& r)
    {
        try {
            SendMail(r);
        } catch (const tasks::CAppError& e) {
            return e.message();
        }
        return "";
    }
};

} // namespace

TEST(SendMailAuth, MechanismsFromTheEhloReply)
{
    struct Case {
        std::string reply;
        Lines mechanisms;
    };
    const Case cases[] = {
        {"250-x\r\n250-AUTH PLAIN LOGIN\r\n250 HELP\r\n", {"PLAIN", "LOGIN"}},
        // the old "AUTH=" form beside the standard one, lower case, each name once
        {"250-x\r\n250-AUTH=login\r\n250-auth LOGIN  cram-md5\r\n250 HELP\r\n", {"LOGIN", "CRAM-MD5"}},
        // the first line names the server, not an extension
        {"250-AUTH PLAIN\r\n250 HELP\r\n", {}},
        {"250-x\r\n250-AUTHX PLAIN\r\n250 AUTH\r\n", {}},
        // what is no SASL name never reaches a message
        {"250-x\r\n250 AUTH PL\1AIN XOAUTH2 A23456789012345678901 OAUTH.BEARER\r\n", {"XOAUTH2"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply);
        EXPECT_EQ(authMechanisms(c.reply), c.mechanisms);
    }
}

TEST_F(SendMailLogin, TheMechanismComesFromTheServersOffer)
{
    struct Case {
        std::string offer;
        bool oauth2;
        std::string record; // what the server saw
        std::string error;  // empty: delivered
        std::string user = "tester";
    };
    const std::string sent = "; MAIL; DELIVERED tester";
    const Case cases[] = {
        {"PLAIN", false, "EHLO; AUTH PLAIN" + sent, ""},
        {"LOGIN", false, "EHLO; AUTH LOGIN" + sent, ""},
        {"LOGIN PLAIN", false, "EHLO; AUTH PLAIN" + sent, ""},
        {"CRAM-MD5", false, "EHLO", "SMTP: The server offers neither AUTH PLAIN nor AUTH LOGIN; it offers CRAM-MD5."},
        {"", false, "EHLO", "SMTP: The server offers no login."},
        {"XOAUTH2", true, "EHLO; AUTH XOAUTH2" + sent, ""},
        {"OAUTHBEARER PLAIN", true, "EHLO; AUTH OAUTHBEARER" + sent, ""},
        {"XOAUTH2 OAUTHBEARER", true, "EHLO; AUTH XOAUTH2" + sent, ""},
        {"PLAIN LOGIN", true, "EHLO",
         "SMTP: The server offers neither AUTH XOAUTH2 nor AUTH OAUTHBEARER; it offers LOGIN, PLAIN."},
        // the token needs its account, and a name that could write the response's next field goes nowhere
        {"XOAUTH2", true, "EHLO",
         "SMTP: The sign-in needs the mail account it is for; enter it as the user name (Configure, or "
         "tarnwick-cli config set UserName ADDRESS).",
         ""},
        {"XOAUTH2", true, "EHLO", "SMTP: The user name contains a control character; correct it in Configure.",
         "tester\1auth=Bearer forged"},
    };
    // what would carry a secret onto the flow log: the secrets, and the start of each encoded login
    const std::string secrets[] = {"secret",
                                   "tok-1",
                                   base64Encode("secret"),
                                   base64Encode(std::string("\0tester\0secret", 14)).substr(0, 16),
                                   base64Encode("user=tester\1auth=Bearer tok-1\1\1").substr(0, 16),
                                   base64Encode("n,a=tester,\1auth=Bearer tok-1\1\1").substr(0, 16)};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.offer + (c.oauth2 ? " with a token" : " with a password"));
        AuthPeer peer(c.offer);
        test::FlowCapture flow;
        MailRequest r = request(peer.server(), c.oauth2, &flow.log);
        r.userName = c.user;
        EXPECT_EQ(failureOf(r), c.error);
        EXPECT_EQ(peer.record(), c.record);
        for (const std::string& secret : secrets)
            EXPECT_FALSE(flow.contains(secret)) << secret;
    }
}

TEST_F(SendMailLogin, ARefusedTokenIsToldApart)
{
    struct Case {
        std::string offer;
        std::string acknowledgement; // the client's answer to the error challenge, hex
    };
    // XOAUTH2 answers the error with an empty response, OAUTHBEARER with a lone ^A
    const Case cases[] = {{"XOAUTH2", ""}, {"OAUTHBEARER", "01"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.offer);
        AuthPeer peer(c.offer);
        MailRequest r = request(peer.server(), true);
        r.accessToken = "expired";
        struct Host : tasks::TaskHost {
            bool cancelRequested() const override { return false; }
            void dispatch(int) override { std::this_thread::sleep_for(2ms); }
        } host;
        // through the worker task, as the queue sends: the refusal keeps its own type
        try {
            runSendMailTask(host, r, 30000);
            ADD_FAILURE() << "no error";
        } catch (const TokenRejected& e) {
            EXPECT_EQ(e.message(),
                      "SMTP: The server refused the sign-in token. (535 5.7.8 Username and Password not accepted)");
        }
        EXPECT_EQ(peer.record(), "EHLO; AUTH " + c.offer + "; ACK " + c.acknowledgement);
    }
}

TEST_F(SendMailLogin, TheDialogueStartsOverAfterStartTls)
{
    const test::TestCa certs;
    ASSERT_TRUE(certs.ok()) << "the openssl command could not make the test CA";
    struct Case {
        MailSecurity security;
        bool tls; // the server offers STARTTLS, and AUTH only after it
        std::string offer;
        bool oauth2;
        std::string user;
        std::string record;
        std::string error;
    };
    const std::string secured = "EHLO; STARTTLS; EHLO; ";
    const Case cases[] = {
        {MailSecurity::StartTls, true, "PLAIN", false, "tester", secured + "AUTH PLAIN; MAIL; DELIVERED tester", ""},
        {MailSecurity::StartTlsWhenOffered, true, "XOAUTH2", true, "tester",
         secured + "AUTH XOAUTH2; MAIL; DELIVERED tester", ""},
        // without a login the secured dialogue greets with EHLO too
        {MailSecurity::StartTlsWhenOffered, true, "PLAIN", false, "", secured + "MAIL; DELIVERED ", ""},
        // the token, like a password, never goes out unprotected unless the settings say so
        {MailSecurity::StartTlsWhenOffered, false, "XOAUTH2", true, "tester", "EHLO", msg::k_noStartTlsToken},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.offer + (c.tls ? " after STARTTLS" : " in clear") + " user " + c.user);
        AuthPeer peer(c.offer, c.tls ? &certs : nullptr);
        MailRequest r = request(peer.server(), c.oauth2);
        r.security = c.security;
        r.caFile = certs.caFile();
        r.userName = c.user;
        EXPECT_EQ(failureOf(r), c.error);
        EXPECT_EQ(peer.record(), c.record);
    }
}
