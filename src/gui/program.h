#pragma once

namespace tarnwick::app {
struct CommandLine;
}

namespace tarnwick::gui {

class Dialogs;

// The desktop program once the toolkit is up: the application object, the
// single-instance lock, the main window and its message loop, the stop; then the
// program an installation or upgrade hands over to, for the command line read once
// at the start. The modal dialogs are those of `dialogs`. Returns the exit code.
int runProgram(const app::CommandLine& commandLine, Dialogs& dialogs);

} // namespace tarnwick::gui
