#include "notify/emailqueue.h"

#include "base/frontend.h"
#include "base/log.h"
#include "base/settings.h"
#include "core/entry.h"
#include "docket/deadlines.h"
#include "notify/appnames.h"
#include "notify/reminders.h"
#include "notify/templates.h"
#include "rules/templatevars.h"
#include "support/files.h"
#include "support/loopback.h"
#include "support/peers.h"
#include "support/queuefixture.h"
#include "support/scriptedfrontend.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>
#include <unistd.h>

using namespace tarnwick;
using notify::MailMode;

namespace {

using test::readAll;
using test::writeFile;

core::Entry entryWithReg(const std::string& regNum)
{
    core::Entry e(45000);
    e.RegNum = regNum;
    return e;
}

TEST(MessageFileName, KeepsNamesInsideTheFolder)
{
    struct Case {
        const char* regNum;
        const char* serNum;
        const char* intNum;
        const char* kind;
        const char* expected;
    };
    const Case cases[] = {
        {"1234567", "", "", "a", "Tarnwick_a1234567.tmp"},
        {"", "75-123456", "", "s", "Tarnwick_s75-123456.tmp"},
        {"", "", "0123456", "d", "Tarnwick_d0123456.tmp"},
        {"7", "8", "9", "c", "Tarnwick_c7.tmp"},
        {"", "", "", "welcome", "Tarnwick_welcome.tmp"},
        {"../../etc/passwd", "", "", "a", "Tarnwick_a______etc_passwd.tmp"},
        {"", "..", "", "a", "Tarnwick_a__.tmp"},
        {"", "", "x\\y z\xE9\r\n", "a", "Tarnwick_ax_y_z___.tmp"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        core::Entry e(45000);
        e.RegNum = c.regNum;
        e.SerNum = c.serNum;
        e.IntNum = c.intNum;
        EXPECT_EQ(notify::messageFileName(e, c.kind), c.expected);
    }
}

class EmailQueueTest : public test::QueueFixture {
public:
    EmailQueueTest() : QueueFixture("me@example.test", {"n1@example.test", "n2@example.test"}) {}

    std::string logFile(const std::string& name) const { return logDir() + "/" + name; }
    std::string pendingList() const { return readAll(logFile("Tarnwick_pending.tmp")); }
    bool exists(const std::string& name) const { return std::filesystem::exists(logFile(name)); }

    void post(const std::string& regNum, int templateId = notify::templateid::EntryAdded)
    {
        ASSERT_EQ(queue.PostEmail(entryWithReg(regNum), templateId, "a"), "");
    }
};

TEST_F(EmailQueueTest, PostingWritesTheMessageThenListsIt)
{
    post("1234567");
    post("7654321");
    EXPECT_EQ(pendingList(), "Tarnwick_a1234567.tmp\r\nTarnwick_a7654321.tmp\r\n");
    const std::string message = readAll(logFile("Tarnwick_a1234567.tmp"));
    EXPECT_TRUE(message.starts_with("Subject: Trademark entry added, registration 1234567\r\n\r\n")) << message;
    EXPECT_NE(message.find("resulting from adding a record at"), std::string::npos);
    EXPECT_EQ(settings.value(base::setting::CountEmailPost), "2");
    EXPECT_NE(readAll(log.path()).find("Post E-Mail 'Tarnwick_a1234567.tmp'"), std::string::npos);
    EXPECT_TRUE(fe.boxes.empty());
    EXPECT_EQ(vars.current(), nullptr);

    // a list whose last line lost its line end still gets the next name on a line of its own
    writeFile(logFile("Tarnwick_pending.tmp"), "Tarnwick_a1.tmp");
    post("2");
    EXPECT_EQ(pendingList(), "Tarnwick_a1.tmp\r\nTarnwick_a2.tmp\r\n");
}

TEST_F(EmailQueueTest, PostingFailuresLeaveNoHalfEntry)
{
    struct Case {
        const char* name;
        std::function<void(EmailQueueTest&)> arrange;
        int templateId;
        const char* error;
        const char* leftover; // the message file, which must not remain
    };
    const Case cases[] = {
        {"missing template", [](EmailQueueTest&) {}, 19, "PostEmail: Can't find e-mail template file.", nullptr},
        {"no logging folder",
         [](EmailQueueTest& t) { t.settings.setValue(base::setting::LogDir, t.dir.file("nowhere")); }, 2,
         "PostEmail: Can't create the pending e-mail file.", nullptr},
        {"unreadable list",
         [](EmailQueueTest& t) { std::filesystem::create_directory(t.logFile("Tarnwick_pending.tmp")); }, 2,
         "PostEmail: Can't create the e-mail notification file.", "Tarnwick_a555.tmp"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EmailQueueTest& t = *this;
        c.arrange(t);
        fe.boxes.clear();
        EXPECT_EQ(queue.PostEmail(entryWithReg("555"), c.templateId, "a"), c.error);
        ASSERT_EQ(fe.boxes.size(), 1u);
        EXPECT_EQ(fe.boxes[0].text, c.error);
        EXPECT_EQ(fe.boxes[0].caption, base::caption("E-Mail Creation Failed"));
        if (c.leftover) {
            EXPECT_FALSE(exists(c.leftover));
        }
        EXPECT_EQ(settings.value(base::setting::CountEmailPost), "");
        settings.setValue(base::setting::LogDir, logDir());
    }
}

TEST_F(EmailQueueTest, ADigestIsOneMessageThatEachCommitRewrites)
{
    auto change = [this](const std::string& regNum, const char* was, const char* now) {
        core::Entry before = entryWithReg(regNum);
        before.StatusText = was;
        core::Entry after = before;
        after.StatusText = now;
        ASSERT_EQ(queue.stageDigest(after, before), "");
    };
    auto subject = [this](const std::string& name) {
        const std::string text = readAll(logFile(name));
        return text.substr(0, text.find("\r\n"));
    };
    change("1111111", "Pending", "Registered");
    change("2222222", "Published", "Abandoned");
    EXPECT_EQ(queue.commitEmail(), "");
    EXPECT_EQ(pendingList(), "Tarnwick_digest.tmp\r\n");
    EXPECT_EQ(subject("Tarnwick_digest.tmp"), "Subject: Trademark status: 2 marks changed");
    const std::string two = readAll(logFile("Tarnwick_digest.tmp"));
    EXPECT_NE(two.find("\r\n\r\n1. Your reference number \"-\", Trademark registration 1111111\r\n\r\nStatus (now): "
                       "Registered\r\nStatus (was): Pending\r\n"),
              std::string::npos)
        << two;
    EXPECT_NE(two.find("\r\n\r\n2. Your reference number \"-\", Trademark registration 2222222"), std::string::npos);

    // a later group of the same run: the same message, rewritten whole, listed once
    change("3333333", "Pending", "Registered");
    EXPECT_EQ(queue.commitEmail(), "");
    EXPECT_EQ(queue.commitEmail(), "");
    EXPECT_EQ(pendingList(), "Tarnwick_digest.tmp\r\n");
    EXPECT_EQ(subject("Tarnwick_digest.tmp"), "Subject: Trademark status: 3 marks changed");
    EXPECT_EQ(settings.value(base::setting::CountEmailPost), "1");

    // a group that cannot be committed leaves the digest as it was; the next run's digest is its own message
    queue.endDigest();
    std::filesystem::create_directory(logFile("Tarnwick_pending2.tmp"));
    std::filesystem::rename(logFile("Tarnwick_pending.tmp"), logFile("kept"));
    std::filesystem::rename(logFile("Tarnwick_pending2.tmp"), logFile("Tarnwick_pending.tmp"));
    change("4444444", "Pending", "Registered");
    EXPECT_EQ(queue.commitEmail(), "PostEmail: Can't create the e-mail notification file.");
    std::filesystem::remove(logFile("Tarnwick_pending.tmp"));
    std::filesystem::rename(logFile("kept"), logFile("Tarnwick_pending.tmp"));
    EXPECT_FALSE(exists("Tarnwick_digest_2.tmp"));
    change("5555555", "Pending", "Registered");
    EXPECT_EQ(queue.commitEmail(), "");
    EXPECT_EQ(pendingList(), "Tarnwick_digest.tmp\r\nTarnwick_digest_2.tmp\r\n");
    EXPECT_EQ(subject("Tarnwick_digest_2.tmp"), "Subject: Trademark status: 1 mark changed");
    EXPECT_EQ(readAll(logFile("Tarnwick_digest_2.tmp")).find("4444444"), std::string::npos);
    EXPECT_EQ(subject("Tarnwick_digest.tmp"), "Subject: Trademark status: 3 marks changed");
}

// In digest mode the notices of edits waiting at a sending go in the digest, a line each; a lone one, or one
// with its own recipients, stays a message of its own. Every message file sent is gone afterwards.
TEST_F(EmailQueueTest, EditsJoinTheDigestWhenTheQueueIsSent)
{
    test::SmtpSink sink;
    sink.start();
    useSink(sink);
    struct Case {
        const char* name;
        const char* mode;
        std::vector<std::pair<std::string, const char*>> edits; // number, kind
        bool statusChange;
        bool ownRecipients; // a notice whose template names its own recipients
        std::vector<std::string> subjects;
    };
    const Case cases[] = {
        {"each",
         "each",
         {{"1", "a"}, {"2", "d"}},
         false,
         false,
         {"Trademark entry added, registration 1", "Trademark entry deleted, registration 2"}},
        {"a lone edit", "digest", {{"1", "a"}}, false, false, {"Trademark entry added, registration 1"}},
        {"edits alone",
         "digest",
         {{"1", "a"}, {"2", "a"}, {"3", "d"}},
         false,
         false,
         {"Trademark status: 2 entries added, 1 entry deleted"}},
        {"edits and a run's changes",
         "digest",
         {{"1", "a"}},
         true,
         false,
         {"Trademark status: 1 mark changed, 1 entry added"}},
        {"own recipients",
         "digest",
         {{"1", "a"}, {"2", "a"}},
         false,
         true,
         {"mine", "Trademark status: 2 entries added"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        settings.setValue(base::setting::NotifyMode, c.mode);
        settings.setValue(base::setting::CountEmailBatchSucceeded, "1"); // no activity report
        const size_t seen = sink.messages().size();
        for (const auto& [number, kind] : c.edits) {
            const int id = *kind == 'a' ? notify::templateid::EntryAdded : notify::templateid::EntryDeleted;
            ASSERT_EQ(queue.PostEmail(entryWithReg(number), id, kind), "");
        }
        if (c.ownRecipients) {
            writeFile(logFile("Tarnwick_c9.tmp"), "To: own@example.test\r\nSubject: mine\r\n\r\nbody\r\n");
            writeFile(logFile("Tarnwick_pending.tmp"), pendingList() + "Tarnwick_c9.tmp\r\n");
        }
        if (c.statusChange) {
            core::Entry before = entryWithReg("4444444");
            core::Entry after = before;
            after.StatusText = "Registered";
            ASSERT_EQ(queue.stageDigest(after, before), "");
            ASSERT_EQ(queue.commitEmail(), "");
            queue.endDigest();
        }
        EXPECT_TRUE(queue.processPending(false, false));
        const std::vector<test::SmtpSink::Message> all = sink.messages();
        ASSERT_EQ(all.size() - seen, c.subjects.size());
        for (size_t i = 0; i < c.subjects.size(); ++i)
            EXPECT_NE(all[seen + i].data.find("Subject: " + c.subjects[i] + "\r\n"), std::string::npos)
                << all[seen + i].data;
        if (c.edits.size() > 1 && std::string(c.mode) == "digest") {
            const std::string& digest = all.back().data;
            EXPECT_NE(digest.find("Entries added, deleted or changed in the Tarnwick database:\r\nTrademark entry "
                                  "added, registration 1\r\n"),
                      std::string::npos)
                << digest;
        }
        EXPECT_FALSE(queue.pendingExists());
        for (const auto& f : std::filesystem::directory_iterator(logDir()))
            EXPECT_FALSE(f.path().filename().string().ends_with(".tmp")) << f.path();
    }
}

// A deadline reminder joins the digest the run has written already, which the commit rewrites whole.
TEST_F(EmailQueueTest, AReminderJoinsTheRunsDigestAsALine)
{
    core::Entry before = entryWithReg("1111111");
    core::Entry after = before;
    after.StatusText = "Non-final action e-mailed";
    ASSERT_EQ(queue.stageDigest(after, before), "");
    ASSERT_EQ(queue.commitEmail(), "");
    docket::Deadline response;
    response.kind = docket::DeadlineKind::OfficeActionResponse;
    response.closes = 45014;
    {
        const notify::ReminderNamesScope names(vars, response, 45000, "14");
        ASSERT_EQ(queue.stageReminder(after, true), "");
    }
    ASSERT_EQ(queue.commitEmail(), "");
    EXPECT_EQ(pendingList(), "Tarnwick_digest.tmp\r\n");
    const std::string digest = readAll(logFile("Tarnwick_digest.tmp"));
    EXPECT_TRUE(digest.starts_with("Subject: Trademark status: 1 mark changed, 1 deadline reminder\r\n")) << digest;
    EXPECT_NE(digest.find("\r\n\r\nDeadlines coming up or overdue:\r\nResponse to office action due " +
                          core::formatDay(45014) + " \xE2\x80\x94 registration 1111111\r\n"),
              std::string::npos)
        << digest;
}

TEST_F(EmailQueueTest, NothingPendingAndTheQuestions)
{
    EXPECT_FALSE(queue.pendingExists());
    EXPECT_TRUE(queue.processPending(false, false));
    ASSERT_EQ(fe.boxes.size(), 1u);
    EXPECT_EQ(fe.boxes[0].text, "There aren't any e-mail notifications waiting to be sent.");
    EXPECT_TRUE(queue.processPending(false, true)); // delete asks nothing else
    EXPECT_TRUE(queue.processPending(true, false)); // closing says nothing
    EXPECT_EQ(fe.boxes.size(), 2u);

    post("1");
    EXPECT_TRUE(queue.pendingExists());
    const std::string list = pendingList();
    fe.boxes.clear();
    fe.nextAnswer(base::Answer::Cancel);
    EXPECT_FALSE(queue.processPending(true, false));
    fe.nextAnswer(base::Answer::No);
    EXPECT_TRUE(queue.processPending(true, false));
    fe.nextAnswer(base::Answer::No);
    EXPECT_FALSE(queue.processPending(false, true));
    ASSERT_EQ(fe.boxes.size(), 3u);
    EXPECT_EQ(fe.boxes[0].text, "There are e-mail notifications waiting to be sent. Send them now?");
    EXPECT_EQ(fe.boxes[0].buttons, base::Buttons::YesNoCancel);
    EXPECT_EQ(fe.boxes[2].text, "Do you really want to delete the pending e-mail notifications?");
    EXPECT_EQ(fe.boxes[2].defaultAnswer, base::Answer::No);
    EXPECT_EQ(pendingList(), list);
    EXPECT_TRUE(exists("Tarnwick_a1.tmp"));
    EXPECT_EQ(fe.runRange, -1); // nothing was started
}

TEST_F(EmailQueueTest, DeletingRemovesOnlyFilesInTheFolder)
{
    settings.setValue(base::setting::SmtpServer, "127.0.0.1:1"); // never asked
    post("1");
    post("2");
    writeFile(dir.file("outside.tmp"), "keep me");
    writeFile(logFile("Tarnwick_pending.tmp"), pendingList() + "../outside.tmp\r\n\r\n");
    fe.nextAnswer(base::Answer::Yes);
    EXPECT_TRUE(queue.processPending(false, true));
    EXPECT_FALSE(exists("Tarnwick_pending.tmp"));
    EXPECT_FALSE(exists("Tarnwick_a1.tmp"));
    EXPECT_FALSE(exists("Tarnwick_a2.tmp"));
    EXPECT_EQ(readAll(dir.file("outside.tmp")), "keep me");
    EXPECT_EQ(settings.value(base::setting::CountEmailBatchSucceeded), "");
    EXPECT_EQ(fe.runRange, -1); // deleting shows no run
}

TEST_F(EmailQueueTest, ActivityReportOpensTheBatchAtMultiplesOfFive)
{
    test::SmtpSink sink;
    sink.start();
    useSink(sink);
    struct Case {
        const char* count;
        const char* consent;
        bool activity;
    };
    const Case cases[] = {{"", "1", true}, {"7", "1", false}, {"10", "1", true}, {"11", "1", false}, {"15", "", false}};
    size_t seen = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.count);
        settings.setValue(base::setting::CountEmailBatchSucceeded, c.count);
        settings.setValue(base::setting::SendUsageReports, c.consent);
        post("1");
        ASSERT_EQ(queue.PostEmail(core::Entry(45000), notify::templateid::Welcome, "welcome"), "");
        post("2");
        fe.positions.clear();
        fe.statusLines.clear();
        EXPECT_TRUE(queue.processPending(false, false));
        EXPECT_EQ(queue.lastBatchError(), "");
        EXPECT_EQ(fe.runCaption, "Sending E-Mail");
        EXPECT_EQ(fe.runRange, c.activity ? 4 : 3);
        EXPECT_EQ(fe.positions, (c.activity ? std::vector<int>{0, 1, 2, 3} : std::vector<int>{0, 1, 2}));
        std::vector<std::string> shown = {"a1.tmp", "welcome.tmp", "a2.tmp"};
        if (c.activity)
            shown.insert(shown.begin(), "activity.tmp");
        EXPECT_EQ(fe.statusLines, shown);
        EXPECT_EQ(queue.lastBatchSent(), c.activity ? 4 : 3);
        EXPECT_FALSE(exists("Tarnwick_pending.tmp"));
        EXPECT_FALSE(exists("Tarnwick_a1.tmp"));
        EXPECT_FALSE(exists("Tarnwick_welcome.tmp"));
        EXPECT_FALSE(exists("Tarnwick_activity.tmp"));

        std::vector<test::SmtpSink::Message> all = sink.messages();
        ASSERT_EQ(all.size(), seen + shown.size());
        std::vector<test::SmtpSink::Message> batch(all.begin() + static_cast<long>(seen), all.end());
        seen = all.size();
        size_t i = 0;
        if (c.activity) {
            EXPECT_EQ(batch[i].rcpts, std::vector<std::string>{"activity@tarnwick.example"});
            EXPECT_NE(batch[i].data.find("Subject: Tarnwick Activity for Brenlow"), std::string::npos);
            EXPECT_EQ(batch[i].login, "tester");
            ++i;
        }
        const std::vector<std::string> notify = {"n1@example.test", "n2@example.test"};
        EXPECT_EQ(batch[i].rcpts, notify);
        EXPECT_EQ(batch[i + 1].rcpts, std::vector<std::string>{"activity@tarnwick.example"});
        EXPECT_NE(batch[i + 1].data.find("Subject: Tarnwick Welcome for Brenlow"), std::string::npos);
        EXPECT_EQ(batch[i + 2].rcpts, notify);
        EXPECT_EQ(batch[i].from, "me@example.test");
        EXPECT_NE(batch[i].data.find("Reply-to: me@example.test"), std::string::npos);
        EXPECT_NE(batch[i].data.find("X-Mailer: Tarnwick"), std::string::npos);
    }
}

// Two postings for the same entry and kind before a sending, one posted at once and one in a group with a
// third: each is a message of its own, listed once and sent once.
TEST_F(EmailQueueTest, EveryPostingIsAMessageOfItsOwnSentOnce)
{
    test::SmtpSink sink;
    sink.start();
    useSink(sink);
    settings.setValue(base::setting::CountEmailBatchSucceeded, "11");
    post("7");
    ASSERT_EQ(queue.stageEmail(entryWithReg("7"), notify::templateid::EntryAdded, "a", nullptr), "");
    ASSERT_EQ(queue.stageEmail(entryWithReg("8"), notify::templateid::EntryAdded, "a", nullptr), "");
    EXPECT_FALSE(exists("Tarnwick_a8.tmp")); // not before the group is committed
    ASSERT_EQ(queue.commitEmail(), "");
    EXPECT_EQ(pendingList(), "Tarnwick_a7.tmp\r\nTarnwick_a7_2.tmp\r\nTarnwick_a8.tmp\r\n");
    EXPECT_EQ(settings.value(base::setting::CountEmailPost), "3");
    EXPECT_TRUE(queue.processPending(false, false));
    EXPECT_EQ(sink.messages().size(), 3u);
    EXPECT_FALSE(exists("Tarnwick_a7_2.tmp"));
    EXPECT_FALSE(exists("Tarnwick_pending.tmp"));
}

TEST_F(EmailQueueTest, OwnToAndCcLinesChooseTheRecipients)
{
    test::SmtpSink sink;
    sink.start();
    useSink(sink);
    writeFile(logFile("own.tmp"),
              "to: x@example.test\r\nCc: y@example.test, z@example.test\r\nSubject: s\r\n\r\nbody\r\n");
    EXPECT_EQ(queue.sendMessageFile(logFile("own.tmp"), MailMode::NotifyAddresses), "");
    // a missing file sends nothing; a "To: " line without a line end, an empty file (its bytes lost in a
    // crash) and a link planted at a message's name send nothing either, and fail: they are never sent
    writeFile(logFile("bad.tmp"), "To: x@example.test");
    writeFile(logFile("empty.tmp"), "");
    ASSERT_EQ(::symlink(logFile("own.tmp").c_str(), logFile("link.tmp").c_str()), 0);
    EXPECT_EQ(queue.sendMessageFile(logFile("missing.tmp"), MailMode::NotifyAddresses), "");
    EXPECT_EQ(queue.sendMessageFile(logFile("bad.tmp"), MailMode::NotifyAddresses),
              "SendEmail: The e-mail file '" + logFile("bad.tmp") +
                  "' is damaged: its To: or Cc: line has no line end. Remove the file to drop it from the queue.");
    EXPECT_EQ(queue.sendMessageFile(logFile("empty.tmp"), MailMode::NotifyAddresses),
              "SendEmail: The e-mail file '" + logFile("empty.tmp") +
                  "' is empty: its message was lost. Remove the file to drop it from the queue.");
    EXPECT_NE(queue.sendMessageFile(logFile("link.tmp"), MailMode::NotifyAddresses).find("symbolic link"),
              std::string::npos);

    std::vector<test::SmtpSink::Message> all = sink.messages();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].rcpts, (std::vector<std::string>{"x@example.test", "y@example.test", "z@example.test"}));
    EXPECT_NE(all[0].data.find("To: x@example.test\r\nCc: y@example.test, z@example.test\r\n"), std::string::npos);
    EXPECT_NE(all[0].data.find("Subject: s\r\n"), std::string::npos);
    EXPECT_NE(all[0].data.find("\r\n\r\nbody\r\n"), std::string::npos);
    EXPECT_EQ(settings.value(base::setting::CountEmailBatchSucceeded), "1");
    EXPECT_EQ(settings.value(base::setting::CountEmailBatchFailed), "3");
}

// A crash between the commit of a group and the writing of its list leaves messages that no list names; the
// entries they were for were not saved, so their changes are found again. They are removed before the queue is
// first added to; nothing else in the folder is touched.
TEST_F(EmailQueueTest, UnlistedMessagesAreRemovedBeforeTheQueueIsUsed)
{
    struct Case {
        const char* name;
        bool kept;
    };
    const Case cases[] = {
        {"Tarnwick_s75-000001.tmp", false}, {"Tarnwick_a1234567.tmp", false}, {"Tarnwick_c7_2.tmp", false},
        {"Tarnwick_d0123456.tmp", false},   {"Tarnwick_welcome.tmp", false},  {"Tarnwick_digest.tmp", false},
        {"Tarnwick_a1.tmp", true}, // listed
        {"Tarnwick_activity.tmp", true},    {"Tarnwick_temp.tmp", true},      {"Tarnwick_pending2.tmp", true},
        {"Tarnwick_emailtest.txt", true},   {"tradmark.dat", true},           {"Tarnwick_s1.tmp.bak", true},
    };
    for (const Case& c : cases)
        writeFile(logFile(c.name), "Subject: s\r\n\r\nbody\r\n");
    writeFile(logFile("Tarnwick_pending.tmp"), "Tarnwick_a1.tmp\r\n");
    post("2");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(exists(c.name), c.kept);
    }
    EXPECT_EQ(pendingList(), "Tarnwick_a1.tmp\r\nTarnwick_a2.tmp\r\n");
    // once per folder: a message written meanwhile by hand is left to the next start
    writeFile(logFile("Tarnwick_s9.tmp"), "x");
    post("3");
    EXPECT_TRUE(exists("Tarnwick_s9.tmp"));
}

TEST_F(EmailQueueTest, FailureKeepsTheFailedMessageAndAllAfterIt)
{
    test::SmtpSink sink;
    sink.start("tester", "secret", "refused@example.test");
    useSink(sink);
    settings.setValue(base::setting::CountEmailBatchSucceeded, "11");
    for (bool ask : {false, true}) {
        SCOPED_TRACE(ask);
        for (const char* name : {"Tarnwick_pending.tmp", "Tarnwick_a2.tmp", "Tarnwick_a3.tmp"})
            std::filesystem::remove(logFile(name));
        post("1");
        post("2");
        post("3");
        writeFile(logFile("Tarnwick_a2.tmp"), "To: refused@example.test\r\nSubject: no\r\n\r\nno\r\n");
        fe.boxes.clear();
        if (ask) {
            fe.nextAnswer(base::Answer::Yes); // send now
            fe.nextAnswer(base::Answer::No);  // do not exit anyway
        }
        EXPECT_EQ(queue.processPending(ask, false), !ask);
        EXPECT_EQ(pendingList(), "Tarnwick_a2.tmp\r\nTarnwick_a3.tmp\r\n");
        EXPECT_FALSE(exists("Tarnwick_a1.tmp"));
        EXPECT_TRUE(exists("Tarnwick_a2.tmp"));
        EXPECT_TRUE(exists("Tarnwick_a3.tmp"));
        ASSERT_EQ(fe.boxes.size(), ask ? 2u : 1u);
        const std::string error = "SMTP: Error in recipient's e-mail address.";
        EXPECT_EQ(queue.lastBatchError(), error);
        const test::ScriptedFrontEnd::Box& box = fe.boxes.back();
        const std::string told = "The e-mail could not be sent through " + settings.value(base::setting::SmtpServer) +
                                 ":\n" + error + "\n\nThe messages stay queued and go with the next sending.";
        EXPECT_EQ(box.text, ask ? told + "\n\nDo you want to exit anyway?" : told);
        EXPECT_EQ(box.caption, base::caption("Send Notifications Failed"));
        EXPECT_EQ(box.buttons, ask ? base::Buttons::YesNo : base::Buttons::Ok);
        EXPECT_EQ(box.defaultAnswer, ask ? base::Answer::No : base::Answer::Ok);
        EXPECT_EQ(fe.events.back(), "runEnd");
    }
    EXPECT_EQ(sink.messages().size(), 2u);
    EXPECT_EQ(settings.value(base::setting::CountEmailBatchFailed), "2");
    EXPECT_EQ(settings.value(base::setting::CountEmailBatchSucceeded), "13");
    EXPECT_NE(readAll(log.path()).find("Send E-Mail error 'SMTP: Error in recipient's e-mail address.'"),
              std::string::npos);
}

TEST_F(EmailQueueTest, NamesListedDuringABatchStayQueued)
{
    test::SmtpSink sink;
    sink.start();
    useSink(sink);
    settings.setValue(base::setting::CountEmailBatchSucceeded, "1");
    post("1");
    bool posted = false;
    fe.onDispatch = [&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        if (!posted) {
            posted = true;
            EXPECT_EQ(queue.PostEmail(entryWithReg("9"), notify::templateid::EntryAdded, "a"), "");
        }
    };
    EXPECT_TRUE(queue.processPending(false, false));
    EXPECT_EQ(pendingList(), "Tarnwick_a9.tmp\r\n");
    EXPECT_TRUE(exists("Tarnwick_a9.tmp"));
    EXPECT_EQ(sink.messages().size(), 1u);
}

TEST_F(EmailQueueTest, SendAtOnce)
{
    test::SmtpSink sink;
    sink.start();
    useSink(sink);
    EXPECT_EQ(queue.sendAtOnce(notify::templateid::TestMail, MailMode::ReturnAddress, true), "");
    EXPECT_EQ(fe.runCaption, "Send E-Mail to Return Address");
    EXPECT_EQ(fe.runRange, 1);
    ASSERT_EQ(fe.boxes.size(), 1u);
    EXPECT_EQ(fe.boxes[0].text, "E-mail was sent successfully.");
    EXPECT_EQ(fe.boxes[0].caption, base::caption());
    EXPECT_FALSE(exists("Tarnwick_emailtest.txt"));
    std::vector<test::SmtpSink::Message> all = sink.messages();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].rcpts, std::vector<std::string>{"me@example.test"});
    EXPECT_NE(all[0].data.find("This is a test e-mail sent by Tarnwick v" TARNWICK_VERSION "."), std::string::npos);

    EXPECT_EQ(queue.sendAtOnce(notify::templateid::TestMail, MailMode::NotifyAddresses, false), "");
    EXPECT_EQ(fe.runCaption, "Send E-Mail to Notify Addresses");
    EXPECT_EQ(fe.boxes.size(), 1u);

    // a server that is gone: the failure is reported and the scratch file removed
    sink.stop();
    fe.boxes.clear();
    const std::string error = queue.sendAtOnce(notify::templateid::Problem, MailMode::SupportAddress, true);
    EXPECT_NE(error, "");
    EXPECT_EQ(fe.runCaption, "Send E-Mail");
    ASSERT_EQ(fe.boxes.size(), 1u);
    // the user is told which server the message tried
    EXPECT_EQ(fe.boxes[0].text,
              "The e-mail could not be sent through " + settings.value(base::setting::SmtpServer) + ":\n" + error);
    EXPECT_EQ(fe.boxes[0].caption, base::caption("E-Mail Failed"));
    EXPECT_FALSE(exists("Tarnwick_emailtest.txt"));

    settings.setValue(base::setting::LogDir, dir.file("nowhere"));
    EXPECT_EQ(queue.sendAtOnce(notify::templateid::TestMail, MailMode::ReturnAddress, false),
              "Can't create the temporary e-mail file.");
}

TEST_F(EmailQueueTest, TimeOutByTheWindowReadsAsSendEmailTimeout)
{
    // a server that accepts the connection and never greets
    const test::LoopbackListener listener(4);
    ASSERT_NE(listener.port(), 0);
    settings.setValue(base::setting::SmtpServer, listener.address());

    int cycles = 0;
    fe.onDispatch = [&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        if (++cycles == 5) {
            cancelReason = base::RunState::TimedOut;
            fe.cancel = true;
        }
    };
    writeFile(logFile("m.tmp"), "Subject: s\r\n\r\nbody\r\n");
    EXPECT_EQ(queue.sendMessageFile(logFile("m.tmp"), MailMode::ReturnAddress), "SendEmail: Operation timed out.");
    EXPECT_EQ(cancelReason, base::RunState::Running);
    EXPECT_EQ(settings.value(base::setting::CountEmailBatchFailed), "1");
    EXPECT_NE(std::find(fe.events.begin(), fe.events.end(), "operationStart:30"), fe.events.end());
}

} // namespace

TEST_F(EmailQueueTest, RefusedActivityReportHoldsNoNotificationBack)
{
    auto refusing = std::make_unique<test::SmtpSink>();
    refusing->start("tester", "secret", "activity@tarnwick.example");
    useSink(*refusing);
    post("1");
    post("2");
    EXPECT_TRUE(queue.processPending(false, false));
    EXPECT_EQ(queue.lastBatchError(), "");
    EXPECT_TRUE(fe.boxes.empty());
    EXPECT_EQ(refusing->messages().size(), 2u);
    EXPECT_FALSE(exists("Tarnwick_pending.tmp"));
    EXPECT_EQ(settings.value(base::setting::CountEmailBatchSucceeded), "2");
    EXPECT_NE(readAll(log.path()).find("Activity report not sent"), std::string::npos);

    // the next batch tries the report again, although the count is no multiple of 5
    test::SmtpSink sink;
    sink.start();
    useSink(sink);
    post("3");
    EXPECT_TRUE(queue.processPending(false, false));
    std::vector<test::SmtpSink::Message> all = sink.messages();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].rcpts, std::vector<std::string>{"activity@tarnwick.example"});
    EXPECT_FALSE(exists("Tarnwick_activity.tmp"));
}

// The queue sends and deletes only files of the form it writes; a message that cannot be read is a failure.
TEST_F(EmailQueueTest, ListLinesOfOtherFormsAreDroppedAndUnreadableMessagesStayQueued)
{
    test::SmtpSink sink;
    sink.start();
    useSink(sink);
    settings.setValue(base::setting::CountEmailBatchSucceeded, "1");
    writeFile(logFile("tradmark.dat"), "8\r\n");
    post("1");
    post("x y"); // Tarnwick_ax_y.tmp: a name the queue writes itself
    post("2");
    post("3");
    std::filesystem::remove(logFile("Tarnwick_a2.tmp"));
    std::filesystem::create_directory(logFile("Tarnwick_a2.tmp"));
    writeFile(logFile("Tarnwick_pending.tmp"),
              "tradmark.dat\r\nTarnwick_pending.tmp\r\nTarnwick_a.b.tmp\r\n" + pendingList() + "tradmark.dat\r\n");

    EXPECT_TRUE(queue.processPending(false, false));
    const std::string error =
        "SendEmail: Can't read the e-mail file '" + logFile("Tarnwick_a2.tmp") + "': not a regular file";
    EXPECT_EQ(queue.lastBatchError(), error);
    ASSERT_EQ(fe.boxes.size(), 1u);
    EXPECT_EQ(fe.boxes[0].text, error + "\n\nThe messages stay queued and go with the next sending.");
    EXPECT_EQ(sink.messages().size(), 2u);
    EXPECT_EQ(pendingList(), "Tarnwick_a2.tmp\r\nTarnwick_a3.tmp\r\n");
    EXPECT_EQ(settings.value(base::setting::CountEmailBatchFailed), "1");
    const std::string logText = readAll(log.path());
    EXPECT_NE(logText.find("Pending list line 'tradmark.dat' names no queued e-mail; dropped"), std::string::npos);
    EXPECT_NE(logText.find("Send E-Mail error '" + error + "'"), std::string::npos);

    writeFile(logFile("Tarnwick_pending.tmp"), "tradmark.dat\r\n" + pendingList());
    std::filesystem::remove(logFile("Tarnwick_a2.tmp"));
    fe.nextAnswer(base::Answer::Yes);
    EXPECT_TRUE(queue.processPending(false, true));
    EXPECT_EQ(readAll(logFile("tradmark.dat")), "8\r\n");
    EXPECT_FALSE(exists("Tarnwick_a3.tmp"));
}

TEST_F(EmailQueueTest, PendingListThatCannotBeRewrittenIsReported)
{
    test::SmtpSink sink;
    sink.start();
    useSink(sink);
    settings.setValue(base::setting::CountEmailBatchSucceeded, "1");
    post("1");
    // while the message goes out, the list becomes something no file can replace
    fe.onDispatch = [&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        if (!std::filesystem::is_directory(logFile("Tarnwick_pending.tmp"))) {
            std::filesystem::remove(logFile("Tarnwick_pending.tmp"));
            std::filesystem::create_directory(logFile("Tarnwick_pending.tmp"));
        }
    };
    queue.processPending(false, false);
    EXPECT_EQ(sink.messages().size(), 1u);
    EXPECT_TRUE(queue.lastListError().starts_with("Can't update the pending e-mail list '" +
                                                  logFile("Tarnwick_pending.tmp") + "': "))
        << queue.lastListError();
    ASSERT_EQ(fe.boxes.size(), 1u);
    EXPECT_EQ(fe.boxes[0].text, queue.lastListError());
}
