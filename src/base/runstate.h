#pragma once

namespace tarnwick::base {

// The state of the window's run and operations, which is also its cancel reason: anything but Running
// is the application's cancel flag. The numbers are fixed: the user's cancel and the time-out count
// from 1, the two reasons that reach beyond one operation are bits of their own.
enum class RunState : int {
    Running = 0,
    Cancelled = 1,           // the Cancel command, Esc, Ctrl-C or a refused warning
    TimedOut = 2,            // the operation's time-out passed
    ThreadsNotDone = 0x4000, // worker threads could not be stopped
    Closing = 0x8000,        // the window is closing
};

} // namespace tarnwick::base
