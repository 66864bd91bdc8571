// Every kind of message the program sends, delivered to aiosmtpd and read back by a real mail library and
// by SpamAssassin's local tests.
#include "base/log.h"
#include "base/settings.h"
#include "core/entry.h"
#include "notify/appnames.h"
#include "notify/emailqueue.h"
#include "notify/templates.h"
#include "notify/usertemplates.h"
#include "rules/templatevars.h"
#include "support/files.h"
#include "support/peers.h"
#include "support/queuefixture.h"
#include "support/scriptedfrontend.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <thread>

using namespace tarnwick;
using notify::MailMode;

namespace {

using test::writeFile;

// The "key value" lines of tests/net/mailcheck.py for one received message.
std::map<std::string, std::string> checkMessage(const test::TempDir& dir, const std::string& data,
                                                const std::string& expected)
{
    const std::size_t subjectEnd = expected.find("\r\n");
    writeFile(dir.file("message.eml"), data);
    writeFile(dir.file("subject"), expected.substr(9, subjectEnd - 9));
    writeFile(dir.file("body"), expected.substr(expected.find("\r\n\r\n") + 4));
    const std::string command = "/usr/bin/python3 " + std::string(TARNWICK_SOURCE_DIR) + "/tests/net/mailcheck.py " +
                                dir.file("message.eml") + " " + dir.file("subject") + " " + dir.file("body") +
                                " --spamassassin";
    std::map<std::string, std::string> out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr)
        return out;
    char line[4096];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
            text.pop_back();
        const std::size_t blank = text.find(' ');
        out[text.substr(0, blank)] = blank == std::string::npos ? "" : text.substr(blank + 1);
    }
    ::pclose(pipe);
    return out;
}

class MailKinds : public test::QueueFixture {
public:
    MailKinds()
        : QueueFixture("Brenlow Records <records@brenlow.example>",
                       {"n1@brenlow.example", "Second Reader <n2@brenlow.example>"})
    {
        sink.start();
        useSink(sink);
    }

    test::SmtpSink sink;
};

} // namespace

TEST_F(MailKinds, EveryKindArrivesWholeAndPassesSpamAssassin)
{
    std::vector<std::pair<std::string, std::string>> sent; // kind, the text as expanded

    // a queued status update whose values carry Latin-1 bytes from the office's page
    core::Entry before(45000);
    before.RegNum = "1234567";
    before.Trademark = "CAF\xc9 NOIR\xae";
    before.StatusText = "Published for opposition.";
    core::Entry after = before;
    after.StatusText = "Registered. Mark\x99 renewed for Soci\xe9t\xe9 G\xe9n\xe9rale.";
    ASSERT_EQ(queue.PostEmail(after, notify::templateid::StatusUpdate, "s", &before), "");
    sent.emplace_back("notification", test::readWholeFile(logDir() + "/Tarnwick_s1234567.tmp"));
    settings.setValue(base::setting::CountEmailBatchSucceeded, "1"); // this batch has no activity report
    ASSERT_TRUE(queue.processPending(false, false));

    // the test e-mail, sent at once
    sent.emplace_back("test", notify::expandTemplateId(notify::templateid::TestMail, vars));
    ASSERT_EQ(queue.sendAtOnce(notify::templateid::TestMail, MailMode::ReturnAddress, false), "");

    sent.emplace_back("activity", notify::expandTemplateId(notify::templateid::Activity, vars));
    writeFile(logDir() + "/activity.txt", sent.back().second);
    ASSERT_EQ(queue.sendMessageFile(logDir() + "/activity.txt", MailMode::ActivityAddress), "");

    // the problem report quotes a fetched page of 50 KB on one line, in UTF-8
    std::string page = "<html><body>";
    while (page.size() < 50 * 1024)
        page += "<tr><td>Caf\xc3\xa9 Noir</td><td>Registered</td></tr>";
    page += "</body></html>";
    names.setLastFetch({"http://office.example/status?sn=75123456"}, {page});
    names.setProblemDesc("The status of one entry did not change for a month.");
    sent.emplace_back("problem report", notify::expandTemplateId(notify::templateid::Problem, vars));
    writeFile(logDir() + "/problem.txt", sent.back().second);
    ASSERT_EQ(queue.sendMessageFile(logDir() + "/problem.txt", MailMode::SupportAddress), "");

    const std::vector<test::SmtpSink::Message> received = sink.messages();
    ASSERT_EQ(received.size(), sent.size());
    for (std::size_t i = 0; i < sent.size(); ++i) {
        SCOPED_TRACE(sent[i].first);
        EXPECT_EQ(received[i].from, "records@brenlow.example");
        std::map<std::string, std::string> check = checkMessage(dir, received[i].data, sent[i].second);
        EXPECT_EQ(check["defects"], "0");
        EXPECT_EQ(check["subject"], "ok");
        EXPECT_EQ(check["body"], "ok");
        EXPECT_EQ(check["text"], "ok");
        EXPECT_EQ(check["message-id"], "yes");
        EXPECT_EQ(check["mime-version"], "1.0");
        ASSERT_FALSE(check["longest"].empty());
        EXPECT_LE(std::stoi(check["longest"]), 998);
        ASSERT_NE(check["score"], "none");
        EXPECT_LE(std::stod(check["score"]), 0.1) << check["tests"];
        std::printf("%-14s charset %-10s %-16s SpamAssassin %s (%s)\n", sent[i].first.c_str(), check["charset"].c_str(),
                    check["cte"].c_str(), check["score"].c_str(), check["tests"].c_str());
    }
}

// A firm's own status notice (its reference first in the subject, no courtesy line) and a digest of two changes
// go through the queue to the mail server and are read back whole.
TEST_F(MailKinds, AUsersTemplateAndADigestArriveAsWritten)
{
    std::filesystem::create_directories(notify::userTemplateDir(logDir()));
    writeFile(notify::userTemplateDir(logDir()) + "/status-update.txt",
              "Subject: [Reference]: [DataKind] [Identifier] changed\n\n[AllChanges]\n\nBrenlow Records\n");
    notify::TemplateStore templates(settings, vars);
    notify::EmailQueue ownQueue({settings, log, fe, fe, vars, names, nullptr, &cancelReason, {}, &templates});

    core::Entry before(45000);
    before.RegNum = "1234567";
    before.Reference = "BR-7";
    before.Trademark = "CAF\xc3\x89 NOIR";
    before.StatusText = "Published for opposition.";
    core::Entry after = before;
    after.StatusText = "Registered.";
    core::Entry otherBefore = before;
    otherBefore.RegNum = "7654321";
    otherBefore.Owner = "Soci\xc3\xa9t\xc3\xa9 G\xc3\xa9n\xc3\xa9rale";
    core::Entry otherAfter = otherBefore;
    otherAfter.Owner = "Brenlow Holdings";

    std::vector<std::pair<std::string, std::string>> sent;
    ASSERT_EQ(ownQueue.PostEmail(after, notify::templateid::StatusUpdate, "s", &before), "");
    sent.emplace_back("user's template", test::readWholeFile(logDir() + "/Tarnwick_s1234567.tmp"));
    ASSERT_EQ(ownQueue.stageDigest(after, before), "");
    ASSERT_EQ(ownQueue.stageDigest(otherAfter, otherBefore), "");
    ASSERT_EQ(ownQueue.commitEmail(), "");
    sent.emplace_back("digest", test::readWholeFile(logDir() + "/Tarnwick_digest.tmp"));
    settings.setValue(base::setting::CountEmailBatchSucceeded, "1");
    ASSERT_TRUE(ownQueue.processPending(false, false));

    EXPECT_TRUE(sent[0].second.starts_with("Subject: BR-7: Trademark registration 1234567, trademark CAF\xc3\x89 NOIR "
                                           "changed\r\n\r\nStatus (now): Registered.\r\n"));
    EXPECT_EQ(sent[0].second.find("Courtesy"), std::string::npos);
    EXPECT_TRUE(sent[1].second.starts_with("Subject: Trademark status: 2 marks changed\r\n"));
    const std::vector<test::SmtpSink::Message> received = sink.messages();
    ASSERT_EQ(received.size(), sent.size());
    for (std::size_t i = 0; i < sent.size(); ++i) {
        SCOPED_TRACE(sent[i].first);
        std::map<std::string, std::string> check = checkMessage(dir, received[i].data, sent[i].second);
        EXPECT_EQ(check["defects"], "0");
        EXPECT_EQ(check["subject"], "ok");
        EXPECT_EQ(check["body"], "ok");
        EXPECT_EQ(check["text"], "ok");
        EXPECT_EQ(check["charset"], "utf-8");
    }
}
