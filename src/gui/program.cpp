#include "gui/program.h"

#include "app/application.h"
#include "app/commandline.h"
#include "app/startup.h"
#include "app/upgrade.h"
#include "base/frontend.h"
#include "base/settings.h"
#include "gui/dialogs.h"
#include "gui/mainwindow.h"
#include "gui/terminationsignals.h"
#include "gui/textconv.h"
#include "platform/instancelock.h"

#include <QApplication>
#include <QProcess>

#include <iostream>
#include <memory>

namespace tarnwick::gui {

int runProgram(const app::CommandLine& commandLine, Dialogs& dialogs)
{
    int code = app::exitcode::Normal;
    // a logout or shutdown closes the window as a close does; until the window is there the signal waits, and
    // after it has gone the settings are still stored before the process ends
    TerminationSignals terminationSignals;
    app::AppContext context(base::settingsPath(commandLine.settingsFile));
    app::StartupState startup = app::startApplication(context, app::systemPlaces());
    platform::InstanceLock lock;
    if (const platform::Result locked = lock.acquire(context.logDir()); !locked) {
        // the running instance's window comes to the front, behind the refusal
        if (locked.error() == platform::InstanceLock::k_anotherInstance)
            platform::FrontRequests::request(context.logDir());
        // a lock that cannot be taken refuses the start as another instance does, with its reason
        dialogs.messageBox(nullptr, base::boxOf(base::Question::Message, locked.error()));
        app::stopApplication(context);
        return app::exitcode::Refused;
    }
    // an automatic start never stops at the disclaimer or a dialog
    if (!app::autoStartAllowed(context, commandLine.autoMode)) {
        lock.release();
        app::stopApplication(context);
        return app::exitcode::Refused;
    }
    // without it a second start is refused all the same, only this window stays where it is
    auto front = std::make_unique<platform::FrontRequests>();
    if (const platform::Result listening = front->listen(context.logDir()); !listening)
        context.log.writeText(listening.error() + "\n");
    std::string restart;
    {
        // the window stops listening as it goes, before the lock is released
        MainWindow window(context, std::move(startup), commandLine.autoMode, dialogs);
        window.acceptFrontRequests(std::move(front));
        QObject::connect(&terminationSignals, &TerminationSignals::received, &window,
                         [&window](int signal) { window.sessionEnding(signal); });
        terminationSignals.watch();
        window.open();
        window.show();
        code = QApplication::exec();
        restart = window.restartProgram();
    }
    lock.release();
    app::stopApplication(context);
    // the installed or upgraded program takes over once this one has let go of the lock
    QStringList arguments;
    for (const std::string& word : app::restartArguments(commandLine))
        arguments << fromBytes(word);
    if (!restart.empty() && !QProcess::startDetached(fromBytes(restart), arguments))
        std::cerr << "tarnwick: cannot start " << restart << '\n';
    return code;
}

} // namespace tarnwick::gui
