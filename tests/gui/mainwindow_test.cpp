#include "app/application.h"
#include "app/commands.h"
#include "app/docketcommands.h"
#include "app/mainstate.h"
#include "app/startup.h"
#include "base/settings.h"
#include "core/datafile.h"
#include "core/daynumber.h"
#include "core/entrystore.h"
#include "core/identifier.h"
#include "gui/entrymodel.h"
#include "gui/mainwindow.h"
#include "gui/program.h"
#include "gui/sidewindows.h"
#include "gui/textconv.h"
#include "platform/files.h"
#include "platform/instancelock.h"
#include "support/office.h"
#include "support/qtapplication.h"
#include "support/scripteddialogs.h"
#include "support/tempdir.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProcess>
#include <QProgressBar>
#include <QSortFilterProxyModel>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <signal.h>

using namespace tarnwick;

// what the font library keeps for the life of the process is no leak of ours
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig\n";
}

namespace {

using test::ensureApplication;

using test::waitFor;

// The local office simulator at day 900, running for the test.
struct Office : test::OfficeSimulator {
    Office() { start(20, 1, 900); }
    ~Office() { stop(); }
};

class MainWindowTest : public ::testing::Test {
protected:
    MainWindowTest()
    {
        ensureApplication();
        std::filesystem::create_directories(m_dir.file("log/Tarnwick"));
        (void)platform::writeFileAtomic(settings(), "");
    }
    std::string settings() const { return m_dir.file("settings.ini"); }
    std::string logDir() const { return m_dir.file("log"); }

    // Entries with the given application numbers and references in the data file.
    void writeEntries(const std::vector<std::pair<std::string, std::string>>& entries)
    {
        core::EntryStore store;
        for (const auto& [number, reference] : entries) {
            core::Entry e;
            core::setIdentifier(e, number);
            e.Reference = reference;
            store.appendEntry(e);
        }
        store.setLoadOk(true);
        ASSERT_TRUE(core::saveDataFile(store, logDir()));
    }

    gui::MainWindow& open(std::vector<std::pair<base::SettingKey, std::string>> values, bool autoMode = false)
    {
        m_window.reset();
        m_app = std::make_unique<app::AppContext>(settings());
        m_app->settings.setValue(base::setting::LogDir, logDir());
        m_app->settings.setValue(base::setting::OrgName, "Acme");
        for (auto& [name, value] : values)
            m_app->settings.setValue(name, value);
        m_app->rules.load(logDir()); // the office's rules, never the real office's addresses
        const app::StartupPlaces places{m_dir.file("bin/tarnwick"), m_dir.path(), m_dir.path(), "1.0.00"};
        m_window =
            std::make_unique<gui::MainWindow>(*m_app, app::startApplication(*m_app, places), autoMode, m_dialogs);
        m_window->open();
        m_window->show();
        return *m_window;
    }

    // What the status bar says the last command came to.
    static QString outcome(gui::MainWindow& w)
    {
        const auto* label = w.statusBar()->findChild<QLabel*>(QStringLiteral("outcome"));
        return label ? label->text() : QString();
    }

    int countFiles(const std::string& prefix) const
    {
        int n = 0;
        for (const auto& f : std::filesystem::directory_iterator(logDir()))
            n += f.path().filename().string().rfind(prefix, 0) == 0 ? 1 : 0;
        return n;
    }

    test::TempDir m_dir;
    test::ScriptedDialogs m_dialogs;
    std::unique_ptr<app::AppContext> m_app;
    std::unique_ptr<gui::MainWindow> m_window;
};

} // namespace

TEST(TextConversion, Utf8WhereValidElseLatin1)
{
    ensureApplication();
    EXPECT_EQ(gui::fromBytes("R&D"), QStringLiteral("R&D"));
    EXPECT_EQ(gui::fromBytes("M\xC3\xBCller"), QStringLiteral("M\u00fcller"));
    EXPECT_EQ(gui::fromBytes("Tarnwick\xAE - M\xC3\xBCller"), QStringLiteral("Tarnwick\u00ae - M\u00fcller"));
    EXPECT_EQ(gui::fromBytes("\xE9t\xE9"), QStringLiteral("\u00e9t\u00e9"));
    EXPECT_EQ(gui::fromBytes("\xED\xA0\x80"), QStringLiteral("\u00ed\u00a0\u0080")); // a lone surrogate is not UTF-8
}

TEST_F(MainWindowTest, EveryCommandIsAnActionWithItsKey)
{
    writeEntries({{"75000001", "A"}});
    gui::MainWindow& w = open({});
    const QList<QAction*> bar = w.menuBar()->actions();
    QStringList titles;
    for (QAction* a : bar)
        titles << a->text();
    EXPECT_EQ(titles.join(QLatin1Char(' ')), QStringLiteral("&File &Edit &Update &Sort &View &Options &Test &Help"));
    for (const app::CommandInfo& c : app::commandTable()) {
        SCOPED_TRACE(c.text);
        ASSERT_TRUE(w.action(c.id));
        EXPECT_EQ(w.action(c.id)->text(), gui::fromBytes(c.text));
        if (!c.key.empty()) {
            EXPECT_TRUE(w.action(c.id)->shortcuts().contains(QKeySequence(QString::fromStdString(c.key))));
        }
    }
    // the Edit menu's Change items carry the field's menu caption
    EXPECT_EQ(w.action(app::columnCommand(app::Command::ChangeColumn, 3))->text(), QStringLiteral("&Reference"));
}

TEST_F(MainWindowTest, EnablingFollowsSelectionAndBusy)
{
    writeEntries({{"75000001", "A"}, {"75000002", "B"}, {"75000003", "C"}});
    gui::MainWindow& w = open({});
    QAbstractItemModelTester tester(w.model(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    struct Step {
        int rows;
        bool del, reference, webpage;
    };
    const Step steps[] = {{0, false, false, false}, {1, true, true, true}, {2, true, false, false}};
    for (const Step& s : steps) {
        SCOPED_TRACE(s.rows);
        w.table()->clearSelection();
        for (int r = 0; r < s.rows; ++r)
            w.table()->selectionModel()->select(w.table()->model()->index(r, 0),
                                                QItemSelectionModel::Select | QItemSelectionModel::Rows);
        w.refreshActions();
        EXPECT_EQ(w.action(app::Command::Delete)->isEnabled(), s.del);
        EXPECT_EQ(w.action(app::Command::UpdateSelected)->isEnabled(), s.del);
        EXPECT_EQ(w.action(app::columnCommand(app::Command::ChangeColumn, 3))->isEnabled(), s.reference);
        EXPECT_EQ(w.action(app::Command::ViewWebpage)->isEnabled(), s.webpage);
    }
    EXPECT_FALSE(w.action(app::Command::Cancel)->isEnabled());
}

TEST_F(MainWindowTest, HeaderClicksSortAndKeepTheSelection)
{
    writeEntries({{"75000003", "bravo"}, {"75000002", "alpha"}, {"75000001", "charlie"}});
    gui::MainWindow& w = open({{base::setting::SortBy, "Reference"}});
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    QHeaderView* header = w.table()->horizontalHeader();
    auto references = [&] {
        std::string out;
        for (const core::Entry& e : m_app->entries.entries())
            out += e.Reference + " ";
        return out;
    };
    EXPECT_EQ(references(), "alpha bravo charlie ");
    w.table()->selectRow(2); // charlie
    auto click = [&](int section) {
        QTest::mouseClick(
            header->viewport(), Qt::LeftButton, {},
            QPoint(header->sectionViewportPosition(section) + header->sectionSize(section) / 2, header->height() / 2));
    };
    click(3);
    EXPECT_EQ(references(), "charlie bravo alpha ");
    EXPECT_EQ(w.logic().sortOrder(), (app::SortOrder{3, true}));
    EXPECT_EQ(m_app->entries.at(w.state().selection().at(0)).Reference, "charlie");
    click(4); // App #, normally ascending
    EXPECT_EQ(references(), "charlie alpha bravo ");
    EXPECT_EQ(w.logic().sortOrder(), (app::SortOrder{4, false}));
    EXPECT_EQ(m_app->entries.at(w.state().selection().at(0)).Reference, "charlie");
}

TEST_F(MainWindowTest, ReferenceChangeAndDeleteNotify)
{
    writeEntries({{"75000001", "A"}, {"75000002", "B"}, {"75000003", "C"}});
    gui::MainWindow& w = open({});
    w.table()->selectRow(0);
    m_dialogs.inputs.push_back(std::string("R&D"));
    w.runCommand(app::columnCommand(app::Command::ChangeColumn, 3));
    EXPECT_EQ(w.table()->model()->index(0, 3).data().toString(), QStringLiteral("R&D"));
    EXPECT_EQ(countFiles("Tarnwick_c"), 1);

    w.table()->selectAll();
    m_dialogs.answers.push_back(base::Answer::Yes);
    w.runCommand(app::Command::Delete);
    EXPECT_EQ(m_dialogs.boxes.back(), "Delete these 3 entries?");
    EXPECT_EQ(m_app->entries.count(), 0);
    EXPECT_EQ(countFiles("Tarnwick_d"), 3);
    EXPECT_EQ(w.model()->rowCount(), 0);
}

TEST_F(MainWindowTest, TimeoutSettingReadBackAndChosen)
{
    const std::pair<const char*, int> cases[] = {{"10 minutes", 600000}, {"5", 30000}, {"", 60000}};
    for (const auto& [stored, ms] : cases) {
        SCOPED_TRACE(stored);
        gui::MainWindow& w = open({{base::setting::Timeout, stored}});
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&w));
        EXPECT_EQ(w.state().operationTimeoutMs(), ms);
        EXPECT_EQ(w.timeoutChoice()->currentData().toInt(), ms);
    }
    m_window->timeoutChoice()->setCurrentIndex(4);
    m_window->frontEnd().operationStart(60);
    waitFor([&] { return m_app->settings.value(base::setting::Timeout) == "10 minutes"; }, 2000);
    m_window->frontEnd().operationEnd();
    EXPECT_EQ(m_app->settings.value(base::setting::Timeout), "10 minutes");
    EXPECT_EQ(m_window->state().operationTimeoutMs(), 600000);

    // a download's own time-out stays, shown and in force, while the choice becomes the setting
    app::MainState& state = m_window->state();
    state.setFixedTimeoutMs(30000);
    state.operationStart(0);
    m_window->timeoutChoice()->setCurrentIndex(1);
    waitFor([&] { return app::MainState::timeoutFromSetting(m_app->settings.value(base::setting::Timeout)) == 60000; },
            2000);
    QProgressBar* bar = nullptr;
    for (QProgressBar* b : m_window->findChildren<QProgressBar*>())
        bar = b->format().contains(QStringLiteral(" s of ")) ? b : bar;
    ASSERT_TRUE(bar);
    EXPECT_EQ(bar->maximum(), 30);
    EXPECT_EQ(state.currentTimeoutMs(), 30000);
    EXPECT_EQ(state.operationTimeoutMs(), 60000);
    state.operationEnd();
    state.setFixedTimeoutMs(0);
}

TEST_F(MainWindowTest, ADuplicateAddShowsTheRowThatHoldsTheNumber)
{
    writeEntries({{"75000001", "A"}, {"75000002", "B"}, {"75000003", "C"}});
    gui::MainWindow& w = open({});
    w.table()->selectRow(2);
    m_dialogs.entries.push_back({"75-000001", "again"});
    w.runCommand(app::Command::Add);
    EXPECT_EQ(m_dialogs.boxes.back(), "This entry already exists.");
    const QModelIndexList rows = w.table()->selectionModel()->selectedRows();
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(w.state().selection(), std::vector<int>{0});
    EXPECT_EQ(rows.front().row(), 0);
    EXPECT_EQ(m_app->entries.count(), 3);
}

TEST_F(MainWindowTest, TheFileMenuImportsAndExportsTheDocketAndTheListShowsTheNextDeadline)
{
    writeEntries({{"75000001", "A"}});
    gui::MainWindow& w =
        open({{base::setting::ReportDir, m_dir.file("report")}, {base::setting::ColWidthNextDeadline, "123"}});
    EXPECT_EQ(w.table()->columnWidth(app::k_deadlineColumn), 123);
    EXPECT_EQ(w.model()->headerData(app::k_deadlineColumn, Qt::Horizontal).toString(), QStringLiteral("Next Deadline"));

    (void)platform::writeFileAtomic(m_dir.file("in.csv"), "Number,Reference\r\n75000002,B\r\n");
    m_dialogs.files = {m_dir.file("in.csv"), m_dir.file("out.csv"), m_dir.file("out.ics")};
    w.runCommand(app::Command::ImportSpreadsheet);
    ASSERT_EQ(w.model()->rowCount(), 2);
    ASSERT_EQ(w.state().selection().size(), 1u);
    EXPECT_EQ(m_app->entries.at(w.state().selection().front()).Reference, "B");

    core::Entry& registered = m_app->entries.at(0);
    registered.RegNum = "1234567";
    registered.RegDate = core::formatDay(core::today() - 100);
    w.frontEnd().rowChanged(0);
    const QString deadline = w.model()->index(0, app::k_deadlineColumn).data().toString();
    EXPECT_FALSE(deadline.isEmpty());
    EXPECT_EQ(deadline, gui::fromBytes(app::deadlineColumnText(registered)));

    w.runCommand(app::Command::ExportSpreadsheet);
    w.runCommand(app::Command::ExportCalendar);
    EXPECT_NE(platform::readFile(m_dir.file("out.csv")).value_or("").find(",B,"), std::string::npos);
    EXPECT_NE(platform::readFile(m_dir.file("out.ics")).value_or("").find("reg. 1234567"), std::string::npos);
    // the line naming the file stays when a menu's passing message has come and gone
    QStatusTipEvent passing{QString()};
    QCoreApplication::sendEvent(&w, &passing);
    EXPECT_TRUE(outcome(w).endsWith(QStringLiteral("out.ics."))) << outcome(w).toStdString();
    ASSERT_EQ(m_dialogs.chosen.size(), 3u);
    EXPECT_EQ(m_dialogs.chosen[0].start, m_dir.file("report/Tarnwick.csv"));
    EXPECT_FALSE(m_dialogs.chosen[0].save);
    EXPECT_TRUE(m_dialogs.chosen[2].save);
}

TEST_F(MainWindowTest, AutoModeUpdatesAllAndCloses)
{
    Office office;
    (void)platform::writeFileAtomic(m_dir.file("log/Tarnwick/rules.txt"), office.rulesText());
    writeEntries({{"75000001", "A"}, {"75000002", "B"}, {"75000003", "C"}});
    gui::MainWindow& w = open({}, true);
    ASSERT_TRUE(waitFor([&] { return w.isDestroyed(); }))
        << platform::readFile(m_dir.file("log/Tarnwick.log")).value_or("");
    EXPECT_EQ(m_dialogs.boxes, std::vector<std::string>{});
    for (const core::Entry& e : m_app->entries.entries())
        EXPECT_NE(e.LastUpdate, 0) << e.Reference;
}

TEST_F(MainWindowTest, AutoModeWithAFailureLogsTheClosingMessageAndCloses)
{
    Office office;
    (void)platform::writeFileAtomic(m_dir.file("log/Tarnwick/rules.txt"), office.rulesText());
    office.setFault("75000002", "500");
    writeEntries({{"75000001", "A"}, {"75000002", "B"}});
    gui::MainWindow& w = open({}, true);
    ASSERT_TRUE(waitFor([&] { return w.isDestroyed(); }));
    EXPECT_EQ(m_dialogs.boxes, std::vector<std::string>{});
    EXPECT_TRUE(w.state().autoMode());
    // no mail server is set here: the failure notice stays queued
    EXPECT_EQ(w.logic().exitStatus(), app::exitcode::MailNotSent);
}

TEST_F(MainWindowTest, ClosingWhileAnUpdateRunsWaitsForItsEnd)
{
    Office office;
    (void)platform::writeFileAtomic(m_dir.file("log/Tarnwick/rules.txt"), office.rulesText());
    office.setFault("75000001", "silent");
    writeEntries({{"75000001", "A"}});
    gui::MainWindow& w = open({});
    bool closedDuringRun = false;
    bool enablingWhileBusy = false;
    QTimer::singleShot(500, &w, [&] {
        w.refreshActions();
        enablingWhileBusy = w.action(app::Command::Cancel)->isEnabled() &&
                            !w.action(app::Command::UpdateAll)->isEnabled() &&
                            !w.action(app::Command::Delete)->isEnabled() && !w.table()->isEnabled();
        w.close();
        closedDuringRun = w.logic().busy() && !w.isDestroyed();
    });
    w.runCommand(app::Command::UpdateAll);
    EXPECT_TRUE(enablingWhileBusy);
    EXPECT_TRUE(closedDuringRun);
    EXPECT_FALSE(w.logic().busy());
    EXPECT_TRUE(waitFor([&] { return w.isDestroyed(); }, 5000));
}

// Commands that reach the window while an update runs (posted, or queued before their actions were greyed) wait
// for nobody: those the busy window greys are dropped, Cancel goes through.
TEST_F(MainWindowTest, ACommandArrivingDuringAnUpdateDoesNotStart)
{
    Office office;
    (void)platform::writeFileAtomic(m_dir.file("log/Tarnwick/rules.txt"), office.rulesText());
    office.setFault("75000001", "silent");
    writeEntries({{"75000001", "A"}, {"75000002", "B"}});
    gui::MainWindow& w = open({});
    const app::SortOrder before = w.logic().sortOrder();
    m_dialogs.entries.push_back({"75000009", "late"});
    QTimer::singleShot(300, &w, [&] {
        for (const app::Command id :
             {app::Command::Descending, app::Command::ImportSpreadsheet, app::Command::Add, app::Command::Cancel})
            w.postCommand(id);
    });
    w.runCommand(app::Command::UpdateAll);
    EXPECT_EQ(w.state().cancelReason(), base::RunState::Cancelled);
    EXPECT_TRUE(w.logic().sortOrder() == before);
    EXPECT_TRUE(m_dialogs.chosen.empty());
    EXPECT_EQ(m_dialogs.entries.size(), 1u);
    EXPECT_EQ(m_app->entries.count(), 2);
}

TEST_F(MainWindowTest, ASecondStartIsRefusedAndBringsTheRunningWindowToTheFront)
{
    {
        app::AppContext context(settings());
        context.settings.setValue(base::setting::LogDir, logDir());
    }
    gui::MainWindow& w = open({});
    platform::InstanceLock lock;
    ASSERT_TRUE(lock.acquire(logDir()));
    auto front = std::make_unique<platform::FrontRequests>();
    ASSERT_TRUE(front->listen(logDir()));
    w.acceptFrontRequests(std::move(front));
    w.showMinimized();
    EXPECT_EQ(gui::runProgram(app::parseArguments({"tarnwick", "--settings", settings()}), m_dialogs), 1);
    EXPECT_EQ(m_dialogs.boxes, std::vector<std::string>{platform::InstanceLock::k_anotherInstance});
    EXPECT_TRUE(waitFor([&] { return !w.isMinimized(); }, 5000));
}

TEST_F(MainWindowTest, TheDetailsFollowTheSelectedEntryFromTheStart)
{
    Office office;
    (void)platform::writeFileAtomic(m_dir.file("log/Tarnwick/rules.txt"), office.rulesText());
    writeEntries({{"75000001", "A"}, {"75000002", "B"}});
    gui::MainWindow& w = open({{base::setting::DetailsWindow.visible, "1"}});
    const auto details = [&] { return w.detailsWindow()->view()->toPlainText().toStdString(); };
    const std::string atStart = details();
    EXPECT_TRUE(waitFor([&] { return details().find("Reference:\tA") != std::string::npos; }, 5000)) << atStart;

    w.runCommand(app::Command::UpdateSelected);
    const std::string trademark = m_app->entries.at(w.state().selection().at(0)).Trademark;
    ASSERT_FALSE(trademark.empty());
    EXPECT_TRUE(waitFor([&] { return details().find("Trademark:\t" + trademark) != std::string::npos; }, 5000));

    w.runCommand(app::Command::FrequencyNever);
    EXPECT_TRUE(waitFor([&] { return details().find("Frequency:\tNever") != std::string::npos; }, 5000));

    m_dialogs.answers.push_back(base::Answer::Yes);
    w.runCommand(app::Command::Delete);
    EXPECT_TRUE(waitFor([&] { return details().empty(); }, 5000));
}

TEST_F(MainWindowTest, TheFilterHasCtrlFAndFindsANumberTypedWithoutItsDash)
{
    writeEntries({{"75000001", "A"}, {"75000005", "B"}, {"76000005", "C"}});
    gui::MainWindow& w = open({});
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    QTest::keyClick(&w, Qt::Key_F, Qt::ControlModifier);
    EXPECT_TRUE(w.filter()->hasFocus());
    QTest::keyClicks(w.filter(), QStringLiteral("75000005"));
    EXPECT_EQ(w.table()->model()->rowCount(), 1);
}

// Enter or Down in the filter box goes into the rows it found (not to the Details); Ctrl+Z brings a deleted row
// back; the row icon says in words what it shows; the status line shows a reference's "&" once.
TEST_F(MainWindowTest, FromTheFilterIntoTheRowsAndCtrlZBringsADeletedRowBack)
{
    writeEntries({{"75000001", "A"}, {"75000005", "B"}, {"76000005", "C"}});
    gui::MainWindow& w = open({});
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Down}) {
        SCOPED_TRACE(key);
        w.filter()->setFocus();
        w.filter()->setText(QStringLiteral("75000005"));
        QTest::keyClick(w.filter(), key);
        EXPECT_TRUE(w.table()->hasFocus());
        EXPECT_EQ(w.state().selection(), std::vector<int>{1});
        EXPECT_FALSE(w.detailsWindow()->isVisible());
    }
    w.filter()->clear();
    EXPECT_EQ(w.table()->model()->index(0, 0).data(Qt::ToolTipRole).toString(), QStringLiteral("Never updated"));

    w.table()->selectRow(1);
    m_dialogs.answers.push_back(base::Answer::Yes);
    w.runCommand(app::Command::Delete);
    ASSERT_EQ(w.model()->rowCount(), 2);
    ASSERT_TRUE(w.action(app::Command::Undo)->isEnabled());
    QTest::keyClick(w.table(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(w.model()->rowCount(), 3);
    EXPECT_EQ(w.state().selection(), std::vector<int>{1});
    EXPECT_TRUE(outcome(w).startsWith(QStringLiteral("Restored B, ")));
    EXPECT_FALSE(w.action(app::Command::Undo)->isEnabled());

    w.frontEnd().statusLine("Updating QUARRY && CO");
    EXPECT_EQ(w.statusBar()->currentMessage(), QStringLiteral("Updating QUARRY & CO"));
}

// A logout sends the program SIGTERM: the window closes as a close does, without a question that nobody would
// answer. The data file (read in an older layout), the reports and the window's settings are written; the pending
// e-mail stays queued.
TEST_F(MainWindowTest, ASessionThatEndsClosesTheRealWindowAsACloseDoes)
{
    (void)platform::writeFileAtomic(m_dir.file("log/tradmark.dat"), "7\n0\tA\t75-000001\n");
    (void)platform::writeFileAtomic(m_dir.file("log/Tarnwick_a75-000001.tmp"), "Subject: added\r\n\r\nA\r\n");
    (void)platform::writeFileAtomic(m_dir.file("log/Tarnwick_pending.tmp"), "Tarnwick_a75-000001.tmp\r\n");
    const std::string program = TARNWICK_DESKTOP;
    {
        base::AppSettings s(settings());
        s.setValue(base::setting::LogDir, logDir());
        s.setValue(base::setting::ReportDir, m_dir.file("report"));
        s.setValue(base::setting::OrgName, "Acme");
        // installed where it runs: no question about copying it
        s.setValue(base::setting::Install, platform::folderOf(program));
    }
    QProcess window;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), QString::fromStdString(m_dir.file("config")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), QString::fromStdString(m_dir.file("data")));
    window.setProcessEnvironment(env);
    window.start(QString::fromStdString(program), {QStringLiteral("--settings"), QString::fromStdString(settings())});
    ASSERT_TRUE(window.waitForStarted(10000));
    // the lock is taken once the signals are caught; the window takes the signal up when its loop runs
    ASSERT_TRUE(waitFor([&] { return platform::fileExists(m_dir.file("log/Tarnwick_lock.dat")); }, 10000));
    ::kill(static_cast<pid_t>(window.processId()), SIGTERM);
    ASSERT_TRUE(window.waitForFinished(20000)) << window.readAllStandardError().toStdString();
    EXPECT_EQ(window.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(window.exitCode(), 0);

    EXPECT_TRUE(platform::readFile(m_dir.file("log/tradmark.dat")).value_or("").starts_with("8\r\n"));
    EXPECT_TRUE(platform::fileExists(m_dir.file("report/Tarnwick.html")));
    EXPECT_EQ(platform::readFile(m_dir.file("log/Tarnwick_pending.tmp")), "Tarnwick_a75-000001.tmp\r\n");
    const base::AppSettings after(settings());
    EXPECT_EQ(after.value(base::setting::CountExec), "1");
    EXPECT_NE(after.value(base::setting::Right), "");
    EXPECT_FALSE(platform::fileExists(m_dir.file("log/Tarnwick_lock.dat")));
}
