// The unattended run end to end: the real desktop program started with -auto and the real tarnwick-cli auto,
// against the office simulator (one mark answering HTTP 500) and aiosmtpd that is up, then down, then up again.
// Every run ends by itself within its time-out with the status its manual page gives; nothing waits.
#include "app/commandline.h"
#include "base/settings.h"
#include "core/datafile.h"
#include "core/entrystore.h"
#include "core/identifier.h"
#include "platform/files.h"
#include "platform/instancelock.h"
#include "support/office.h"
#include "support/peers.h"
#include "support/qtapplication.h"
#include "support/tempdir.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

using namespace tarnwick;

namespace {

constexpr int k_runTimeoutMs = 60000;

struct Ended {
    bool finished = false;
    int status = -1;
    std::string err;
};

class AutoRunEndToEnd : public ::testing::Test {
protected:
    AutoRunEndToEnd()
    {
        test::ensureApplication();
        std::filesystem::create_directories(m_dir.file("log/Tarnwick"));
    }
    std::string settings() const { return m_dir.file("settings.ini"); }
    std::string logDir() const { return m_dir.file("log"); }
    std::string logText() const { return platform::readFile(m_dir.file("log/Tarnwick.log")).value_or(""); }

    void configure(const std::string& smtpServer)
    {
        base::AppSettings s(settings());
        s.setValue(base::setting::LogDir, logDir());
        s.setValue(base::setting::ReportDir, m_dir.file("report"));
        s.setValue(base::setting::OrgName, "Demo Trademark Group");
        s.setValue(base::setting::SmtpServer, smtpServer);
        s.setValue(base::setting::SmtpSecurity, "none");
        s.setValue(base::setting::UserName, "tester");
        s.setPlainPassword("secret");
        s.setValue(base::setting::ReturnAddress, "tarnwick@example.test");
        s.setNotifyAddresses({"paralegal@example.test"});
        // installed where it runs: no question about copying it
        s.setValue(base::setting::Install, platform::folderOf(TARNWICK_DESKTOP));
    }
    // Every entry due again, its values kept: the next run compares with them.
    void makeDue()
    {
        core::EntryStore store;
        ASSERT_EQ(core::loadDataFile(store, logDir()), "");
        for (int i = 0; i < store.count(); ++i)
            store.at(i).LastUpdate = 0;
        store.setLoadOk(true);
        ASSERT_TRUE(core::saveDataFile(store, logDir()));
    }
    Ended run(const std::string& program, const QStringList& args, int daysAhead = 0) const
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), QString::fromStdString(m_dir.file("config")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), QString::fromStdString(m_dir.file("data")));
        env.insert(QStringLiteral("TARNWICK_DAYS_AHEAD"), QString::number(daysAhead));
        p.setProcessEnvironment(env);
        p.setStandardInputFile(QProcess::nullDevice());
        p.start(QString::fromStdString(program),
                QStringList{QStringLiteral("--settings"), QString::fromStdString(settings())} + args);
        Ended ended;
        if (!p.waitForStarted(10000))
            return ended;
        ended.finished = p.waitForFinished(k_runTimeoutMs);
        if (!ended.finished) {
            p.kill();
            p.waitForFinished(5000);
        }
        ended.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        ended.err = p.readAllStandardError().toStdString();
        return ended;
    }
    Ended desktopAuto() const { return run(TARNWICK_DESKTOP, {QStringLiteral("-auto")}); }

    static int countHolding(const std::vector<test::SmtpSink::Message>& messages, const std::string& text)
    {
        return static_cast<int>(std::count_if(messages.begin(), messages.end(),
                                              [&](const auto& m) { return m.data.find(text) != std::string::npos; }));
    }

    test::TempDir m_dir;
};

} // namespace

TEST_F(AutoRunEndToEnd, EveryRunEndsWithItsStatusAndTheFoundChangesArrive)
{
    test::OfficeSimulator office;
    office.start(20, 1, 1);
    ASSERT_TRUE(platform::writeFileAtomic(m_dir.file("log/Tarnwick/rules.txt"), office.rulesText()));
    office.setFault("75000001", "500");
    {
        core::EntryStore store;
        const std::pair<const char*, const char*> marks[] = {
            {"75000001", "KESTREL-EU"}, {"75000002", "M2"}, {"75000003", "M3"}, {"75000004", "M4"}};
        for (const auto& [number, reference] : marks) {
            core::Entry e;
            core::setIdentifier(e, number);
            e.Reference = reference;
            store.appendEntry(e);
        }
        store.setLoadOk(true);
        ASSERT_TRUE(core::saveDataFile(store, logDir()));
    }
    test::SmtpSink sink;
    sink.start();
    configure(sink.address());

    // the first reading: one mark fails, and the failure notice names it with its reason
    Ended first = desktopAuto();
    ASSERT_TRUE(first.finished) << logText();
    EXPECT_EQ(first.status, app::exitcode::EntriesFailed) << first.err << logText();
    std::vector<test::SmtpSink::Message> mail = sink.messages();
    ASSERT_EQ(countHolding(mail, "1 mark could not be updated"), 1) << logText();
    EXPECT_EQ(countHolding(mail, "- KESTREL-EU, application 75-000001: HttpGet: HTTP Get Failed. (500 Internal "
                                 "Server Error)"),
              1);

    // the office moves on while the mail server is down: the changes are found and stay queued
    sink.stop();
    office.setDay(400);
    makeDue();
    Ended down = desktopAuto();
    ASSERT_TRUE(down.finished) << logText();
    EXPECT_EQ(down.status, app::exitcode::MailNotSent) << down.err << logText();
    EXPECT_NE(logText().find("Auto mode ends with exit status 4: the e-mail could not be sent and stays queued"),
              std::string::npos)
        << logText();
    const std::string pending = platform::readFile(m_dir.file("log/Tarnwick_pending.tmp")).value_or("");
    EXPECT_NE(pending.find("Tarnwick_s"), std::string::npos) << pending;

    // the server is back: the next day's headless run sends what was found; the mark still fails, and the new day
    // brings a notice of its own
    sink.start();
    configure(sink.address());
    Ended back = run(TARNWICK_CLI, {QStringLiteral("auto")}, 1);
    ASSERT_TRUE(back.finished) << logText();
    EXPECT_EQ(back.status, app::exitcode::EntriesFailed) << back.err;
    mail = sink.messages();
    EXPECT_GE(countHolding(mail, "Cancelled - Section 8"), 1) << logText();
    EXPECT_EQ(countHolding(mail, "1 mark could not be updated"), 1);
    EXPECT_FALSE(platform::fileExists(m_dir.file("log/Tarnwick_pending.tmp")));

    // a second start while one runs ends at once and says why
    platform::InstanceLock held;
    ASSERT_TRUE(held.acquire(logDir()));
    const auto start = std::chrono::steady_clock::now();
    Ended second = desktopAuto();
    EXPECT_TRUE(second.finished);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
    EXPECT_EQ(second.status, app::exitcode::Refused);
    EXPECT_NE(second.err.find("tarnwick: Only one instance of Tarnwick may be run at a time.\n"), std::string::npos)
        << second.err;
    const Ended headless = run(TARNWICK_CLI, {QStringLiteral("auto")});
    EXPECT_TRUE(headless.finished);
    EXPECT_EQ(headless.status, app::exitcode::Refused);
    const std::string refusal = "Auto mode: Only one instance of Tarnwick may be run at a time. This start ends.";
    const std::string log = logText();
    const size_t once = log.find(refusal);
    ASSERT_NE(once, std::string::npos) << log;
    EXPECT_NE(log.find(refusal, once + 1), std::string::npos) << log;
}
