#include "net/socketconnection.h"

#include "net/flowlog.h"
#include "tasks/errors.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace tarnwick::net {

std::optional<std::size_t> findReplyEnd(std::string_view reply, std::size_t& lineStart)
{
    for (;;) {
        const std::size_t lf = reply.find('\n', lineStart);
        if (lf == std::string_view::npos)
            return std::nullopt;
        if (lf - lineStart > 3 && reply[lineStart + 3] == '-') {
            lineStart = lf + 1;
            continue;
        }
        return lf + 1;
    }
}

bool replyHasCode(std::string_view reply, int code)
{
    long long value = 0;
    for (char c : reply) {
        if (c < '0' || c > '9')
            break;
        value = value * 10 + (c - '0');
        if (value > 1000000000LL)
            return false; // far beyond any code
    }
    return value == code;
}

SocketConnection::SocketConnection(const std::atomic<char>& cancel, FlowLog* flowLog, std::string label)
    : m_cancel(cancel), m_flowLog(flowLog), m_label(std::move(label))
{
    m_socket = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_socket < 0)
        raise(msg::k_noSocket);
}

SocketConnection::~SocketConnection()
{
    int fd;
    bool cancelled;
    {
        std::lock_guard lock(m_mutex);
        fd = m_socket;
        cancelled = m_cancelled;
        m_socket = -1;
    }
    if (fd < 0)
        return;
    if (cancelled) {
        // a cancelled connection has no socket left to show; only the descriptor goes
        ::close(fd);
        return;
    }
    log(FlowLog::k_status, "Shutdown...");
    ::shutdown(fd, SHUT_WR);
    log(FlowLog::k_status, "Closing...");
    ::close(fd);
    log(FlowLog::k_status, "Closed");
}

void SocketConnection::log(int kind, std::string_view message)
{
    if (m_flowLog != nullptr)
        m_flowLog->log(kind, m_label, message);
}

void SocketConnection::raise(const std::string& message)
{
    log(FlowLog::k_status, message);
    throw tasks::CAppError(message);
}

void SocketConnection::checkCancel()
{
    if (m_cancel.load() != 0)
        raise(msg::k_canceled);
}

int SocketConnection::lockedSocket()
{
    std::lock_guard lock(m_mutex);
    return m_cancelled ? -1 : m_socket;
}

void SocketConnection::waitFor(Wait what)
{
    for (;;) {
        const int fd = lockedSocket();
        int ready = 1; // no socket: the following call fails and reports it
        if (fd >= 0) {
            pollfd p{fd, static_cast<short>(what == Wait::Read ? POLLIN : POLLOUT), 0};
            ready = ::poll(&p, 1, k_pollMs);
            if (ready < 0 && errno == EINTR)
                ready = 0;
        }
        checkCancel();
        if (ready != 0)
            return;
    }
}

void SocketConnection::cancel()
{
    {
        std::lock_guard lock(m_mutex);
        if (m_socket < 0 || m_cancelled)
            return;
    }
    log(FlowLog::k_status, "Cancelling...");
    std::lock_guard lock(m_mutex);
    if (m_socket < 0 || m_cancelled)
        return;
    // the owning thread closes the descriptor: closing it here could hand its
    // number to another thread's socket while the owner still polls it
    ::shutdown(m_socket, SHUT_RDWR);
    m_cancelled = true;
}

void SocketConnection::connect(std::string_view address, int defaultPort)
{
    std::string host(address);
    long port = defaultPort;
    if (const std::size_t colon = address.find(':'); colon != std::string_view::npos) {
        host = std::string(address.substr(0, colon));
        port = 0;
        for (std::size_t i = colon + 1; i < address.size() && address[i] >= '0' && address[i] <= '9'; ++i) {
            port = port * 10 + (address[i] - '0');
            if (port > 99999)
                break;
        }
    }

    in_addr ip{};
    if (::inet_pton(AF_INET, host.c_str(), &ip) != 1) {
        log(FlowLog::k_outgoing, "Resolving '" + host + "' ...");
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        if (host.empty() || ::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr)
            raise(msg::k_unreachable);
        ip = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
        ::freeaddrinfo(found);
        checkCancel();
    }

    char dotted[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &ip, dotted, sizeof dotted);
    log(FlowLog::k_outgoing, "Connecting to " + std::string(dotted) + " on port #" + std::to_string(port) + " ...");

    if (port <= 0 || port > 65535)
        raise(msg::k_cantConnect);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr = ip;
    to.sin_port = htons(static_cast<std::uint16_t>(port));

    int fd = lockedSocket();
    if (fd < 0)
        raise(msg::k_cantConnect);
    int error = 0;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
        error = errno;
        if (error == EINPROGRESS || error == EINTR) {
            waitFor(Wait::Write);
            fd = lockedSocket();
            if (fd < 0)
                raise(msg::k_cantConnect);
            socklen_t len = sizeof error;
            if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0)
                error = errno;
        }
    }
    if (error == ECONNREFUSED)
        raise(msg::k_refused);
    if (error != 0)
        raise(msg::k_cantConnect);
    log(FlowLog::k_incoming, "Connected");
}

void SocketConnection::send(std::string_view data, std::optional<std::string_view> displayText)
{
    if (displayText)
        log(FlowLog::k_outgoing, "Sending " + std::string(*displayText));
    else
        log(FlowLog::k_outgoing, "Sending '" + FlowLog::shown(data) + "' ...");
    bool movedBefore = false;
    while (!data.empty()) {
        waitFor(Wait::Write);
        if (movedBefore)
            log(FlowLog::k_outgoing, "Sending...");
        const int fd = lockedSocket();
        if (fd < 0)
            raise(msg::k_disconnected);
        const ssize_t n = ::send(fd, data.data(), std::min(data.size(), k_chunk), MSG_NOSIGNAL);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            movedBefore = false;
            continue;
        }
        if (n < 0)
            raise(msg::k_disconnected);
        checkCancel();
        movedBefore = n > 0;
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    log(FlowLog::k_status, "Sent");
}

std::size_t SocketConnection::receivePart(char* buffer, std::size_t size, bool closeIsError)
{
    for (;;) {
        waitFor(Wait::Read);
        const int fd = lockedSocket();
        if (fd < 0)
            raise(msg::k_disconnected);
        const ssize_t n = ::recv(fd, buffer, size, 0);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            continue;
        // a close while a reply is awaited counts as lost before the cancel byte is read
        if (n < 0 || (n == 0 && closeIsError) || lockedSocket() < 0)
            raise(msg::k_disconnected);
        checkCancel();
        return static_cast<std::size_t>(n);
    }
}

std::string SocketConnection::receiveAll(bool sizesOnly, std::size_t limit,
                                         const std::function<bool(std::string_view)>& complete)
{
    log(FlowLog::k_status, "Receiving ...");
    std::string result;
    char buffer[k_chunk];
    for (;;) {
        const std::size_t n = receivePart(buffer, sizeof buffer, false);
        if (n == 0)
            break;
        const std::string_view part(buffer, n);
        result.append(part);
        log(FlowLog::k_incoming, "Received part '" + (sizesOnly ? std::to_string(n) : FlowLog::shown(part)) + "'");
        if (result.size() > limit || (complete && complete(result)))
            break;
    }
    log(FlowLog::k_status, "Received " + std::to_string(result.size()) + " bytes");
    return result;
}

bool SocketConnection::expectReply(int code)
{
    log(FlowLog::k_status, "Expecting '" + std::to_string(code) + "' ...");
    std::string reply;
    std::size_t lineStart = 0;
    char buffer[k_replyChunk];
    for (;;) {
        const std::size_t n = receivePart(buffer, sizeof buffer, true);
        const std::string_view part(buffer, n);
        log(FlowLog::k_incoming, "Received '" + FlowLog::shown(part) + "'");
        reply.append(part);
        if (findReplyEnd(reply, lineStart))
            break;
        if (reply.size() > k_maxReply) {
            // a reply without end never carries the expected code
            log(FlowLog::k_status, "Received " + std::to_string(reply.size()) + " bytes");
            return false;
        }
    }
    log(FlowLog::k_status, "Received " + std::to_string(reply.size()) + " bytes");
    return replyHasCode(reply, code);
}

std::string SocketConnection::localHostName()
{
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        raise(msg::k_unknown);
    checkCancel();
    return name;
}

} // namespace tarnwick::net
