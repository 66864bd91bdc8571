#pragma once

#include "base/threadsafety.h"
#include "tasks/errors.h"
#include "tasks/taskhost.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tarnwick::tasks {

// A request's cancel byte (0 go on, 1 stop), polled by the socket layer. A copy of a request takes the
// value, so that a request is copied whole by its defaulted copy.
struct CancelByte : std::atomic<char> {
    CancelByte() noexcept : std::atomic<char>(0) {}
    CancelByte(const CancelByte& other) noexcept : std::atomic<char>(other.load()) {}
    CancelByte& operator=(const CancelByte& other) noexcept
    {
        store(other.load());
        return *this;
    }
    using std::atomic<char>::operator=;
};

// Where a request keeps the connection it is using at the moment, so that the
// waiting thread can cancel it. A copy of a request gets a new, empty slot.
class ConnectionSlot {
public:
    ConnectionSlot() = default;
    ConnectionSlot(const ConnectionSlot&) noexcept {}
    // an assigned slot keeps its own connection, whatever the other one holds
    // NOLINTNEXTLINE(bugprone-unhandled-self-assignment)
    ConnectionSlot& operator=(const ConnectionSlot&) noexcept { return *this; }

    // Registers `connection` (nullptr clears); the owner clears it before the
    // connection goes away, on every path out.
    void attach(Cancellable* connection);
    void detach() { attach(nullptr); }
    // Cancels the registered connection, if any, and clears the slot.
    void cancel();

private:
    Mutex m_mutex;
    Cancellable* m_connection GUARDED_BY(m_mutex) = nullptr;
};

// Registers a connection in a slot for the lifetime of this object.
class SlotRegistration {
public:
    SlotRegistration(ConnectionSlot& slot, Cancellable& connection) : m_slot(slot) { m_slot.attach(&connection); }
    ~SlotRegistration() { m_slot.detach(); }
    SlotRegistration(const SlotRegistration&) = delete;
    SlotRegistration& operator=(const SlotRegistration&) = delete;

private:
    ConnectionSlot& m_slot;
};

namespace detail {

// The state a task shares with its job threads; the threads hold it by
// shared_ptr so that a job cut loose may outlive the task.
struct TaskShared {
    struct Job {
        bool attached = false;
        // the job's own request copy; valid only while attached
        std::atomic<char>* cancel = nullptr;
        ConnectionSlot* slot = nullptr;
    };

    Mutex mutex;
    std::condition_variable ended;
    TaskHost* host GUARDED_BY(mutex) = nullptr; // woken when a job ends; cleared once the task stops waiting
    int running GUARDED_BY(mutex) = 0;          // threads started and not yet finished
    std::vector<Job> jobs GUARDED_BY(mutex);
    bool error GUARDED_BY(mutex) = false;
    std::string errorMessage GUARDED_BY(mutex);
};

} // namespace detail

// The part of a worker task that does not depend on the request type: thread
// start, the wait with cancel and time-out, the grace wait and the decision.
class WorkerTaskBase : public Cancellable {
public:
    static constexpr std::size_t k_maxJobs = 64;
    static constexpr int k_graceMs = 5000;
    static constexpr int k_cycleMs = 50;

    using Launcher = std::function<void(std::function<void()> body)>;

    explicit WorkerTaskBase(TaskHost& host);
    ~WorkerTaskBase() override;
    WorkerTaskBase(const WorkerTaskBase&) = delete;
    WorkerTaskBase& operator=(const WorkerTaskBase&) = delete;

    // Cancels the registered connection of every attached job (any thread).
    void cancelAll() override;

    // Replaces the way threads are started (tests make it fail); the launcher
    // runs `body` on a thread of its own or throws. By default a thread that
    // has finished a job waits a while for the next one before it ends.
    void setLauncher(Launcher launcher) { m_launcher = std::move(launcher); }

protected:
    // Prepares `count` job entries; more than k_maxJobs is refused.
    void prepare(std::size_t count);
    // Starts job `index`, whose request copy lives inside `body`; a thread that
    // cannot start records "Can't create thread.".
    void startJob(std::size_t index, std::atomic<char>* cancel, ConnectionSlot* slot, std::function<void()> body);
    // Waits for the jobs, detaches them and throws the outcome; returns only
    // when every job ended normally and nothing was cancelled or timed out.
    void waitForJobs(const std::function<int()>& timeoutMs);

    TaskHost& m_host;
    std::shared_ptr<detail::TaskShared> m_shared;

private:
    bool allDone();
    void detachAll();
    Launcher m_launcher;
};

// A batch of jobs on worker threads: one thread per request at a time, each
// running the job function on its own copy of the request. `Request` has a cancel byte
// (std::atomic<char> cancel) and a ConnectionSlot (slot).
template <class Request, class Result> class WorkerTask final : public WorkerTaskBase {
public:
    using JobFunction = std::function<Result(Request&)>;

    WorkerTask(TaskHost& host, JobFunction job) : WorkerTaskBase(host), m_job(std::move(job)) {}

    // Runs one job per request and returns their results in request order, or
    // throws the CAppError family. The time-out is read afresh every cycle.
    std::vector<Result> run(const std::vector<Request>& requests, const int& timeoutMs)
    {
        return run(requests, std::function<int()>([&timeoutMs] { return timeoutMs; }));
    }

    std::vector<Result> run(const std::vector<Request>& requests, const std::function<int()>& timeoutMs)
    {
        start(requests);
        return finish(timeoutMs);
    }

    // The two halves of run, for a caller with other work to do while the jobs run: start launches the jobs,
    // finish waits for them as run does (its time-out counts from the call). A task that is destroyed
    // unfinished cuts its jobs loose.
    void start(const std::vector<Request>& requests)
    {
        prepare(requests.size());
        m_results = std::make_shared<std::vector<Result>>(requests.size());
        for (std::size_t i = 0; i < requests.size(); ++i) {
            auto copy = std::make_shared<Request>(requests[i]);
            Request* raw = copy.get();
            startJob(i, &raw->cancel, &raw->slot,
                     [shared = m_shared, results = m_results, job = m_job, i, request = std::move(copy)]() mutable {
                         runJob(*shared, *results, job, i, request);
                     });
        }
    }

    std::vector<Result> finish(const int& timeoutMs)
    {
        return finish(std::function<int()>([&timeoutMs] { return timeoutMs; }));
    }

    std::vector<Result> finish(const std::function<int()>& timeoutMs)
    {
        waitForJobs(timeoutMs);
        MutexLock lock(m_shared->mutex);
        return std::move(*m_results);
    }

private:
    static void runJob(detail::TaskShared& shared, std::vector<Result>& results, JobFunction& job, std::size_t index,
                       std::shared_ptr<Request>& request)
    {
        std::optional<Result> result;
        std::string failure;
        bool failed = false;
        try {
            result.emplace(job(*request));
        } catch (const std::exception& e) {
            failed = true;
            failure = e.what();
        } catch (...) {
            failed = true;
            failure = "Unknown exception.";
        }
        {
            MutexLock lock(shared.mutex);
            // a task that stopped waiting has let go of its jobs: their entries are gone
            if (index < shared.jobs.size() && shared.jobs[index].attached) {
                detail::TaskShared::Job& entry = shared.jobs[index];
                if (failed) {
                    shared.error = true;
                    shared.errorMessage = std::move(failure);
                } else {
                    results[index] = std::move(*result);
                }
                entry = {};
            }
        }
        request.reset();
    }

    JobFunction m_job;
    std::shared_ptr<std::vector<Result>> m_results;
};

} // namespace tarnwick::tasks
