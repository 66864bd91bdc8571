// The desktop program: the command line, the application object, the
// single-instance lock, the main window and its message loop.
#include "app/application.h"
#include "app/commandline.h"
#include "app/startup.h"
#include "app/upgrade.h"
#include "base/frontend.h"
#include "base/settings.h"
#include "gui/mainwindow.h"
#include "gui/textconv.h"
#include "platform/instancelock.h"

#include <QApplication>
#include <QMessageBox>
#include <QProcess>

#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

using namespace tarnwick;

namespace {

const char* const k_oneInstanceMessage = "Only one instance of Tarnwick may be run at a time.";

// TARNWICK_ANSWERS="yes,no,ok,...": the message boxes take these answers in turn
// instead of asking, and their texts go to standard error (scripts and tests).
void loadScriptedAnswers()
{
    const char* script = std::getenv("TARNWICK_ANSWERS");
    if (!script)
        return;
    std::string word;
    auto add = [&] {
        if (word == "yes")
            gui::scriptedAnswers().answers.push_back(base::Answer::Yes);
        else if (word == "no")
            gui::scriptedAnswers().answers.push_back(base::Answer::No);
        else if (word == "cancel")
            gui::scriptedAnswers().answers.push_back(base::Answer::Cancel);
        else if (word == "ok")
            gui::scriptedAnswers().answers.push_back(base::Answer::Ok);
        word.clear();
    };
    for (const char* p = script; *p; ++p) {
        if (*p == ',')
            add();
        else
            word += *p;
    }
    add();
}

void reportScriptedBoxes()
{
    for (const std::string& text : gui::scriptedAnswers().boxes)
        std::cerr << "tarnwick: " << text << '\n';
    gui::scriptedAnswers().boxes.clear();
}

} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv, argv + argc);
    if (const std::optional<std::string> text = app::informationRequest(args)) {
        std::cout << *text;
        return std::cout.flush() ? app::exitcode::Normal : app::exitcode::Refused;
    }
    const app::CommandLine commandLine = app::parseCommandLine(app::joinCommandLine(args));
    // there is no component registration on this platform: accepted, nothing registered
    if (commandLine.registration != app::CommandLine::Registration::None)
        return app::exitcode::Normal;

    std::string settingsOption;
    for (size_t i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == "--settings")
            settingsOption = args[i + 1];
    }

    QApplication qt(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarnwick"));
    QApplication::setDesktopFileName(QStringLiteral("example.tarnwick.Tarnwick"));
    loadScriptedAnswers();

    int code = app::exitcode::Normal;
    {
        app::AppContext context(base::settingsPath(settingsOption));
        app::StartupState startup = app::startApplication(context, app::systemPlaces());
        platform::InstanceLock lock;
        if (!lock.acquire(context.logDir())) {
            // a lock that cannot be taken refuses the start as another instance does, with its reason
            const std::string text = lock.failure().empty() ? k_oneInstanceMessage : lock.failure();
            if (!gui::scriptedAnswers().answers.empty()) {
                gui::scriptedAnswers().boxes.push_back(text);
                reportScriptedBoxes();
            } else {
                QMessageBox::warning(nullptr, gui::fromBytes(base::caption()), gui::fromBytes(text));
            }
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
            gui::MainWindow window(context, std::move(startup), commandLine.autoMode);
            window.open();
            window.show();
            code = QApplication::exec();
            reportScriptedBoxes();
            restart = window.restartProgram();
        }
        lock.release();
        app::stopApplication(context);
        // the installed or upgraded program takes over once this one has let go of the lock
        if (!restart.empty() && !QProcess::startDetached(gui::fromBytes(restart), {}))
            std::cerr << "tarnwick: cannot start " << restart << '\n';
    }
    return code;
}
