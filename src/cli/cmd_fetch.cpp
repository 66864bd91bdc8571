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

// Fetches one page as the update does (through ProxyServer unless --proxy names another, trusting CaFile) and
// writes its body to standard output byte for byte; --flow shows the network dialogue on standard error.
int fetch(const Invocation& inv)
{
    if (inv.args.size() != 1 || inv.args[0].empty())
        return inv.usage();
    const std::string& url = inv.args[0];
    const std::optional<std::string> proxy = inv.options.value("proxy");
    const base::AppSettings settings(base::settingsPath(inv.settingsOption));

    // lives for the process: a job cut loose may still log after the wait
    static net::FlowLog flowLog;
    flowLog.setEnabled(inv.options.has("flow"));
    flowLog.setSubscriber([&inv](int, const std::string& line) {
        // the lines end in CR LF; a terminal wants a bare line feed
        std::string_view text = line;
        if (text.size() >= 2 && text.substr(text.size() - 2) == "\r\n")
            text.remove_suffix(2);
        if (!inv.process) {
            inv.err << text << '\n';
            return;
        }
        const std::string shown = platform::forOutput(STDERR_FILENO, text);
        std::fwrite(shown.data(), 1, shown.size(), stderr);
        std::fputc('\n', stderr);
    });

    CliFrontEnd host(inv.out, inv.err, inv.in, inv.process);
    net::HttpRequest request(&flowLog, "HttpGet(0): ", false);
    request.userAgent = "Tarnwick";
    request.caFile = settings.value(base::setting::CaFile);
    net::setRequestUrl(request, url, proxy ? *proxy : settings.value(base::setting::ProxyServer));
    const int timeoutMs = 60000;
    try {
        const std::vector<std::string> bodies = net::runPageFetchTask(host, {request}, timeoutMs);
        flowLog.clearSubscriber();
        inv.out.write(bodies.front().data(), static_cast<std::streamsize>(bodies.front().size()));
        inv.out.flush();
        return inv.out ? 0 : 1;
    } catch (const tasks::CAppError& e) {
        flowLog.clearSubscriber();
        inv.err << e.message() << "\n";
        return 1;
    }
}

} // namespace

const Command k_fetchCommand{
    .name = "fetch",
    .arguments = "URL",
    .summary = "fetch a page as the update does (ProxyServer, CaFile)",
    .readsSettings = true,
    .options =
        {
            {"proxy", "HOST[:PORT]", "fetch through this proxy instead of ProxyServer"},
            {"flow", nullptr, "show the network dialogue on standard error"},
        },
    .run = fetch,
};

} // namespace tarnwick::cli
