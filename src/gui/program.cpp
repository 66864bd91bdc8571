#include "gui/program.h"

#include "app/application.h"
#include "app/commandline.h"
#include "app/startup.h"
#include "app/upgrade.h"
#include "base/frontend.h"
#include "base/settings.h"
#include "gui/dialogs.h"
#include "gui/mainwindow.h"
#include "gui/textconv.h"
#include "platform/instancelock.h"

#include <QApplication>
#include <QProcess>

#include <iostream>

namespace tarnwick::gui {

namespace {

const char* const k_oneInstanceMessage = "Only one instance of Tarnwick may be run at a time.";

} // namespace

int runProgram(const std::vector<std::string>& args, Dialogs& dialogs)
{
    const app::CommandLine commandLine = app::parseCommandLine(app::joinCommandLine(args));
    std::string settingsOption;
    for (size_t i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == "--settings")
            settingsOption = args[i + 1];
    }

    int code = app::exitcode::Normal;
    app::AppContext context(base::settingsPath(settingsOption));
    app::StartupState startup = app::startApplication(context, app::systemPlaces());
    platform::InstanceLock lock;
    if (!lock.acquire(context.logDir())) {
        // a lock that cannot be taken refuses the start as another instance does, with its reason
        const std::string text = lock.failure().empty() ? k_oneInstanceMessage : lock.failure();
        dialogs.messageBox(nullptr, base::boxOf(base::Question::Message, text));
        app::stopApplication(context);
        return app::exitcode::Refused;
    }
    // an automatic start never stops at the disclaimer or a dialog
    if (!app::autoStartAllowed(context, commandLine.autoMode)) {
        lock.release();
        app::stopApplication(context);
        return app::exitcode::Refused;
    }
    std::string restart;
    {
        MainWindow window(context, std::move(startup), commandLine.autoMode, dialogs);
        window.open();
        window.show();
        code = QApplication::exec();
        restart = window.restartProgram();
    }
    lock.release();
    app::stopApplication(context);
    // the installed or upgraded program takes over once this one has let go of the lock
    if (!restart.empty() && !QProcess::startDetached(fromBytes(restart), {}))
        std::cerr << "tarnwick: cannot start " << restart << '\n';
    return code;
}

} // namespace tarnwick::gui
