#include "net/socketconnection.h"

#include "net/flowlog.h"
#include "tasks/errors.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netdb.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
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
        MutexLock lock(m_mutex);
        fd = m_socket;
        cancelled = m_cancelled;
        m_socket = -1;
    }
    if (m_tls != nullptr && fd >= 0 && !cancelled)
        ::SSL_shutdown(m_tls); // one close_notify, not waited for
    ::SSL_free(m_tls);
    ::SSL_CTX_free(m_tlsContext);
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
        raise(msg::k_cancelled);
}

int SocketConnection::lockedSocket()
{
    MutexLock lock(m_mutex);
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
        MutexLock lock(m_mutex);
        if (m_socket < 0 || m_cancelled)
            return;
    }
    log(FlowLog::k_status, "Cancelling...");
    MutexLock lock(m_mutex);
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
    Wait wait = Wait::Write; // TLS may need to read before it can write
    while (!data.empty()) {
        waitFor(wait);
        if (movedBefore)
            log(FlowLog::k_outgoing, "Sending...");
        const int fd = lockedSocket();
        if (fd < 0)
            raise(msg::k_disconnected);
        if (m_tls != nullptr) {
            const long n = tlsTransfer(true, const_cast<char*>(data.data()), std::min(data.size(), k_chunk));
            if (n == 0)
                raise(msg::k_disconnected);
            wait = n < 0 ? m_tlsWait : Wait::Write;
            checkCancel();
            movedBefore = n > 0;
            if (n > 0)
                data.remove_prefix(static_cast<std::size_t>(n));
            continue;
        }
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
    Wait wait = Wait::Read; // TLS may need to write before it can read
    for (;;) {
        // bytes TLS already decrypted are read without waiting for the socket
        if (m_tls == nullptr || ::SSL_pending(m_tls) == 0)
            waitFor(wait);
        const int fd = lockedSocket();
        if (fd < 0)
            raise(msg::k_disconnected);
        if (m_tls != nullptr) {
            const long n = tlsTransfer(false, buffer, size);
            if (n < 0) {
                wait = m_tlsWait;
                continue;
            }
            if ((n == 0 && closeIsError) || lockedSocket() < 0)
                raise(msg::k_disconnected);
            checkCancel();
            return static_cast<std::size_t>(n);
        }
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
    return std::string(receive(sizesOnly, limit, complete));
}

std::string_view SocketConnection::receive(bool sizesOnly, std::size_t limit,
                                           const std::function<bool(std::string_view)>& complete)
{
    log(FlowLog::k_status, "Receiving ...");
    const bool logging = m_flowLog != nullptr && m_flowLog->enabled();
    // the parts are read straight into one buffer, which grows by doubling
    std::size_t size = 0;
    for (;;) {
        if (m_receivedCapacity - size < k_chunk) {
            const std::size_t capacity = std::max(2 * m_receivedCapacity, 4 * k_chunk);
            auto grown = std::make_unique_for_overwrite<char[]>(capacity);
            if (size > 0)
                std::memcpy(grown.get(), m_received.get(), size);
            m_received = std::move(grown);
            m_receivedCapacity = capacity;
        }
        const std::size_t n = receivePart(m_received.get() + size, k_chunk, false);
        if (n == 0)
            break;
        const std::string_view part(m_received.get() + size, n);
        size += n;
        if (logging)
            log(FlowLog::k_incoming, "Received part '" + (sizesOnly ? std::to_string(n) : FlowLog::shown(part)) + "'");
        if (size > limit || (complete && complete(std::string_view(m_received.get(), size))))
            break;
    }
    log(FlowLog::k_status, "Received " + std::to_string(size) + " bytes");
    return size == 0 ? std::string_view() : std::string_view(m_received.get(), size);
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
    m_lastReply = std::move(reply);
    return replyHasCode(m_lastReply, code);
}

long SocketConnection::tlsTransfer(bool write, char* buffer, std::size_t size)
{
    ::ERR_clear_error();
    const int length = static_cast<int>(std::min<std::size_t>(size, k_chunk));
    const int n = write ? ::SSL_write(m_tls, buffer, length) : ::SSL_read(m_tls, buffer, length);
    if (n > 0)
        return n;
    switch (::SSL_get_error(m_tls, n)) {
    case SSL_ERROR_WANT_READ:
        m_tlsWait = Wait::Read;
        return -1;
    case SSL_ERROR_WANT_WRITE:
        m_tlsWait = Wait::Write;
        return -1;
    case SSL_ERROR_ZERO_RETURN:
        return 0;
    default:
        raise(msg::k_disconnected);
    }
}

void SocketConnection::raiseTls(const std::string& detail)
{
    std::string message = msg::k_tlsFailed;
    if (!detail.empty())
        message += " (" + detail + ")";
    raise(message);
}

void SocketConnection::startTls(const std::string& serverName, const std::string& caFile)
{
    log(FlowLog::k_outgoing, "Starting TLS with '" + serverName + "' ...");
    m_tlsContext = ::SSL_CTX_new(::TLS_client_method());
    if (m_tlsContext == nullptr)
        raiseTls("no TLS library");
    ::SSL_CTX_set_min_proto_version(m_tlsContext, TLS1_2_VERSION);
    const int loaded = caFile.empty() ? ::SSL_CTX_set_default_verify_paths(m_tlsContext)
                                      : ::SSL_CTX_load_verify_locations(m_tlsContext, caFile.c_str(), nullptr);
    if (loaded != 1)
        raiseTls("cannot read the certificate authorities");
    ::SSL_CTX_set_verify(m_tlsContext, SSL_VERIFY_PEER, nullptr);
    m_tls = ::SSL_new(m_tlsContext);
    const int fd = lockedSocket();
    if (m_tls == nullptr || fd < 0 || ::SSL_set_fd(m_tls, fd) != 1)
        raise(msg::k_disconnected);
    // servers that close without a TLS goodbye end the data like a plain close
    ::SSL_set_options(m_tls, SSL_OP_IGNORE_UNEXPECTED_EOF);
    ::SSL_set_mode(m_tls, SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    in_addr ip{};
    if (::inet_pton(AF_INET, serverName.c_str(), &ip) == 1) {
        ::X509_VERIFY_PARAM_set1_ip_asc(::SSL_get0_param(m_tls), serverName.c_str());
    } else {
        ::SSL_set_tlsext_host_name(m_tls, serverName.c_str());
        ::SSL_set1_host(m_tls, serverName.c_str());
    }
    for (;;) {
        ::ERR_clear_error();
        const int r = ::SSL_connect(m_tls);
        if (r == 1)
            break;
        const int error = ::SSL_get_error(m_tls, r);
        if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
            waitFor(error == SSL_ERROR_WANT_READ ? Wait::Read : Wait::Write);
            if (lockedSocket() < 0)
                raise(msg::k_disconnected);
            continue;
        }
        checkCancel();
        if (lockedSocket() < 0)
            raise(msg::k_disconnected);
        const long verify = ::SSL_get_verify_result(m_tls);
        if (verify != X509_V_OK)
            raiseTls(::X509_verify_cert_error_string(verify));
        const unsigned long reason = ::ERR_peek_error();
        raiseTls(reason != 0 ? ::ERR_reason_error_string(reason) : "the server ended the handshake");
    }
    log(FlowLog::k_incoming,
        std::string("Secured with ") + ::SSL_get_version(m_tls) + " " + ::SSL_get_cipher_name(m_tls));
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
