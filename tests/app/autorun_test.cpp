// An unattended run: the answers its boxes take, its exit status, and the failure notice it queues at most once a
// day.
#include "app/autorun.h"
#include "app/commandline.h"
#include "app/mainstate.h"
#include "core/daynumber.h"
#include "core/entry.h"
#include "core/identifier.h"
#include "platform/files.h"
#include "support/clockscope.h"
#include "support/mainstatefixture.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace tarnwick;
using namespace tarnwick::app;

namespace {

using A = base::Answer;
using Q = base::Question;

class AutoRunTest : public test::MainStateFixture<> {
protected:
    std::string logText() const { return platform::readFile(m_dir.file("Tarnwick.log")).value_or(""); }
    std::string notice() const { return platform::readFile(m_dir.file("Tarnwick_failures.tmp")).value_or(""); }
    std::string pendingList() const { return platform::readFile(m_dir.file("Tarnwick_pending.tmp")).value_or(""); }
};

} // namespace

TEST(UnattendedAnswer, NothingIsDeletedInstalledOrStartedAndOnlyAutoModeSendsTheQueue)
{
    struct Case {
        Q question;
        A sessionEnding;
        A autoMode;
    };
    const Case cases[] = {
        {Q::Message, A::Ok, A::Ok},
        {Q::SendPendingEmail, A::No, A::Yes},
        {Q::ExitAfterFailedSend, A::Yes, A::Yes},
        {Q::RevertedFields, A::Cancel, A::Cancel}, // nothing suspicious is stored
        {Q::OverwriteInstalled, A::Cancel, A::No}, // a timer's run goes on where the program is
        {Q::DownloadUpgrade, A::No, A::No},        // its default would download a program
        {Q::TestEmailConnection, A::No, A::No},
        {Q::DeleteEntries, A::No, A::No},
        {Q::DeletePendingEmail, A::No, A::No},
        {Q::RedoUpdate, A::No, A::No},
        {Q::QuitUnconfigured, A::Yes, A::Yes},
        {Q::Disclaimer, A::No, A::No},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.question));
        const base::MessageBox box = base::boxOf(c.question, "text");
        EXPECT_EQ(unattendedAnswer(box, Unattended::SessionEnding), c.sessionEnding);
        EXPECT_EQ(unattendedAnswer(box, Unattended::AutoMode), c.autoMode);
    }
}

TEST(AutoExitStatus, TheMailFirstThenTheEntries)
{
    struct Case {
        const char* name;
        AutoOutcome outcome;
        int status;
        const char* endLine;
    };
    const Case cases[] = {
        {"all went",
         {true, true, true, false, 22, 0, ""},
         exitcode::Normal,
         "every entry due was updated and the e-mail went out"},
        {"nothing due", {true, true, true, false, 0, 0, ""}, exitcode::Normal, "every entry due"},
        {"two failed",
         {true, true, true, false, 22, 2, ""},
         exitcode::EntriesFailed,
         "2 entries of 22 could not be updated"},
        {"stopped", {true, true, true, true, 22, 0, ""}, exitcode::EntriesFailed, "stopped before its end"},
        {"never ran", {true, true, false, false, 0, 0, ""}, exitcode::EntriesFailed, "the update did not run"},
        {"mail refused",
         {true, true, true, false, 22, 0, "Connection refused."},
         exitcode::MailNotSent,
         "could not be sent and stays queued (Connection refused)."},
        {"both", {true, true, true, false, 22, 2, "Connection refused"}, exitcode::MailNotSent, "could not be sent"},
        {"reports not written",
         {true, false, true, false, 22, 2, "x"},
         exitcode::Refused,
         "the data file or the reports could not be written"},
        {"unreadable data file",
         {false, true, false, false, 0, 0, "x"},
         exitcode::Refused,
         "data file could not be read"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int status = autoExitStatus(c.outcome);
        EXPECT_EQ(status, c.status);
        const std::string line = autoEndLine(c.outcome, status);
        EXPECT_TRUE(line.starts_with("Auto mode ends with exit status " + std::to_string(c.status) + ": ")) << line;
        EXPECT_NE(line.find(c.endLine), std::string::npos) << line;
    }
}

// what the run below does not reach: no failure, and a notice that waited since the day before
TEST(FailureNoticeStep, NoFailureNoNoticeAndAWaitingOneIsBroughtUpToDate)
{
    struct Case {
        const char* name;
        int failed;
        bool stillQueued;
        core::DayNumber lastQueued;
        FailureNotice step;
    };
    constexpr core::DayNumber today = 46000;
    const Case cases[] = {
        {"no failure", 0, false, 0, FailureNotice::None},
        {"no failure, one waits", 0, true, today, FailureNotice::None},
        {"queued yesterday, mail down since", 1, true, today - 1, FailureNotice::Replace},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(failureNoticeStep(c.failed, c.stillQueued, c.lastQueued, today), c.step);
    }
}

TEST_F(AutoRunTest, NothingDueSaysSo)
{
    openInFolder();
    AutoRun run(*m_state);
    run.runEnded({});
    EXPECT_NE(logText().find("Nothing was due; 0 entries updated."), std::string::npos);
    EXPECT_EQ(run.finish(true, true), exitcode::Normal);
    EXPECT_FALSE(platform::fileExists(m_dir.file("Tarnwick_failures.tmp")));
}

// The notice names every entry that failed with its reason; a second failing run of the day brings a notice that
// still waits up to date, and after it was sent the mailbox hears nothing more until the next day.
TEST_F(AutoRunTest, TheFailureNoticeNamesTheEntriesOnceADay)
{
    test::ClockScope clock(1765000000000, 0);
    app::AppContext& app = openInFolder({{base::setting::OrgName, "Acme"}});
    for (const char* number : {"75000001", "75000002", "75000003"}) {
        core::Entry e(core::today());
        core::setIdentifier(e, number);
        app.entries.appendEntry(e);
    }
    app.entries.at(0).Reference = "KESTREL-EU";
    app.entries.at(0).Error = "HttpGet: HTTP Get Failed. (500 Internal Server Error)";
    app.entries.at(1).Error = "The trademark office webpage is not complete.";
    // read today, its error a note on the page: no failure
    app.entries.at(2).Error = "The office has no record of it.";
    app.entries.at(2).LastUpdate = core::today();

    update::RunSummary summary;
    summary.started = true;
    summary.due = 3;
    summary.failed = 2;
    const auto runFailing = [&] {
        AutoRun run(*m_state);
        run.runEnded(summary);
        return run.finish(true, true);
    };
    EXPECT_EQ(runFailing(), exitcode::EntriesFailed);
    EXPECT_NE(notice().find("Subject: Tarnwick: 2 marks could not be updated\r\n"), std::string::npos) << notice();
    EXPECT_NE(notice().find("- KESTREL-EU, application 75-000001: HttpGet: HTTP Get Failed. (500 Internal Server "
                            "Error)\r\n- application 75-000002: The trademark office webpage is not complete.\r\n"),
              std::string::npos)
        << notice();
    EXPECT_EQ(notice().find("75-000003"), std::string::npos);
    EXPECT_EQ(pendingList(), "Tarnwick_failures.tmp\r\n");

    app.entries.at(1).Error.clear();
    app.entries.at(1).LastUpdate = core::today();
    summary.failed = 1;
    runFailing();
    EXPECT_NE(notice().find("Subject: Tarnwick: 1 mark could not be updated\r\n"), std::string::npos) << notice();
    EXPECT_EQ(pendingList(), "Tarnwick_failures.tmp\r\n");

    // sent
    std::filesystem::remove(m_dir.file("Tarnwick_failures.tmp"));
    std::filesystem::remove(m_dir.file("Tarnwick_pending.tmp"));
    runFailing();
    EXPECT_FALSE(platform::fileExists(m_dir.file("Tarnwick_failures.tmp")));

    clock.clock().set(1765000000000 + 24 * 3600 * 1000);
    runFailing();
    EXPECT_EQ(pendingList(), "Tarnwick_failures.tmp\r\n");
}
