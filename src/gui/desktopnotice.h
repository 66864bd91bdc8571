#pragma once

#include <QDBusConnection>
#include <QIcon>
#include <QObject>
#include <QString>

class QSystemTrayIcon;

namespace tarnwick::gui {

// A notice on the desktop, such as "3 marks changed at the office.": a message of the desktop's notification
// service (org.freedesktop.Notifications on the session bus), or the tray's message where no such service
// answers. One notice at a time: a new one takes the place of the one before.
class DesktopNotice final : public QObject {
    Q_OBJECT
public:
    enum class Route { None, Service, Tray };

    explicit DesktopNotice(const QIcon& icon, QObject* parent = nullptr,
                           const QDBusConnection& bus = QDBusConnection::sessionBus());

    // Shows `text` under the program's name. The route it took is told by `shown`.
    void show(const QString& text);
    // The user has seen the window: the notice on the desktop goes.
    void withdraw();

signals:
    // The notice is on the desktop by `route`; None when there is neither a notification service nor a tray.
    void shown(tarnwick::gui::DesktopNotice::Route route);
    // The user clicked the notice.
    void activated();

private slots:
    void serviceAction(uint id, const QString& action);
    void serviceClosed(uint id, uint reason);

private:
    void showInTray(const QString& text);
    void closeNotice(uint id);

    QDBusConnection m_bus;
    QIcon m_icon;
    uint m_id = 0;                     // the service's number of the notice on the desktop, 0 for none
    int m_sequence = 0;                // which show() a late answer of the service belongs to
    QSystemTrayIcon* m_tray = nullptr; // made for the first notice that goes to the tray
};

} // namespace tarnwick::gui
