#pragma once

#include "base/threadsafety.h"
#include "tasks/taskhost.h"

#include <atomic>
#include <cstddef>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

struct ssl_st;
struct ssl_ctx_st;

namespace tarnwick::net {

class FlowLog;

// The messages of every network failure.
namespace msg {
inline constexpr const char* k_cancelled = "Operation canceled.";
inline constexpr const char* k_noSockets = "Network: Sockets are not available.";
inline constexpr const char* k_unreachable = "Network: Unable to reach server (no IP connectivity).";
inline constexpr const char* k_noSocket = "Network: Can't get a socket.";
inline constexpr const char* k_refused = "Network: Unable to initiate session (connection refused).";
inline constexpr const char* k_cantConnect = "Network: Unable to initiate session (can't connect).";
inline constexpr const char* k_disconnected = "Network: Disconnected by server.";
inline constexpr const char* k_unknown = "Network: Unknown error.";
inline constexpr const char* k_badUrl = "HttpGet: Bad URL.";
inline constexpr const char* k_httpFailed = "HttpGet: HTTP Get Failed.";
inline constexpr const char* k_protocol = "SMTP: Protocol error.";
inline constexpr const char* k_badSender = "SMTP: Error in sender's e-mail address.";
inline constexpr const char* k_badRecipient = "SMTP: Error in recipient's e-mail address.";
inline constexpr const char* k_noHtml = "SendMail: HTML format not supported at this time.";
inline constexpr const char* k_noAttachments = "SendMail: Attached files not supported at this time.";
inline constexpr const char* k_tlsFailed = "TLS: Secure connection failed.";
inline constexpr const char* k_noStartTls = "The SMTP server does not offer STARTTLS, so the password was not sent. "
                                            "Set SmtpSecurity to none to send it in clear.";
} // namespace msg

// Scans a reply for its final line: a line whose fourth character is not "-".
// Returns the length of the complete reply (through its final line feed), or
// none while more bytes are needed. `lineStart` carries the scan position
// between calls on a growing buffer (0 at first).
std::optional<std::size_t> findReplyEnd(std::string_view reply, std::size_t& lineStart);
// Whether the decimal number at the start of `reply` (its leading digits, none
// meaning 0) equals `code`.
bool replyHasCode(std::string_view reply, int code);

// One client TCP connection, used by one request on one worker thread. Every
// wait polls the socket in steps of 50 ms and checks the request's cancel byte.
// Every failure logs its message and throws tasks::CAppError.
class SocketConnection final : public tasks::Cancellable {
public:
    static constexpr int k_pollMs = 50;
    static constexpr std::size_t k_chunk = 16384;
    static constexpr std::size_t k_replyChunk = 4091;
    // A reply that grows past this without its final line fails its step.
    static constexpr std::size_t k_maxReply = 64 * 1024;

    SocketConnection(const std::atomic<char>& cancel, FlowLog* flowLog, std::string label);
    ~SocketConnection() override;
    SocketConnection(const SocketConnection&) = delete;
    SocketConnection& operator=(const SocketConnection&) = delete;

    // `address` is a host name or dotted IPv4 address, optionally ":" port.
    void connect(std::string_view address, int defaultPort);
    // Sends all of `data`; the log shows `displayText` instead when given.
    void send(std::string_view data, std::optional<std::string_view> displayText = std::nullopt);
    // Receives until the server closes, or until `complete` says the bytes so
    // far are the whole answer; stops early once more than `limit` bytes have
    // arrived (the caller decides what that means).
    std::string receiveAll(bool sizesOnly, std::size_t limit = std::numeric_limits<std::size_t>::max(),
                           const std::function<bool(std::string_view)>& complete = {});
    // The same, the bytes held by the connection: valid until the next receive or the connection's end.
    std::string_view receive(bool sizesOnly, std::size_t limit = std::numeric_limits<std::size_t>::max(),
                             const std::function<bool(std::string_view)>& complete = {});
    // Reads the server's next complete reply and tells whether it carries `code`.
    bool expectReply(int code);
    // The last reply expectReply read, whole.
    const std::string& lastReply() const { return m_lastReply; }
    std::string localHostName();

    // Turns the connected socket into TLS: the server must show a certificate for `serverName` (a host name
    // or dotted address, sent as SNI when it is a name) that a CA of `caFile` (empty: the system's store)
    // vouches for. Every later send and receive is encrypted and keeps the 50 ms poll cycle.
    void startTls(const std::string& serverName, const std::string& caFile);
    bool secured() const { return m_tls != nullptr; }

    // From any thread: the socket is shut down and every further call fails.
    void cancel();
    void cancelAll() override { cancel(); }

    // Logs `message` (status kind) when there is a flow log, then throws it.
    [[noreturn]] void raise(const std::string& message);
    void log(int kind, std::string_view message);

private:
    enum class Wait { Read, Write };
    int lockedSocket();
    void waitFor(Wait what);
    void checkCancel();
    // One read of at most `size` bytes once the socket is readable; 0 when the
    // server closed, which raises "Disconnected by server" when `closeIsError`.
    std::size_t receivePart(char* buffer, std::size_t size, bool closeIsError);
    // One TLS read or write; the byte count, 0 when the peer closed, or -1 when the call must wait for
    // `m_tlsWait` first.
    long tlsTransfer(bool write, char* buffer, std::size_t size);
    [[noreturn]] void raiseTls(const std::string& detail);

    const std::atomic<char>& m_cancel;
    FlowLog* m_flowLog;
    std::string m_label;
    Mutex m_mutex;
    int m_socket GUARDED_BY(m_mutex) = -1;
    bool m_cancelled GUARDED_BY(m_mutex) = false;
    ssl_ctx_st* m_tlsContext = nullptr;
    ssl_st* m_tls = nullptr;
    std::string m_lastReply;
    // what receive() read: its bytes are never cleared before the socket fills them
    std::unique_ptr<char[]> m_received;
    std::size_t m_receivedCapacity = 0;
    Wait m_tlsWait = Wait::Read; // what the last TLS call that could not go on must wait for
};

} // namespace tarnwick::net
