#pragma once

#include <string>
#include <vector>

namespace tarnwick::gui {

class Dialogs;

// The desktop program once the toolkit is up: the application object, the
// single-instance lock, the main window and its message loop, the stop; then the
// program an installation or upgrade hands over to. `args` is the whole command
// line; the modal dialogs are those of `dialogs`. Returns the exit code.
int runProgram(const std::vector<std::string>& args, Dialogs& dialogs);

} // namespace tarnwick::gui
