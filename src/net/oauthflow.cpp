#include "net/oauthflow.h"

#include "net/base64.h"
#include "net/flowlog.h"
#include "net/socketconnection.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <list>
#include <map>
#include <netinet/in.h>
#include <openssl/rand.h>
#include <openssl/sha.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace tarnwick::net {

namespace {

std::string base64Url(std::string_view bytes)
{
    std::string text = base64Encode(bytes);
    while (!text.empty() && text.back() == '=')
        text.pop_back();
    for (char& c : text) {
        if (c == '+')
            c = '-';
        else if (c == '/')
            c = '_';
    }
    return text;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string percentDecode(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out += ' ';
        } else if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 && hexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::map<std::string, std::string, std::less<>> queryFields(std::string_view query)
{
    std::map<std::string, std::string, std::less<>> fields;
    while (!query.empty()) {
        const std::size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        const std::size_t eq = pair.find('=');
        fields.emplace(percentDecode(pair.substr(0, eq)),
                       eq == std::string_view::npos ? std::string() : percentDecode(pair.substr(eq + 1)));
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
    }
    return fields;
}

// A socket descriptor that closes with its owner.
class Descriptor {
public:
    explicit Descriptor(int fd = -1) : m_fd(fd) {}
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

using Clock = std::chrono::steady_clock;

bool cancelled(const SignInHooks& hooks)
{
    return (hooks.cancel && hooks.cancel->load() != 0) || (hooks.stopRequested && hooks.stopRequested());
}

void answerBrowser(int fd, int status, std::string_view text)
{
    const std::string body = "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Tarnwick</title></head>"
                             "<body><p>" +
                             std::string(text) + "</p></body></html>\n";
    const std::string reply =
        "HTTP/1.1 " + std::to_string(status) + (status == 200 ? " OK" : " Bad Request") +
        "\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " + std::to_string(body.size()) +
        "\r\nConnection: close\r\n\r\n" + body;
    std::size_t sent = 0;
    while (sent < reply.size()) {
        const ssize_t n = ::send(fd, reply.data() + sent, reply.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            break;
        sent += static_cast<std::size_t>(n);
    }
}

// The request line's target of a whole GET request; empty for anything else.
std::string requestTarget(std::string_view request)
{
    if (request.compare(0, 4, "GET ") != 0)
        return {};
    const std::size_t end = request.find(' ', 4);
    return end == std::string_view::npos ? std::string() : std::string(request.substr(4, end - 4));
}

// One connection from the browser, read until its request is whole. A browser may open connections it sends
// nothing on (a speculative one beside the real one): each is read on its own, so none holds up another.
struct Visitor {
    explicit Visitor(int fd) : socket(fd) {}
    Descriptor socket;
    std::string request;
    Clock::time_point deadline = Clock::now() + std::chrono::seconds(10);
};
constexpr std::size_t k_mostVisitors = 8;
constexpr std::size_t k_longestRequest = 16384;

} // namespace

std::string randomToken(std::size_t bytes)
{
    std::string raw(bytes, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char*>(raw.data()), static_cast<int>(raw.size())) != 1)
        throw tasks::CAppError("No random numbers for the sign-in.");
    return base64Url(raw);
}

std::string pkceChallenge(std::string_view verifier)
{
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(verifier.data()), verifier.size(), digest);
    return base64Url(std::string_view(reinterpret_cast<const char*>(digest), sizeof digest));
}

PkcePair makePkcePair()
{
    PkcePair pair;
    pair.verifier = randomToken(48); // 64 characters, within the 43 to 128 allowed
    pair.challenge = pkceChallenge(pair.verifier);
    return pair;
}

bool openWithXdgOpen(const std::string& url)
{
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if ((!display || !*display) && (!wayland || !*wayland))
        return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::string program = "xdg-open";
    std::string argument = url;
    char* argv[] = {program.data(), argument.data(), nullptr};
    pid_t pid = 0;
    const int rc = ::posix_spawnp(&pid, "xdg-open", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return false;
    // the browser may outlive the sign-in: its starter is reaped aside
    std::thread([pid] {
        int status = 0;
        ::waitpid(pid, &status, 0);
    }).detach();
    return true;
}

OAuthTokens signInWithBrowser(const OAuthClient& client, const SignInHooks& hooks)
{
    if (!isAllowedAuthorityUrl(client.endpoints.authorizeUrl))
        throw tasks::CAppError(msg::k_badUrl);
    Descriptor listener(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener.get() < 0 || ::bind(listener.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener.get(), 4) != 0 ||
        ::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw tasks::CAppError(msg::k_noSocket);
    const std::string redirectUri =
        "http://" + client.redirectHost + ":" + std::to_string(ntohs(address.sin_port)) + "/";

    const PkcePair pkce = makePkcePair();
    const std::string state = randomToken(16);
    const std::string& base = client.endpoints.authorizeUrl;
    const std::string url = base + (base.find('?') == std::string::npos ? "?" : "&") +
                            "response_type=code&client_id=" + formEncode(client.clientId) +
                            "&redirect_uri=" + formEncode(redirectUri) +
                            "&scope=" + formEncode(client.endpoints.scope) + "&state=" + formEncode(state) +
                            "&code_challenge=" + pkce.challenge + "&code_challenge_method=S256";
    if (hooks.flowLog)
        hooks.flowLog->log(FlowLog::k_status, "OAuth: ", "Waiting for the browser sign-in at " + redirectUri);
    if (!hooks.openBrowser || !hooks.openBrowser(url)) {
        if (hooks.tell)
            hooks.tell("Open this address in a browser to sign in:\n" + url);
    } else if (hooks.tell) {
        hooks.tell("Sign in in the browser window that opened. If none did, open this address:\n" + url);
    }

    const auto deadline = Clock::now() + std::chrono::seconds(hooks.browserTimeoutSeconds);
    std::map<std::string, std::string, std::less<>> answer;
    std::list<Visitor> visitors;
    for (bool answered = false; !answered;) {
        if (cancelled(hooks))
            throw tasks::CAppError(msg::k_cancelled);
        if (Clock::now() >= deadline)
            throw tasks::CAppError("No answer came from the browser sign-in within " +
                                   std::to_string(hooks.browserTimeoutSeconds) + " seconds; sign in again.");
        std::vector<pollfd> ready{{listener.get(), POLLIN, 0}};
        for (const Visitor& v : visitors)
            ready.push_back({v.socket.get(), POLLIN, 0});
        if (::poll(ready.data(), ready.size(), SocketConnection::k_pollMs) < 0 && errno != EINTR)
            throw tasks::CAppError(msg::k_noSocket);
        std::size_t index = 1;
        for (auto v = visitors.begin(); v != visitors.end() && !answered; ++index) {
            bool done = Clock::now() >= v->deadline;
            if (!done && index < ready.size() && (ready[index].revents & (POLLIN | POLLHUP | POLLERR))) {
                char buffer[2048];
                const ssize_t n = ::recv(v->socket.get(), buffer, sizeof buffer, MSG_DONTWAIT);
                if (n > 0)
                    v->request.append(buffer, static_cast<std::size_t>(n));
                done = n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR);
            }
            const bool whole =
                v->request.find("\r\n\r\n") != std::string::npos || v->request.size() >= k_longestRequest;
            if (!whole) {
                v = done ? visitors.erase(v) : std::next(v);
                continue;
            }
            const std::string target = requestTarget(v->request);
            const int fd = v->socket.get();
            answer.clear();
            if (const std::size_t mark = target.find('?'); mark != std::string::npos)
                answer = queryFields(std::string_view(target).substr(mark + 1));
            if (answer.count("code") == 0 && answer.count("error") == 0) {
                // a request that is no answer (a page icon, a stray visit) is turned away and the wait goes on
                answerBrowser(fd, 400, "This address only receives Tarnwick's sign-in.");
                v = visitors.erase(v);
                continue;
            }
            const auto stateField = answer.find("state");
            if (stateField == answer.end() || stateField->second != state) {
                answerBrowser(fd, 400, "Tarnwick did not accept this sign-in.");
                throw tasks::CAppError("The sign-in's answer does not carry the state Tarnwick sent, so it was not "
                                       "accepted; sign in again.");
            }
            if (answer.count("error") != 0) {
                answerBrowser(fd, 400, "The sign-in was not completed. You can close this window.");
                throw OAuthRefusal(answer["error"], answer["error_description"]);
            }
            answerBrowser(fd, 200, "Tarnwick is signed in. You can close this window.");
            answered = true;
        }
        // new connections join after the ones read above, whose places in `ready` they would shift
        if (!answered && (ready.front().revents & POLLIN)) {
            if (const int fd = ::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC); fd >= 0) {
                if (visitors.size() == k_mostVisitors)
                    visitors.pop_front(); // the one waited for longest gives way
                visitors.emplace_back(fd);
            }
        }
    }
    return requestTokens(client,
                         "grant_type=authorization_code&code=" + formEncode(answer["code"]) +
                             "&redirect_uri=" + formEncode(redirectUri) + "&code_verifier=" + pkce.verifier,
                         "authorization_code", hooks.flowLog, hooks.cancel);
}

OAuthTokens signInWithDevice(const OAuthClient& client, const SignInHooks& hooks)
{
    if (client.endpoints.deviceUrl.empty())
        throw tasks::CAppError("The sign-in authority offers no sign-in by code (OAuthDeviceUrl is empty).");
    OAuthPost post;
    post.url = client.endpoints.deviceUrl;
    post.body = "client_id=" + formEncode(client.clientId) + "&scope=" + formEncode(client.endpoints.scope);
    post.caFile = client.caFile;
    post.grantLabel = "device code";
    post.flowLog = hooks.flowLog;
    post.cancel = hooks.cancel;
    const OAuthReply device = postOAuthForm(post);
    const std::string deviceCode = device.field("device_code");
    if (device.status != 200 || deviceCode.empty())
        throw OAuthRefusal(device.field("error").empty() ? "HTTP " + std::to_string(device.status)
                                                         : device.field("error"),
                           device.field("error_description"));
    // Google names the address verification_url
    std::string where = device.field("verification_uri");
    if (where.empty())
        where = device.field("verification_url");
    if (hooks.tell)
        hooks.tell("To sign in, open " + where + " and enter the code " + device.field("user_code"));

    // the authority's numbers, kept within sense: a poll at least every five minutes, a wait of at most a day
    constexpr long k_longestInterval = 300;
    constexpr long k_longestWait = 24 * 3600;
    const long given = std::atol(device.field("interval").c_str());
    int interval = static_cast<int>(given > 0 ? std::min(given, k_longestInterval) : 5);
    const long lifetime = std::atol(device.field("expires_in").c_str());
    const auto deadline = Clock::now() + std::chrono::seconds(lifetime > 0 ? std::min(lifetime, k_longestWait) : 900);
    const std::string grant = "grant_type=" + formEncode("urn:ietf:params:oauth:grant-type:device_code") +
                              "&device_code=" + formEncode(deviceCode);
    for (;;) {
        if (Clock::now() >= deadline)
            throw OAuthRefusal("expired_token", "");
        if (cancelled(hooks) || (hooks.wait && !hooks.wait(interval)))
            throw tasks::CAppError(msg::k_cancelled);
        try {
            return requestTokens(client, grant, "device_code", hooks.flowLog, hooks.cancel);
        } catch (const OAuthRefusal& refusal) {
            if (refusal.code() == "slow_down")
                interval = static_cast<int>(std::min<long>(interval + 5, k_longestInterval));
            else if (refusal.code() != "authorization_pending")
                throw;
        }
    }
}

} // namespace tarnwick::net
