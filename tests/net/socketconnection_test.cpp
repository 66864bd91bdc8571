#include "net/socketconnection.h"

#include "fakeserver.h"
#include "flowcapture.h"
#include "support/peers.h"
#include "tasks/errors.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>

using namespace tarnwick;
using namespace tarnwick::net;
using tarnwick::test::FakePeer;
using tarnwick::test::FakeServer;
using tarnwick::test::FlowCapture;
using namespace std::chrono_literals;

namespace {

std::string messageOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const tasks::CAppError& e) {
        return e.message();
    }
    return "(no error)";
}

} // namespace

TEST(ReplyScan, FindsTheFinalLine)
{
    struct Case {
        std::string reply;
        std::optional<std::size_t> end;
    };
    const Case cases[] = {
        {"250 OK\r\n", 8},
        {"250 OK", std::nullopt},
        {"250-one\r\n250-two\r\n", std::nullopt},
        {"250-one\r\n250 two\r\nextra", 18},
        {"250\r\n", 5}, // three characters: not a continuation line
        {"25-\r\n", 5}, // fourth character is the line end
        {"2501-x\r\n", 8},
        {"\n", 1},
        {"250-a\n250 b\n", 12}, // a bare line feed ends a line too
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply);
        std::size_t lineStart = 0;
        EXPECT_EQ(findReplyEnd(c.reply, lineStart), c.end);
    }
    // a growing buffer resumes at the last line start
    std::string reply = "250-first\r\n";
    std::size_t lineStart = 0;
    EXPECT_FALSE(findReplyEnd(reply, lineStart));
    EXPECT_EQ(lineStart, 11u);
    reply += "250 last\r\n";
    EXPECT_EQ(findReplyEnd(reply, lineStart), reply.size());
}

TEST(ReplyScan, LeadingNumberMustEqualTheCode)
{
    struct Case {
        const char* reply;
        int code;
        bool match;
    };
    const Case cases[] = {
        {"250 OK", 250, true},
        {"2501 OK", 250, false},
        {"250-x\r\n250 y", 250, true},
        {"251 OK", 250, false},
        {"0250 x", 250, true},
        {"OK", 0, true},
        {"", 250, false},
        {"99999999999999999999 x", 250, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply);
        EXPECT_EQ(replyHasCode(c.reply, c.code), c.match);
    }
}

TEST(SocketConnection, DottedAddressWithPortConnectsWithoutResolving)
{
    FakeServer server([](FakePeer& p) { p.send("hello"); });
    FlowCapture flow;
    std::atomic<char> cancel{0};
    {
        SocketConnection c(cancel, &flow.log, "T: ");
        c.connect(server.address(), 80);
        EXPECT_EQ(c.receiveAll(false), "hello");
    }
    const std::string port = std::to_string(server.port());
    const std::vector<std::pair<int, std::string>> expected = {
        {1, "T: Connecting to 127.0.0.1 on port #" + port + " ..."},
        {2, "T: Connected"},
        {0, "T: Receiving ..."},
        {2, "T: Received part 'hello'"},
        {0, "T: Received 5 bytes"},
        {0, "T: Shutdown..."},
        {0, "T: Closing..."},
        {0, "T: Closed"},
    };
    EXPECT_EQ(flow.lines(), expected);
}

TEST(SocketConnection, HostNameIsResolved)
{
    FakeServer server([](FakePeer&) {});
    FlowCapture flow;
    std::atomic<char> cancel{0};
    SocketConnection c(cancel, &flow.log, "");
    c.connect("localhost:" + std::to_string(server.port()), 80);
    EXPECT_EQ(flow.texts()[0], "Resolving 'localhost' ...");
    EXPECT_EQ(flow.texts()[1], "Connecting to 127.0.0.1 on port #" + std::to_string(server.port()) + " ...");
}

TEST(SocketConnection, ConnectFailures)
{
    const int closedPort = test::freeLoopbackPort();
    struct Case {
        std::string address;
        const char* message;
    };
    const Case cases[] = {
        {"127.0.0.1:" + std::to_string(closedPort), msg::k_refused},
        {":80", msg::k_unreachable}, // no host at all: no lookup is made
        {"127.0.0.1:0", msg::k_cantConnect},
        {"127.0.0.1:70000", msg::k_cantConnect},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        FlowCapture flow;
        std::atomic<char> cancel{0};
        EXPECT_EQ(messageOf([&] {
                      SocketConnection conn(cancel, &flow.log, "L: ");
                      conn.connect(c.address, 80);
                  }),
                  c.message);
        EXPECT_TRUE(flow.contains(std::string("L: ") + c.message));
    }
}

TEST(SocketConnection, ServerThatClosesAtOnce)
{
    FakeServer server([](FakePeer&) {}, 2);
    std::atomic<char> cancel{0};
    FlowCapture flow;
    {
        SocketConnection c(cancel, &flow.log, "");
        c.connect(server.address(), 80);
        EXPECT_EQ(c.receiveAll(false), "");
    }
    EXPECT_TRUE(flow.contains("Received 0 bytes"));
    SocketConnection c(cancel, nullptr, "");
    c.connect(server.address(), 80);
    EXPECT_EQ(messageOf([&] { c.expectReply(220); }), msg::k_disconnected);
}

TEST(SocketConnection, MultiLineReplyInSeparateReads)
{
    FlowCapture flow;
    auto receivedLines = [&flow] {
        int n = 0;
        for (const auto& [kind, text] : flow.lines())
            n += text.rfind("Received '", 0) == 0 ? 1 : 0;
        return n;
    };
    // each line goes out only once the client has logged the one before
    FakeServer server([&](FakePeer& p) {
        int sent = 0;
        for (const char* line : {"250-first\r\n", "250-second\r\n", "250 last\r\n"}) {
            while (receivedLines() < sent && !p.stopping())
                std::this_thread::sleep_for(2ms);
            p.send(line);
            ++sent;
        }
        p.readToEnd();
    });
    std::atomic<char> cancel{0};
    SocketConnection c(cancel, &flow.log, "");
    c.connect(server.address(), 25);
    EXPECT_TRUE(c.expectReply(250));
    int received = 0;
    for (const auto& [kind, text] : flow.lines()) {
        if (text.rfind("Received '", 0) == 0) {
            EXPECT_EQ(kind, 2);
            ++received;
        }
    }
    EXPECT_EQ(received, 3);
    EXPECT_EQ(flow.texts().back(), "Received 33 bytes");
}

TEST(SocketConnection, ReplyWithOtherOrLongerCode)
{
    FakeServer server([](FakePeer& p) {
        p.send("2501 nearly\r\n");
        p.readLine();
        p.send("220 a\tb\r\n");
        p.readToEnd();
    });
    FlowCapture flow;
    std::atomic<char> cancel{0};
    SocketConnection c(cancel, &flow.log, "");
    c.connect(server.address(), 25);
    EXPECT_FALSE(c.expectReply(250));
    c.send("NEXT\r\n");
    EXPECT_TRUE(c.expectReply(220));
    EXPECT_TRUE(flow.contains("Sending 'NEXT\\r\\n' ..."));
    EXPECT_TRUE(flow.contains("Received '220 a\\0x09b\\r\\n'"));
}

TEST(SocketConnection, EndlessReplyFailsTheStep)
{
    FakeServer server([](FakePeer& p) {
        const std::string line = "250-" + std::string(996, 'x') + "\r\n";
        while (p.send(line)) {
        }
    });
    std::atomic<char> cancel{0};
    SocketConnection c(cancel, nullptr, "");
    c.connect(server.address(), 25);
    EXPECT_FALSE(c.expectReply(250));
}

TEST(SocketConnection, LargeSendAndDisplayText)
{
    std::promise<std::string> received;
    FakeServer server([&](FakePeer& p) { received.set_value(p.readToEnd()); });
    FlowCapture flow;
    std::atomic<char> cancel{0};
    std::string big(200000, 'q');
    big[123456] = 'Z';
    {
        SocketConnection c(cancel, &flow.log, "");
        c.connect(server.address(), 25);
        c.send("secret-bytes", "***password***");
        c.send(big);
    }
    EXPECT_EQ(received.get_future().get(), "secret-bytes" + big);
    EXPECT_TRUE(flow.contains("Sending ***password***"));
    EXPECT_FALSE(flow.contains("secret-bytes"));
    EXPECT_TRUE(flow.contains("Sending..."));
}

TEST(SocketConnection, CancelFromAnotherThreadEndsAWaitingReceive)
{
    FakeServer server([](FakePeer& p) { p.readToEnd(); });
    FlowCapture flow;
    std::atomic<char> cancel{0};
    SocketConnection c(cancel, &flow.log, "");
    c.connect(server.address(), 80);
    auto outcome = std::async(std::launch::async, [&] { return messageOf([&] { c.receiveAll(false); }); });
    std::this_thread::sleep_for(100ms);
    c.cancel();
    ASSERT_EQ(outcome.wait_for(30s), std::future_status::ready);
    EXPECT_EQ(outcome.get(), msg::k_disconnected);
    EXPECT_TRUE(flow.contains("Cancelling..."));
    // every later call fails too; once the cancel byte is set that is a cancel
    EXPECT_EQ(messageOf([&] { c.send("x"); }), msg::k_disconnected);
    cancel = 1;
    EXPECT_EQ(messageOf([&] { c.expectReply(250); }), msg::k_cancelled);
    // the flow window says it in the words of the run's own cancel
    EXPECT_EQ(flow.texts().back(), "Operation canceled.");
}

TEST(SocketConnection, CancelByteEndsAServerThatNeverAnswers)
{
    FakeServer server([](FakePeer& p) { p.readToEnd(); });
    std::atomic<char> cancel{0};
    SocketConnection c(cancel, nullptr, "");
    c.connect(server.address(), 25);
    auto outcome = std::async(std::launch::async, [&] { return messageOf([&] { c.expectReply(220); }); });
    std::this_thread::sleep_for(100ms);
    cancel = 1;
    ASSERT_EQ(outcome.wait_for(30s), std::future_status::ready);
    EXPECT_EQ(outcome.get(), msg::k_cancelled);
}
