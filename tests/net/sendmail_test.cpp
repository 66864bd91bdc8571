#include "net/sendmail.h"

#include "fakeserver.h"
#include "flowcapture.h"
#include "net/base64.h"
#include "net/socketconnection.h"
#include "platform/clock.h"
#include "support/clockscope.h"
#include "support/peers.h"
#include "tasks/errors.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <map>

using namespace tarnwick;
using namespace tarnwick::net;
using tarnwick::test::FakePeer;
using tarnwick::test::FakeServer;
using tarnwick::test::FlowCapture;
using namespace std::chrono_literals;

namespace {

std::string failureOf(MailRequest& r)
{
    try {
        SendMail(r);
    } catch (const tasks::CAppError& e) {
        return e.message();
    }
    return "(no error)";
}

// A scripted SMTP server: greets, answers each command by its verb (chunks of
// a reply go out in separate writes), takes DATA up to its terminator and
// keeps everything the client sent.
struct FakeSmtp {
    std::string greeting = "220 fake ready\r\n";
    std::map<std::string, std::vector<std::string>> replies;
    std::string afterData = "250 queued\r\n";
    std::promise<std::string> transcript;
    std::unique_ptr<FakeServer> server;

    void start()
    {
        server = std::make_unique<FakeServer>([this](FakePeer& p) {
            std::string got;
            p.send(greeting);
            for (;;) {
                const std::string line = p.readLine();
                got += line;
                if (line.empty() || p.stopping())
                    break;
                const std::string verb = line.substr(0, line.find_first_of(" \r"));
                auto it = replies.find(verb);
                const std::vector<std::string> reply =
                    it != replies.end() ? it->second
                                        : std::vector<std::string>{verb == "DATA" ? "354 go ahead\r\n" : "250 OK\r\n"};
                for (std::size_t i = 0; i < reply.size(); ++i) {
                    if (i > 0)
                        std::this_thread::sleep_for(60ms);
                    p.send(reply[i]);
                }
                if (verb == "DATA" && reply.front().rfind("354", 0) == 0) {
                    got += p.readUntil("\r\n.\r\n");
                    p.send(afterData);
                }
                if (verb == "QUIT")
                    break;
            }
            got += p.readToEnd();
            transcript.set_value(got);
        });
    }
    std::string address() const { return server->address(); }
};

MailRequest basicRequest(const std::string& server, FlowLog* log = nullptr)
{
    MailRequest r(log, "SendMail: ");
    r.server = server;
    r.sender = "Tarnwick User <s@example.test>";
    r.to = "a@example.test";
    r.message = "Subject: hi\r\n\r\nbody\r\n";
    return r;
}

} // namespace

TEST(MailHeader, DateLineInLocalTimeWithOffset)
{
    struct Case {
        std::int64_t utcMillis;
        int offsetSeconds;
        const char* date;
    };
    const Case cases[] = {
        {1709604009000, 0, "Tue, 05 Mar 2024 02:00:09 +0000"},
        {1709604009000, -18000, "Mon, 04 Mar 2024 21:00:09 -0500"},
        {1709604009000, 19800, "Tue, 05 Mar 2024 07:30:09 +0530"},
        {1709604009000, -12600, "Mon, 04 Mar 2024 22:30:09 -0330"},
        {1709604009000, -1800, "Tue, 05 Mar 2024 01:30:09 -0030"},
        {946684799000, 3600, "Sat, 01 Jan 2000 00:59:59 +0100"},
        {0, 0, "Thu, 01 Jan 1970 00:00:00 +0000"},
    };
    MailRequest r;
    r.sender = "s@x";
    r.to = "a@x, b@y";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.date);
        platform::FixedClock clock(c.utcMillis, c.offsetSeconds);
        EXPECT_EQ(mailHeaderBlock(r, clock),
                  std::string("Date: ") + c.date + "\r\nFrom: s@x\r\nTo: a@x, b@y\r\nX-Mailer: Tarnwick\r\n");
    }
    r.replyTo = "r@x";
    r.cc = "c@z";
    r.mailer = "M";
    platform::FixedClock clock(0, 0);
    EXPECT_EQ(mailHeaderBlock(r, clock), "Date: Thu, 01 Jan 1970 00:00:00 +0000\r\nFrom: s@x\r\nReply-to: r@x\r\n"
                                         "To: a@x, b@y\r\nCc: c@z\r\nX-Mailer: M\r\n");
}

TEST(MailText, DotStuffingAndLineEnds)
{
    struct Case {
        std::string text;
        std::string sent;
    };
    const Case cases[] = {
        {"a\r\n.b", "a\r\n..b"},
        {"a\n.b", "a\r\n..b"},
        {"a\r.b", "a\r\n..b"},
        {".b", "..b"},
        {"a\r\r\n.b", "a\r\n\r\n..b"},
        {"a\r\n.", "a\r\n.."},
        {"a\r\n.\r\n.x\n..", "a\r\n..\r\n..x\r\n..."},
        {"no dots\r\n", "no dots\r\n"},
        {"", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(dotStuff(c.text), c.sent);
    }
}

TEST(MailText, EnvelopeAddresses)
{
    using V = std::vector<std::string>;
    struct Case {
        std::string list;
        V addresses;
    };
    const Case cases[] = {
        {"", {}},
        {"a@x", {"<a@x>"}},
        {"a@x (Smith, John), b@y", {"<a@x>", "<b@y>"}},
        {"John <j@x>, k@y", {"<j@x>", "<k@y>"}},
        {"\"Smith, John (Sales)\" <j@x>, k@y", {"<j@x>", "<k@y>"}},
        {"\"a \\\" , b\" <j@x>", {"<j@x>"}},
        {"Half <h@x", {"<h@x>"}},
        {" a@x", {"< a@x>"}}, // blanks before the very first address stay
        {"a@x \t,  \tb@y", {"<a@x>", "<b@y>"}},
        {"a@x,", {"<a@x>"}},
        {"a@x, \t", {"<a@x>"}},
        {"a@x (no end, b@y", {"<a@x>"}},
        {"a@x (c) b@y", {"<a@x>"}},
        {"a@x(c),b@y(d)", {"<a@x>", "<b@y>"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.list);
        EXPECT_EQ(envelopeAddresses(c.list), c.addresses);
    }
    EXPECT_EQ(envelopeAddress("Me <s@x>, other"), "<s@x>");
    EXPECT_EQ(envelopeAddress("s@x (me)"), "<s@x>");
}

TEST(SendMail, HeloDialogueAndDataOnTheWire)
{
    FakeSmtp smtp;
    smtp.start();
    MailRequest r = basicRequest(smtp.address());
    r.to = "a@x (A, B), Bee <b@y>";
    r.cc = "c@z";
    r.message = "Subject: plain\r\n\r\nfirst\r\n.second\r\n";
    {
        const test::ClockScope clock(1709604009000, -12600);
        SendMail(r);
    }
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    std::string t = smtp.transcript.get_future().get();
    // the Message-ID is unique per message: its form is checked, then it is taken out
    const std::size_t id = t.find("Message-ID: <1709604009000.");
    ASSERT_NE(id, std::string::npos) << t;
    EXPECT_EQ(t.compare(id + 43, 16, "@example.test>\r\n"), 0) << t.substr(id, 64);
    t.erase(id, 59);
    EXPECT_EQ(t, std::string("HELO ") + host +
                     "\r\nMAIL From: <s@example.test>\r\nRCPT To: <a@x>\r\nRCPT To: <b@y>\r\n"
                     "RCPT To: <c@z>\r\nDATA\r\n"
                     "Date: Mon, 04 Mar 2024 22:30:09 -0330\r\nFrom: Tarnwick User <s@example.test>\r\n"
                     "To: a@x (A, B), Bee <b@y>\r\nCc: c@z\r\nX-Mailer: Tarnwick\r\nSubject: plain\r\n"
                     "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=UTF-8\r\n"
                     "Content-Transfer-Encoding: 7bit\r\n\r\n"
                     "first\r\n..second\r\n.\r\nQUIT\r\n");
}

TEST(SendMail, ABodyCannotEndTheDataEarly)
{
    FakeSmtp smtp;
    smtp.start();
    MailRequest r = basicRequest(smtp.address());
    r.message = "Subject: page\r\n\r\nx\r\r\n.\r\nRSET\r\nMAIL FROM:<e@x>\r\nRCPT TO:<e@y>\r\nDATA\r\n"
                "y\n.\nQUIT\n";
    SendMail(r);
    const std::string t = smtp.transcript.get_future().get();
    // the server read the whole message as data and saw one command after it
    EXPECT_EQ(t.substr(t.size() - 11), "\r\n.\r\nQUIT\r\n");
    EXPECT_EQ(t.find("\r\n.\r\n"), t.size() - 11);
}

TEST(SendMail, AuthLoginAfterMultiLineEhlo)
{
    FakeSmtp smtp;
    smtp.replies["EHLO"] = {"250-fake\r\n", "250-AUTH LOGIN\r\n", "250 OK\r\n"};
    smtp.replies["AUTH"] = {"334 VXNlcm5hbWU6\r\n"};
    smtp.replies[base64Encode("t\xe9ster")] = {"334 UGFzc3dvcmQ6\r\n"};
    smtp.replies[base64Encode("p\xe4ss")] = {"235 welcome\r\n"};
    smtp.start();
    FlowCapture flow;
    MailRequest r = basicRequest(smtp.address(), &flow.log);
    r.userName = "t\xe9ster";
    r.password = "p\xe4ss";
    SendMail(r);
    const std::string t = smtp.transcript.get_future().get();
    EXPECT_EQ(t.rfind("EHLO ", 0), 0u);
    EXPECT_NE(t.find("\r\nAUTH LOGIN\r\ndOlzdGVy\r\ncORzcw==\r\nMAIL From: "), std::string::npos);
    EXPECT_TRUE(flow.contains("SendMail: Sending ***password***"));
    EXPECT_FALSE(flow.contains("cORzcw=="));
    EXPECT_FALSE(flow.contains("p\xe4ss"));
}

TEST(SendMail, RefusedStepsFailWithTheirMessage)
{
    struct Case {
        std::string verb; // empty: the greeting
        std::vector<std::string> reply;
        std::function<void(MailRequest&)> tweak;
        const char* message;
        bool reachedData;
    };
    const Case cases[] = {
        {"", {"554 go away\r\n"}, nullptr, msg::k_protocol, false},
        {"HELO", {"2501 odd\r\n"}, nullptr, msg::k_protocol, false},
        {"MAIL", {"550 no\r\n"}, nullptr, msg::k_badSender, false},
        {"RCPT", {"251 forwarded\r\n"}, nullptr, msg::k_badRecipient, false},
        {"DATA", {"451 later\r\n"}, nullptr, msg::k_protocol, false},
        {"DATA", {"354 go\r\n"}, [](MailRequest& r) { r.html = true; }, msg::k_noHtml, true},
        {"DATA", {"354 go\r\n"}, [](MailRequest& r) { r.attachments = "file.txt"; }, msg::k_noAttachments, true},
        {"HELO", {"250-" + std::string(70000, 'x') + "\r\n250 OK\r\n"}, nullptr, msg::k_protocol, false},
        // a line end in an address is refused before it can write a command or a header line
        {"MAIL", {"250 OK\r\n"}, [](MailRequest& r) { r.sender = "s@x\r\nRCPT To:<e@x>"; }, msg::k_badSender, false},
        {"MAIL", {"250 OK\r\n"}, [](MailRequest& r) { r.replyTo = "s@x\nBcc: e@x"; }, msg::k_badSender, false},
        {"RCPT", {"250 OK\r\n"}, [](MailRequest& r) { r.cc = "c@x (\r\nBcc: e@x)"; }, msg::k_badRecipient, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        FakeSmtp smtp;
        if (c.verb.empty())
            smtp.greeting = c.reply.front();
        else
            smtp.replies[c.verb] = c.reply;
        smtp.start();
        MailRequest r = basicRequest(smtp.address());
        if (c.tweak)
            c.tweak(r);
        EXPECT_EQ(failureOf(r), c.message);
        const std::string t = smtp.transcript.get_future().get();
        EXPECT_EQ(t.find("QUIT"), std::string::npos); // a failed dialogue stops without QUIT
        EXPECT_EQ(t.find("X-Mailer"), std::string::npos);
        EXPECT_EQ(t.find("DATA") != std::string::npos, c.reachedData || c.verb == "DATA");
        EXPECT_EQ(t.find("e@x"), std::string::npos);
    }
}

class SendMailWithSink : public ::testing::Test {
protected:
    void SetUp() override { sink.start("tester", "secret", "refused@example.test"); }
    test::SmtpSink sink;
};

TEST_F(SendMailWithSink, DeliversEnvelopeHeaderAndBody)
{
    FlowCapture flow;
    MailRequest r = basicRequest(sink.address(), &flow.log);
    r.sender = "Tarnwick User <s@example.test>";
    r.to = "a@example.test (Smith, A), \"Bee, B\" <b@example.test>";
    r.cc = "c@example.test";
    r.replyTo = "s@example.test";
    r.userName = "tester";
    r.password = "secret";
    r.message = "Subject: Status change\r\n\r\nline\r\n.starts with a dot\r\n";
    SendMail(r);
    const auto messages = sink.messages();
    ASSERT_EQ(messages.size(), 1u);
    const auto& m = messages[0];
    EXPECT_EQ(m.from, "s@example.test");
    EXPECT_EQ(m.rcpts, (std::vector<std::string>{"a@example.test", "b@example.test", "c@example.test"}));
    EXPECT_EQ(m.login, "tester");
    EXPECT_EQ(m.data.rfind("Date: ", 0), 0u);
    const std::string head = "From: Tarnwick User <s@example.test>\r\nReply-to: s@example.test\r\n"
                             "To: a@example.test (Smith, A), \"Bee, B\" <b@example.test>\r\nCc: c@example.test\r\n"
                             "X-Mailer: Tarnwick\r\nSubject: Status change\r\nMessage-ID: <";
    const std::string tail = "@example.test>\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=UTF-8\r\n"
                             "Content-Transfer-Encoding: 7bit\r\n\r\nline\r\n.starts with a dot\r\n";
    const std::size_t headAt = m.data.find("\r\n") + 2;
    EXPECT_EQ(m.data.substr(headAt, head.size()), head);
    ASSERT_GE(m.data.size(), tail.size());
    EXPECT_EQ(m.data.substr(m.data.size() - tail.size()), tail);
    for (const std::string& secret : {std::string("secret"), base64Encode("secret")}) {
        EXPECT_FALSE(flow.contains(secret));
    }
}

TEST_F(SendMailWithSink, RefusalsAndTheTask)
{
    struct Case {
        std::string password;
        std::string to;
        const char* message; // nullptr: delivered
    };
    const Case cases[] = {
        {"secret", "a@example.test", nullptr},
        {"wrong", "a@example.test", msg::k_protocol},
        {"secret", "a@example.test, refused@example.test", msg::k_badRecipient},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.to + " / " + c.password);
        MailRequest r = basicRequest(sink.address());
        r.sender = "s@example.test";
        r.userName = "tester";
        r.password = c.password;
        r.to = c.to;
        struct Host : tasks::TaskHost {
            bool cancelRequested() const override { return false; }
            void dispatch(int) override { std::this_thread::sleep_for(2ms); }
        } host;
        const int timeout = 30000;
        const std::size_t before = sink.messages().size();
        if (c.message == nullptr) {
            runSendMailTask(host, r, timeout);
            EXPECT_EQ(sink.messages().size(), before + 1);
        } else {
            try {
                runSendMailTask(host, r, timeout);
                ADD_FAILURE() << "no error";
            } catch (const tasks::CAsyncError& e) {
                EXPECT_EQ(e.message(), c.message);
            }
            EXPECT_EQ(sink.messages().size(), before);
        }
    }
}
