#include "gui/desktopnotice.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QSystemTrayIcon>
#include <QVariantMap>

namespace tarnwick::gui {

namespace {

const QString k_service = QStringLiteral("org.freedesktop.Notifications");
const QString k_path = QStringLiteral("/org/freedesktop/Notifications");
const QString k_interface = QStringLiteral("org.freedesktop.Notifications");
// the desktop entry and icon the package installs
const QString k_desktopEntry = QStringLiteral("example.tarnwick.Tarnwick");
constexpr int k_shownMs = 15000;

} // namespace

DesktopNotice::DesktopNotice(const QIcon& icon, QObject* parent, const QDBusConnection& bus)
    : QObject(parent), m_bus(bus), m_icon(icon)
{
    if (m_bus.isConnected()) {
        m_bus.connect(k_service, k_path, k_interface, QStringLiteral("ActionInvoked"), this,
                      SLOT(serviceAction(uint, QString)));
        m_bus.connect(k_service, k_path, k_interface, QStringLiteral("NotificationClosed"), this,
                      SLOT(serviceClosed(uint, uint)));
    }
}

void DesktopNotice::show(const QString& text)
{
    const int sequence = ++m_sequence;
    if (!m_bus.isConnected()) {
        showInTray(text);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(k_service, k_path, k_interface, QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), k_desktopEntry);
    // a click on the notice brings the window to the front
    const QStringList actions = {QStringLiteral("default"), QStringLiteral("Show Tarnwick")};
    call << QStringLiteral("Tarnwick") << m_id << k_desktopEntry << QStringLiteral("Tarnwick") << text << actions
         << hints << k_shownMs;
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, text, sequence] {
        watcher->deleteLater();
        const QDBusPendingReply<uint> reply = *watcher;
        if (sequence != m_sequence) {
            // withdrawn or followed by another while on its way: it goes at once
            if (!reply.isError() && reply.value() != m_id)
                closeNotice(reply.value());
            return;
        }
        if (reply.isError()) {
            // no notification service on this desktop: the tray, where there is one
            showInTray(text);
            return;
        }
        m_id = reply.value();
        emit shown(Route::Service);
    });
}

void DesktopNotice::withdraw()
{
    ++m_sequence;
    if (m_id != 0) {
        closeNotice(m_id);
        m_id = 0;
    }
    if (m_tray)
        m_tray->hide();
}

void DesktopNotice::closeNotice(uint id)
{
    m_bus.asyncCall(QDBusMessage::createMethodCall(k_service, k_path, k_interface, QStringLiteral("CloseNotification"))
                    << id);
}

void DesktopNotice::serviceAction(uint id, const QString& action)
{
    if (id != 0 && id == m_id && action == QLatin1String("default"))
        emit activated();
}

void DesktopNotice::serviceClosed(uint id, uint /*reason*/)
{
    if (id != 0 && id == m_id)
        m_id = 0;
}

void DesktopNotice::showInTray(const QString& text)
{
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        emit shown(Route::None);
        return;
    }
    if (!m_tray) {
        m_tray = new QSystemTrayIcon(m_icon, this);
        m_tray->setToolTip(QStringLiteral("Tarnwick"));
        connect(m_tray, &QSystemTrayIcon::activated, this, &DesktopNotice::activated);
        connect(m_tray, &QSystemTrayIcon::messageClicked, this, &DesktopNotice::activated);
    }
    m_tray->show();
    m_tray->showMessage(QStringLiteral("Tarnwick"), text, m_icon, k_shownMs);
    emit shown(Route::Tray);
}

} // namespace tarnwick::gui
