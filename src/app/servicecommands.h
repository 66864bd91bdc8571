#pragma once

#include "notify/servicereports.h"

#include <optional>
#include <string>

namespace tarnwick::app {

class MainState;

// Help > Report Problem on the window state: the advice, the rules download, the
// description, the message shown before it goes, the sending and its result.
notify::ProblemReportResult reportProblem(MainState& state, notify::MessagePreview& preview);

// Where the help is written out: "tarnwick" in the user's cache directory, which is there before the first
// configuration has made the logging directory.
std::string helpFolder();
// Help Contents and the dialogs' Help buttons: writes the help into helpFolder() and returns the page to open;
// none after the reason was shown.
std::optional<std::string> helpPage(MainState& state);

// When no browser could be started for the report, the help, the log, an entry's page or the web site: says
// (titled `title`, and logged) where the file or address is, so that the user can open it another way.
void browserNotStarted(MainState& state, const std::string& target, const std::string& title);

} // namespace tarnwick::app
