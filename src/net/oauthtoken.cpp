#include "net/oauthtoken.h"

#include "net/flowlog.h"
#include "net/httpget.h"
#include "net/socketconnection.h"

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace tarnwick::net {

namespace {

constexpr std::size_t k_maxAnswer = 256 * 1024;
constexpr int k_answerSeconds = 60;

// Sets its own cancel byte once `wait` has passed, or as soon as the caller's is set.
class AnswerDeadline {
public:
    AnswerDeadline(const std::atomic<char>* callerCancel, std::chrono::seconds wait)
        : m_thread([this, callerCancel, wait] {
              const auto end = std::chrono::steady_clock::now() + wait;
              std::unique_lock lock(m_mutex);
              while (!m_done) {
                  if (callerCancel && callerCancel->load() != 0) {
                      m_cancel = 1;
                      return;
                  }
                  if (std::chrono::steady_clock::now() >= end) {
                      m_passed = true;
                      m_cancel = 1;
                      return;
                  }
                  m_wake.wait_for(lock, std::chrono::milliseconds(50));
              }
          })
    {
    }
    ~AnswerDeadline()
    {
        {
            std::lock_guard lock(m_mutex);
            m_done = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }
    AnswerDeadline(const AnswerDeadline&) = delete;
    AnswerDeadline& operator=(const AnswerDeadline&) = delete;

    const std::atomic<char>& cancel() const { return m_cancel; }
    bool passed() const { return m_passed.load(); }

private:
    std::atomic<char> m_cancel{0};
    std::atomic<bool> m_passed{false};
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_done = false;
    std::thread m_thread;
};

void skipBlanks(std::string_view text, std::size_t& i)
{
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\r' || text[i] == '\n'))
        ++i;
}

void appendUtf8(std::string& out, unsigned long cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::optional<unsigned long> hex4(std::string_view text, std::size_t at)
{
    if (at + 4 > text.size())
        return std::nullopt;
    unsigned long v = 0;
    for (std::size_t k = at; k < at + 4; ++k) {
        const char c = text[k];
        v <<= 4;
        if (c >= '0' && c <= '9')
            v |= static_cast<unsigned long>(c - '0');
        else if (c >= 'a' && c <= 'f')
            v |= static_cast<unsigned long>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            v |= static_cast<unsigned long>(c - 'A' + 10);
        else
            return std::nullopt;
    }
    return v;
}

// A JSON string starting at the quote at `i`; `i` ends past its closing quote.
std::optional<std::string> readString(std::string_view text, std::size_t& i)
{
    std::string out;
    for (++i; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') {
            ++i;
            return out;
        }
        if (static_cast<unsigned char>(c) < 0x20)
            return std::nullopt;
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i >= text.size())
            return std::nullopt;
        switch (text[i]) {
        case '"':
        case '\\':
        case '/':
            out += text[i];
            break;
        case 'b':
            out += '\b';
            break;
        case 'f':
            out += '\f';
            break;
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case 't':
            out += '\t';
            break;
        case 'u': {
            auto cp = hex4(text, i + 1);
            if (!cp)
                return std::nullopt;
            i += 4;
            // a surrogate pair makes one character; a lone half becomes U+FFFD
            if (*cp >= 0xD800 && *cp < 0xDC00 && i + 2 < text.size() && text[i + 1] == '\\' && text[i + 2] == 'u') {
                if (auto low = hex4(text, i + 3); low && *low >= 0xDC00 && *low < 0xE000) {
                    cp = 0x10000 + ((*cp - 0xD800) << 10) + (*low - 0xDC00);
                    i += 6;
                }
            }
            appendUtf8(out, *cp >= 0xD800 && *cp < 0xE000 ? 0xFFFD : *cp);
            break;
        }
        default:
            return std::nullopt;
        }
    }
    return std::nullopt;
}

// Passes over one nested object or array starting at `i`.
bool skipNested(std::string_view text, std::size_t& i)
{
    int depth = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '"') {
            if (!readString(text, i))
                return false;
            continue;
        }
        if (c == '{' || c == '[')
            ++depth;
        else if (c == '}' || c == ']')
            --depth;
        ++i;
        if (depth == 0)
            return true;
    }
    return false;
}

std::string statusWords(const OAuthReply& reply)
{
    std::string words = std::to_string(reply.status);
    if (const std::string error = reply.field("error"); !error.empty())
        words += " " + error;
    return words;
}

} // namespace

std::optional<std::map<std::string, std::string, std::less<>>> readJsonObject(std::string_view text)
{
    std::map<std::string, std::string, std::less<>> fields;
    std::size_t i = 0;
    skipBlanks(text, i);
    if (i >= text.size() || text[i] != '{')
        return std::nullopt;
    ++i;
    skipBlanks(text, i);
    if (i < text.size() && text[i] == '}') {
        ++i;
    } else {
        for (;;) {
            skipBlanks(text, i);
            if (i >= text.size() || text[i] != '"')
                return std::nullopt;
            auto name = readString(text, i);
            if (!name)
                return std::nullopt;
            skipBlanks(text, i);
            if (i >= text.size() || text[i] != ':')
                return std::nullopt;
            ++i;
            skipBlanks(text, i);
            if (i >= text.size())
                return std::nullopt;
            if (text[i] == '"') {
                auto value = readString(text, i);
                if (!value)
                    return std::nullopt;
                fields.insert_or_assign(std::move(*name), std::move(*value));
            } else if (text[i] == '{' || text[i] == '[') {
                if (!skipNested(text, i))
                    return std::nullopt;
            } else {
                const std::size_t start = i;
                while (i < text.size() && text[i] != ',' && text[i] != '}' && text[i] != ' ' && text[i] != '\r' &&
                       text[i] != '\n' && text[i] != '\t')
                    ++i;
                if (i == start)
                    return std::nullopt;
                fields.insert_or_assign(std::move(*name), std::string(text.substr(start, i - start)));
            }
            skipBlanks(text, i);
            if (i < text.size() && text[i] == ',') {
                ++i;
                continue;
            }
            if (i < text.size() && text[i] == '}') {
                ++i;
                break;
            }
            return std::nullopt;
        }
    }
    skipBlanks(text, i);
    if (i != text.size())
        return std::nullopt;
    return fields;
}

std::string formEncode(std::string_view text)
{
    static constexpr char k_hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size() * 3);
    for (char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if ((b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') || c == '-' || c == '.' ||
            c == '_' || c == '~') {
            out += c;
        } else {
            out += '%';
            out += k_hex[b >> 4];
            out += k_hex[b & 15];
        }
    }
    return out;
}

std::string OAuthReply::field(std::string_view name) const
{
    const auto it = fields.find(name);
    return it == fields.end() ? std::string() : it->second;
}

OAuthReply postOAuthForm(const OAuthPost& post)
{
    const std::string label = "OAuth: ";
    auto say = [&](int kind, const std::string& text) {
        if (post.flowLog)
            post.flowLog->log(kind, label, text);
    };
    std::optional<HttpTarget> target = parseHttpUrl(post.url);
    if (!isAllowedAuthorityUrl(post.url) || !target) {
        say(FlowLog::k_status, msg::k_badUrl);
        throw tasks::CAppError(msg::k_badUrl);
    }
    target->formBody = post.body;
    say(FlowLog::k_outgoing, "POST " + post.url + " (" + post.grantLabel + ") ...");

    // an authority that never answers must not hold the caller: the exchange is cancelled after a while
    AnswerDeadline deadline(post.cancel, std::chrono::seconds(k_answerSeconds));
    // the connection logs nothing: its bytes carry codes, secrets and tokens
    SocketConnection connection(deadline.cancel(), nullptr, label);
    try {
        connection.connect(target->hostPart, target->defaultPort);
        if (target->tls)
            connection.startTls(target->tlsHost, post.caFile);
        connection.send(buildHttpRequest(*target, "Tarnwick"));
        HttpResponseEnd end;
        const std::string response = connection.receiveAll(false, k_maxAnswer, [&end](std::string_view received) {
            const auto total = end.totalLength(received);
            return total && received.size() >= *total;
        });
        OAuthReply reply;
        const std::size_t blank = response.find(' ');
        const std::size_t headersEnd = response.find("\r\n\r\n");
        if (response.size() > k_maxAnswer || blank == std::string::npos || headersEnd == std::string::npos ||
            response.compare(0, 4, "HTTP") != 0)
            throw tasks::CAppError(msg::k_httpFailed);
        reply.status = std::atoi(response.c_str() + blank + 1);
        std::string_view body = std::string_view(response).substr(headersEnd + 4);
        if (const auto total = end.totalLength(response); total && *total <= response.size())
            body = std::string_view(response).substr(headersEnd + 4, *total - headersEnd - 4);
        auto fields = readJsonObject(body);
        if (!fields)
            throw tasks::CAppError(std::string(msg::k_httpFailed) + " (" + std::to_string(reply.status) +
                                   ", the authority's answer is no JSON object)");
        reply.fields = std::move(*fields);
        say(FlowLog::k_incoming, "Answer " + statusWords(reply));
        return reply;
    } catch (const tasks::CAppError& e) {
        if (deadline.passed()) {
            const std::string late =
                "The sign-in authority did not answer within " + std::to_string(k_answerSeconds) + " seconds.";
            say(FlowLog::k_status, late);
            throw tasks::CAppError(late);
        }
        say(FlowLog::k_status, e.message());
        throw;
    }
}

namespace {

// An authority's word as the message shows it: one line, control bytes as blanks, at most 300 bytes, so that
// no answer writes lines of its own into the log or a box.
std::string authorityWords(std::string_view text)
{
    std::string line(text.substr(0, 300));
    for (char& c : line) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = ' ';
    }
    return line;
}

} // namespace

OAuthRefusal::OAuthRefusal(std::string code, const std::string& description)
    : tasks::CAppError("The sign-in authority refused: " + authorityWords(code) +
                       (description.empty() ? "" : " (" + authorityWords(description) + ")")),
      m_code(std::move(code))
{
}

OAuthTokens requestTokens(const OAuthClient& client, const std::string& grantFields, const std::string& grantLabel,
                          FlowLog* flowLog, const std::atomic<char>* cancel)
{
    OAuthPost post;
    post.url = client.endpoints.tokenUrl;
    post.body = grantFields + "&client_id=" + formEncode(client.clientId);
    if (!client.clientSecret.empty())
        post.body += "&client_secret=" + formEncode(client.clientSecret);
    post.caFile = client.caFile;
    post.grantLabel = grantLabel;
    post.flowLog = flowLog;
    post.cancel = cancel;
    const OAuthReply reply = postOAuthForm(post);
    if (const std::string error = reply.field("error"); !error.empty() || reply.status != 200)
        throw OAuthRefusal(error.empty() ? "HTTP " + std::to_string(reply.status) : error,
                           reply.field("error_description"));
    OAuthTokens tokens;
    tokens.accessToken = reply.field("access_token");
    tokens.refreshToken = reply.field("refresh_token");
    tokens.expiresIn = std::atol(reply.field("expires_in").c_str());
    tokens.scope = reply.field("scope");
    if (tokens.accessToken.empty())
        throw tasks::CAppError("The sign-in authority's answer holds no access token.");
    return tokens;
}

OAuthTokens refreshTokens(const OAuthClient& client, const std::string& refreshToken, FlowLog* flowLog,
                          const std::atomic<char>* cancel)
{
    std::string fields = "grant_type=refresh_token&refresh_token=" + formEncode(refreshToken);
    // some authorities want the scope again on every refresh
    if (!client.endpoints.scope.empty())
        fields += "&scope=" + formEncode(client.endpoints.scope);
    return requestTokens(client, fields, "refresh_token", flowLog, cancel);
}

} // namespace tarnwick::net
