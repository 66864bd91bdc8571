#pragma once

#include <string>

namespace tarnwick::update {
struct RunSummary;
}

namespace tarnwick::app {

// How an update run ended, as the user reads it once the run and the sending after it are over: `summary` is the
// run's, `sent` the number of messages that the sending after it got out (0 when none was made).

// The closing box: first what the run came to ("All entries have been successfully updated.", "2 of the 22
// entries were not updated.", or for a cancelled run how far it came), then how many marks changed, how many
// failed and how many messages went out, then what the user may want to look at.
std::string runClosingText(const update::RunSummary& summary, int sent);

// The same counts in one line for the status bar.
std::string runStatusText(const update::RunSummary& summary, int sent);

} // namespace tarnwick::app
