#include "app/entrycommands.h"
#include "app/mainstate.h"
#include "base/settings.h"
#include "support/mainstatefixture.h"
#include "support/office.h"
#include "support/peers.h"
#include "support/scriptedfrontend.h"
#include "update/updaterun.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

using namespace tarnwick;

namespace {

using test::WaitingFrontEnd;

class SendAfterRun : public test::MainStateFixture<WaitingFrontEnd> {};

} // namespace

// A run that ends as it should sends the whole queue when the user wants it so, also the notices of marks added
// before it while it queued nothing itself; in digest mode those go as one message.
TEST_F(SendAfterRun, TheWholeQueueGoesAfterARunThatWasNotStopped)
{
    test::OfficeSimulator office;
    office.start(5);
    test::SmtpSink sink;
    sink.start("", "");
    struct Case {
        const char* name;
        const char* sendAfterUpdate;
        const char* mode;
        bool cancel; // the user stops the run at its last entry
        std::vector<std::string> subjects;
    };
    const Case cases[] = {
        {"on",
         "1",
         "each",
         false,
         {"Trademark entry added, application 75-000001", "Trademark entry added, application 75-000002",
          "Trademark entry added, application 75-000003"}},
        {"on, digest", "1", "digest", false, {"Trademark status: 3 entries added"}},
        {"off", "0", "each", false, {}},
        {"stopped", "1", "each", true, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        office.control("/sim/reset");
        app::AppContext& app = openInFolder({{base::setting::SendAfterUpdate, c.sendAfterUpdate},
                                             {base::setting::NotifyMode, c.mode},
                                             {base::setting::SmtpServer, sink.address()},
                                             {base::setting::SmtpSecurity, "none"},
                                             {base::setting::ReturnAddress, "me@example.test"},
                                             {base::setting::CountEmailBatchSucceeded, "1"}});
        app.settings.setNotifyAddresses({"n@example.test"});
        app.rules.useText(office.rulesText());
        app.rules.setUpdatePending(false);
        for (const auto& f : std::filesystem::directory_iterator(m_dir.path())) {
            if (f.path().filename().string().starts_with("Tarnwick_"))
                std::filesystem::remove_all(f.path()); // what an earlier case left
        }
        for (int i = 0; i < 3; ++i)
            ASSERT_EQ(app::addEntry(*m_state, test::OfficeSimulator::serial(i), "").position, i);
        if (c.cancel)
            office.setFault(test::OfficeSimulator::serial(2), "silent");
        const size_t start = m_view.positions.size();
        m_view.onDispatch = [&] {
            if (c.cancel && m_view.positions.size() >= start + 2)
                m_state->cancel();
        };
        const size_t seen = sink.messages().size();
        const update::RunSummary r = m_state->runUpdate(update::Scope::All);
        m_view.onDispatch = nullptr;
        ASSERT_TRUE(r.started);
        EXPECT_EQ(r.notificationsQueued, 0); // first readings
        const std::vector<test::SmtpSink::Message> all = sink.messages();
        ASSERT_EQ(all.size() - seen, c.subjects.size());
        for (size_t i = 0; i < c.subjects.size(); ++i)
            EXPECT_NE(all[seen + i].data.find("Subject: " + c.subjects[i] + "\r\n"), std::string::npos)
                << all[seen + i].data;
        EXPECT_EQ(m_state->queue().pendingExists(), c.subjects.empty());
        EXPECT_EQ(m_state->mailedAfterRun(), !c.subjects.empty());
    }
}
