// The desktop program: what it prints instead of starting, then the toolkit and
// the program with the dialogs a person answers.
#include "app/commandline.h"
#include "gui/dialogs.h"
#include "gui/program.h"
#include "platform/terminal.h"

#include <QApplication>

#include <iostream>
#include <optional>
#include <string>
#include <vector>

using namespace tarnwick;

int main(int argc, char** argv)
{
    // what the program prints (its help, its version, why it did not start) is UTF-8
    const platform::TerminalStreams terminal;
    const std::vector<std::string> args(argv, argv + argc);
    if (const std::optional<std::string> text = app::informationRequest(args)) {
        std::cout << *text;
        return std::cout.flush() ? app::exitcode::Normal : app::exitcode::Refused;
    }
    const app::CommandLine commandLine = app::parseArguments(args);
    // there is no component registration on this platform: accepted, nothing registered
    if (commandLine.registration != app::CommandLine::Registration::None)
        return app::exitcode::Normal;

    QApplication qt(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarnwick"));
    QApplication::setDesktopFileName(QStringLiteral("example.tarnwick.Tarnwick"));
    gui::QtDialogs dialogs;
    return gui::runProgram(commandLine, dialogs);
}
