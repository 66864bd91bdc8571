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

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <sstream>

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
    std::vector<std::string> listedReminders() const
    {
        std::vector<std::string> names;
        std::istringstream list(platform::readFile(logFile("Tarnwick_pending.tmp")).value_or(""));
        for (std::string line; std::getline(list, line);) {
            if (line.starts_with("Tarnwick_r"))
                names.push_back(line);
        }
        return names;
    }
    // The Subject line as a reader sees it: unfolded, its encoded words (UTF-8, Q) decoded.
    static std::string subjectOf(const std::string& data)
    {
        std::istringstream header(data.substr(0, data.find("\r\n\r\n")));
        std::string folded;
        for (std::string line; std::getline(header, line);) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (line.starts_with("Subject: "))
                folded = line.substr(9);
            else if (!folded.empty() && line.starts_with(" "))
                folded += line;
            else if (!folded.empty())
                break;
        }
        std::istringstream words(folded);
        std::string subject;
        bool lastEncoded = false;
        for (std::string word; words >> word;) {
            const bool encoded = word.starts_with("=?UTF-8?Q?") && word.ends_with("?=");
            if (!subject.empty() && !(encoded && lastEncoded))
                subject += ' ';
            lastEncoded = encoded;
            if (!encoded) {
                subject += word;
                continue;
            }
            for (size_t i = 10; i + 2 < word.size(); ++i) {
                if (word[i] == '_')
                    subject += ' ';
                else if (word[i] == '=')
                    subject += static_cast<char>(std::stoi(word.substr(i + 1, 2), nullptr, 16)), i += 2;
                else
                    subject += word[i];
            }
        }
        return subject;
    }

    // The body as a reader sees it: quoted-printable decoded when it is so, lines ending in LF.
    static std::string bodyOf(const std::string& data)
    {
        std::string body;
        const size_t crlf = data.find("\r\n\r\n");
        const size_t start = crlf != std::string::npos ? crlf + 4 : data.find("\n\n") + 2;
        const bool quoted = data.substr(0, start).find("quoted-printable") != std::string::npos;
        for (size_t i = start; i < data.size(); ++i) {
            if (data[i] == '\r')
                continue;
            if (!quoted || data[i] != '=' || i + 1 >= data.size())
                body += data[i];
            else if (data[i + 1] == '\n' || data[i + 1] == '\r')
                i += data[i + 1] == '\r' ? 2 : 1;
            else
                body += static_cast<char>(std::stoi(data.substr(i + 1, 2), nullptr, 16)), i += 2;
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
// digest mode each goes as its line of the run's digest.
TEST_F(CliRemindersTest, EachReminderArrivesOnceOnConsecutiveDays)
{
    const std::string reminder =
        "ACME-7: Declaration of use due " + m_dueText + " \xE2\x80\x94 registration 2824281, trademark LANTERN";
    struct Day {
        int daysLeft;
        std::string subject; // the one message the run sends, empty for none
    };
    const Day days[] = {
        {16, reminder},
        {15, ""},
        {14, reminder},
        {13, ""},
        {3, reminder},
        {2, ""},
        {-1, "ACME-7: Overdue: " + reminder.substr(8)},
        {-2, ""},
    };
    for (const char* mode : {"each", "digest"}) {
        SCOPED_TRACE(mode);
        set(base::setting::NotifyMode, mode);
        std::filesystem::remove(logFile(notify::k_reminderRecordName));
        size_t seen = m_sink.messages().size();
        for (const Day& day : days) {
            SCOPED_TRACE(day.daysLeft);
            const test::CliRun r = runOn(day.daysLeft, {"auto"});
            EXPECT_EQ(r.exit, 0) << r.err;
            const std::vector<test::SmtpSink::Message> all = m_sink.messages();
            ASSERT_EQ(all.size(), seen + (day.subject.empty() ? 0 : 1));
            if (day.subject.empty())
                continue;
            const std::string& data = all.back().data;
            seen = all.size();
            if (std::string(mode) == "each") {
                EXPECT_EQ(subjectOf(data), day.subject);
            } else {
                EXPECT_EQ(subjectOf(data), "Trademark status: 1 deadline reminder");
                EXPECT_NE(bodyOf(data).find("Deadlines coming up or overdue:\n" + day.subject + "\n"),
                          std::string::npos);
            }
        }
        // the deadline is met with the grace over: its records are forgotten
        runOn(-200, {"auto"});
        EXPECT_EQ(platform::readFile(logFile(notify::k_reminderRecordName)).value_or("?"), "");
    }
}

// A crash after the reminder is listed and before the record holds it sends it once more; one before the list
// names it leaves a file that the next run removes and queues again. Neither loses it.
TEST_F(CliRemindersTest, ACrashRepeatsAReminderAtMostOnceAndNeverLosesIt)
{
    set(base::setting::SendAfterUpdate, "0");
    const std::string record = logFile(notify::k_reminderRecordName);
    const std::string list = logFile("Tarnwick_pending.tmp");

    ASSERT_EQ(runOn(16, {"update"}).exit, 0);
    ASSERT_EQ(listedReminders().size(), 1u);
    EXPECT_EQ(platform::readFile(record).value_or(""), "2824281\tdeclaration-6y\t60\r\n");
    // killed between the listing and the record's rename: the old record
    std::filesystem::remove(record);
    ASSERT_EQ(runOn(16, {"update"}).exit, 0);
    EXPECT_EQ(listedReminders().size(), 2u);
    ASSERT_EQ(runOn(16, {"update"}).exit, 0);
    EXPECT_EQ(listedReminders().size(), 2u);

    // killed once the message was durable and before the list named it: the old list and the old record
    const std::string listBefore = platform::readFile(list).value_or("");
    const std::string recordBefore = platform::readFile(record).value_or("");
    ASSERT_EQ(runOn(14, {"update"}).exit, 0);
    ASSERT_EQ(listedReminders().size(), 3u);
    ASSERT_TRUE(platform::writeFileAtomic(list, listBefore));
    ASSERT_TRUE(platform::writeFileAtomic(record, recordBefore));
    ASSERT_EQ(runOn(14, {"update"}).exit, 0);
    EXPECT_EQ(listedReminders().size(), 3u);
    EXPECT_EQ(std::count_if(std::filesystem::directory_iterator(logDir()), {},
                            [](const auto& e) {
                                const std::string name = e.path().filename().string();
                                return name.starts_with("Tarnwick_r") && name.ends_with(".tmp");
                            }),
              3);

    const test::CliRun sent = runOn(14, {"send"});
    EXPECT_EQ(sent.exit, 0) << sent.err;
    EXPECT_EQ(m_sink.messages().size(), 3u); // the 60 days' reminder twice, the 14 days' once
    EXPECT_EQ(runOn(13, {"auto"}).exit, 0);
    EXPECT_EQ(m_sink.messages().size(), 3u);
}

// auto killed at a random moment of each day's run, then run to its end the same day: every reminder arrives, and
// none more than twice (a kill after the listing and before the record, or after the sending and before the
// removal, repeats it once).
TEST_F(CliRemindersTest, AutoKilledAtRandomMomentsLosesNoReminder)
{
    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> killAfterMs(0, 120);
    std::map<int, int> arrived; // days left on the day of a reminder -> messages that told of it
    size_t seen = 0;
    for (int daysLeft : {16, 15, 14, 13, 3, 2, -1, -2}) {
        SCOPED_TRACE(daysLeft);
        const std::string command = "TARNWICK_DAYS_AHEAD=" + std::to_string(m_due - daysLeft) + " timeout -s KILL " +
                                    std::to_string(killAfterMs(random) / 1000.0) + " " +
                                    test::shellQuoted(TARNWICK_CLI) + " --settings " +
                                    test::shellQuoted(settingsFile()) + " auto </dev/null >/dev/null 2>&1";
        (void)std::system(command.c_str());
        EXPECT_EQ(runOn(daysLeft, {"auto"}).exit, 0);
        const std::vector<test::SmtpSink::Message> all = m_sink.messages();
        for (; seen < all.size(); ++seen) {
            const std::string body = bodyOf(all[seen].data);
            const size_t at = body.find("Days left: ");
            ASSERT_NE(at, std::string::npos) << body;
            ++arrived[std::stoi(body.substr(at + 11))];
        }
    }
    for (int daysLeft : {16, 14, 3, -1}) {
        EXPECT_GE(arrived[daysLeft], 1) << daysLeft;
        EXPECT_LE(arrived[daysLeft], 2) << daysLeft;
    }
    EXPECT_EQ(arrived.size(), 4u);
}
