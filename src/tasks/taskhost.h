#pragma once

namespace tarnwick::tasks {

// What a worker task needs from the program that waits for it.
class TaskHost {
public:
    virtual ~TaskHost() = default;
    // The application's cancel flag: true stops the wait.
    virtual bool cancelRequested() const = 0;
    // One dispatch cycle: wait up to `maxWaitMs` for input, then handle what came.
    virtual void dispatch(int maxWaitMs) = 0;
};

} // namespace tarnwick::tasks
