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

std::optional<HttpTarget> parseHttpUrl(std::string_view url)
{
    if (url.empty())
        return std::nullopt;
    if (url.front() == '"' || url.front() == '\'') {
        url.remove_prefix(1);
        if (!url.empty())
            url.remove_suffix(1);
    }
    if (startsWithNoCase(url, "http://"))
        url.remove_prefix(7);
    if (url.find("://") != std::string_view::npos)
        return std::nullopt;

    HttpTarget target;
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
    if (escaped.size() >= 2 && escaped[0] == '/' && escaped[1] == '/') {
        // a URL rewritten for a proxy: the proxy wants the absolute address and
        // the Host header names the page's own host
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

std::string buildHttpRequest(const HttpTarget& target, std::string_view userAgent)
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
    const bool ok = startsWithNoCase(status, "HTTP") && status.size() > 5 &&
                    status.substr(5).find("200 ") != std::string_view::npos;
    if (!ok) {
        check.error = msg::k_httpFailed;
        if (const std::size_t blank = status.find(' '); blank != std::string_view::npos && blank + 1 < status.size()) {
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

std::string HttpGet(HttpRequest& request)
{
    const std::optional<HttpTarget> target = parseHttpUrl(request.url);
    if (!target)
        raiseWithoutConnection(request, msg::k_badUrl);

    SocketConnection connection(request.cancel, request.flowLog, request.label);
    tasks::SlotRegistration registration(request.slot, connection);
    connection.connect(target->hostPart, 80);
    connection.send(buildHttpRequest(*target, request.userAgent));
    std::string response = connection.receiveAll(request.sizesOnly, k_maxResponseBytes);
    if (response.size() > k_maxResponseBytes)
        connection.raise(std::string(msg::k_httpFailed) + " (response larger than 64 MiB)");
    const HttpResponseCheck check = checkHttpResponse(response);
    if (!check.error.empty())
        connection.raise(check.error);
    response.erase(0, check.bodyStart);
    return response;
}

std::vector<std::string> runPageFetchTask(tasks::TaskHost& host, std::vector<HttpRequest> requests,
                                          const int& timeoutMs)
{
    tasks::WorkerTask<HttpRequest, std::string> task(host, HttpGet);
    return task.run(requests, timeoutMs);
}

std::string proxyRewrite(std::string_view url, std::string_view proxyServer)
{
    if (url.empty() || proxyServer.empty())
        return std::string(url);
    std::string out;
    out.reserve(url.size() + proxyServer.size() + 2);
    out.append(url.substr(0, 5));
    out += "//";
    out.append(proxyServer);
    out.append(url.substr(std::min<std::size_t>(5, url.size())));
    return out;
}

} // namespace tarnwick::net
