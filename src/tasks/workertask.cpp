#include "tasks/workertask.h"

#include "platform/clock.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace tarnwick::tasks {

void ConnectionSlot::attach(Cancellable* connection)
{
    MutexLock lock(m_mutex);
    m_connection = connection;
}

void ConnectionSlot::cancel()
{
    MutexLock lock(m_mutex);
    if (m_connection != nullptr) {
        m_connection->cancelAll();
        m_connection = nullptr;
    }
}

namespace {

// Worker threads wait for the next job instead of ending with their own: a waiting thread that is handed a
// job runs at once, where a new thread on a busy machine queues behind every other program, and starting and
// ending a thread costs as much as the work on a small page. The thread that waited least is handed the job,
// so that the others run out their wait and end.
class ReusedThreads {
public:
    static ReusedThreads& instance()
    {
        // never destroyed: waiting threads may still use it while the process ends
        static ReusedThreads* const threads = new ReusedThreads;
        return *threads;
    }

    // Runs `body` on a waiting thread, or on a new one when none waits; throws when no thread can start.
    void launch(std::function<void()> body)
    {
        {
            MutexLock lock(m_mutex);
            if (!m_waiting.empty()) {
                Waiter* waiter = m_waiting.back();
                m_waiting.pop_back();
                waiter->job = std::move(body);
                waiter->handedOver.notify_one();
                return;
            }
        }
        std::thread([this, first = std::move(body)]() mutable { serve(std::move(first)); }).detach();
    }

private:
    static constexpr std::chrono::seconds k_waitLimit{10};

    struct Waiter {
        std::condition_variable handedOver;
        std::function<void()> job;
    };

    void serve(std::function<void()> body)
    {
        Waiter self;
        for (;;) {
            body();
            body = nullptr;
            MutexLock lock(m_mutex);
            m_waiting.push_back(&self);
            if (!self.handedOver.wait_for(lock.native(), k_waitLimit, [&self] { return self.job != nullptr; })) {
                m_waiting.erase(std::find(m_waiting.begin(), m_waiting.end(), &self));
                return;
            }
            body = std::move(self.job);
            self.job = nullptr;
        }
    }

    Mutex m_mutex;
    // the threads waiting for a job, the one that began to wait last at the end; a waiter's job is handed over
    // under the same mutex
    std::vector<Waiter*> m_waiting GUARDED_BY(m_mutex);
};

void startDetachedThread(std::function<void()> body)
{
    ReusedThreads::instance().launch(std::move(body));
}

std::uint64_t now()
{
    return platform::clock().tickMillis();
}

// Tells the host which task is waiting, for as long as the wait lasts.
class RunningTask {
public:
    RunningTask(TaskHost& host, Cancellable* task) : m_host(host) { m_host.setRunningTask(task); }
    ~RunningTask() { m_host.setRunningTask(nullptr); }
    RunningTask(const RunningTask&) = delete;
    RunningTask& operator=(const RunningTask&) = delete;

private:
    TaskHost& m_host;
};

} // namespace

WorkerTaskBase::WorkerTaskBase(TaskHost& host)
    : m_host(host), m_shared(std::make_shared<detail::TaskShared>()), m_launcher(startDetachedThread)
{
}

WorkerTaskBase::~WorkerTaskBase()
{
    // a task that never finished its wait still cuts its jobs loose
    detachAll();
}

void WorkerTaskBase::cancelAll()
{
    MutexLock lock(m_shared->mutex);
    for (detail::TaskShared::Job& job : m_shared->jobs) {
        if (job.attached && job.slot != nullptr)
            job.slot->cancel();
    }
}

void WorkerTaskBase::prepare(std::size_t count)
{
    if (count > k_maxJobs)
        throw CAppError("Too many jobs for one task.");
    MutexLock lock(m_shared->mutex);
    m_shared->jobs.assign(count, {});
    m_shared->error = false;
    m_shared->errorMessage.clear();
}

void WorkerTaskBase::startJob(std::size_t index, std::atomic<char>* cancel, ConnectionSlot* slot,
                              std::function<void()> body)
{
    MutexLock lock(m_shared->mutex);
    m_shared->jobs[index] = {true, cancel, slot};
    ++m_shared->running;
    auto thread = [shared = m_shared, body = std::move(body)]() mutable {
        body();
        body = nullptr; // the request copy goes before the thread counts as ended
        {
            MutexLock endLock(shared->mutex);
            --shared->running;
            if (shared->host)
                shared->host->wake();
        }
        shared->ended.notify_all();
    };
    try {
        m_launcher(std::move(thread));
    } catch (...) {
        --m_shared->running;
        m_shared->jobs[index] = {};
        m_shared->error = true;
        m_shared->errorMessage = "Can't create thread.";
    }
}

bool WorkerTaskBase::allDone()
{
    MutexLock lock(m_shared->mutex);
    return m_shared->running == 0;
}

void WorkerTaskBase::detachAll()
{
    MutexLock lock(m_shared->mutex);
    for (detail::TaskShared::Job& job : m_shared->jobs) {
        if (job.attached)
            job.cancel->store(1);
        job = {};
    }
    m_shared->jobs.clear();
}

void WorkerTaskBase::waitForJobs(const std::function<int()>& timeoutMs)
{
    bool timedOut = false;
    bool done = false;
    {
        RunningTask running(m_host, this);
        {
            MutexLock lock(m_shared->mutex);
            m_shared->host = &m_host;
        }
        const std::uint64_t start = now();
        for (;;) {
            bool failed;
            {
                MutexLock lock(m_shared->mutex);
                failed = m_shared->error;
            }
            if (m_host.cancelRequested() || failed)
                break;
            const auto limit = static_cast<std::uint64_t>(std::max(timeoutMs(), 0));
            if (now() - start >= limit) {
                timedOut = true;
                break;
            }
            if (allDone()) {
                done = true;
                break;
            }
            const std::uint64_t before = now();
            m_host.dispatch(k_cycleMs);
            if (now() - before < 2) {
                // a host that does not wait for input must not make this loop spin
                MutexLock lock(m_shared->mutex);
                m_shared->ended.wait_for(
                    lock.native(), std::chrono::milliseconds(2),
                    [this]() REQUIRES(m_shared->mutex) { return m_shared->running == 0 || m_shared->error; });
            }
        }

        detachAll();
        {
            MutexLock lock(m_shared->mutex);
            m_shared->host = nullptr;
        }

        if (!done) {
            // jobs cut loose notice their cancel byte at their next poll; the grace
            // period runs on the steady clock so that a test clock cannot stretch it
            const auto graceEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(k_graceMs);
            for (;;) {
                {
                    MutexLock lock(m_shared->mutex);
                    const auto step =
                        std::min(graceEnd, std::chrono::steady_clock::now() + std::chrono::milliseconds(k_cycleMs));
                    if (m_shared->ended.wait_until(lock.native(), step, [this]() REQUIRES(m_shared->mutex) {
                            return m_shared->running == 0;
                        })) {
                        done = true;
                        break;
                    }
                }
                if (std::chrono::steady_clock::now() >= graceEnd)
                    break;
                m_host.dispatch(0);
            }
        }
    }

    if (!done)
        throw CThreadsNotDoneError();
    if (m_host.cancelRequested())
        throw CCanceledError();
    if (timedOut)
        throw CTimedoutError();
    MutexLock lock(m_shared->mutex);
    if (m_shared->error)
        throw CAsyncError(m_shared->errorMessage);
}

} // namespace tarnwick::tasks
