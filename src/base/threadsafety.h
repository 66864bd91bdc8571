#pragma once

// Lock annotations that clang's -Wthread-safety checks at compile time: a member GUARDED_BY a mutex is touched
// only with that mutex held, a function that REQUIRES one is called only so. Other compilers see nothing.
// libstdc++'s std::mutex and std::lock_guard carry no annotations, so guarded state uses Mutex and MutexLock.

#include <condition_variable>
#include <mutex>

#if defined(__clang__)
#define TARNWICK_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define TARNWICK_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) TARNWICK_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY TARNWICK_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) TARNWICK_THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) TARNWICK_THREAD_ANNOTATION(pt_guarded_by(x))
#define REQUIRES(...) TARNWICK_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define ACQUIRE(...) TARNWICK_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) TARNWICK_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) TARNWICK_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define EXCLUDES(...) TARNWICK_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define NO_THREAD_SAFETY_ANALYSIS TARNWICK_THREAD_ANNOTATION(no_thread_safety_analysis)

namespace tarnwick {

// A std::mutex the analysis knows as a lock.
class CAPABILITY("mutex") Mutex {
public:
    Mutex() = default;
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    void lock() ACQUIRE() { m_mutex.lock(); }
    void unlock() RELEASE() { m_mutex.unlock(); }
    bool try_lock() TRY_ACQUIRE(true) { return m_mutex.try_lock(); }

private:
    friend class MutexLock;
    std::mutex m_mutex;
};

// Holds a Mutex for its lifetime. A condition variable waits on native(); the wait gives the mutex up and takes
// it back before it returns, so the analysis rightly goes on counting it as held. A wait's predicate reads
// guarded state: it is a lambda marked REQUIRES(the mutex).
class SCOPED_CAPABILITY MutexLock {
public:
    explicit MutexLock(Mutex& mutex) ACQUIRE(mutex) : m_lock(mutex.m_mutex) {}
    ~MutexLock() RELEASE() {}
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

    std::unique_lock<std::mutex>& native() { return m_lock; }

private:
    std::unique_lock<std::mutex> m_lock;
};

} // namespace tarnwick
