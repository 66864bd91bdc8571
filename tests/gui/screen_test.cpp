#include "base/settings.h"
#include "gui/sidewindows.h"
#include "gui/textconv.h"
#include "support/qtapplication.h"
#include "support/tempdir.h"

#include <QDir>
#include <QGuiApplication>
#include <QIcon>
#include <QScreen>
#include <QTest>
#include <QWindow>

#include <gtest/gtest.h>

using namespace tarnwick;

namespace {

std::string text(const QRect& r)
{
    return std::to_string(r.x()) + "," + std::to_string(r.y()) + " " + std::to_string(r.width()) + "x" +
           std::to_string(r.height());
}

} // namespace

// A window beside the main window opens wholly on the available area, its frame included, wherever it was saved;
// one that fits opens where it was.
TEST(WindowPlacement, SavedRectangleOpensWhollyOnTheScreen)
{
    test::ensureApplication();
    test::TempDir dir;
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    const struct {
        const char* name;
        QRect saved;
        bool kept;
    } cases[] = {
        {"fits where it was", {100, 120, 300, 200}, true},
        {"larger than the screen", {40, 30, 2360, 1280}, false},
        {"on a screen that is gone", {3000, 2000, 500, 300}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        base::AppSettings settings(dir.file("settings.ini"));
        const base::WindowPlace& place = base::setting::DetailsWindow;
        settings.setNumber(place.left, c.saved.left());
        settings.setNumber(place.top, c.saved.top());
        settings.setNumber(place.right, c.saved.left() + c.saved.width());
        settings.setNumber(place.bottom, c.saved.top() + c.saved.height());
        settings.setNumber(place.visible, 1);
        gui::SideWindow window(QStringLiteral("Details"), place, settings);
        window.restore();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        QCoreApplication::processEvents();
        EXPECT_TRUE(area.contains(window.frameGeometry())) << text(window.frameGeometry()) << " on " << text(area);
        if (c.kept) {
            EXPECT_EQ(text(window.geometry()), text(c.saved));
        }
    }
}

// The window's icons come from vectors: at 200% a 16-pixel icon is drawn with 32 pixels, not enlarged from 16.
TEST(WindowIcons, DrawnAtTheScreensScale)
{
    test::ensureApplication();
    gui::initResources();
    const QStringList names = QDir(QStringLiteral(":/icons")).entryList();
    ASSERT_FALSE(names.isEmpty());
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        const QPixmap pixmap = QIcon(QStringLiteral(":/icons/") + name).pixmap(QSize(16, 16), 2.0);
        EXPECT_EQ(pixmap.size(), QSize(32, 32));
        EXPECT_EQ(pixmap.deviceIndependentSize(), QSizeF(16, 16));
    }
}
