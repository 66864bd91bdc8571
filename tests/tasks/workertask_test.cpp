#include "tasks/errors.h"
#include "tasks/workertask.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <thread>

using namespace tarnwick::tasks;
using namespace std::chrono_literals;

namespace {

struct FakeRequest {
    std::atomic<char> cancel{0};
    ConnectionSlot slot;
    int value = 0;
    int delayMs = 0;            // work time before the result
    bool waitForCancel = false; // work until cut loose, then fail
    const char* failure = nullptr;

    FakeRequest() = default;
    FakeRequest(int v, int delay) : value(v), delayMs(delay) {}
    FakeRequest(const FakeRequest& o) { *this = o; }
    FakeRequest& operator=(const FakeRequest& o)
    {
        cancel.store(o.cancel.load());
        value = o.value;
        delayMs = o.delayMs;
        waitForCancel = o.waitForCancel;
        failure = o.failure;
        return *this;
    }
};

// Counts the jobs that noticed their cancel byte.
std::atomic<int> g_sawCancel{0};

int fakeJob(FakeRequest& r)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(r.delayMs));
    if (r.failure != nullptr)
        throw CAppError(r.failure);
    if (r.waitForCancel) {
        while (r.cancel.load() == 0)
            std::this_thread::sleep_for(5ms);
        ++g_sawCancel;
        throw CAppError("cut loose");
    }
    return r.value * 10;
}

class TestHost : public TaskHost {
public:
    bool cancelRequested() const override { return cancel.load(); }
    void dispatch(int maxWaitMs) override
    {
        ++dispatches;
        if (onDispatch)
            onDispatch();
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(maxWaitMs, 5)));
    }
    void setRunningTask(Cancellable* task) override
    {
        running = task;
        runningLog.push_back(task != nullptr);
    }

    std::atomic<bool> cancel{false};
    int dispatches = 0;
    std::function<void()> onDispatch;
    Cancellable* running = nullptr;
    std::vector<bool> runningLog;
};

using FakeTask = WorkerTask<FakeRequest, int>;

FakeRequest cutLoose()
{
    FakeRequest r;
    r.waitForCancel = true;
    return r;
}

} // namespace

TEST(AppErrors, MessagesAndHierarchy)
{
    struct Case {
        CAppError error;
        const char* message;
    };
    const Case cases[] = {
        {CAppError("plain"), "plain"},
        {CCanceledError(), "Operation canceled."},
        {CTimedoutError(), "Operation timed out."},
        {CThreadsNotDoneError(), "One or more threads refuses to quit."},
        {CAsyncError("HttpGet: Bad URL."), "HttpGet: Bad URL."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        EXPECT_EQ(c.error.message(), c.message);
        EXPECT_STREQ(c.error.what(), c.message);
    }
    EXPECT_THROW(throw CTimedoutError(), CAppError);
    EXPECT_THROW(throw CAsyncError("x"), std::runtime_error);
}

TEST(WorkerTask, ResultsComeBackInRequestOrder)
{
    TestHost host;
    FakeTask task(host, fakeJob);
    // the first job finishes last
    std::vector<FakeRequest> requests = {{1, 120}, {2, 60}, {3, 0}, {4, 30}};
    const int timeout = 60000;
    EXPECT_EQ(task.run(requests, timeout), (std::vector<int>{10, 20, 30, 40}));
    EXPECT_EQ(host.runningLog, (std::vector<bool>{true, false}));
}

TEST(WorkerTask, EmptyBatchAndTooManyJobs)
{
    TestHost host;
    const int timeout = 60000;
    FakeTask empty(host, fakeJob);
    EXPECT_TRUE(empty.run({}, timeout).empty());
    FakeTask tooMany(host, fakeJob);
    EXPECT_THROW(tooMany.run(std::vector<FakeRequest>(65), timeout), CAppError);
    FakeTask full(host, fakeJob);
    EXPECT_EQ(full.run(std::vector<FakeRequest>(64), timeout).size(), 64u);
}

TEST(WorkerTask, OneFailedJobCutsTheOthersLoose)
{
    TestHost host;
    FakeTask task(host, fakeJob);
    FakeRequest bad(0, 20);
    bad.failure = "HttpGet: HTTP Get Failed. (404 Not Found)";
    g_sawCancel = 0;
    const int timeout = 60000;
    try {
        task.run({cutLoose(), bad, cutLoose()}, timeout);
        FAIL() << "no error";
    } catch (const CAsyncError& e) {
        EXPECT_EQ(e.message(), "HttpGet: HTTP Get Failed. (404 Not Found)");
    }
    // the grace wait ends only once the cut-loose jobs have ended
    EXPECT_EQ(g_sawCancel.load(), 2);
}

TEST(WorkerTask, FailureTexts)
{
    struct Case {
        std::function<int(FakeRequest&)> job;
        const char* message;
    };
    const Case cases[] = {
        {[](FakeRequest&) -> int { throw std::runtime_error("std failure"); }, "std failure"},
        {[](FakeRequest&) -> int { throw 42; }, "Unknown exception."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        TestHost host;
        FakeTask task(host, c.job);
        const int timeout = 60000;
        try {
            task.run({FakeRequest{}}, timeout);
            ADD_FAILURE() << "no error";
        } catch (const CAsyncError& e) {
            EXPECT_EQ(e.message(), c.message);
        }
    }
}

TEST(WorkerTask, CancelWinsOverFailureAndClosesRegisteredConnections)
{
    struct FakeConnection : Cancellable {
        std::atomic<int> cancels{0};
        void cancelAll() override { ++cancels; }
    };
    FakeConnection connection;
    TestHost host;
    std::atomic<bool> registered{false};
    FakeTask task(host, [&](FakeRequest& r) -> int {
        SlotRegistration reg(r.slot, connection);
        registered = true;
        while (r.cancel.load() == 0)
            std::this_thread::sleep_for(5ms);
        throw CAppError("failed too");
    });
    host.onDispatch = [&] {
        if (registered && !host.cancel) {
            host.running->cancelAll(); // the stop command: sockets first, then the flag
            host.cancel = true;
        }
    };
    const int timeout = 60000;
    EXPECT_THROW(task.run({FakeRequest{}}, timeout), CCanceledError);
    EXPECT_EQ(connection.cancels.load(), 1);
}

TEST(WorkerTask, LoweredTimeOutEndsTheWait)
{
    TestHost host;
    FakeTask task(host, fakeJob);
    int timeout = 60000;
    host.onDispatch = [&] {
        if (host.dispatches == 3)
            timeout = 1;
    };
    EXPECT_THROW(task.run({cutLoose(), cutLoose()}, timeout), CTimedoutError);
    EXPECT_GE(host.dispatches, 3);
}

TEST(WorkerTask, ThreadThatCannotStart)
{
    TestHost host;
    FakeTask task(host, fakeJob);
    int started = 0;
    task.setLauncher([&](std::function<void()> body) {
        if (++started == 2)
            throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
        std::thread(std::move(body)).detach();
    });
    g_sawCancel = 0;
    const int timeout = 60000;
    try {
        task.run({cutLoose(), {5, 0}, cutLoose()}, timeout);
        FAIL() << "no error";
    } catch (const CAsyncError& e) {
        EXPECT_EQ(e.message(), "Can't create thread.");
    }
    EXPECT_EQ(g_sawCancel.load(), 2);
}

TEST(WorkerTask, JobThatRefusesToQuit)
{
    TestHost host;
    auto release = std::make_shared<std::atomic<bool>>(false);
    auto finished = std::make_shared<std::atomic<bool>>(false);
    FakeTask task(host, [release, finished](FakeRequest&) {
        while (!release->load())
            std::this_thread::sleep_for(5ms);
        *finished = true;
        return 1;
    });
    host.onDispatch = [&] { host.cancel = true; };
    const int timeout = 60000;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(task.run({FakeRequest{}}, timeout), CThreadsNotDoneError);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 4900ms);
    // the job outlives the wait and ends on its own later
    *release = true;
    while (!finished->load())
        std::this_thread::sleep_for(5ms);
    std::this_thread::sleep_for(50ms);
}

TEST(WorkerTask, ThreadsWaitForTheNextJob)
{
    TestHost host;
    const int timeout = 60000;
    // the jobs a thread has run so far; threads that ended with their job would always count one
    static thread_local int jobsOnThread = 0;
    int most = 0;
    for (int i = 0; i < 12; ++i) {
        FakeTask task(host, [](FakeRequest&) { return ++jobsOnThread; });
        most = std::max(most, task.run({FakeRequest{}}, timeout).front());
        // time for the thread to start waiting again
        std::this_thread::sleep_for(30ms);
    }
    EXPECT_GT(most, 1);
}
