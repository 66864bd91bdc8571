#include "base/settings.h"
#include "core/datafile.h"
#include "core/entrystore.h"
#include "docket/deadlines.h"
#include "notify/reminders.h"
#include "support/office.h"
#include "support/peers.h"
#include "support/runcli.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

using namespace tarnwick;

namespace {

// A registration whose declaration of use falls due in about three weeks, watched by tarnwick-cli runs on the days
// ahead that TARNWICK_DAYS_AHEAD plays, with the rules at the office simulator and the mail at a real SMTP server.
class CliRemindersTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (std::system("/usr/bin/python3 -c 'import aiosmtpd' 2>/dev/null") != 0)
            GTEST_SKIP() << "aiosmtpd is not installed (scripts/setup installs python3-aiosmtpd)";
        m_office.start(1);
        m_sink.start("", "");
        std::filesystem::create_directories(logDir() + "/Tarnwick");
        ASSERT_TRUE(platform::writeFileAtomic(logDir() + "/Tarnwick/rules.txt", m_office.rulesText()));
        base::AppSettings settings(settingsFile());
        settings.setValue(base::setting::LogDir, logDir());
        settings.setValue(base::setting::ReturnAddress, "me@example.test");
        settings.setValue(base::setting::SmtpServer, m_sink.address());
        settings.setNotifyAddresses({"n1@example.test"});
        ASSERT_TRUE(settings.writeAll());

        core::Entry mark(core::today());
        mark.Frequency = core::Frequency::Never; // nothing to fetch: the reminders come from the stored dates
        mark.Reference = "ACME-7";
        mark.RegNum = "2824281";
        mark.Trademark = "LANTERN";
        mark.RegDate = core::formatDay(docket::addYears(core::today() + 20, -6));
        core::EntryStore store;
        store.appendEntry(mark);
        store.setLoadOk(true);
        ASSERT_TRUE(core::saveDataFile(store, logDir()));
        const std::optional<docket::Deadline> next = docket::nextDeadline(mark, core::today());
        ASSERT_TRUE(next && next->kind == docket::DeadlineKind::DeclarationOfUse);
        m_due = next->closes - core::today();
        m_dueText = core::formatDay(next->closes);
    }

    std::string settingsFile() const { return m_dir.file("settings.ini"); }
    std::string logDir() const { return m_dir.file("logs"); }
    std::string logFile(const std::string& name) const { return logDir() + "/" + name; }

    void set(const base::SettingKey& key, const std::string& value)
    {
        base::AppSettings settings(settingsFile());
        settings.setValue(key, value);
        ASSERT_TRUE(settings.writeAll());
    }
    // tarnwick-cli on the day `daysLeft` days before the due day (after it when below 0)
    test::CliRun runOn(int daysLeft, const std::vector<std::string>& args) const
    {
        ::setenv("TARNWICK_DAYS_AHEAD", std::to_string(m_due - daysLeft).c_str(), 1);
        test::CliRun r = test::runCli(args, settingsFile());
        ::unsetenv("TARNWICK_DAYS_AHEAD");
        return r;
    }
    // The reminder files the pending list names.
    size_t listedReminders() const
    {
        const std::string list = platform::readFile(logFile("Tarnwick_pending.tmp")).value_or("");
        size_t n = 0;
        for (size_t at = list.find("Tarnwick_r"); at != std::string::npos; at = list.find("Tarnwick_r", at + 1))
            ++n;
        return n;
    }
    // The body as a reader sees it: quoted-printable decoded when it is so, lines ending in LF.
    static std::string bodyOf(const std::string& data)
    {
        const size_t start = data.find("\r\n\r\n") + 4;
        const bool quoted = data.substr(0, start).find("quoted-printable") != std::string::npos;
        std::string body;
        for (size_t i = start; i < data.size(); ++i) {
            if (data[i] == '\r' || (quoted && data.compare(i, 3, "=\r\n") == 0))
                i += data[i] == '\r' ? 0 : 2;
            else if (quoted && data[i] == '=')
                body += static_cast<char>(std::stoi(data.substr(i + 1, 2), nullptr, 16)), i += 2;
            else
                body += data[i];
        }
        return body;
    }

    test::TempDir m_dir;
    test::OfficeSimulator m_office;
    test::SmtpSink m_sink;
    int m_due = 0;
    std::string m_dueText;
};

} // namespace

// Runs on consecutive days send each threshold's reminder once, and the overdue one once while the grace runs; in
// digest mode each goes as its line of the run's digest. Once the grace is over the record forgets the deadline.
TEST_F(CliRemindersTest, EachReminderArrivesOnceOnConsecutiveDays)
{
    const std::string line =
        "ACME-7: Declaration of use due " + m_dueText + " \xE2\x80\x94 registration 2824281, trademark LANTERN\n";
    const std::pair<int, bool> days[] = {{16, true}, {15, false}, {14, true}, {13, false},
                                         {3, true},  {2, false},  {-1, true}, {-2, false}};
    // the last: a digest template of the user's that shows no reminders, which then go on their own
    for (const char* mode : {"each", "digest", "own digest"}) {
        SCOPED_TRACE(mode);
        const bool digest = std::string(mode) == "digest";
        set(base::setting::NotifyMode, mode == std::string("each") ? "each" : "digest");
        if (std::string(mode) == "own digest") {
            std::filesystem::create_directories(logDir() + "/Tarnwick/templates");
            ASSERT_TRUE(platform::writeFileAtomic(logDir() + "/Tarnwick/templates/digest.txt",
                                                  "Subject: [DigestSummary]\r\n\r\n[DigestChanges]\r\n"));
        }
        size_t seen = m_sink.messages().size();
        for (const auto& [daysLeft, reminded] : days) {
            SCOPED_TRACE(daysLeft);
            EXPECT_EQ(runOn(daysLeft, {"auto"}).exit, 0);
            const std::vector<test::SmtpSink::Message> all = m_sink.messages();
            ASSERT_EQ(all.size(), seen + (reminded ? 1 : 0));
            if (!reminded)
                continue;
            seen = all.size();
            const std::string body = bodyOf(all.back().data);
            const std::string overdue = daysLeft < 0 ? "Overdue: " : "";
            if (!digest)
                EXPECT_NE(body.find("Days left: " + std::to_string(daysLeft) + "\n"), std::string::npos) << body;
            else
                EXPECT_NE(body.find("Deadlines coming up or overdue:\nACME-7: " + overdue + line.substr(8)),
                          std::string::npos)
                    << body;
        }
        runOn(-200, {"auto"});
        EXPECT_EQ(platform::readFile(logFile(notify::k_reminderRecordName)).value_or("?"), "");
    }
}

// What a kill leaves, laid down exactly: after the listing and before the record's rename, the reminder goes once
// more; before the listing, its unlisted file is removed and it is queued again. Neither loses it.
TEST_F(CliRemindersTest, AKillRepeatsAReminderAtMostOnceAndNeverLosesIt)
{
    set(base::setting::SendAfterUpdate, "0");
    const std::string record = logFile(notify::k_reminderRecordName);
    const std::string list = logFile("Tarnwick_pending.tmp");
    ASSERT_EQ(runOn(16, {"update"}).exit, 0);
    EXPECT_EQ(platform::readFile(record).value_or(""), "2824281\tdeclaration-6y\t60\r\n");
    std::filesystem::remove(record);
    for (int run = 0; run < 2; ++run)
        ASSERT_EQ(runOn(16, {"update"}).exit, 0);
    EXPECT_EQ(listedReminders(), 2u);

    const std::string listBefore = platform::readFile(list).value_or("");
    const std::string recordBefore = platform::readFile(record).value_or("");
    ASSERT_EQ(runOn(14, {"update"}).exit, 0);
    ASSERT_TRUE(platform::writeFileAtomic(list, listBefore) && platform::writeFileAtomic(record, recordBefore));
    ASSERT_EQ(runOn(14, {"update"}).exit, 0);
    EXPECT_EQ(listedReminders(), 3u);
    EXPECT_FALSE(std::filesystem::exists(logFile("Tarnwick_r2824281_3.tmp"))); // the one no list named

    EXPECT_EQ(runOn(14, {"send"}).exit, 0);
    EXPECT_EQ(runOn(13, {"auto"}).exit, 0);
    EXPECT_EQ(m_sink.messages().size(), 3u); // the 60 days' reminder twice, the 14 days' once
}
