#pragma once

#include "tasks/taskhost.h"
#include "tasks/workertask.h"

#include <atomic>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::net {

class FlowLog;

// One page to fetch. Each job of a task works on its own copy; a copy gets a
// new, empty slot.
struct HttpRequest {
    tasks::CancelByte cancel;
    std::string userAgent = "HttpGet";
    std::string url;
    // set when `url` was rewritten to go through the proxy ("http://proxy//host/path")
    bool viaProxy = false;
    // certificate authorities for https (a PEM file); empty: the system's store
    std::string caFile;
    // further "Name: value" header lines (the rules' headers); a line with CR or LF is refused. The flow
    // log shows their values masked.
    std::vector<std::string> headers;
    // when set: a 429 or 503 answer with a Retry-After of seconds leaves those seconds here
    std::shared_ptr<std::atomic<int>> retryAfter;
    // when set: the Content-Type of the page is left here (it may name the page's character set)
    std::shared_ptr<std::string> contentType;
    bool sizesOnly = false;
    FlowLog* flowLog = nullptr;
    std::string label;
    tasks::ConnectionSlot slot;

    HttpRequest() = default;
    HttpRequest(FlowLog* log, std::string labelText, bool sizes)
        : sizesOnly(sizes), flowLog(log), label(std::move(labelText))
    {
    }
};

// The largest response a fetch accepts.
inline constexpr std::size_t k_maxResponseBytes = 64u * 1024u * 1024u;

// What a URL asks for: where to connect and what to send.
struct HttpTarget {
    std::string hostPart;      // host[:port] to connect to
    int defaultPort = 80;      // when hostPart names none
    std::string requestTarget; // path (query included) as the request line names it
    std::string hostHeader;    // the Host header's value
    std::string formBody;      // non-empty: a POST
    bool tls = false;          // https: the exchange runs over TLS
    std::string tlsHost;       // the name the server's certificate must carry
    std::string tunnel;        // non-empty: host:port that the proxy connects through with CONNECT first
};

// Parses a URL; none when it is empty, holds a control character or names
// another scheme than http and https. Through a proxy the path "//host/path"
// names the page's own address; sent direct, a path that begins with "//" is
// just a path. An https page through a proxy goes through a CONNECT tunnel.
std::optional<HttpTarget> parseHttpUrl(std::string_view url, bool viaProxy = false);
// The exact request text for `target`, `headers` after Host. With `masked` each of those headers'
// values reads "***" (the flow log's copy).
std::string buildHttpRequest(const HttpTarget& target, std::string_view userAgent,
                             const std::vector<std::string>& headers = {}, bool masked = false);
// The message of a request header with CR, LF or another control byte in it.
inline constexpr const char* k_badHeader = "HttpGet: Bad request header.";

// The seconds a 429 or 503 response asks the client to wait before it tries again (its
// Retry-After in seconds); none for any other status or without a number there.
std::optional<int> retryAfterSeconds(std::string_view response);

// The outcome of reading a response: the error message (empty on success)
// and where the body begins.
struct HttpResponseCheck {
    std::string error;
    std::size_t bodyStart = 0;
};
HttpResponseCheck checkHttpResponse(std::string_view response);

// Watches a response as it arrives: once its headers are complete and name a
// Content-Length, the response ends after that many body bytes, whether or not
// the server closes the connection.
class HttpResponseEnd {
public:
    // The whole response's length, when the bytes received so far tell it.
    std::optional<std::size_t> totalLength(std::string_view received);

private:
    std::size_t m_scanned = 0;
    bool m_headersDone = false;
    std::optional<std::size_t> m_total;
};

// Fetches one page with HTTP/1.0 and returns its body; throws tasks::CAppError.
std::string HttpGet(HttpRequest& request);

// Fetches every request in parallel as one worker task; the bodies come back in
// request order, or the CAppError family is thrown.
std::vector<std::string> runPageFetchTask(tasks::TaskHost& host, const std::vector<HttpRequest>& requests,
                                          const int& timeoutMs);

// The same fetch started now and finished later (finish waits as runPageFetchTask does), so that the caller
// can read one page while the next is on its way.
using PageFetchTask = tasks::WorkerTask<HttpRequest, std::string>;
std::unique_ptr<PageFetchTask> startPageFetchTask(tasks::TaskHost& host, const std::vector<HttpRequest>& requests);

// Puts a proxy in front of a URL: "//" + proxy after the first five characters
// ("http:"), or six for an https URL, when both are non-empty.
std::string proxyRewrite(std::string_view url, std::string_view proxyServer);
// Sets the request's URL to `url`, through `proxyServer` when one is given.
void setRequestUrl(HttpRequest& request, std::string_view url, std::string_view proxyServer);

} // namespace tarnwick::net
