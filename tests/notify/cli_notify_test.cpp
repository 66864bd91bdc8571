#include "base/settings.h"
#include "core/datafile.h"
#include "core/entrystore.h"
#include "notify/usertemplates.h"
#include "support/peers.h"
#include "support/runcli.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace tarnwick;

namespace {

class CliNotifyTest : public ::testing::Test {
protected:
    CliNotifyTest()
    {
        std::filesystem::create_directory(logDir());
        base::AppSettings settings(settingsFile());
        settings.setValue(base::setting::LogDir, logDir());
        settings.setValue(base::setting::ReportDir, dir.file("reports/www"));
        settings.setValue(base::setting::ReturnAddress, "me@example.test");
        settings.setValue(base::setting::CountEmailBatchSucceeded, "1");
        settings.setNotifyAddresses({"n1@example.test"});
        EXPECT_TRUE(settings.writeAll());
    }

    std::string settingsFile() const { return dir.file("settings.ini"); }
    std::string logDir() const { return dir.file("logs"); }
    std::string logFile(const std::string& name) const { return logDir() + "/" + name; }

    void setSetting(const base::SettingKey& key, const std::string& value)
    {
        base::AppSettings settings(settingsFile());
        settings.setValue(key, value);
        ASSERT_TRUE(settings.writeAll());
    }

    test::CliRun run(const std::vector<std::string>& args) const { return test::runCliInProcess(args, settingsFile()); }

    void queueMessages(const std::vector<std::pair<std::string, std::string>>& messages)
    {
        std::string list;
        for (const auto& [name, text] : messages) {
            std::ofstream(logFile(name), std::ios::binary) << text;
            list += name + "\r\n";
        }
        std::ofstream(logFile("Tarnwick_pending.tmp"), std::ios::binary) << list;
    }

    test::TempDir dir;
};

TEST_F(CliNotifyTest, ReportWritesValidFilesIntoANewFolder)
{
    core::EntryStore store;
    core::Entry e(45000);
    e.SerNum = "75123456";
    e.Reference = "R&D <one>";
    e.Trademark = "\"Fish\" & 'Chips' </td> EVIL\x0bMARK\x01";
    store.appendEntry(e);
    store.setLoadOk(true);
    ASSERT_TRUE(core::saveDataFile(store, logDir()));

    test::CliRun r = run({"report"});
    ASSERT_EQ(r.exit, 0) << r.err;
    const std::string html = dir.file("reports/www/Tarnwick.html");
    const std::string xml = dir.file("reports/www/Tarnwick.xml");
    EXPECT_EQ(r.out, html + "\n" + xml + "\n");
    EXPECT_NE(test::readWholeFile(html).find("R&amp;D &lt;one&gt;"), std::string::npos);
    EXPECT_NE(test::readWholeFile(xml).find("<Reference>R&amp;D &lt;one&gt;</Reference>\r\n"), std::string::npos);
    const std::string lint = "/usr/bin/xmllint --noout '" + xml + "' && /usr/bin/python3 " +
                             std::string(TARNWICK_SOURCE_DIR) + "/tests/notify/html5check.py '" + html + "'";
    EXPECT_EQ(std::system(lint.c_str()), 0);
}

TEST_F(CliNotifyTest, HistoryAndTemplateCommands)
{
    std::ofstream(logFile("Tarnwick_history.txt"), std::ios::binary)
        << "Date\tNumber\tReference\tField\tOld\tNew\r\n2026-12-08\t75123456\tR1\tOwner\ta\tb\r\n"
           "damaged\r\n2026-12-09\t1234567\t\tStatusText\tx\ty\r\n2026-12-10\t123";
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* out;
        const char* err; // a part of standard error
    };
    const Case cases[] = {
        {{"history"},
         0,
         "2026-12-09  1234567\n  Status (now): y\n  Status (was): x\n2026-12-08  75123456  R1\n  Owner (now): b\n"
         "  Owner (was): a\n",
         "1 line of Tarnwick_history.txt in"},
        {{"history", "75-123456"}, 0, "2026-12-08  75123456  R1\n  Owner (now): b\n  Owner (was): a\n", ""},
        {{"history", "2824281"}, 0, "No changes recorded.\n", ""},
        {{"history", "12"}, 1, "", "12: "},
        {{"config", "set", "NotifyMode", "weekly"},
         1,
         "",
         "NotifyMode is each (a message per changed entry) or digest"},
        {{"templates", "check"}, 0, "", ""},
        {{"templates"}, 1, "", "usage: tarnwick-cli [--settings FILE] templates export DIR | check [DIR]"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.back());
        const test::CliRun r = run(c.args);
        EXPECT_EQ(r.exit, c.status);
        if (c.args != std::vector<std::string>{"templates", "check"}) {
            EXPECT_EQ(r.out, c.out);
        }
        EXPECT_NE(r.err.find(c.err), std::string::npos);
    }

    const std::string folder = logDir() + "/Tarnwick/templates";
    test::CliRun r = run({"templates", "export", folder});
    EXPECT_EQ(r.exit, 0);
    EXPECT_NE(r.out.find(folder + "/status-update.txt\n"), std::string::npos);
    std::ofstream(folder + "/entry-added.txt", std::ios::binary) << "Subject: [Refrence]\n\nx\n";
    r = run({"templates", "check"});
    EXPECT_EQ(r.exit, 1);
    EXPECT_NE(r.out.find(folder + "/entry-added.txt:1: [Refrence] is no variable of this template\n"),
              std::string::npos);
    EXPECT_NE(r.out.find(folder + "/status-update.txt: ok\n"), std::string::npos);
}

TEST_F(CliNotifyTest, SendPrintsWhatWentOutAndFailsWhenASendingFails)
{
    test::SmtpSink sink;
    sink.start("", "", "refused@example.test");
    setSetting(base::setting::SmtpServer, sink.address());
    queueMessages({{"Tarnwick_a1.tmp", "Subject: one\r\n\r\n1\r\n"}, {"Tarnwick_a2.tmp", "Subject: two\r\n\r\n2\r\n"}});
    test::CliRun r = run({"send"});
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_NE(r.out.find("a1.tmp"), std::string::npos);
    EXPECT_TRUE(r.out.ends_with("Sent 2 message(s).\n")) << r.out;
    EXPECT_FALSE(std::filesystem::exists(logFile("Tarnwick_pending.tmp")));
    EXPECT_EQ(sink.messages().size(), 2u);

    queueMessages({{"Tarnwick_a3.tmp", "To: refused@example.test\r\nSubject: no\r\n\r\n3\r\n"}});
    r = run({"send"});
    EXPECT_EQ(r.exit, 1);
    EXPECT_NE(r.err.find("SMTP: Error in recipient's e-mail address."), std::string::npos);
    EXPECT_EQ(test::readWholeFile(logFile("Tarnwick_pending.tmp")), "Tarnwick_a3.tmp\r\n");

    r = run({"send", "--delete"});
    EXPECT_EQ(r.exit, 0);
    EXPECT_EQ(r.out, "  a3.tmp\nDeleted the pending e-mail.\n");
    EXPECT_FALSE(std::filesystem::exists(logFile("Tarnwick_pending.tmp")));
    EXPECT_FALSE(std::filesystem::exists(logFile("Tarnwick_a3.tmp")));
    EXPECT_EQ(sink.messages().size(), 2u);

    // the counters went back into the settings
    base::AppSettings settings(settingsFile());
    EXPECT_EQ(settings.value(base::setting::CountEmailBatchSucceeded), "3");
    EXPECT_EQ(settings.value(base::setting::CountEmailBatchFailed), "1");
}

// A server that offers no STARTTLS (as when a man in the middle strikes it from the EHLO reply) never gets the
// password unless the user chose the plain dialogue by name; the message stays queued meanwhile.
TEST_F(CliNotifyTest, APasswordGoesInClearOnlyWhenChosen)
{
    test::SmtpSink sink;
    sink.start("tester", "pw-in-clear");
    {
        base::AppSettings settings(settingsFile());
        settings.setValue(base::setting::SmtpServer, sink.address());
        settings.setValue(base::setting::UserName, "tester");
        settings.setPlainPassword("pw-in-clear");
    }
    queueMessages({{"Tarnwick_a1.tmp", "Subject: one\r\n\r\n1\r\n"}});
    test::CliRun r = run({"send"});
    EXPECT_EQ(r.exit, 1);
    EXPECT_NE(r.err.find("does not offer STARTTLS, so the password was not sent"), std::string::npos);
    EXPECT_EQ(test::readWholeFile(logFile("Tarnwick_pending.tmp")), "Tarnwick_a1.tmp\r\n");

    r = run({"config", "set", "SmtpSecurity", "ssl"});
    EXPECT_EQ(r.exit, 1);
    EXPECT_NE(r.err.find("starttls, tls or none"), std::string::npos);
    EXPECT_EQ(run({"config", "set", "SmtpSecurity", "none"}).exit, 0);
    EXPECT_EQ(run({"send"}).exit, 0);
    const std::vector<test::SmtpSink::Message> all = sink.messages();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].login, "tester");
}

TEST_F(CliNotifyTest, TestMailGoesToTheChosenAddresses)
{
    test::SmtpSink sink;
    sink.start("", "");
    setSetting(base::setting::SmtpServer, sink.address());
    test::CliRun r = run({"test-mail"});
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(r.out, "E-mail was sent successfully.\n");
    r = run({"test-mail", "--notify"});
    EXPECT_EQ(r.exit, 0);
    std::vector<test::SmtpSink::Message> all = sink.messages();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].rcpts, std::vector<std::string>{"me@example.test"});
    EXPECT_EQ(all[1].rcpts, std::vector<std::string>{"n1@example.test"});
    EXPECT_NE(all[0].data.find("Subject: Tarnwick Test e-mail"), std::string::npos);

    sink.stop();
    r = run({"test-mail"});
    EXPECT_EQ(r.exit, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(std::filesystem::exists(logFile("Tarnwick_emailtest.txt")));
}

// A reference given on the command line or by an import, and a setting, may hold a line break and a header line
// after it: whatever template carries them into a header, the mail server sees neither a recipient nor a header
// line of their making.
TEST_F(CliNotifyTest, AValueNeverAddsAHeaderLineOrARecipient)
{
    test::SmtpSink sink;
    sink.start("", "");
    {
        base::AppSettings settings(settingsFile());
        settings.setValue(base::setting::SmtpServer, sink.address());
        settings.setValue(base::setting::OrgName, "Brenlow\r\nBcc: victim3@example.test");
    }
    const std::string folder = notify::userTemplateDir(logDir());
    std::filesystem::create_directories(folder);
    std::ofstream(folder + "/entry-added.txt", std::ios::binary) << "Subject: [Reference] added\n\n[Reference]\n";
    std::ofstream(folder + "/test-mail.txt", std::ios::binary) << "Subject: [OrgName] test\n\nTest.\n";
    std::ofstream(dir.file("import.csv"), std::ios::binary)
        << "Number,Reference\r\n7654321,\"B\r\nBcc: victim2@example.test\"\r\n";

    test::CliRun r = test::runCli({"add", "--reference", "A\r\nBcc: victim1@example.test", "1234567"}, settingsFile());
    ASSERT_EQ(r.exit, 0) << r.err;
    r = test::runCli({"import", dir.file("import.csv")}, settingsFile());
    ASSERT_EQ(r.exit, 0) << r.err;
    r = test::runCli({"send"}, settingsFile());
    ASSERT_EQ(r.exit, 0) << r.err;
    r = test::runCli({"test-mail"}, settingsFile());
    ASSERT_EQ(r.exit, 0) << r.err;

    const std::vector<test::SmtpSink::Message> all = sink.messages();
    ASSERT_EQ(all.size(), 3u);
    const char* subjects[] = {"Subject: A  Bcc: victim1@example.test added\r\n",
                              "Subject: B  Bcc: victim2@example.test added\r\n",
                              "Subject: Brenlow  Bcc: victim3@example.test test\r\n"};
    for (size_t i = 0; i < all.size(); ++i) {
        SCOPED_TRACE(subjects[i]);
        for (const std::string& rcpt : all[i].rcpts)
            EXPECT_EQ(rcpt.find("victim"), std::string::npos);
        const std::string header = all[i].data.substr(0, all[i].data.find("\r\n\r\n") + 2);
        EXPECT_NE(header.find(subjects[i]), std::string::npos) << header;
        EXPECT_EQ(header.find("\nBcc:"), std::string::npos) << header;
    }
}

} // namespace

// An import is told of by one notice that names every entry it added, a line each (one of them starting with a
// dot, which SMTP stuffs), and the mail server receives all of it; an add made by itself keeps its own notice. In
// digest mode too: a digest would keep the import's subject alone.
TEST_F(CliNotifyTest, AnImportIsOneNoticeNamingEveryAddedEntry)
{
    test::SmtpSink sink;
    sink.start("", "");
    setSetting(base::setting::SmtpServer, sink.address());
    setSetting(base::setting::NotifyMode, "digest");
    std::string csv = "Number,Reference\r\n", named;
    for (int i = 0; i < 3000; ++i) {
        const std::string number = std::to_string(70000000 + i),
                          reference = (i == 1 ? "." : "REF-") + std::to_string(i);
        csv += number + "," + reference + "\r\n";
        named += reference + ", application " + number.substr(0, 2) + "-" + number.substr(2) + "\r\n";
    }
    std::ofstream(dir.file("import.csv"), std::ios::binary) << csv;
    ASSERT_EQ(run({"add", "--reference", "ONE", "1234567"}).exit, 0);
    test::CliRun r = run({"import", dir.file("import.csv")});
    ASSERT_EQ(r.exit, 0) << r.err;
    r = run({"send"});
    ASSERT_EQ(r.exit, 0) << r.err;

    const std::vector<test::SmtpSink::Message> all = sink.messages();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_NE(all[0].data.find("Subject: Trademark entry added, registration 1234567"), std::string::npos);
    EXPECT_NE(all[1].data.find("Subject: 3,000 Trademark entries added\r\n"), std::string::npos);
    EXPECT_NE(all[1].data.find("\r\n\r\n" + named + "\r\n"), std::string::npos) << all[1].data.substr(0, 2000);
}
