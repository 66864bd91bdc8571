#pragma once

#include "platform/result.h"

#include <string>

namespace tarnwick::platform {

// The single-instance lock: an exclusive lock on "Tarnwick_lock.dat" in the
// logging directory, held open for the life of the holder and deleted when it
// is released. Without a logging directory (a first run) no lock is taken and
// the holder counts as the only instance.
class InstanceLock {
public:
    static constexpr const char* k_fileName = "Tarnwick_lock.dat";
    // Why a start or a writing command is refused while another process holds the lock.
    static constexpr const char* k_anotherInstance = "Only one instance of Tarnwick may be run at a time.";

    InstanceLock() = default;
    ~InstanceLock() { release(); }
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Takes the lock in `logDir`. It fails when another process holds it
    // (k_anotherInstance), or when the lock file cannot be opened or locked (why
    // not): a writer that cannot tell whether it is alone does not go on.
    Result acquire(const std::string& logDir);
    // Closes and deletes the lock file; nothing when none is held.
    void release();
    bool held() const { return m_fd >= 0; }

private:
    int m_fd = -1;
    std::string m_path;
};

// The call of a second start to the instance that holds the lock: a Unix socket
// "Tarnwick_front.sock" beside the lock file, so it is as much per user and per
// logging directory as the lock. Any connection asks the holder to bring its
// window to the front; nothing is read or answered.
class FrontRequests {
public:
    static constexpr const char* k_fileName = "Tarnwick_front.sock";

    FrontRequests() = default;
    ~FrontRequests() { close(); }
    FrontRequests(const FrontRequests&) = delete;
    FrontRequests& operator=(const FrontRequests&) = delete;

    // Listens in `logDir`, replacing the socket a holder that died left behind;
    // only the holder of the lock may call it. The socket is the user's alone.
    Result listen(const std::string& logDir);
    // The listening socket (non-blocking), -1 when none.
    int fd() const { return m_fd; }
    // Accepts and closes every waiting call; returns how many there were.
    int take();
    // Stops listening and removes the socket.
    void close();

    // The second start's call: true when an instance listens in `logDir`. It never waits.
    static bool request(const std::string& logDir);

private:
    int m_fd = -1;
    std::string m_path;
};

} // namespace tarnwick::platform
