#pragma once

// A scripted TCP server on 127.0.0.1 for the cases real servers will not
// play: closing at once, odd replies, never answering, trickling, flooding.

#include "support/loopback.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <thread>

namespace tarnwick::test {

// The server's side of one accepted connection.
class FakePeer {
public:
    FakePeer(int fd, const std::atomic<bool>& stop) : m_fd(fd), m_stop(stop) {}

    bool stopping() const { return m_stop.load(); }

    // Sends all of `data`; false once the client has gone.
    bool send(std::string_view data)
    {
        while (!data.empty()) {
            if (!waitFor(POLLOUT))
                return false;
            const ssize_t n = ::send(m_fd, data.data(), data.size(), MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            data.remove_prefix(static_cast<std::size_t>(n));
        }
        return true;
    }

    // Reads until the received text ends with `terminator` (or the client
    // closes, or the server stops); returns what was read.
    std::string readUntil(std::string_view terminator)
    {
        std::string got;
        char c;
        while (got.size() < terminator.size() || got.compare(got.size() - terminator.size(), std::string::npos,
                                                             terminator.data(), terminator.size()) != 0) {
            if (!waitFor(POLLIN) || ::recv(m_fd, &c, 1, 0) != 1)
                break;
            got += c;
        }
        return got;
    }

    std::string readLine() { return readUntil("\r\n"); }

    // Reads until the client closes its side.
    std::string readToEnd()
    {
        std::string got;
        char buffer[16384];
        while (waitFor(POLLIN)) {
            const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            got.append(buffer, static_cast<std::size_t>(n));
        }
        return got;
    }

private:
    bool waitFor(short events)
    {
        while (!m_stop.load()) {
            pollfd p{m_fd, events, 0};
            const int r = ::poll(&p, 1, 20);
            if (r > 0)
                return true;
            if (r < 0)
                return false;
        }
        return false;
    }

    int m_fd;
    const std::atomic<bool>& m_stop;
};

class FakeServer {
public:
    using Script = std::function<void(FakePeer&)>;

    // Serves `connections` connections one after another, each with `script`;
    // the connection is closed when the script returns.
    explicit FakeServer(Script script, int connections = 1) : m_script(std::move(script))
    {
        m_thread = std::thread([this, connections] { serve(connections); });
    }
    ~FakeServer()
    {
        m_stop = true;
        m_thread.join();
    }
    FakeServer(const FakeServer&) = delete;
    FakeServer& operator=(const FakeServer&) = delete;

    int port() const { return m_listener.port(); }
    std::string address() const { return m_listener.address(); }
    int accepted() const { return m_accepted.load(); }
    // Waits until `n` connections have been accepted (at most 30 s).
    bool waitAccepted(int n = 1) const
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (m_accepted.load() < n) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }

private:
    void serve(int connections)
    {
        for (int i = 0; i < connections && !m_stop.load(); ++i) {
            pollfd p{m_listener.fd(), POLLIN, 0};
            while (!m_stop.load() && ::poll(&p, 1, 20) <= 0) {
            }
            if (m_stop.load())
                return;
            const int fd = ::accept4(m_listener.fd(), nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            ++m_accepted;
            FakePeer peer(fd, m_stop);
            m_script(peer);
            ::close(fd);
        }
    }

    Script m_script;
    LoopbackListener m_listener;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_accepted{0};
    std::thread m_thread;
};

} // namespace tarnwick::test
