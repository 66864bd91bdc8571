// The window's operations besides the update run (sending the queue, the test e-mail, the problem report, the
// program download) against real peers: each starts with a clear cancel reason, each can be cancelled, timed
// out and closed, and closing sends or deletes the queue as the mode of the window asks.
#include "app/application.h"
#include "app/mainstate.h"
#include "app/mainwindowlogic.h"
#include "app/servicecommands.h"
#include "core/entry.h"
#include "net/fakeserver.h"
#include "net/flowlog.h"
#include "notify/servicereports.h"
#include "notify/templates.h"
#include "platform/files.h"
#include "support/mainstatefixture.h"
#include "support/peers.h"
#include "support/scriptedfrontend.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace tarnwick;

namespace {

struct Host final : app::WindowHost {
    void postCommand(app::Command id) override { posted.push_back(id); }
    void destroyWindow() override {}
    void setTitle(const std::string&) override {}
    std::vector<app::Command> posted;
};

struct SendingPreview final : notify::MessagePreview {
    bool confirmSend(const std::string&, const std::string&) override { return true; }
};

enum class Op { TestMail, SendMail, ProblemReport, Download };

class WindowOperations : public test::MainStateFixture<> {
protected:
    WindowOperations()
    {
        base::AppSettings& s = openInFolder().settings;
        s.setValue(base::setting::OrgName, "Acme");
        s.setValue(base::setting::Install, m_dir.file("install"));
        s.setValue(base::setting::ReturnAddress, "me@example.test");
        s.setNotifyAddresses({"n@example.test"});
        s.setValue(base::setting::CountEmailBatchSucceeded, "1"); // no activity report opens a batch
        m_app->rules.setUpdatePending(false);
        m_logic =
            std::make_unique<app::MainWindowLogic>(*m_state, m_host, app::StartupState{0, false, "1.0.00", ""}, false);
        m_flow.post(net::FlowLog::k_status, "connected\r\n"); // something was exchanged: a problem can be reported
        m_view.onDispatch = [] { std::this_thread::sleep_for(std::chrono::milliseconds(2)); };
    }

    // Mail goes to `address`; the program is downloaded from it too.
    void useServer(const std::string& address)
    {
        m_app->settings.setValue(base::setting::SmtpServer, address);
        m_app->settings.setValue(base::setting::UserName, "tester");
        m_app->settings.setPlainPassword("secret");
        m_app->settings.setValue(base::setting::SmtpSecurity, "none"); // the peers here speak no TLS
        std::string text(rules::RulesFile::defaultText());
        const std::string from = "http://www.tarnwick.example";
        for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at))
            text.replace(at, from.size(), "http://" + address);
        m_app->rules.useText(text);
    }
    void post() { ASSERT_EQ(m_state->queue().PostEmail(core::Entry(45000), notify::templateid::EntryAdded, "a"), ""); }
    // A cancel that an earlier operation left behind.
    void leaveACancel()
    {
        {
            const app::MainState::Operation operation(*m_state);
            ASSERT_TRUE(operation);
            m_state->cancel();
        }
        ASSERT_NE(m_state->cancelReason(), base::RunState::Running);
    }
    void run(Op op)
    {
        switch (op) {
        case Op::TestMail:
            m_logic->testEmail(notify::MailMode::ReturnAddress);
            break;
        case Op::SendMail:
            post();
            m_logic->sendEmail();
            break;
        case Op::ProblemReport: {
            m_view.nextInput("it broke");
            SendingPreview preview;
            m_logic->reportProblem(preview);
            break;
        }
        case Op::Download:
            m_view.nextAnswer(base::Answer::Yes); // download the newer version
            m_logic->upgrade();
            break;
        }
    }
    std::vector<std::string> boxTexts() const
    {
        std::vector<std::string> texts;
        for (const auto& b : m_view.boxes)
            texts.push_back(b.text);
        return texts;
    }

    Host m_host;
    std::unique_ptr<app::MainWindowLogic> m_logic;
};

} // namespace

TEST_F(WindowOperations, EachCanBeCancelledTimedOutAndClosed)
{
    enum class Stop { Cancel, TimeOut, Close };
    struct Case {
        Op op;
        Stop stop;
        std::string error; // what the failure says; a close only has to be carried out after the operation
    };
    const Case cases[] = {
        {Op::TestMail, Stop::Cancel, "Operation canceled."},
        {Op::TestMail, Stop::TimeOut, "SendEmail: Operation timed out."},
        {Op::TestMail, Stop::Close, ""},
        {Op::SendMail, Stop::Cancel, "Operation canceled.\n\nThe messages stay queued and go with the next sending."},
        {Op::SendMail, Stop::Close, ""},
        {Op::ProblemReport, Stop::Cancel, "Operation canceled."},
        {Op::ProblemReport, Stop::TimeOut, "SendEmail: Operation timed out."},
        {Op::ProblemReport, Stop::Close, ""},
        {Op::Download, Stop::Cancel, "Operation canceled."},
        {Op::Download, Stop::Close, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << static_cast<int>(c.op) << " " << static_cast<int>(c.stop));
        test::FakeServer silent([](test::FakePeer& peer) { peer.readToEnd(); }); // never answers
        useServer(silent.address());
        m_state->setOperationTimeoutMs(c.stop == Stop::TimeOut ? 300 : 60000);
        m_view.boxes.clear();
        m_host.posted.clear();
        bool stopped = false;
        bool busy = false;
        bool closedAtOnce = true;
        m_view.onDispatch = [&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            if (stopped || !m_state->operationRunning())
                return;
            stopped = true;
            busy = m_logic->busy();
            if (c.stop == Stop::Cancel)
                m_state->cancel();
            else if (c.stop == Stop::Close)
                closedAtOnce = m_logic->close();
        };
        const auto start = std::chrono::steady_clock::now();
        run(c.op);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
        EXPECT_TRUE(busy);
        EXPECT_FALSE(m_logic->busy());
        if (c.stop == Stop::Close) {
            EXPECT_FALSE(closedAtOnce);
            EXPECT_EQ(m_host.posted, std::vector<app::Command>{app::Command::Close});
        } else {
            ASSERT_FALSE(m_view.boxes.empty());
            // a test mail that the server let time out names that server
            const bool atServer = c.stop == Stop::TimeOut && c.op == Op::TestMail;
            EXPECT_EQ(m_view.boxes.back().text,
                      (atServer ? "The e-mail could not be sent through " + silent.address() + ":\n" : "") + c.error);
            EXPECT_TRUE(m_host.posted.empty());
        }
    }
    EXPECT_FALSE(platform::fileExists(m_dir.file("tarnwick_temp")));
}

TEST_F(WindowOperations, EachStartsWithAClearCancelReason)
{
    test::SmtpSink sink;
    sink.start();
    useServer(sink.address());
    size_t sent = 0;
    for (Op op : {Op::TestMail, Op::SendMail, Op::ProblemReport}) {
        SCOPED_TRACE(static_cast<int>(op));
        leaveACancel();
        m_view.boxes.clear();
        run(op);
        EXPECT_EQ(sink.messages().size(), ++sent);
        for (const std::string& text : boxTexts())
            EXPECT_EQ(text.find("canceled"), std::string::npos) << text;
    }
}

// Unattended, nobody answers "Send them now?": the queue is sent without asking and the window closes; a
// failure goes to the log, the queue stays, and the window closes all the same.
TEST_F(WindowOperations, AutoModeSendsThePendingMailAtCloseWithoutAsking)
{
    test::SmtpSink sink;
    sink.start();
    struct Case {
        const char* name;
        std::string server;
        bool pending;
        bool sendFails;
    };
    const Case cases[] = {
        {"sent", sink.address(), true, false},
        {"refused", "127.0.0.1:" + std::to_string(test::freeLoopbackPort()), true, true},
        {"nothing pending", sink.address(), false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        useServer(c.server);
        if (c.pending)
            post();
        m_view.boxes.clear();
        m_state->setAutoMode(true);
        EXPECT_TRUE(m_logic->close());
        EXPECT_EQ(m_view.boxes.size(), 0u);
        EXPECT_TRUE(m_state->autoMode());
        EXPECT_EQ(m_state->queue().pendingExists(), c.sendFails);
        std::filesystem::remove(m_dir.file("Tarnwick_pending.tmp"));
    }
    EXPECT_EQ(sink.messages().size(), 1u);
}

TEST_F(WindowOperations, DeleteEmailAsksOnceAndDeletes)
{
    struct Case {
        bool pending;
        std::vector<std::string> boxes;
    };
    const Case cases[] = {
        {true, {"Do you really want to delete the pending e-mail notifications?"}},
        {false, {"There aren't any e-mail notifications waiting to be sent."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pending);
        if (c.pending)
            post();
        m_view.boxes.clear();
        m_view.nextAnswer(base::Answer::Yes);
        m_view.nextAnswer(base::Answer::Yes);
        m_logic->deleteEmail();
        EXPECT_EQ(boxTexts(), c.boxes);
        EXPECT_FALSE(platform::fileExists(m_dir.file("Tarnwick_pending.tmp")));
        EXPECT_FALSE(platform::fileExists(m_dir.file("Tarnwick_a.tmp")));
    }
}

TEST_F(WindowOperations, WithoutABrowserTheUserIsToldWhereTheFileOrAddressIs)
{
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {"/home/ann/Report/Tarnwick.html", "Open", "the file"},
        {"https://tsdr.example/75000001", "View Webpage", "the address"},
    };
    for (const auto& [target, title, what] : cases) {
        app::browserNotStarted(*m_state, target, title);
        ASSERT_FALSE(m_view.boxes.empty());
        EXPECT_EQ(m_view.boxes.back().text, "No browser could be started to show " + what + ":\n\n" + target +
                                                "\n\nOpen it yourself, in a browser or another viewer.");
        EXPECT_EQ(m_view.boxes.back().caption, base::caption(title));
    }
}
