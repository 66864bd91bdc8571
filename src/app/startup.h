#pragma once

#include "app/commandline.h"

#include <string>
#include <vector>

namespace tarnwick::app {

class AppContext;

// Where the desktop keeps things that the start-up defaults are made of.
struct StartupPlaces {
    std::string programPath;     // the running program (/proc/self/exe)
    std::string startMenuFolder; // $XDG_DATA_HOME/applications
    std::string programsFolder;  // $XDG_DATA_HOME, where programs are installed by default
    std::string version = "?.?.??";
};

// The places of this desktop and the version of this build.
StartupPlaces systemPlaces();

// What the window takes over from the start-up.
struct StartupState {
    int sortColumn = 0;
    bool sortReversed = false;
    std::string version;
    std::string programPath; // the running program
};

// The application object's start: the start and installation log lines, one more
// CountExec, a GUID when there is none, the saved sort, a downloaded program left in the
// logging directory removed (unless it is the one running), the version logged, and the
// ShortcutFolder and Install defaults.
StartupState startApplication(AppContext& app, const StartupPlaces& places);
// The application object's end: the stop line (the settings are stored by their owner).
void stopApplication(AppContext& app);

// The arguments of the program that takes over after an installation or an upgrade: this program's own, so that
// it reads the same settings file (named by its absolute path) and keeps auto mode.
std::vector<std::string> restartArguments(const CommandLine& commandLine);

// A new GUID in its 38-character registry form: braces, upper-case groups 8-4-4-4-12.
// Empty when no random bytes can be had.
std::string newGuid();

} // namespace tarnwick::app
