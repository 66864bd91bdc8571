#include "gui/desktopnotice.h"
#include "support/qtapplication.h"
#include "support/tempdir.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QProcess>
#include <QStandardPaths>
#include <QSystemTrayIcon>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <optional>

using namespace tarnwick;
using gui::DesktopNotice;

namespace {

const QString k_service = QStringLiteral("org.freedesktop.Notifications");
const QString k_path = QStringLiteral("/org/freedesktop/Notifications");

bool waitFor(const std::function<bool()>& done, int ms = 10000)
{
    return test::waitFor(done, ms);
}

// A desktop of the test's own: a session bus without service activation, an X server, and on them the dunst
// notification daemon once `startDaemon` has run. Nothing reaches the user's own session.
class PrivateDesktop {
public:
    static QStringList missingPrograms()
    {
        QStringList missing;
        for (const char* program : {"dbus-daemon", "Xvfb", "dunst"})
            if (QStandardPaths::findExecutable(QLatin1String(program)).isEmpty())
                missing << QLatin1String(program);
        return missing;
    }

    ~PrivateDesktop()
    {
        if (m_bus)
            QDBusConnection::disconnectFromBus(m_busName);
        for (QProcess* p : {&m_daemon, &m_x, &m_dbus}) {
            p->terminate();
            if (!p->waitForFinished(3000))
                p->kill();
            p->waitForFinished(3000);
        }
    }

    // The bus and the X server; the reason when they did not start.
    std::optional<std::string> start()
    {
        const std::string config = m_dir.file("bus.conf");
        std::ofstream(config) << "<busconfig><type>session</type><listen>unix:tmpdir=" << m_dir.path()
                              << "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                                 "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                                 "<allow own=\"*\"/></policy></busconfig>\n";
        m_dbus.start(QStringLiteral("dbus-daemon"),
                     {QStringLiteral("--nofork"), QStringLiteral("--print-address"),
                      QStringLiteral("--config-file=") + QString::fromStdString(config)});
        m_x.start(QStringLiteral("Xvfb"),
                  {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-nolisten"),
                   QStringLiteral("tcp"), QStringLiteral("-screen"), QStringLiteral("0"),
                   QStringLiteral("800x600x24")});
        if (!waitFor([this] { return m_dbus.canReadLine() && m_x.canReadLine(); }))
            return "the private bus or X server did not start: " + m_dbus.readAllStandardError().toStdString() +
                   m_x.readAllStandardError().toStdString();
        m_address = QString::fromUtf8(m_dbus.readLine()).trimmed();
        m_display = QStringLiteral(":") + QString::fromUtf8(m_x.readLine()).trimmed();
        m_bus = QDBusConnection::connectToBus(m_address, m_busName);
        if (!m_bus->isConnected())
            return "cannot connect to the private bus at " + m_address.toStdString();
        return std::nullopt;
    }

    std::optional<std::string> startDaemon()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), m_display);
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_address);
        env.insert(QStringLiteral("HOME"), QString::fromStdString(m_dir.path()));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), QString::fromStdString(m_dir.file("config")));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        m_daemon.setProcessEnvironment(env);
        m_daemon.start(QStringLiteral("dunst"), {});
        if (!waitFor([this] { return m_bus->interface()->isServiceRegistered(k_service).value(); }))
            return "dunst did not take " + k_service.toStdString() + ": " +
                   m_daemon.readAllStandardError().toStdString();
        return std::nullopt;
    }

    QDBusConnection bus() const { return *m_bus; }

    // What the daemon's own interface answers.
    QDBusMessage callDaemon(const char* method, const QVariantList& arguments = {}) const
    {
        QDBusMessage call = QDBusMessage::createMethodCall(k_service, k_path, QStringLiteral("org.dunstproject.cmd0"),
                                                           QLatin1String(method));
        call.setArguments(arguments);
        return m_bus->call(call);
    }

    // The bodies of the notices the daemon has closed, newest first.
    QStringList history() const
    {
        QStringList bodies;
        const QDBusMessage reply = callDaemon("NotificationListHistory");
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
            return bodies;
        const auto list = reply.arguments().first().value<QDBusArgument>();
        list.beginArray();
        while (!list.atEnd()) {
            QVariantMap notice;
            list >> notice;
            bodies << notice.value(QStringLiteral("body")).toString();
        }
        list.endArray();
        return bodies;
    }

private:
    test::TempDir m_dir;
    QProcess m_dbus, m_x, m_daemon;
    QString m_address, m_display;
    QString m_busName = QStringLiteral("tarnwick-test-desktop");
    std::optional<QDBusConnection> m_bus;
};

} // namespace

// With a notification service on the bus the notice goes to it: the daemon shows it, a click on it reaches the
// program, and the window in front withdraws it. Without one it goes to the tray, where there is a tray.
TEST(DesktopNotice, ThroughTheNotificationServiceElseTheTray)
{
    if (const QStringList missing = PrivateDesktop::missingPrograms(); !missing.isEmpty())
        GTEST_SKIP() << "needs " << missing.join(QStringLiteral(", ")).toStdString()
                     << " for a private desktop (scripts/setup installs them)";
    test::ensureApplication();
    PrivateDesktop desktop;
    if (const auto failed = desktop.start())
        FAIL() << *failed;

    DesktopNotice notice(QIcon(), nullptr, desktop.bus());
    std::optional<DesktopNotice::Route> route;
    int clicks = 0;
    QObject::connect(&notice, &DesktopNotice::shown, [&](DesktopNotice::Route r) { route = r; });
    QObject::connect(&notice, &DesktopNotice::activated, [&] { ++clicks; });

    const DesktopNotice::Route noService =
        QSystemTrayIcon::isSystemTrayAvailable() ? DesktopNotice::Route::Tray : DesktopNotice::Route::None;
    const struct {
        const char* name;
        bool daemon;
        const char* text;
        DesktopNotice::Route route;
    } cases[] = {
        {"no service on the bus", false, "1 mark changed at the office.", noService},
        {"dunst on the bus", true, "3 marks changed at the office. 1 mark could not be updated.",
         DesktopNotice::Route::Service},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.daemon)
            if (const auto failed = desktop.startDaemon())
                FAIL() << *failed;
        route.reset();
        notice.show(QString::fromLatin1(c.text));
        ASSERT_TRUE(waitFor([&] { return route.has_value(); }));
        EXPECT_EQ(*route, c.route);
    }

    // the notice on the desktop is the daemon's; a click on it (its default action) brings the window
    desktop.callDaemon("NotificationAction", {QVariant::fromValue(0u)});
    EXPECT_TRUE(waitFor([&] { return clicks == 1; }, 5000));
    // the next one is withdrawn when the window comes to the front: the daemon closes it into its history
    notice.show(QStringLiteral("2 marks changed at the office."));
    route.reset();
    ASSERT_TRUE(waitFor([&] { return route.has_value(); }));
    notice.withdraw();
    EXPECT_TRUE(waitFor([&] { return !desktop.history().empty(); }, 5000));
    EXPECT_EQ(desktop.history().join(QStringLiteral(" | ")).toStdString(), "2 marks changed at the office.");
}
