#include "../net/fakeserver.h"
#include "app/application.h"
#include "app/entrycommands.h"
#include "app/entryrow.h"
#include "app/mainstate.h"
#include "core/datafile.h"
#include "core/daynumber.h"
#include "core/entry.h"
#include "core/fieldtable.h"
#include "core/identifier.h"
#include "core/text.h"
#include "net/flowlog.h"
#include "notify/history.h"
#include "platform/files.h"
#include "platform/signature.h"
#include "support/mainstatefixture.h"
#include "support/office.h"
#include "support/peers.h"
#include "support/scriptedfrontend.h"
#include "support/tempdir.h"
#include "update/updaterun.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <set>
#include <sys/resource.h>
#include <thread>

using namespace tarnwick;

namespace {

using test::WaitingFrontEnd;

class UpdateRunTest : public test::MainStateFixture<WaitingFrontEnd> {
protected:
    static void SetUpTestSuite()
    {
        s_office = new test::OfficeSimulator;
        s_office->start(20);
    }
    static void TearDownTestSuite()
    {
        delete s_office;
        s_office = nullptr;
    }

    void SetUp() override
    {
        s_office->control("/sim/reset");
        // the run's own tests look at the queue
        openInFolder({{base::setting::SendAfterUpdate, "0"}});
        m_app->rules.useText(s_office->rulesText());
        m_app->rules.setUpdatePending(false); // the download has tests of its own
    }
    void TearDown() override
    {
        m_state.reset();
        m_app.reset();
    }

    // Entries for the simulator's marks 0..count-1.
    void addMarks(int count, core::Frequency frequency = core::Frequency::Daily)
    {
        for (int i = 0; i < count; ++i) {
            core::Entry e;
            ASSERT_FALSE(core::setIdentifier(e, test::OfficeSimulator::serial(i)));
            e.Frequency = frequency;
            m_app->entries.appendEntry(e);
        }
    }
    core::Entry& entry(int p) { return m_app->entries.at(p); }
    // A fresh start: the office on day 1 without faults, the given marks never updated, nothing queued.
    void restart(int marks)
    {
        s_office->control("/sim/reset");
        m_app->entries.clear();
        for (const auto& f : std::filesystem::directory_iterator(m_dir.path())) {
            if (f.path().filename().string().starts_with("Tarnwick_"))
                std::filesystem::remove_all(f.path());
        }
        addMarks(marks);
    }
    std::string logText() const { return platform::readFile(m_dir.file("Tarnwick.log")).value_or(""); }

    static test::OfficeSimulator* s_office;
};

test::OfficeSimulator* UpdateRunTest::s_office = nullptr;

} // namespace

TEST_F(UpdateRunTest, RedoQuestionSkipsNeverEntriesOnlyForUpdateAll)
{
    addMarks(3);
    entry(2).Frequency = core::Frequency::Never;
    EXPECT_EQ(m_state->runUpdate(update::Scope::All).updated, 3);

    m_view.boxes.clear();
    m_view.nextAnswer(base::Answer::Yes);
    const update::RunSummary all = m_state->runUpdate(update::Scope::All);
    ASSERT_GE(m_view.boxes.size(), 1u);
    EXPECT_EQ(m_view.boxes[0].text, "All of the entries are already up-to-date.\n\nDo you want to redo the update?");
    EXPECT_EQ(m_view.boxes[0].defaultAnswer, base::Answer::No);
    EXPECT_EQ(all.due, 2);

    m_view.boxes.clear();
    m_state->setSelection({2});
    m_view.nextAnswer(base::Answer::Yes);
    const update::RunSummary selected = m_state->runUpdate(update::Scope::Selected);
    EXPECT_EQ(m_view.boxes[0].text,
              "All the selected entries are already up-to-date.\n\nDo you want to redo the update?");
    EXPECT_EQ(selected.updated, 1);
    EXPECT_EQ(m_view.boxes.back().text,
              "All selected entries have been successfully updated.\n\n0 marks changed, 0 failed, 0 messages sent.");

    m_view.boxes.clear();
    m_view.nextAnswer(base::Answer::No);
    EXPECT_FALSE(m_state->runUpdate(update::Scope::All).started);
    EXPECT_EQ(m_view.boxes.size(), 1u);

    // every entry Never: a Yes that makes nothing due ends the run as a No does
    for (int p = 0; p < 3; ++p)
        entry(p).Frequency = core::Frequency::Never;
    m_view.boxes.clear();
    m_view.nextAnswer(base::Answer::Yes);
    m_view.nextAnswer(base::Answer::Yes);
    EXPECT_FALSE(m_state->runUpdate(update::Scope::All).started);
    EXPECT_EQ(m_view.boxes.size(), 1u);
}

TEST_F(UpdateRunTest, CancelDuringTheThirdOfTenClosesItsSocketAndLeavesTheRestAsTheyWere)
{
    addMarks(10);
    entry(2).Reference = "ACME-3";
    for (int p = 2; p < 10; ++p)
        entry(p).Error = "HttpGet: HTTP Get Failed.";
    s_office->setFault(test::OfficeSimulator::serial(2), "silent");
    m_flow.clearText();
    int waits = 0;
    m_view.onDispatch = [&] {
        if (m_view.positions.size() == 2 && ++waits == 10)
            m_state->cancel();
    };
    const update::RunSummary r = m_state->runUpdate(update::Scope::All);
    EXPECT_EQ(r.failed, 1);
    EXPECT_EQ(r.reached, 3);
    EXPECT_TRUE(r.cancelled);
    EXPECT_EQ(entry(1).Error, "");
    EXPECT_EQ(entry(2).Error, "Operation canceled.");
    for (int p = 3; p < 10; ++p) {
        EXPECT_EQ(entry(p).Error, "HttpGet: HTTP Get Failed.") << p;
        EXPECT_FALSE(entry(p).isUpToDate()) << p;
    }
    EXPECT_EQ(m_view.positions.back(), 3);
    EXPECT_EQ(m_view.boxes.back().text, "The update was canceled after 3 of the 10 entries; the others were left as "
                                        "they were.\n\n0 marks changed, 1 failed, 0 messages sent.\n\nACME-3: "
                                        "Operation canceled.");
    EXPECT_EQ(m_view.statusLines.back(), "Update Status (All) canceled after 3 of 10: 0 marks changed, 1 failed, "
                                         "0 messages sent.");
    EXPECT_NE(m_flow.text().find("HttpGet(0): Cancelling..."), std::string::npos);
    EXPECT_EQ(m_app->settings.value(base::setting::CountUpdateFailed), "1");
}

TEST_F(UpdateRunTest, TimeOutFailsOneEntryAndTheRunGoesOn)
{
    addMarks(3);
    s_office->setFault(test::OfficeSimulator::serial(1), "silent");
    m_state->setOperationTimeoutMs(400);
    const update::RunSummary r = m_state->runUpdate(update::Scope::All);
    EXPECT_EQ(entry(1).Error, "HttpGet: Operation timed out.");
    EXPECT_EQ(r.updated, 2);
    EXPECT_EQ(r.failed, 1);
    EXPECT_EQ(m_state->cancelReason(), base::RunState::Running);
}

TEST_F(UpdateRunTest, FailuresOfThePageBecomeTheEntrysError)
{
    addMarks(4);
    entry(0).Reference = "ACME-1";
    const std::pair<const char*, const char*> faults[] = {
        {"404", "HttpGet: HTTP Get Failed. (404 Not Found)"},
        {"truncated", "The trademark office webpage is not complete. You might want to try again."},
        {"close", "HttpGet: HTTP Get Failed."},
    };
    for (int i = 0; i < 3; ++i)
        s_office->setFault(test::OfficeSimulator::serial(i), faults[i].first);
    m_state->setAutoMode(true);
    const update::RunSummary r = m_state->runUpdate(update::Scope::All);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(entry(i).Error, faults[i].second);
        EXPECT_EQ(entry(i).LastUpdate, 0);
    }
    EXPECT_EQ(r.updated, 1);
    // in auto mode the closing message of a failure goes to the log, and auto mode goes on
    EXPECT_TRUE(m_view.boxes.empty());
    EXPECT_NE(logText().find("Auto mode, not shown: '3 of the 4 entries were not updated."), std::string::npos);
    EXPECT_NE(logText().find("0 marks changed, 3 failed, 0 messages sent."), std::string::npos);
    EXPECT_TRUE(m_state->autoMode());
    EXPECT_NE(logText().find("Update error 'HttpGet: HTTP Get Failed. (404 Not Found)'"), std::string::npos);
}

TEST_F(UpdateRunTest, ARunThatQueuedMessagesSendsThemUnlessTurnedOffOrStopped)
{
    test::SmtpSink sink;
    sink.start("", "");
    base::AppSettings& s = m_app->settings;
    s.setValue(base::setting::ReturnAddress, "me@example.test");
    s.setNotifyAddresses({"n@example.test"});
    s.setValue(base::setting::SmtpSecurity, "none");
    s.setValue(base::setting::CountEmailBatchSucceeded, "1"); // no activity report opens the batch
    struct Case {
        std::string setting;
        std::string server;
        bool cancel; // the user stops the run at its last entry
        bool sent;
        std::string told; // in the last box, empty when the e-mail went out
    };
    const Case cases[] = {
        {"", sink.address(), false, true, ""},
        {"1", sink.address(), false, true, ""},
        {"0", sink.address(), false, false, ""},
        {"1", sink.address(), true, false, ""},
        {"1", "127.0.0.1:1", false, false,
         "The e-mail could not be sent through 127.0.0.1:1:\nNetwork: Unable to initiate session (connection "
         "refused).\n\nThe messages stay queued and go with the next sending."},
    };
    size_t received = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.setting + " " + c.server + (c.cancel ? " cancel" : ""));
        restart(3);
        s.setValue(base::setting::SendAfterUpdate, c.setting);
        s.setValue(base::setting::SmtpServer, c.server);
        m_state->runUpdate(update::Scope::All); // first readings queue nothing and send nothing
        ASSERT_FALSE(m_state->mailedAfterRun());
        s_office->setDay(400);
        entry(0).LastUpdate = entry(1).LastUpdate = entry(2).LastUpdate = 0;
        m_view.boxes.clear();
        if (c.cancel)
            s_office->setFault(test::OfficeSimulator::serial(2), "silent");
        const size_t start = m_view.positions.size();
        m_view.onDispatch = [&] {
            if (c.cancel && m_view.positions.size() >= start + 2)
                m_state->cancel();
        };
        const update::RunSummary r = m_state->runUpdate(update::Scope::All);
        m_view.onDispatch = nullptr;
        ASSERT_GT(r.notificationsQueued, 0);
        EXPECT_EQ(sink.messages().size() > received, c.sent);
        EXPECT_EQ(m_state->queue().pendingExists(), !c.sent);
        // the end of the run counts the messages that went out
        const std::string sent =
            core::counted(static_cast<long long>(sink.messages().size() - received), "message", "messages") + " sent.";
        EXPECT_TRUE(m_view.statusLines.back().ends_with(sent)) << m_view.statusLines.back();
        received = sink.messages().size();
        if (!c.told.empty()) {
            ASSERT_GE(m_view.boxes.size(), 2u);
            EXPECT_EQ(m_view.boxes[m_view.boxes.size() - 2].text, c.told);
            EXPECT_TRUE(m_view.boxes.back().text.ends_with("0 messages sent.")) << m_view.boxes.back().text;
        }
    }
}

TEST_F(UpdateRunTest, RevertedFieldsQuestionOnlyForTheFirstSixDueEntries)
{
    struct Case {
        std::vector<base::Answer> answers;
        size_t questions;
        int failed;
    };
    const Case cases[] = {
        {{base::Answer::Yes}, 1, 0},
        {{base::Answer::No, base::Answer::No, base::Answer::No, base::Answer::No, base::Answer::No, base::Answer::No},
         6,
         0},
        {{base::Answer::No, base::Answer::Cancel}, 2, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answers.size());
        s_office->control("/sim/reset");
        m_app->entries.clear();
        addMarks(7);
        m_state->runUpdate(update::Scope::All);
        for (int i = 0; i < 7; ++i) {
            s_office->setFault(test::OfficeSimulator::serial(i), "reformatted");
            entry(i).LastUpdate = 0;
            entry(i).RegNum.clear(); // fetched by the serial number, which the reformatted page still shows
            entry(i).Error = "earlier";
        }
        const std::string trademark = entry(1).Trademark;
        m_view.boxes.clear();
        for (base::Answer a : c.answers)
            m_view.nextAnswer(a);
        const update::RunSummary r = m_state->runUpdate(update::Scope::All);
        size_t questions = 0;
        for (const auto& box : m_view.boxes)
            questions += box.text.starts_with("Three or more fields for ") ? 1 : 0;
        EXPECT_EQ(questions, c.questions);
        EXPECT_EQ(r.failed, c.failed);
        if (c.failed != 0) {
            EXPECT_TRUE(r.warningRefused);
            EXPECT_EQ(entry(1).Error, "Possible update problem, update canceled by user.");
            EXPECT_EQ(entry(1).Trademark, trademark); // nothing stored
            // the run stops there: the later entries, whose pages may have been asked for ahead, are as they were
            for (int i = 2; i < 7; ++i) {
                EXPECT_EQ(entry(i).Error, "earlier") << i;
                EXPECT_EQ(entry(i).LastUpdate, 0) << i;
            }
        }
    }
}

TEST_F(UpdateRunTest, ChangesAreQueuedAndTheDataFileIsSavedAfterTheRun)
{
    addMarks(8);
    m_state->runUpdate(update::Scope::All);
    EXPECT_FALSE(platform::fileExists(m_dir.file("Tarnwick_pending.tmp"))); // first readings notify nothing
    s_office->setDay(400);
    for (int i = 0; i < 8; ++i)
        entry(i).LastUpdate = 0;
    const update::RunSummary r = m_state->runUpdate(update::Scope::All);
    ASSERT_GT(r.changed, 0);
    EXPECT_EQ(r.notificationsQueued, r.changed);
    const std::string pending = platform::readFile(m_dir.file("Tarnwick_pending.tmp")).value_or("");
    EXPECT_NE(pending.find("Tarnwick_s"), std::string::npos);
    EXPECT_EQ(m_app->settings.value(base::setting::CountStatusChange), std::to_string(r.changed));
    // the run itself saved the entries
    core::EntryStore reread;
    EXPECT_EQ(core::loadDataFile(reread, m_dir.path()), "");
    EXPECT_EQ(reread.count(), 8);
    EXPECT_EQ(reread.at(0).StatusText, entry(0).StatusText);
}

TEST_F(UpdateRunTest, RulesDownloadTakesOnlyNewerRulesOncePerRun)
{
    struct Case {
        const char* inUse;
        bool accepted;
    };
    const Case cases[] = {{"4.2.06.500", true}, {"4.2.07.000", false}, {"4.2.08.000", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.inUse);
        m_app->rules.useText(s_office->rulesText(c.inUse));
        m_app->rules.setUpdatePending(true);
        int titles = 0;
        m_state->setTitleRefresh([&] { ++titles; });
        m_state->downloadRules();
        m_state->downloadRules(); // fetches nothing, refreshes the title
        EXPECT_EQ(titles, 2);
        // only rules the distributor signed are taken: a build without its key takes none
        const bool taken = c.accepted && !platform::distributorKey().empty();
        EXPECT_EQ(m_app->rules.mustSave(), taken);
        EXPECT_EQ(m_app->rules.version(), taken ? "4.2.07.000" : c.inUse);
    }
    size_t fetches = 0;
    const std::string log = logText();
    const std::string line = "Update '" + s_office->base() + "/support/tarnwick.txt'";
    for (size_t at = log.find(line); at != std::string::npos; at = log.find(line, at + 1))
        ++fetches;
    EXPECT_EQ(fetches, 3u);
}

// A rules server that is not the distributor: its texts would move the status pages to its own host and
// send the API key there. Only a text the distributor signed, newer by number, is taken.
TEST_F(UpdateRunTest, RulesDownloadTakesOnlySignedRules)
{
    if (platform::distributorKey().empty())
        GTEST_SKIP() << "built without a distributor key";
    test::TempDir served;
    test::NginxPeer rulesServer;
    rulesServer.start(served.path());
    const std::string testKey = std::string(TARNWICK_TEST_DATA) + "/distributor-test-key.pem";
    const std::string otherKey = served.file("other.pem");
    ASSERT_EQ(std::system(("openssl genpkey -algorithm ed25519 -out " + otherKey + " 2>/dev/null").c_str()), 0);
    auto hostile = [](const std::string& version) {
        return "version: " + version +
               "\r\n;x\r\n\r\nfetch1:\r\n page[SerNum]: http://127.0.0.1:9/[SerNum]\r\n\r\n"
               "header:\r\n X-Key: [ApiKey]\r\n\r\nend-of-rules\r\n";
    };
    enum class Sig { None, Test, Other, TestThenChanged };
    struct Case {
        const char* name;
        std::string inUse;
        std::string version;
        Sig sig;
        bool taken;
        const char* logged; // why not, in the log
    };
    const Case cases[] = {
        {"unsigned", "4.2.06.500", "9.0", Sig::None, false, "no signature: HttpGet: HTTP Get Failed. (404 Not Found)"},
        {"another key", "4.2.06.500", "9.0", Sig::Other, false, "The signature does not match."},
        {"changed after signing", "4.2.06.500", "9.0", Sig::TestThenChanged, false, "The signature does not match."},
        {"a version of other bytes", "4.2.06.500", "\xff", Sig::Test, false, "its version is not numbers and dots"},
        {"older by number", "4.10.0", "4.9.0", Sig::Test, false, ""},
        {"signed and newer", "4.10.0", "4.10.1", Sig::Test, true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string text = hostile(c.version);
        (void)platform::writeFileAtomic(served.file("tarnwick.txt"), text);
        std::filesystem::remove(served.file("tarnwick.txt.sig"));
        if (c.sig != Sig::None) {
            const std::string cmd = "openssl pkeyutl -sign -rawin -inkey " +
                                    (c.sig == Sig::Other ? otherKey : testKey) + " -in " + served.file("tarnwick.txt") +
                                    " -out " + served.file("tarnwick.txt.sig");
            ASSERT_EQ(std::system(cmd.c_str()), 0);
        }
        if (c.sig == Sig::TestThenChanged)
            (void)platform::writeFileAtomic(served.file("tarnwick.txt"), hostile("9.1"));
        m_app->rules.useText("version: " + c.inUse + "\r\n;x\r\n\r\nlocation:\r\n rules: " +
                             rulesServer.url("/tarnwick.txt") + "\r\n\r\nend-of-rules\r\n");
        m_app->rules.setUpdatePending(true);
        (void)platform::writeFileAtomic(m_dir.file("Tarnwick.log"), "");
        m_state->downloadRules();
        EXPECT_EQ(m_app->rules.mustSave(), c.taken);
        EXPECT_EQ(m_app->rules.version(), c.taken ? c.version : c.inUse);
        const std::string log = logText();
        EXPECT_EQ(log.find(*c.logged ? "are not taken: " + std::string(c.logged) : "are not taken") !=
                      std::string::npos,
                  *c.logged != 0)
            << log;
    }
}

// Whatever the rules say, the API key goes to no plain-HTTP address.
TEST_F(UpdateRunTest, TheApiKeyGoesOnlyOverHttps)
{
    std::promise<std::string> request;
    test::FakeServer office([&](test::FakePeer& peer) {
        request.set_value(peer.readUntil("\r\n\r\n"));
        peer.send("HTTP/1.0 200 OK\r\n\r\nPlease double check the number and re-enter.");
    });
    m_app->rules.useText("version: 9.0\r\n;x\r\n\r\nfetch1:\r\n page[SerNum]: http://" + office.address() +
                         "/[SerNum]\r\n none: Please double check the number\r\n\r\nheader:\r\n"
                         " USPTO-API-KEY: [ApiKey]\r\n X-Other: kept\r\n\r\nend-of-rules\r\n");
    m_app->settings.setPlainApiKey("K3y-plain-http");
    addMarks(1);
    m_state->runUpdate(update::Scope::All);
    const std::string sent = request.get_future().get();
    EXPECT_NE(sent.find("X-Other: kept\r\n"), std::string::npos) << sent;
    EXPECT_EQ(sent.find("USPTO-API-KEY"), std::string::npos) << sent;
    EXPECT_EQ(sent.find("K3y-plain-http"), std::string::npos) << sent;
    EXPECT_NE(logText().find("the API key goes only over HTTPS"), std::string::npos);
}

TEST_F(UpdateRunTest, RulesDownloadRetriesThroughTheProxy)
{
    test::TinyproxyPeer proxy;
    proxy.start("127.0.0.1:" + std::to_string(s_office->port()));
    // nothing listens at the address itself; the proxy passes the request on to the office
    const std::string unreachable = "http://127.0.0.1:" + std::to_string(test::freeLoopbackPort());
    std::string text = s_office->rulesText();
    const std::string from = s_office->base() + "/support/tarnwick.txt";
    text.replace(text.find(from), from.size(), unreachable + "/support/tarnwick.txt");
    m_app->rules.useText(text);
    m_app->rules.setUpdatePending(true);
    m_app->settings.setValue(base::setting::ProxyServer, proxy.address());
    m_view.events.clear();
    m_state->downloadRules();
    EXPECT_EQ(m_app->rules.mustSave(), !platform::distributorKey().empty());
    EXPECT_FALSE(m_app->rules.directDownload());
    EXPECT_EQ(m_view.events.front(), "runStart:Update Rules:2");
    EXPECT_NE(std::find(m_view.events.begin(), m_view.events.end(), "status:from 127.0.0.1:" + unreachable.substr(17)),
              m_view.events.end());
}

namespace {

// Mark 2 of the simulator (75-000003) is an application on day 1 and a cancelled registration on day 400.
constexpr int k_changingMark = 2;

} // namespace

TEST_F(UpdateRunTest, AnEntryOnceReadKeepsItsBaselineAndItsLastUpdate)
{
    struct Case {
        const char* name;
        const char* fault; // on the update after the first reading
        bool reload;       // the data file is written and read back before the change
    };
    const Case cases[] = {
        {"blank page", "blank", false},
        {"blank page, then a reload", "blank", true},
        {"failed redo", "500", false},
        {"failed redo, then a reload", "500", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        restart(3);
        m_state->runUpdate(update::Scope::All);
        const core::DayNumber read = entry(k_changingMark).LastUpdate;
        s_office->setFault(test::OfficeSimulator::serial(k_changingMark), c.fault);
        m_view.nextAnswer(base::Answer::Yes); // redo
        m_view.nextAnswer(base::Answer::Yes); // the fields that reverted to nothing are fine
        m_state->runUpdate(update::Scope::All);
        EXPECT_EQ(entry(k_changingMark).LastUpdate, read);
        s_office->setFault(test::OfficeSimulator::serial(k_changingMark), "none");
        if (c.reload) {
            ASSERT_TRUE(m_state->saveEntries());
            m_app->entries.clear();
            ASSERT_TRUE(m_app->loadEntries());
        }
        s_office->setDay(400);
        m_view.nextAnswer(base::Answer::Yes);
        const update::RunSummary r = m_state->runUpdate(update::Scope::All);
        EXPECT_EQ(r.changed, 2); // marks 1 and 2 changed between the two days
        EXPECT_EQ(entry(k_changingMark).LastChange, entry(k_changingMark).Today);
        const std::string notice = platform::readFile(m_dir.file("Tarnwick_s3000003.tmp")).value_or("");
        EXPECT_NE(notice.find("The previous update was done on " + core::formatDay(read) + "."), std::string::npos)
            << notice;
    }
}

// The window's mark, the details of the window and the command line, and the report's badge all say changed only
// for a difference that the last update found.
TEST_F(UpdateRunTest, ChangedOnlyForADifferenceTheLastUpdateFound)
{
    addMarks(3);
    core::Entry unknown;
    ASSERT_FALSE(core::setIdentifier(unknown, "75999999"));
    m_app->entries.appendEntry(unknown);
    auto changed = [&] {
        std::vector<int> out;
        for (int p = 0; p < 4; ++p) {
            const bool mark = app::rowMark(entry(p)) == app::RowMark::Changed;
            const bool details = app::detailsText(m_app->entries, {p}).starts_with("Changed within the last week: Yes");
            const bool badge = entry(p).lookupVariable("RecentChange") == "Yes";
            EXPECT_EQ(mark, details) << p;
            EXPECT_EQ(mark, badge) << p;
            if (mark)
                out.push_back(p);
        }
        return out;
    };
    struct Step {
        const char* name;
        int day;   // the office's; 0: no update
        int later; // the update runs this many days after the last
        std::vector<int> changed;
    };
    const Step steps[] = {
        {"never updated", 0, 0, {}},
        {"first readings, one number unknown to the office", 1, 0, {}},
        {"marks 1 and 2 changed", 400, 0, {1, 2}},
        {"the next day's update finds nothing new", 400, 1, {}},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.name);
        if (s.day > 0) {
            s_office->setDay(s.day);
            for (int p = 0; p < 4; ++p) {
                entry(p).LastUpdate = 0;
                entry(p).Today += s.later;
            }
            m_state->runUpdate(update::Scope::All);
        }
        EXPECT_EQ(changed(), s.changed);
        // so also after a reload, which gives an entry never read a LastChange
        ASSERT_TRUE(m_state->saveEntries());
        m_app->entries.clear();
        ASSERT_TRUE(m_app->loadEntries());
        EXPECT_EQ(changed(), s.changed);
    }
}

TEST_F(UpdateRunTest, APageForAnotherNumberFailsAndAnUnknownNumberIsShown)
{
    struct Case {
        const char* fault;
        std::string number; // the entry's number
        std::string error;
        int failed;
    };
    const Case cases[] = {
        {"othermark", "75000003", "The office's page is for 75-000004, not 75-000003.", 1},
        {"nonumber", "75000003", "The office's page does not show the number 75-000003.", 1},
        {"none", "75999999", "The trademark office has no record of application 75-999999.", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        restart(0);
        core::Entry e;
        ASSERT_FALSE(core::setIdentifier(e, c.number));
        m_app->entries.appendEntry(e);
        m_state->runUpdate(update::Scope::All);
        const core::Entry before = entry(0);
        s_office->setFault(c.number, c.fault);
        m_view.boxes.clear();
        m_view.nextAnswer(base::Answer::Yes);
        const update::RunSummary r = m_state->runUpdate(update::Scope::All);
        EXPECT_EQ(r.failed, c.failed);
        EXPECT_EQ(entry(0).Error, c.error);
        EXPECT_EQ(entry(0).SerNum, before.SerNum);
        EXPECT_EQ(entry(0).Trademark, before.Trademark);
        EXPECT_TRUE(entry(0).sameWatchedValues(before));
        if (c.failed == 0) {
            EXPECT_EQ(m_view.boxes.back().text, "All entries have been successfully updated.\n\n0 marks changed, 0 "
                                                "failed, 0 messages sent.\n\nThe trademark office has no record of 1 "
                                                "entry; its Error column says which.");
        }
    }
    // a number the entry did not have yet is filled in
    restart(3);
    m_state->runUpdate(update::Scope::All);
    s_office->setDay(400);
    m_view.nextAnswer(base::Answer::Yes);
    m_state->runUpdate(update::Scope::All);
    EXPECT_EQ(entry(k_changingMark).SerNum, "75-000003");
    EXPECT_EQ(entry(k_changingMark).RegNum, "3000003");
}

// A page never re-points an entry to another mark: a number the entry holds stays, and a new one is taken only
// when it is well formed and the page it leads to names the entry. A second entry's page is asked for ahead
// meanwhile.
TEST_F(UpdateRunTest, AnUpdateKeepsTheNumbersHeldAndChecksANewOne)
{
    struct Case {
        const char* name;
        std::string serNum, regNum, intNum; // the entry's numbers
        const char* fault;                  // on its page
        std::string error;                  // its Error after the update
        std::string serAfter, regAfter, intAfter;
    };
    const std::string note = "The office's page gives registration ";
    const Case cases[] = {
        {"held serial differs", "75-000003", "3000003", "", "serial:75000009",
         "The office's page is for 75-000009, not 75-000003.", "75-000003", "3000003", ""},
        {"held registration differs", "75-000003", "3000003", "", "reg:3000005",
         "The office's page is for 3000005, not 3000003.", "75-000003", "3000003", ""},
        {"held international reg differs", "75-000003", "", "1234567", "intreg:7654321",
         "The office's page is for 7654321, not 1234567.", "75-000003", "", "1234567"},
        {"the mark's own new registration", "75-000003", "", "", "none", "", "75-000003", "3000003", ""},
        {"the mark's own new serial", "", "3000003", "", "none", "", "75-000003", "3000003", ""},
        {"another mark's registration", "75-000001", "", "", "reg:3000003",
         note + "3000003, but the page of that number is for 75-000003, not 75-000001; the entry does not take it.",
         "75-000001", "", ""},
        {"a record's registration of zeros", "75-000001", "", "", "reg:0000000", "", "75-000001", "", ""},
        {"junk registration", "75-000001", "", "", "reg:12",
         note + "12, which is not well formed; the entry does not take it.", "75-000001", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        restart(0);
        s_office->setDay(400);
        core::Entry e;
        e.SerNum = c.serNum;
        e.RegNum = c.regNum;
        e.IntNum = c.intNum;
        m_app->entries.appendEntry(e);
        core::Entry next; // a mark the faults leave alone
        ASSERT_FALSE(core::setIdentifier(next, test::OfficeSimulator::serial(5)));
        m_app->entries.appendEntry(next);
        s_office->setFault(c.serNum, c.fault);
        const bool failed = c.error.starts_with("The office's page is for");
        const update::RunSummary r = m_state->runUpdate(update::Scope::All);
        EXPECT_EQ(r.failed, failed ? 1 : 0);
        EXPECT_EQ(r.updated, failed ? 1 : 2);
        EXPECT_EQ(entry(0).Error, c.error);
        EXPECT_EQ(entry(0).SerNum, c.serAfter);
        EXPECT_EQ(entry(0).RegNum, c.regAfter);
        EXPECT_EQ(entry(0).IntNum, c.intAfter);
        EXPECT_EQ(entry(0).Trademark.empty(), failed); // the page's values are taken unless it is another mark's
    }
}

TEST_F(UpdateRunTest, AChangeThatCannotBeQueuedIsFoundAgainByTheNextRun)
{
    struct Case {
        const char* name;
        std::function<void(bool on)> fault;
        std::string error;
    };
    const std::string list = m_dir.file("Tarnwick_pending.tmp");
    const Case cases[] = {
        {"the pending list cannot be written",
         [&](bool on) { on ? std::filesystem::create_directory(list) : std::filesystem::remove(list); },
         "PostEmail: Can't create the e-mail notification file."},
        // files cannot grow beyond 512 bytes, as on a full disk
        {"no room for the message",
         [](bool on) {
             ::signal(SIGXFSZ, on ? SIG_IGN : SIG_DFL);
             rlimit limit{};
             ::getrlimit(RLIMIT_FSIZE, &limit);
             limit.rlim_cur = on ? 512 : limit.rlim_max;
             ::setrlimit(RLIMIT_FSIZE, &limit);
         },
         "PostEmail: Can't create the pending e-mail file."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        restart(3);
        m_state->runUpdate(update::Scope::All);
        const core::Entry before = entry(k_changingMark);
        s_office->setDay(400);
        c.fault(true);
        m_view.nextAnswer(base::Answer::Yes);
        const update::RunSummary failing = m_state->runUpdate(update::Scope::All);
        c.fault(false);
        EXPECT_EQ(failing.failed, 2);
        EXPECT_EQ(failing.notificationsQueued, 0);
        EXPECT_EQ(entry(k_changingMark).Error, c.error);
        EXPECT_TRUE(entry(k_changingMark).sameWatchedValues(before));
        EXPECT_EQ(entry(k_changingMark).LastChange, before.LastChange);
        EXPECT_FALSE(platform::fileExists(m_dir.file("Tarnwick_s3000003.tmp")));

        m_view.nextAnswer(base::Answer::Yes);
        const update::RunSummary next = m_state->runUpdate(update::Scope::All);
        EXPECT_EQ(next.notificationsQueued, 2);
        EXPECT_NE(platform::readFile(list).value_or("").find("Tarnwick_s3000003.tmp"), std::string::npos);
    }
}

TEST_F(UpdateRunTest, ACancelDuringTheRulesDownloadCancelsTheRun)
{
    addMarks(2);
    // rules whose download never gets an answer
    s_office->setFault("75000009", "silent");
    std::string text = s_office->rulesText();
    const std::string from = s_office->base() + "/support/tarnwick.txt";
    text.replace(text.find(from), from.size(), s_office->base() + "/servlet/tarr?regser=serial&entry=75000009");
    m_app->rules.useText(text);
    m_app->rules.setUpdatePending(true);
    m_view.onDispatch = [&] {
        if (m_view.dispatches == 20)
            m_state->cancel();
    };
    m_view.events.clear();
    EXPECT_FALSE(m_state->runUpdate(update::Scope::All).started);
    EXPECT_EQ(entry(0).LastUpdate, 0);
    EXPECT_TRUE(m_view.boxes.empty());
    // the download shows its own time-out; the window's stays as chosen
    EXPECT_NE(std::find(m_view.events.begin(), m_view.events.end(), "operationStart:30"), m_view.events.end());
    EXPECT_EQ(m_state->operationTimeoutMs(), 60000);
    EXPECT_EQ(m_state->currentTimeoutMs(), 60000);
    // the next command starts with a clear cancel reason
    m_view.onDispatch = {};
    EXPECT_EQ(m_state->runUpdate(update::Scope::All).updated, 2);
}

TEST_F(UpdateRunTest, ChangesGoIntoTheHistoryAndIntoOneDigestWhenAsked)
{
    addMarks(8);
    m_state->runUpdate(update::Scope::All);
    EXPECT_FALSE(platform::fileExists(m_dir.file("Tarnwick_history.txt"))); // first readings are no changes
    m_app->settings.setValue(base::setting::NotifyMode, "digest");
    s_office->setDay(400);
    m_view.nextAnswer(base::Answer::Yes);
    const update::RunSummary r = m_state->runUpdate(update::Scope::All);
    ASSERT_GT(r.changed, 1);
    EXPECT_EQ(platform::readFile(m_dir.file("Tarnwick_pending.tmp")), "Tarnwick_digest.tmp\r\n");
    EXPECT_TRUE(platform::readFile(m_dir.file("Tarnwick_digest.tmp"))
                    ->starts_with("Subject: Trademark status: " + std::to_string(r.changed) + " marks changed\r\n"));

    // a record per changed field, each holding the value now stored
    const notify::HistoryText history = notify::parseHistory(*platform::readFile(m_dir.file("Tarnwick_history.txt")));
    EXPECT_EQ(history.damaged, 0);
    std::set<std::string> numbers;
    for (const notify::ChangeRecord& record : history.records) {
        SCOPED_TRACE(record.number + " " + record.field);
        numbers.insert(record.number);
        const std::optional<int> p = app::findByNumber(m_app->entries, record.number);
        ASSERT_TRUE(p.has_value());
        EXPECT_EQ(*entry(*p).textField(*core::fieldByKey(record.field)), record.newValue);
        EXPECT_EQ(record.date, core::formatDay(entry(*p).Today));
    }
    EXPECT_EQ(numbers.size(), static_cast<size_t>(r.changed));
}

TEST_F(UpdateRunTest, AHistoryThatCannotBeWrittenIsToldOnceAndStopsNothing)
{
    addMarks(3);
    m_state->runUpdate(update::Scope::All);
    std::filesystem::create_directory(m_dir.file("Tarnwick_history.txt"));
    s_office->control("/sim/churn?mode=all");
    for (int day : {400, 401}) {
        s_office->setDay(day);
        m_view.nextAnswer(base::Answer::Yes);
        const update::RunSummary r = m_state->runUpdate(update::Scope::All);
        EXPECT_EQ(r.changed, 3);
        EXPECT_EQ(r.failed, 0);
        for (int p = 0; p < 3; ++p)
            entry(p).LastUpdate = 0;
    }
    const auto told = std::count_if(m_view.boxes.begin(), m_view.boxes.end(), [](const auto& box) {
        return box.caption == base::caption("History Not Written");
    });
    EXPECT_EQ(told, 1);
    EXPECT_NE(logText().find("History not written"), std::string::npos);
}

// The charset in the page's Content-Type decides what its byte 0xA0 is: here the page holds a stray 0xA0 and is
// not valid UTF-8, yet its letters ending in 0xA0 stay whole. A value stored cut short is a change.
TEST_F(UpdateRunTest, TheCharsetOfTheResponseKeepsUtf8LettersWhole)
{
    const std::string letters = "CAF\xC3\x89 \xC3\xA0 LA \xC5\xA0KODA \xD0\xA0OSA \xE2\x80\xA0";
    test::FakeServer office([&](test::FakePeer& peer) {
        peer.readUntil("\r\n\r\n");
        peer.send("HTTP/1.0 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n\r\n<b>" + letters +
                  "\xC2\xA0</b><i>\xA0</i>");
    });
    m_app->rules.useText("version: 9.0\r\n;x\r\n\r\nfetch1:\r\n page[SerNum]: http://" + office.address() +
                         "/[SerNum]\r\n none: Please double check the number\r\n required: </b>\r\n"
                         " [Trademark]: <b>[*]</b>\r\n\r\nend-of-rules\r\n");
    core::Entry e;
    ASSERT_FALSE(core::setIdentifier(e, test::OfficeSimulator::serial(0)));
    e.Trademark = "CAF\xC3\x89 \xC3 LA \xC5 KODA \xD0 OSA \xE2\x80";
    e.LastChange = e.Today - 30;
    m_app->entries.appendEntry(e);
    const update::RunSummary r = m_state->runUpdate(update::Scope::All);
    EXPECT_EQ(entry(0).Error, "");
    EXPECT_EQ(entry(0).Trademark, letters);
    EXPECT_EQ(r.changed, 1);
}

// A run's tally reaches the window when its entries are done, before the closing message waits for someone
TEST_F(UpdateRunTest, TheTallyIsToldBeforeTheClosingMessage)
{
    addMarks(3);
    std::vector<std::string> told;
    m_state->setRunEndObserver([&](const update::RunSummary& s) {
        told.push_back(std::to_string(s.updated) + " updated, " + std::to_string(m_view.boxes.size()) + " boxes");
    });
    m_state->runUpdate(update::Scope::All);
    EXPECT_EQ(told, std::vector<std::string>{"3 updated, 0 boxes"});
    ASSERT_EQ(m_view.boxes.size(), 1u);
}
