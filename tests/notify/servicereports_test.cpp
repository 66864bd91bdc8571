#include "app/application.h"
#include "app/mainstate.h"
#include "app/servicecommands.h"
#include "net/flowlog.h"
#include "notify/emailqueue.h"
#include "notify/servicereports.h"
#include "platform/files.h"
#include "support/mainstatefixture.h"
#include "support/peers.h"
#include "support/scriptedfrontend.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

using namespace tarnwick;

namespace {

struct RecordingPreview final : notify::MessagePreview {
    bool confirmSend(const std::string& title, const std::string& message) override
    {
        titles.push_back(title);
        shown = message;
        return send;
    }
    bool send = true;
    std::vector<std::string> titles;
    std::string shown;
};

class ServiceReports : public test::MainStateFixture<> {
protected:
    ServiceReports()
    {
        (void)platform::writeFileAtomic(m_dir.file("settings.ini"), "");
        base::AppSettings& s = open({{base::setting::LogDir, m_dir.path()}}).settings;
        s.setValue(base::setting::OrgName, "Org");
        s.setValue(base::setting::ReturnAddress, "me@example.test");
        s.setNotifyAddresses({"n1@example.test"});
        s.setValue(base::setting::UserName, "tester");
        s.setPlainPassword(k_password);
        s.setPlainApiKey(k_apiKey);
        s.setValue(base::setting::SmtpSecurity, "none"); // the sink offers no STARTTLS
    }

    static constexpr const char* k_password = "s3cret-pw";
    static constexpr const char* k_apiKey = "KEY-4711-abcdef";
};

TEST_F(ServiceReports, ProblemReportStopsAtEachRefusal)
{
    struct Case {
        const char* name;
        bool exchanged;
        std::optional<std::string> description;
        bool send;
        notify::ProblemReportResult result;
        std::vector<std::string> boxes;
    };
    const Case cases[] = {
        {"nothing exchanged",
         false,
         "x",
         true,
         notify::ProblemReportResult::NothingExchanged,
         {"Please attempt to do an update prior to reporting the problem."}},
        {"description cancelled", true, std::nullopt, true, notify::ProblemReportResult::Cancelled, {}},
        {"message withheld", true, "it broke", false, notify::ProblemReportResult::Withheld, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_flow.clearText();
        m_view.boxes.clear();
        if (c.exchanged) {
            m_flow.post(net::FlowLog::k_status, "connected\r\n");
            m_view.nextInput(c.description);
        }
        RecordingPreview preview;
        preview.send = c.send;
        EXPECT_EQ(app::reportProblem(*m_state, preview), c.result);
        std::vector<std::string> texts;
        for (const auto& b : m_view.boxes)
            texts.push_back(b.text);
        EXPECT_EQ(texts, c.boxes);
        EXPECT_EQ(preview.titles.size(), c.description && c.exchanged ? 1u : 0u);
    }
    EXPECT_FALSE(platform::fileExists(m_dir.file(notify::k_emailTestFileName)));
}

TEST(ProblemPrompt, NamesTheSupportAddress)
{
    EXPECT_EQ(notify::problemPrompt("S <s@x>"), "Please describe your problem in some detail. When you click OK an "
                                                "email message will be sent to \"S <s@x>\".");
}

// The welcome, activity and upgrade reports reach the distributor's activity mailbox only when the user
// agreed; the problem report reaches its support mailbox; the password, the API key and the OAuth secrets reach
// none of them.
TEST_F(ServiceReports, ReportsReachTheirMailboxesWithoutSecrets)
{
    for (const bool consent : {false, true}) {
        SCOPED_TRACE(consent);
        test::SmtpSink sink;
        sink.start("tester", k_password);
        m_app->settings.setValue(base::setting::SmtpServer, sink.address());
        m_app->settings.setValue(base::setting::CountEmailBatchSucceeded, "0");
        m_app->settings.setValue(base::setting::SendUsageReports, consent ? "1" : "");

        ASSERT_EQ(notify::queueWelcomeReport(m_state->queue(), m_app->settings), "");
        EXPECT_EQ(platform::fileExists(m_dir.file("Tarnwick_welcome.tmp")), consent);
        ASSERT_TRUE(m_state->processPending(false, false)); // the activity report, then the welcome report
        EXPECT_EQ(notify::sendUpgradeReport(m_state->queue(), m_app->settings), "");

        // secrets that slipped into the log or the flow log are withheld from what the user sees and sends
        m_app->settings.setPlainSecret(base::setting::OAuthRefreshToken, "rt-kept-refresh");
        m_app->settings.setPlainSecret(base::setting::OAuthClientSecret, "kept-client-secret");
        m_app->log.write("login with %s and %s, rt-kept-refresh, kept-client-secret\n", k_password, k_apiKey);
        m_flow.post(net::FlowLog::k_status, "connected\r\n");
        m_view.nextInput(std::string("The update fails."));
        RecordingPreview preview;
        ASSERT_EQ(app::reportProblem(*m_state, preview), notify::ProblemReportResult::Sent);
        EXPECT_NE(preview.shown.find("The update fails."), std::string::npos);
        EXPECT_NE(preview.shown.find(notify::k_withheld), std::string::npos);

        const std::vector<test::SmtpSink::Message> mails = sink.messages();
        std::vector<std::string> expected(consent ? 3 : 0, "activity@tarnwick.example");
        expected.push_back("support@tarnwick.example");
        ASSERT_EQ(mails.size(), expected.size());
        for (size_t i = 0; i < mails.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(mails[i].rcpts, std::vector<std::string>{expected[i]});
            for (const char* secret : {k_password, k_apiKey, "czNjcmV0LXB3", "rt-kept-refresh", "kept-client-secret"})
                EXPECT_EQ(mails[i].data.find(secret), std::string::npos) << secret;
        }
        EXPECT_NE(mails.back().data.find("The update fails."), std::string::npos);
        sink.stop();
    }
}

} // namespace
