#include "gui/windowplacement.h"

#include "app/screenplacement.h"

#include <QEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <vector>

namespace tarnwick::gui {

namespace {

app::ScreenRect toScreenRect(const QRect& r)
{
    return {r.x(), r.y(), r.width(), r.height()};
}

QRect toRect(const app::ScreenRect& r)
{
    return {r.left, r.top, r.width, r.height};
}

// The frame of this desktop's windows: what a framed window of the program has, else a generous guess (a title
// bar of a line of text) that keeps the title bar on the screen until the real frame is known.
app::FrameMargins frameOf(const QWidget* window)
{
    QMargins m;
    if (window->isVisible() && window->windowHandle()) {
        m = window->windowHandle()->frameMargins();
    } else {
        for (const QWindow* other : QGuiApplication::topLevelWindows()) {
            if (other->isVisible() && !other->frameMargins().isNull()) {
                m = other->frameMargins();
                break;
            }
        }
        if (m.isNull())
            m = QMargins(4, window->fontMetrics().height() + 10, 4, 6);
    }
    return {m.left(), m.top(), m.right(), m.bottom()};
}

QRect placed(const QWidget* window, const QRect& wanted)
{
    std::vector<app::ScreenRect> areas;
    for (const QScreen* screen : QGuiApplication::screens())
        areas.push_back(toScreenRect(screen->availableGeometry()));
    // the primary screen first: a window on no screen opens there
    if (const QScreen* primary = QGuiApplication::primaryScreen())
        areas.insert(areas.begin(), toScreenRect(primary->availableGeometry()));
    if (areas.empty())
        return wanted;
    const app::ScreenRect client = toScreenRect(wanted);
    const app::ScreenRect area = areas[app::screenFor(areas, client)];
    const QSize least = window->minimumSize().expandedTo(window->minimumSizeHint());
    return toRect(app::placeOnScreen(client, frameOf(window), area, least.width(), least.height()));
}

constexpr const char* k_keeperName = "screenKeeper";

// Checks the window again once it is on the screen with its real frame.
class ScreenKeeper final : public QObject {
public:
    explicit ScreenKeeper(QWidget* window) : QObject(window), m_window(window)
    {
        setObjectName(QLatin1String(k_keeperName));
        window->installEventFilter(this);
    }
    // The rectangle asked for, placed again with the real frame when the window first shows.
    void setWanted(const QRect& wanted) { m_wanted = wanted; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == m_window && event->type() == QEvent::Show && m_window->windowHandle()) {
            m_window->windowHandle()->installEventFilter(this);
        } else if (watched == m_window->windowHandle() && event->type() == QEvent::Expose &&
                   m_window->windowHandle()->isExposed()) {
            m_window->windowHandle()->removeEventFilter(this);
            keepOnScreen();
        }
        return false;
    }

private:
    void keepOnScreen()
    {
        if (m_window->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen | Qt::WindowMinimized))
            return;
        const QRect now = m_window->geometry();
        const QRect there = placed(m_window, m_wanted.isEmpty() ? now : m_wanted);
        m_wanted = QRect();
        if (there != now)
            m_window->setGeometry(there);
    }

    QWidget* m_window;
    QRect m_wanted;
};

} // namespace

void placeWindow(QWidget* window, const QRect& wanted, const QSize& size)
{
    // only the keeper carries its name
    auto* keeper = static_cast<ScreenKeeper*>(
        window->findChild<QObject*>(QLatin1String(k_keeperName), Qt::FindDirectChildrenOnly));
    if (!keeper)
        keeper = new ScreenKeeper(window);
    if (wanted.isEmpty()) {
        // where it opens is the window manager's choice; how large is ours
        const QScreen* primary = QGuiApplication::primaryScreen();
        const QRect area = primary ? primary->availableGeometry() : QRect(QPoint(0, 0), size);
        window->resize(placed(window, QRect(area.topLeft(), size)).size());
    } else {
        window->setGeometry(placed(window, wanted));
        keeper->setWanted(wanted);
    }
}

} // namespace tarnwick::gui
