#include "gui/program.h"

#include "app/application.h"
#include "app/autorun.h"
#include "app/commandline.h"
#include "app/startup.h"
#include "app/upgrade.h"
#include "base/frontend.h"
#include "base/log.h"
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

namespace {

// The dialogs of a start in auto mode: the window's boxes go to the log already, and an error that escapes a
// handler is logged and written to standard error instead of waiting in its box; the process then ends.
class AutoStartDialogs final : public Dialogs {
public:
    AutoStartDialogs(Dialogs& inner, base::Log& log) : m_inner(inner), m_log(log) {}

    base::Answer messageBox(QWidget* parent, const base::MessageBox& box) override
    {
        return m_inner.messageBox(parent, box);
    }
    std::optional<std::string> textInput(QWidget* parent, const std::string& title, const std::string& prompt,
                                         const std::string& initial) override
    {
        return m_inner.textInput(parent, title, prompt, initial);
    }
    std::optional<TypedEntry> addEntry(QWidget* parent) override { return m_inner.addEntry(parent); }
    std::optional<std::string> chooseFile(QWidget* parent, const FileChoice& choice) override
    {
        return m_inner.chooseFile(parent, choice);
    }
    void unhandledError(QWidget*, const std::string& text) override
    {
        m_log.write("Unhandled Exception '%s'\n", text.c_str());
        std::cerr << "tarnwick: Unhandled Exception: " << text << std::endl;
    }

private:
    Dialogs& m_inner;
    base::Log& m_log;
};

} // namespace

int runProgram(const app::CommandLine& commandLine, Dialogs& personDialogs)
{
    int code = app::exitcode::Normal;
    // a logout or shutdown closes the window as a close does; until the window is there the signal waits, and
    // after it has gone the settings are still stored before the process ends
    TerminationSignals terminationSignals;
    app::AppContext context(base::settingsPath(commandLine.settingsFile));
    app::StartupState startup = app::startApplication(context, app::systemPlaces());
    AutoStartDialogs autoDialogs(personDialogs, context.log);
    Dialogs& dialogs = commandLine.autoMode ? static_cast<Dialogs&>(autoDialogs) : personDialogs;
    platform::InstanceLock lock;
    if (const platform::Result locked = lock.acquire(context.logDir()); !locked) {
        // a timer's start never waits: the one that runs goes on, this one ends at once and says why
        if (commandLine.autoMode) {
            app::refuseAutoStart(context.log, std::cerr, locked.error());
            app::stopApplication(context);
            return app::exitcode::Refused;
        }
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
        std::cerr << "tarnwick: Tarnwick is not configured yet; start it without -auto first.\n";
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
        // a program that takes over carries the run on; otherwise an unattended run tells how it went
        if (code == app::exitcode::Normal && restart.empty())
            code = window.logic().exitStatus();
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
