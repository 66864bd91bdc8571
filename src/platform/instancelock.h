#pragma once

#include <string>

namespace tarnwick::platform {

// The single-instance lock: an exclusive lock on "Tarnwick_lock.dat" in the
// logging directory, held open for the life of the holder and deleted when it
// is released. Without a logging directory (a first run) no lock is taken and
// the holder counts as the only instance.
class InstanceLock {
public:
    static constexpr const char* k_fileName = "Tarnwick_lock.dat";

    InstanceLock() = default;
    ~InstanceLock() { release(); }
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Takes the lock in `logDir`; false when another process holds it, or when
    // the lock file cannot be opened or locked (failure() says why): a writer
    // that cannot tell whether it is alone does not go on.
    bool acquire(const std::string& logDir);
    // Why the last acquire failed other than by another holder; empty when another process holds the lock.
    const std::string& failure() const { return m_failure; }
    // Closes and deletes the lock file; nothing when none is held.
    void release();
    bool held() const { return m_fd >= 0; }

private:
    int m_fd = -1;
    std::string m_path;
    std::string m_failure;
};

} // namespace tarnwick::platform
