#pragma once

// Plain TCP sockets on 127.0.0.1 for the servers tests run and the clients that talk to them.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>

namespace tarnwick::test {

// 127.0.0.1:`port`; port 0 lets a bind choose.
inline sockaddr_in loopbackAddress(int port = 0)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    return a;
}

// A socket connected to 127.0.0.1:`port`, which the caller closes; -1 when nothing accepted.
inline int connectLoopback(int port)
{
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in a = loopbackAddress(port);
    if (s >= 0 && ::connect(s, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
        ::close(s);
        return -1;
    }
    return s;
}

// The whole answer, headers included, to `request` sent to 127.0.0.1:`port`; empty when none could be sent.
inline std::string loopbackExchange(int port, const std::string& request)
{
    const int s = connectLoopback(port);
    if (s < 0)
        return {};
    std::string reply;
    if (::write(s, request.data(), request.size()) == static_cast<ssize_t>(request.size())) {
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(s, buffer, sizeof buffer)) > 0)
            reply.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(s);
    return reply;
}

// The body of the answer to a plain "GET `path` HTTP/1.0" at 127.0.0.1:`port`; empty when there is none.
inline std::string loopbackGet(int port, const std::string& path)
{
    const std::string reply = loopbackExchange(port, "GET " + path + " HTTP/1.0\r\n\r\n");
    const std::size_t body = reply.find("\r\n\r\n");
    return body == std::string::npos ? std::string() : reply.substr(body + 4);
}

// A listening socket on 127.0.0.1 at a port the system chose, closed with the object.
class LoopbackListener {
public:
    explicit LoopbackListener(int backlog = 8) : m_fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_in a = loopbackAddress();
        socklen_t length = sizeof a;
        if (m_fd >= 0 && ::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && ::listen(m_fd, backlog) == 0 &&
            ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &length) == 0)
            m_port = ntohs(a.sin_port);
    }
    ~LoopbackListener()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    int fd() const { return m_fd; }
    // The port listened on; 0 when the socket could not be set up.
    int port() const { return m_port; }
    std::string address() const { return "127.0.0.1:" + std::to_string(m_port); }

private:
    int m_fd;
    int m_port = 0;
};

} // namespace tarnwick::test
