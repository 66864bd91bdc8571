#include "net/httpget.h"

#include "net/flowlog.h"
#include "net/socketconnection.h"
#include "tasks/errors.h"

#include <cctype>

namespace tarnwick::net {

namespace {

bool startsWithNoCase(std::string_view text, std::string_view prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    }
    return true;
}

[[noreturn]] void raiseWithoutConnection(const HttpRequest& request, const std::string& message)
{
    if (request.flowLog != nullptr)
        request.flowLog->log(FlowLog::k_status, request.label, message);
    throw tasks::CAppError(message);
}

} // namespace

std::optional<HttpTarget> parseHttpUrl(std::string_view url, bool viaProxy)
{
    if (url.empty())
        return std::nullopt;
    // a control character would end the request line early and let the address write headers
    for (char c : url) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            return std::nullopt;
    }
    if (url.front() == '"' || url.front() == '\'') {
        url.remove_prefix(1);
        if (!url.empty())
            url.remove_suffix(1);
    }
    HttpTarget target;
    if (startsWithNoCase(url, "http://")) {
        url.remove_prefix(7);
    } else if (startsWithNoCase(url, "https://")) {
        url.remove_prefix(8);
        target.tls = true;
    }
    if (url.find("://") != std::string_view::npos)
        return std::nullopt;

    std::string_view path = "/";
    if (const std::size_t slash = url.find('/'); slash != std::string_view::npos) {
        target.hostPart = std::string(url.substr(0, slash));
        path = url.substr(slash);
    } else {
        target.hostPart = std::string(url);
    }
    if (const std::size_t form = path.find("??"); form != std::string_view::npos) {
        target.formBody = std::string(path.substr(form + 2));
        path = path.substr(0, form);
    }

    std::string escaped;
    escaped.reserve(path.size() + 16);
    for (char c : path) {
        if (c == ' ')
            escaped += "%20";
        else
            escaped += c;
    }

    target.hostHeader = target.hostPart;
    target.tlsHost = target.hostPart.substr(0, target.hostPart.find(':'));
    target.defaultPort = target.tls ? 443 : 80;
    if (viaProxy && target.tls && escaped.size() >= 2 && escaped[0] == '/' && escaped[1] == '/') {
        // the proxy only relays: it connects to the page's host, and TLS runs end to end through it
        const std::size_t originEnd = escaped.find('/', 2);
        target.hostHeader = escaped.substr(2, originEnd == std::string::npos ? std::string::npos : originEnd - 2);
        target.tlsHost = target.hostHeader.substr(0, target.hostHeader.find(':'));
        target.tunnel = target.hostHeader;
        if (target.tunnel.find(':') == std::string::npos)
            target.tunnel += ":443";
        target.requestTarget = originEnd == std::string::npos ? std::string("/") : escaped.substr(originEnd);
        target.defaultPort = 80;
    } else if (viaProxy && escaped.size() >= 2 && escaped[0] == '/' && escaped[1] == '/') {
        // the proxy wants the absolute address, and the Host header names the page's own host
        const std::size_t originEnd = escaped.find('/', 2);
        target.hostHeader = escaped.substr(2, originEnd == std::string::npos ? std::string::npos : originEnd - 2);
        target.requestTarget = "http:" + escaped;
        if (originEnd == std::string::npos)
            target.requestTarget += '/';
    } else {
        target.requestTarget = std::move(escaped);
    }
    return target;
}

std::string buildHttpRequest(const HttpTarget& target, std::string_view userAgent,
                             const std::vector<std::string>& headers, bool masked)
{
    const bool post = !target.formBody.empty();
    std::string text;
    text.reserve(256 + target.requestTarget.size() + target.formBody.size());
    text += post ? "POST " : "GET ";
    text += target.requestTarget;
    text += " HTTP/1.0\r\nAccept: */*\r\nAccept-Language: en-us\r\nCache-Control: no-cache\r\nPragma: "
            "no-cache\r\nUser-Agent: ";
    text += userAgent;
    text += "\r\nHost: ";
    text += target.hostHeader;
    text += "\r\n";
    for (const std::string& header : headers) {
        const std::size_t colon = header.find(':');
        text += masked && colon != std::string::npos ? header.substr(0, colon) + ": ***" : header;
        text += "\r\n";
    }
    if (post) {
        text += "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: ";
        text += std::to_string(target.formBody.size());
        text += "\r\n";
    }
    text += "\r\n";
    text += target.formBody;
    return text;
}

HttpResponseCheck checkHttpResponse(std::string_view response)
{
    HttpResponseCheck check;
    const std::size_t lineEnd = response.find_first_of("\r\n");
    if (lineEnd == std::string_view::npos) {
        check.error = msg::k_httpFailed;
        return check;
    }
    const std::string_view status = response.substr(0, std::min<std::size_t>(lineEnd, 255));
    // the status code is the three digits right after the first blank, and a blank follows them
    const std::size_t blank = status.find(' ');
    const bool ok =
        startsWithNoCase(status, "HTTP") && blank != std::string_view::npos && status.substr(blank + 1, 4) == "200 ";
    if (!ok) {
        check.error = msg::k_httpFailed;
        if (blank != std::string_view::npos) {
            check.error += " (";
            check.error += status.substr(blank + 1);
            check.error += ")";
            if (check.error.size() > 254)
                check.error.resize(254);
        }
        return check;
    }
    const std::size_t headersEnd = response.find("\r\n\r\n");
    if (headersEnd == std::string_view::npos) {
        check.error = msg::k_httpFailed;
        return check;
    }
    check.bodyStart = headersEnd + 4;
    return check;
}

namespace {

bool isHeaderBlank(char c)
{
    return c == ' ' || c == '\t';
}

// The Content-Length that the header lines `headers` (status line first, each
// line ending in CR LF) give without doubt; none when absent, malformed, named
// twice with different values, or beside a Transfer-Encoding.
std::optional<std::size_t> contentLength(std::string_view headers)
{
    std::optional<std::size_t> length;
    bool conflict = false;
    std::size_t pos = headers.find("\r\n");
    while (pos != std::string_view::npos && pos + 2 < headers.size()) {
        const std::size_t start = pos + 2;
        pos = headers.find("\r\n", start);
        const std::string_view line =
            headers.substr(start, pos == std::string_view::npos ? std::string_view::npos : pos - start);
        if (startsWithNoCase(line, "transfer-encoding:"))
            return std::nullopt;
        if (!startsWithNoCase(line, "content-length:"))
            continue;
        std::size_t i = 15;
        while (i < line.size() && isHeaderBlank(line[i]))
            ++i;
        const std::size_t digits = i;
        std::size_t value = 0;
        while (i < line.size() && line[i] >= '0' && line[i] <= '9' && i - digits < 18)
            value = value * 10 + static_cast<std::size_t>(line[i++] - '0');
        const bool digitsSeen = i > digits;
        while (i < line.size() && isHeaderBlank(line[i]))
            ++i;
        if (!digitsSeen || i != line.size() || (length && *length != value))
            conflict = true;
        length = value;
    }
    if (conflict)
        return std::nullopt;
    return length;
}

// The value of the first header line named `name` (colon included) in `headers`, without the blanks around it;
// empty when there is none.
std::string headerValue(std::string_view headers, std::string_view name)
{
    for (std::size_t pos = headers.find("\r\n"); pos != std::string_view::npos;) {
        const std::size_t start = pos + 2;
        pos = headers.find("\r\n", start);
        std::string_view line =
            headers.substr(start, pos == std::string_view::npos ? std::string_view::npos : pos - start);
        if (!startsWithNoCase(line, name))
            continue;
        line.remove_prefix(name.size());
        while (!line.empty() && isHeaderBlank(line.front()))
            line.remove_prefix(1);
        while (!line.empty() && isHeaderBlank(line.back()))
            line.remove_suffix(1);
        return std::string(line);
    }
    return {};
}

} // namespace

std::optional<std::size_t> HttpResponseEnd::totalLength(std::string_view received)
{
    if (!m_headersDone) {
        const std::size_t end = received.find("\r\n\r\n", m_scanned >= 3 ? m_scanned - 3 : 0);
        if (end == std::string_view::npos) {
            m_scanned = received.size();
            return std::nullopt;
        }
        m_headersDone = true;
        if (const auto length = contentLength(received.substr(0, end + 2)))
            m_total = end + 4 + *length;
    }
    return m_total;
}

std::optional<int> retryAfterSeconds(std::string_view response)
{
    const std::size_t blank = response.find(' ');
    if (blank == std::string_view::npos || !startsWithNoCase(response, "HTTP"))
        return std::nullopt;
    const std::string_view code = response.substr(blank + 1, 4);
    if (code != "429 " && code != "503 ")
        return std::nullopt;
    const std::size_t headersEnd = response.find("\r\n\r\n");
    const std::string_view headers = response.substr(0, headersEnd);
    for (std::size_t pos = headers.find("\r\n"); pos != std::string_view::npos;) {
        const std::size_t start = pos + 2;
        pos = headers.find("\r\n", start);
        std::string_view line =
            headers.substr(start, pos == std::string_view::npos ? std::string_view::npos : pos - start);
        if (!startsWithNoCase(line, "retry-after:"))
            continue;
        line.remove_prefix(12);
        while (!line.empty() && isHeaderBlank(line.front()))
            line.remove_prefix(1);
        while (!line.empty() && isHeaderBlank(line.back()))
            line.remove_suffix(1);
        if (line.empty() || line.size() > 9 || line.find_first_not_of("0123456789") != std::string_view::npos)
            return std::nullopt;
        return std::stoi(std::string(line));
    }
    return std::nullopt;
}

std::string HttpGet(HttpRequest& request)
{
    const std::optional<HttpTarget> target = parseHttpUrl(request.url, request.viaProxy);
    if (!target)
        raiseWithoutConnection(request, msg::k_badUrl);
    for (const std::string& header : request.headers) {
        for (char c : header) {
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
                raiseWithoutConnection(request, k_badHeader);
        }
    }

    SocketConnection connection(request.cancel, request.flowLog, request.label);
    tasks::SlotRegistration registration(request.slot, connection);
    connection.connect(target->hostPart, target->defaultPort);
    if (!target->tunnel.empty()) {
        connection.send("CONNECT " + target->tunnel + " HTTP/1.0\r\nHost: " + target->tunnel +
                        "\r\nUser-Agent: " + request.userAgent + "\r\n\r\n");
        // the proxy's answer is headers only; the server's TLS bytes follow only once the client speaks
        const std::string answer = connection.receiveAll(false, 64 * 1024, [](std::string_view received) {
            return received.find("\r\n\r\n") != std::string_view::npos;
        });
        const HttpResponseCheck tunnel = checkHttpResponse(answer);
        if (!tunnel.error.empty())
            connection.raise(tunnel.error);
    }
    if (target->tls)
        connection.startTls(target->tlsHost, request.caFile);
    if (request.headers.empty())
        connection.send(buildHttpRequest(*target, request.userAgent));
    else
        connection.send(buildHttpRequest(*target, request.userAgent, request.headers),
                        buildHttpRequest(*target, request.userAgent, request.headers, true));
    HttpResponseEnd end;
    std::string_view response =
        connection.receive(request.sizesOnly, k_maxResponseBytes, [&end](std::string_view received) {
            const auto total = end.totalLength(received);
            return total && received.size() >= *total;
        });
    if (response.size() > k_maxResponseBytes)
        connection.raise(std::string(msg::k_httpFailed) + " (response larger than 64 MiB)");
    const HttpResponseCheck check = checkHttpResponse(response);
    if (!check.error.empty()) {
        if (request.retryAfter)
            request.retryAfter->store(retryAfterSeconds(response).value_or(-1));
        connection.raise(check.error);
    }
    if (const auto total = end.totalLength(response)) {
        if (response.size() < *total)
            connection.raise(std::string(msg::k_httpFailed) + " (incomplete response)");
        response = response.substr(0, *total);
    }
    if (request.contentType)
        *request.contentType = headerValue(response.substr(0, check.bodyStart), "content-type:");
    return std::string(response.substr(check.bodyStart));
}

std::vector<std::string> runPageFetchTask(tasks::TaskHost& host, const std::vector<HttpRequest>& requests,
                                          const int& timeoutMs)
{
    PageFetchTask task(host, HttpGet);
    return task.run(requests, timeoutMs);
}

std::unique_ptr<PageFetchTask> startPageFetchTask(tasks::TaskHost& host, const std::vector<HttpRequest>& requests)
{
    auto task = std::make_unique<PageFetchTask>(host, HttpGet);
    task->start(requests);
    return task;
}

std::string proxyRewrite(std::string_view url, std::string_view proxyServer)
{
    if (url.empty() || proxyServer.empty())
        return std::string(url);
    const std::size_t scheme = startsWithNoCase(url, "https:") ? 6 : 5;
    std::string out;
    out.reserve(url.size() + proxyServer.size() + 2);
    out.append(url.substr(0, scheme));
    out += "//";
    out.append(proxyServer);
    out.append(url.substr(std::min<std::size_t>(scheme, url.size())));
    return out;
}

void setRequestUrl(HttpRequest& request, std::string_view url, std::string_view proxyServer)
{
    request.viaProxy = !url.empty() && !proxyServer.empty();
    request.url = proxyRewrite(url, proxyServer);
}

} // namespace tarnwick::net
