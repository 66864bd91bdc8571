#include "base/settings.h"
#include "cli/clifrontend.h"
#include "cli/commands.h"
#include "net/flowlog.h"
#include "net/httpget.h"
#include "platform/terminal.h"
#include "tasks/errors.h"

#include <cstdio>
#include <iostream>
#include <optional>
#include <unistd.h>

namespace tarnwick::cli {

namespace {

int fetchUsage()
{
    std::cerr << "usage: tarnwick-cli fetch URL [--proxy HOST[:PORT]] [--flow]\n";
    return 1;
}

} // namespace

// Fetches one page as the update does (through ProxyServer unless --proxy names another, trusting CaFile) and
// writes its body to standard output byte for byte; --flow shows the network dialogue on standard error.
int cmdFetch(const Invocation& inv)
{
    std::string url;
    std::optional<std::string> proxy;
    bool flow = false;
    for (std::size_t i = 0; i < inv.args.size(); ++i) {
        const std::string& a = inv.args[i];
        if (a == "--flow") {
            flow = true;
        } else if (a == "--proxy" && i + 1 < inv.args.size()) {
            proxy = inv.args[++i];
        } else if (a.rfind("--proxy=", 0) == 0) {
            proxy = a.substr(8);
        } else if (url.empty() && a.rfind("--", 0) != 0) {
            url = a;
        } else {
            return fetchUsage();
        }
    }
    if (url.empty())
        return fetchUsage();
    const base::AppSettings settings(base::settingsPath(inv.settingsOption));

    // lives for the process: a job cut loose may still log after the wait
    static net::FlowLog flowLog;
    flowLog.setEnabled(flow);
    flowLog.setSubscriber([](int, const std::string& line) {
        // the lines end in CR LF; a terminal wants a bare line feed
        std::string_view text = line;
        if (text.size() >= 2 && text.substr(text.size() - 2) == "\r\n")
            text.remove_suffix(2);
        const std::string shown = platform::forOutput(STDERR_FILENO, text);
        std::fwrite(shown.data(), 1, shown.size(), stderr);
        std::fputc('\n', stderr);
    });

    CliFrontEnd host(std::cout, std::cerr);
    net::HttpRequest request(&flowLog, "HttpGet(0): ", false);
    request.userAgent = "Tarnwick";
    request.caFile = settings.value(base::setting::CaFile);
    net::setRequestUrl(request, url, proxy ? *proxy : settings.value(base::setting::ProxyServer));
    const int timeoutMs = 60000;
    try {
        const std::vector<std::string> bodies = net::runPageFetchTask(host, {request}, timeoutMs);
        flowLog.clearSubscriber();
        std::cout.write(bodies.front().data(), static_cast<std::streamsize>(bodies.front().size()));
        std::cout.flush();
        return std::cout ? 0 : 1;
    } catch (const tasks::CAppError& e) {
        flowLog.clearSubscriber();
        std::cerr << e.message() << "\n";
        return 1;
    }
}

} // namespace tarnwick::cli
