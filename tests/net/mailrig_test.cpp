#include "support/mailrig.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

using namespace tarnwick::test;

namespace {

struct SignIn {
    std::string mechanism;
    std::string user;
    std::string secret;
};

// One line of tests/net/mailrig_login.py per sign-in, each in its own session.
std::vector<std::string> signIn(const MailRig& rig, const std::vector<SignIn>& signIns, bool beforeTls = false)
{
    std::string command = "/usr/bin/python3 " + std::string(TARNWICK_SOURCE_DIR) + "/tests/net/mailrig_login.py " +
                          std::to_string(rig.port()) + " " + rig.caFile() + (beforeTls ? " --before-tls" : "");
    for (const SignIn& s : signIns)
        command += " " + s.mechanism + " " + s.user + " '" + s.secret + "'";
    std::vector<std::string> lines;
    FILE* out = ::popen(command.c_str(), "r");
    char buffer[512];
    while (out != nullptr && std::fgets(buffer, sizeof buffer, out) != nullptr) {
        std::string line = buffer;
        if (!line.empty() && line.back() == '\n')
            line.pop_back();
        lines.push_back(line);
    }
    if (out != nullptr)
        ::pclose(out);
    return lines;
}

} // namespace

// The server accepts passwords and live tokens, refuses the rest with 535, files what it accepted,
// and Postfix's log shows each client asking EHLO again after STARTTLS.
TEST(MailRig, JudgesSignInsForReal)
{
    if (const std::string why = MailRig::unavailableReason(); !why.empty())
        GTEST_SKIP() << why;
    MailRig rig;
    rig.start();
    const std::string expired = rig.signIn().access;
    ASSERT_TRUE(rig.control("expire"));
    const std::string live = rig.signIn().access;

    struct Case {
        SignIn signIn;
        std::string codes; // the server's answers in the AUTH exchange
    };
    const std::string user = MailRig::passwordUser();
    const std::string owner = MailRig::oauthUser();
    const std::vector<Case> cases = {
        {{"PLAIN", user, MailRig::password()}, "235"},
        {{"LOGIN", user, MailRig::password()}, "334,334,235"},
        {{"PLAIN", user, "not-the-password"}, "535"},
        {{"XOAUTH2", owner, live}, "235"},
        {{"OAUTHBEARER", owner, live}, "235"},
        // a refused token gets its error as a challenge first, then 535 after the client's empty reply
        {{"XOAUTH2", owner, expired}, "334,535"},
        {{"OAUTHBEARER", owner, expired}, "334,535"},
        {{"XOAUTH2", user, live}, "334,535"}, // a token names its account; another name does not go with it
    };
    std::vector<SignIn> signIns;
    for (const Case& c : cases)
        signIns.push_back(c.signIn);
    const std::vector<std::string> lines = signIn(rig, signIns);
    ASSERT_EQ(lines.size(), cases.size()) << rig.authLog();

    std::vector<Case> accepted;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].signIn.mechanism + " " + cases[i].signIn.user + " #" + std::to_string(i));
        const bool ok = cases[i].codes.ends_with("235");
        EXPECT_EQ(lines[i], "starttls=yes offered=PLAIN,LOGIN,XOAUTH2,OAUTHBEARER code=" + cases[i].codes +
                                " sent=" + (ok ? "250" : "none"));
        if (ok)
            accepted.push_back(cases[i]);
    }

    // Postfix passes messages on in its own order; each one's Subject names its sign-in.
    ASSERT_TRUE(rig.waitForMessages(accepted.size())) << rig.log();
    const std::vector<MailRig::Message> messages = rig.messages();
    ASSERT_EQ(messages.size(), accepted.size());
    for (const Case& c : accepted) {
        SCOPED_TRACE(c.signIn.mechanism);
        const std::string data =
            "From: " + c.signIn.user + "\nTo: rcpt@example.org\nSubject: " + c.signIn.mechanism + "\n\nBody.\n";
        const auto m =
            std::find_if(messages.begin(), messages.end(), [&](const MailRig::Message& m) { return m.data == data; });
        ASSERT_NE(m, messages.end());
        EXPECT_EQ(m->method, c.signIn.mechanism);
        EXPECT_EQ(m->login, c.signIn.user);
        EXPECT_EQ(m->from, c.signIn.user);
        EXPECT_EQ(m->rcpts, std::vector<std::string>{"rcpt@example.org"});
    }

    const std::vector<std::string> sessions = rig.sessions();
    ASSERT_EQ(sessions.size(), cases.size()) << rig.log();
    for (const std::string& s : sessions)
        EXPECT_EQ(s.rfind("ehlo=2 starttls=1 auth=", 0), 0U) << s;
}

// The server lists and accepts exactly the mechanisms a test asks for, and STARTTLS only when asked.
TEST(MailRig, OffersTheMechanismsAskedFor)
{
    if (const std::string why = MailRig::unavailableReason(); !why.empty())
        GTEST_SKIP() << why;
    struct Case {
        const char* mechanisms;
        bool authWithoutTls;
        bool startTls;
        std::string line; // of a PLAIN sign-in with the password user
    };
    const Case cases[] = {
        {"oauthbearer", false, true, "starttls=yes offered=OAUTHBEARER code=535 sent=none"},
        {"cram-md5 plain", true, false, "starttls=no offered=CRAM-MD5,PLAIN code=235 sent=250"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mechanisms);
        MailRig::Options options;
        options.mechanisms = c.mechanisms;
        options.authWithoutTls = c.authWithoutTls;
        options.startTls = c.startTls;
        MailRig rig(options);
        rig.start();
        const std::vector<std::string> lines =
            signIn(rig, {{"PLAIN", MailRig::passwordUser(), MailRig::password()}}, c.authWithoutTls);
        EXPECT_EQ(lines, std::vector<std::string>{c.line});
    }
}
