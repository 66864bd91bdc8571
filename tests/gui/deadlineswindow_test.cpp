#include "app/application.h"
#include "app/startup.h"
#include "base/settings.h"
#include "core/daynumber.h"
#include "docket/deadlines.h"
#include "gui/deadlineswindow.h"
#include "gui/mainwindow.h"
#include "gui/sidewindows.h"
#include "platform/files.h"
#include "support/qtapplication.h"
#include "support/scripteddialogs.h"
#include "support/tempdir.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QStandardItemModel>
#include <QTableView>
#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>

using namespace tarnwick;

// View > Deadlines (Ctrl+D) lists the docket's deadlines under the headings of their bands; choosing one selects
// its entry in the main list.
TEST(DeadlinesWindow, ListsBandsAndSelectsTheEntry)
{
    test::ensureApplication();
    test::TempDir dir;
    std::filesystem::create_directories(dir.file("log/Tarnwick"));
    const core::DayNumber today = core::today();
    std::string data = "8\r\n";
    for (const auto& [reference, number, days] :
         {std::tuple{"LATER", "2824282", 200}, std::tuple{"SOON", "2824281", 20}})
        data += std::string("1\t") + reference + "\t\t" + number + "\t\tMARK\t\t" +
                core::formatDay(docket::addYears(today + days, -10)) + "\r\n";
    ASSERT_TRUE(platform::writeFileAtomic(dir.file("log/tradmark.dat"), data));

    app::AppContext context(dir.file("settings.ini"));
    context.settings.setValue(base::setting::LogDir, dir.file("log"));
    context.settings.setValue(base::setting::OrgName, "Acme");
    context.rules.load(dir.file("log"));
    test::ScriptedDialogs dialogs;
    const app::StartupPlaces places{dir.file("bin/tarnwick"), dir.path(), dir.path(), "1.0.00"};
    gui::MainWindow w(context, app::startApplication(context, places), false, dialogs);
    w.open();
    w.show();

    QAction* item = nullptr;
    for (QAction* top : w.menuBar()->actions()) {
        if (top->text() == QStringLiteral("&View"))
            item = top->menu()->actions().back();
    }
    ASSERT_TRUE(item);
    EXPECT_EQ(item->text(), QStringLiteral("D&eadlines\tCtrl+D"));
    EXPECT_EQ(item->shortcut(), QKeySequence(QStringLiteral("Ctrl+D")));
    item->trigger();
    gui::DeadlinesWindow* window = w.deadlinesWindow();
    QStandardItemModel* model = window->model();
    ASSERT_TRUE(test::waitFor([&] { return model->rowCount() == 4; }, 5000)) << model->rowCount();
    QAbstractItemModelTester tester(model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    EXPECT_EQ(model->index(0, 0).data().toString(), QStringLiteral("Next 30 days (1)"));
    EXPECT_EQ(model->index(1, 3).data().toString(), QStringLiteral("SOON"));
    EXPECT_EQ(model->index(2, 0).data().toString(), QStringLiteral("Later (1)"));
    EXPECT_EQ(window->table()->columnSpan(2, 0), model->columnCount());

    window->table()->selectRow(3);
    const int later = context.entries.at(0).Reference == "LATER" ? 0 : 1;
    EXPECT_EQ(w.state().selection(), std::vector<int>{later});
}

// The window opens where it was; it keeps where it is only when it has been open, else what was kept stays.
TEST(DeadlinesWindow, KeepsItsPlaceWhenItHasBeenOpen)
{
    test::ensureApplication();
    test::TempDir dir;
    const base::WindowPlace& place = base::setting::DeadlinesWindow;
    const QRect saved(100, 120, 500, 300), moved(140, 150, 520, 310);
    for (const bool opened : {true, false}) {
        SCOPED_TRACE(opened);
        base::AppSettings settings(dir.file("settings.ini"));
        gui::keepRect(settings, place, saved);
        gui::DeadlinesWindow window(settings);
        window.restore();
        if (opened) {
            window.present();
            ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
            EXPECT_EQ(window.geometry(), saved);
            window.setGeometry(moved);
        }
        window.storePlace();
        EXPECT_EQ(gui::keptRect(settings, place), opened ? moved : saved);
    }
}
