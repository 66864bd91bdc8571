#pragma once

#include "base/runstate.h"

#include <functional>
#include <string>

namespace tarnwick::base {
class AppSettings;
class FrontEnd;
class Log;
} // namespace tarnwick::base
namespace tarnwick::core {
class EntryStore;
}
namespace tarnwick::net {
class FlowLog;
}
namespace tarnwick::notify {
class ApplicationNames;
class NoticeSink;
} // namespace tarnwick::notify
namespace tarnwick::rules {
class RulesFile;
class TemplateVars;
} // namespace tarnwick::rules
namespace tarnwick::tasks {
class TaskHost;
}

namespace tarnwick::update {

extern const char* const k_cancelledMessage;      // "Operation canceled."
extern const char* const k_timedOutMessage;       // "HttpGet: Operation timed out."
extern const char* const k_warningRefusedMessage; // "Possible update problem, update canceled by user."
extern const char* const k_internalProblemMessage;

struct RunControl;

// The time-out of the network operation under way, read where it is kept each time it is asked for: a worker
// task re-reads it on every cycle, so the user's new choice in the window shortens or lengthens the wait at
// once. Copies of it are cheap and all follow the same value; the RunControl it reads outlives the operation.
class LiveTimeout {
public:
    // The fixed time-out of the operation when it has one, else the window's.
    explicit LiveTimeout(const RunControl& control);
    LiveTimeout(const RunControl&&) = delete;

    int ms() const { return *m_ms; }
    // The value itself, for a task that reads it afresh on each of its cycles.
    const int& source() const { return *m_ms; }

private:
    const int* m_ms;
};

// What the window keeps for the run and the operations; owned by the window
// (app::MainState), read and written by the run.
struct RunControl {
    bool busy = false;
    base::RunState runState = base::RunState::Running; // read between the steps of a run
    bool autoMode = false;
    int timeoutMs = 60000;  // the window's operation time-out (the Timeout setting)
    int fixedTimeoutMs = 0; // an operation's own time-out that the window's choice does not change; 0 for none
    bool warnReverted = false;
    int failedCount = 0;
    bool historyProblemTold = false; // the user heard once that the history file cannot be written

    // The time-out of the network operation under way.
    int operationTimeoutMs() const { return fixedTimeoutMs > 0 ? fixedTimeoutMs : timeoutMs; }
};

inline LiveTimeout::LiveTimeout(const RunControl& control)
    : m_ms(control.fixedTimeoutMs > 0 ? &control.fixedTimeoutMs : &control.timeoutMs)
{
}

struct EntryOutcome;
struct RunSummary;

// Everything a run works with; nothing is owned.
struct UpdateContext {
    base::AppSettings& settings;
    base::Log& log;
    base::FrontEnd& frontEnd;
    tasks::TaskHost& taskHost;
    notify::NoticeSink& notices; // the notices of changed entries
    rules::TemplateVars& vars;
    rules::RulesFile& rules;
    notify::ApplicationNames& names; // receives the last fetch
    core::EntryStore& entries;
    RunControl& control;
    net::FlowLog* flowLog = nullptr;
    // the window title is refreshed after each rules download; may be empty
    std::function<void()> refreshTitle = {};
    // each due entry as it is done; may be empty
    std::function<void(const EntryOutcome&)> onEntry = {};
    // the run's tally once its entries are done, before its closing message waits for anyone; may be empty
    std::function<void(const RunSummary&)> onRunEnd = {};
    // Makes the notices posted since its last call durable and listed; returns the error text (already
    // reported). Empty when every posting is committed as it is made.
    std::function<std::string()> commitNotices = {};
    // Saves the entries; called after a group of notices was committed in the middle of a run.
    std::function<void()> checkpoint = {};
};

} // namespace tarnwick::update
