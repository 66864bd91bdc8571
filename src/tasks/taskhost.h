#pragma once

namespace tarnwick::tasks {

// Something running on worker threads that the stop command can cut short.
class Cancellable {
public:
    virtual ~Cancellable() = default;
    // Closes the socket of every job's registered connection (any thread).
    virtual void cancelAll() = 0;
};

// What a worker task needs from the program that waits for it.
class TaskHost {
public:
    virtual ~TaskHost() = default;
    // The application's cancel flag: true stops the wait.
    virtual bool cancelRequested() const = 0;
    // One dispatch cycle: wait up to `maxWaitMs` for input, then handle what came.
    virtual void dispatch(int maxWaitMs) = 0;
    // The task that is waiting now (nullptr when it ends), so that a stop command
    // handled during dispatch can cancel it.
    virtual void setRunningTask(Cancellable* /*task*/) {}
    // A job has ended: a dispatch waiting for input may return at once, so no
    // operation pays a whole wait cycle after its work is done. Any thread.
    virtual void wake() {}
};

} // namespace tarnwick::tasks
