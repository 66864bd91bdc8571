// The program's mail through a submission server that signs in for real (Postfix, Dovecot and the local OAuth
// authority), driven as a user drives it: tarnwick-cli commands with a data directory and settings.
#include "app/commandline.h"
#include "base/oauthsignin.h"
#include "platform/files.h"
#include "support/mailrig.h"
#include "support/office.h"
#include "support/runcli.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

using namespace tarnwick;
using test::MailRig;

namespace {

constexpr const char* k_notifyAddress = "paralegal@example.test";

// A user's settings and logging directory, set to send through the rig.
class Desk {
public:
    Desk(const MailRig& rig, bool oauth2)
    {
        std::filesystem::create_directory(logDir());
        std::vector<std::vector<std::string>> settings = {
            {"LogDir", logDir()},
            {"ReturnAddress", "tarnwick@example.test"},
            {"NotifyAddress", k_notifyAddress},
            {"SendUsageReports", "0"},
            {"SmtpServer", rig.address()},
            {"SmtpSecurity", "starttls"},
            {"CaFile", rig.caFile()},
        };
        if (oauth2) {
            settings.insert(settings.end(), {{"SmtpAuth", "oauth2"},
                                             {"UserName", MailRig::oauthUser()},
                                             {"OAuthProvider", "custom"},
                                             {"OAuthAuthorizeUrl", rig.authorityUrl("/authorize")},
                                             {"OAuthTokenUrl", rig.authorityUrl("/token")},
                                             {"OAuthDeviceUrl", rig.authorityUrl("/device")},
                                             {"OAuthClientId", MailRig::clientId()}});
        } else {
            settings.insert(settings.end(), {{"UserName", MailRig::passwordUser()}, {"Password", MailRig::password()}});
        }
        for (const std::vector<std::string>& s : settings) {
            const test::CliRun set = run({"config", "set", s[0], s[1]});
            EXPECT_EQ(set.exit, 0) << s[0] << ": " << set.err;
        }
    }

    // the access token this process holds goes with the authority that gave it
    ~Desk() { base::forgetMailAccessToken(); }
    Desk(const Desk&) = delete;
    Desk& operator=(const Desk&) = delete;

    test::CliRun run(const std::vector<std::string>& args) const
    {
        return test::runCliInProcess(args, m_dir.file("settings.ini"));
    }

    // `mail-login --device`, the person approving the sign-in on another device while the command waits.
    test::CliRun signIn(MailRig& rig) const
    {
        std::atomic<bool> done{false};
        std::thread person([&] {
            while (!done && !rig.control("approve"))
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
        });
        test::CliRun r = run({"mail-login", "--device"});
        done = true;
        person.join();
        return r;
    }

    // Adds `count` marks, each queueing its notice; they are never due, so that auto mode only sends.
    void addMarks(int count)
    {
        for (int i = 0; i < count; ++i) {
            const test::CliRun added = run({"add", std::to_string(75000001 + m_marks++), "--frequency", "Never"});
            EXPECT_EQ(added.exit, 0) << added.err;
        }
    }

    std::string logDir() const { return m_dir.file("log"); }
    // The messages the pending list names.
    int queued() const
    {
        const std::string list = platform::readFile(logDir() + "/Tarnwick_pending.tmp").value_or("");
        return static_cast<int>(std::count(list.begin(), list.end(), '\n'));
    }
    std::string log() const { return platform::readFile(logDir() + "/Tarnwick.log").value_or(""); }

private:
    test::TempDir m_dir;
    int m_marks = 0;
};

int countOf(const std::string& text, const std::string& part)
{
    int n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

} // namespace

// The sign-in follows what the server lists after STARTTLS: a token by XOAUTH2, else OAUTHBEARER; a password by
// PLAIN, else LOGIN; a server that offers none of ours keeps the notices queued and is named with what it offers.
// Every session greets again after STARTTLS.
TEST(MailRigEndToEnd, SignsInWithWhatTheServerOffers)
{
    if (const std::string why = MailRig::unavailableReason(); !why.empty())
        GTEST_SKIP() << why;
    struct Case {
        std::string mechanisms; // the rig's
        bool oauth2;
        std::string method; // the mechanism the server files the notices with; empty: they stay queued
        std::string error;
    };
    const std::vector<Case> cases = {
        {"plain login xoauth2 oauthbearer", true, "XOAUTH2", ""},
        {"oauthbearer", true, "OAUTHBEARER", ""},
        {"login plain", false, "PLAIN", ""},
        {"login", false, "LOGIN", ""},
        {"cram-md5", false, "", "SMTP: The server offers neither AUTH PLAIN nor AUTH LOGIN; it offers CRAM-MD5."},
        {"", false, "", "SMTP: The server offers no login."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("offered: " + c.mechanisms);
        MailRig::Options options;
        options.mechanisms = c.mechanisms;
        MailRig rig(options);
        rig.start();
        Desk desk(rig, c.oauth2);
        if (c.oauth2) {
            const test::CliRun login = desk.signIn(rig);
            ASSERT_EQ(login.exit, 0) << login.err;
        }
        desk.addMarks(2);
        const test::CliRun sent = desk.run({"send"});
        const bool delivers = !c.method.empty();
        if (delivers) {
            EXPECT_EQ(sent.exit, 0) << sent.err;
            EXPECT_TRUE(sent.out.ends_with("Sent 2 message(s).\n")) << sent.out;
            ASSERT_TRUE(rig.waitForMessages(2)) << rig.log();
            for (const MailRig::Message& m : rig.messages()) {
                EXPECT_EQ(m.method, c.method);
                EXPECT_EQ(m.login, c.oauth2 ? MailRig::oauthUser() : MailRig::passwordUser());
                EXPECT_EQ(m.rcpts, std::vector<std::string>{k_notifyAddress});
            }
            EXPECT_EQ(desk.queued(), 0);
        } else {
            EXPECT_EQ(sent.exit, 1);
            EXPECT_NE(sent.err.find(c.error), std::string::npos) << sent.err;
            EXPECT_EQ(desk.queued(), 2);
            EXPECT_TRUE(rig.messages().empty());
        }
        // a failed sending stops the batch at its first message
        const std::size_t sessions = delivers ? 2 : 1;
        EXPECT_TRUE(rig.waitForSessions(sessions)) << rig.log();
        EXPECT_EQ(rig.sessions().size(), sessions);
        for (const std::string& s : rig.sessions())
            EXPECT_TRUE(s.starts_with("ehlo=2 starttls=1 ")) << s;
    }
}

// An access token that expires between two sendings is refused by the server, renewed once and the notice sent
// again; a sign-in revoked at the authority keeps the notices queued and tells the user to sign in again, in
// auto mode in the log and the exit status. Signed in again, the queue goes.
TEST(MailRigEndToEnd, AnExpiredTokenIsRenewedAndARevokedSignInKeepsTheQueue)
{
    if (const std::string why = MailRig::unavailableReason(); !why.empty())
        GTEST_SKIP() << why;
    MailRig rig;
    rig.start();
    Desk desk(rig, true);
    // the marks are read at the office simulator in auto mode
    test::OfficeSimulator office;
    office.start();
    std::filesystem::create_directory(desk.logDir() + "/Tarnwick");
    ASSERT_TRUE(platform::writeFileAtomic(desk.logDir() + "/Tarnwick/rules.txt", office.rulesText()));
    ASSERT_EQ(desk.signIn(rig).exit, 0);
    desk.addMarks(1);
    ASSERT_EQ(desk.run({"send"}).exit, 0);

    ASSERT_TRUE(rig.control("expire"));
    desk.addMarks(1);
    test::CliRun r = desk.run({"send"});
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_TRUE(rig.waitForMessages(2)) << rig.log();
    const std::string refresh = R"("grant_type": "refresh_token")";
    EXPECT_EQ(countOf(rig.authorityLog(), refresh), 1) << rig.authorityLog();
    // the first session of that sending had its token refused
    ASSERT_TRUE(rig.waitForSessions(3)) << rig.log();
    EXPECT_NE(rig.sessions()[1].find(" auth=0/1 "), std::string::npos) << rig.sessions()[1];

    ASSERT_TRUE(rig.control("revoke"));
    ASSERT_TRUE(rig.control("expire"));
    desk.addMarks(1);
    r = desk.run({"send"});
    EXPECT_EQ(r.exit, 1);
    // the mail server had no part in it: the message names none
    EXPECT_TRUE(r.err.ends_with(" - Send Notifications Failed: " + std::string(base::k_signInExpired) +
                                "\n\nThe messages stay queued and go with the next sending.\n"))
        << r.err;
    EXPECT_EQ(desk.queued(), 1);

    r = desk.run({"auto"});
    EXPECT_EQ(r.exit, app::exitcode::MailNotSent) << r.err;
    EXPECT_NE(r.err.find(base::k_signInExpired), std::string::npos) << r.err;
    std::string expired = base::k_signInExpired;
    expired.pop_back(); // the closing line puts it in brackets without its full stop
    EXPECT_NE(desk.log().find("Auto mode ends with exit status 4: the e-mail could not be sent and stays queued (" +
                              expired + ")."),
              std::string::npos)
        << desk.log();
    EXPECT_EQ(desk.queued(), 1);
    EXPECT_EQ(rig.messages().size(), 2U);

    ASSERT_EQ(desk.signIn(rig).exit, 0);
    EXPECT_EQ(desk.run({"send"}).exit, 0);
    EXPECT_TRUE(rig.waitForMessages(3)) << rig.log();
    EXPECT_EQ(desk.queued(), 0);
}
