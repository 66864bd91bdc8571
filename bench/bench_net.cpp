// Network figures against real local peers: HttpGet against nginx beside curl
// fetching the same addresses, and SendMail against aiosmtpd; and the cost of
// composing a large message (quoted-printable body). Prints figures; asserts
// nothing.
#define TARNWICK_SOURCE_DIR TARNWICK_TEST_DATA "/../.."
#include "../tests/support/peers.h"
#include "../tests/support/testca.h"
#include "net/httpget.h"
#include "net/mimetext.h"
#include "net/sendmail.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <thread>
#include <vector>

using namespace tarnwick;
using Clock = std::chrono::steady_clock;

namespace {

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : (v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2);
}

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

class QuickHost : public tasks::TaskHost {
public:
    bool cancelRequested() const override { return false; }
    void dispatch(int) override { std::this_thread::sleep_for(std::chrono::milliseconds(1)); }
};

// curl fetching `urls` in one run, each transfer's time in ms; `options` go first.
std::vector<double> curlTimes(const std::string& options, const std::vector<std::string>& urls)
{
    std::string command = "curl -s -w '%{time_total}\\n' " + options;
    for (const std::string& url : urls)
        command += " -o /dev/null " + url;
    std::vector<double> times;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        double seconds;
        while (std::fscanf(p, "%lf", &seconds) == 1)
            times.push_back(seconds * 1000);
        ::pclose(p);
    }
    return times;
}

// HTTPS from nginx with a certificate of a test CA: a new connection and a full handshake for each fetch.
void httpsFigures(const test::TempDir& root, const std::string& page, int fetches)
{
    test::TestCa ca;
    test::TempDir dir;
    const int port = test::freeLoopbackPort();
    std::ofstream c(dir.file("nginx.conf"));
    if (::geteuid() == 0)
        c << "user root;\n";
    c << "daemon off;\nmaster_process off;\nworker_processes 1;\npid " << dir.file("nginx.pid") << ";\n"
      << "error_log " << dir.file("error.log") << " warn;\nevents { worker_connections 64; }\n"
      << "http {\n  access_log off;\n  client_body_temp_path " << dir.file("body") << ";\n"
      << "  server {\n    listen 127.0.0.1:" << port << " ssl;\n"
      << "    ssl_certificate " << ca.certFile() << ";\n    ssl_certificate_key " << ca.keyFile() << ";\n"
      << "    location / { root " << root.path() << "; }\n  }\n}\n";
    c.close();
    test::ChildProcess nginx;
    nginx.start({"/usr/sbin/nginx", "-p", dir.path(), "-c", dir.file("nginx.conf"), "-e", dir.file("error.log")});
    if (!ca.ok() || !test::waitUntilAccepting(nginx, port, 30000)) {
        std::printf("HTTPS: nginx with the test CA did not start\n");
        return;
    }
    std::vector<std::string> urls;
    for (int i = 0; i < fetches; ++i)
        urls.push_back("https://127.0.0.1:" + std::to_string(port) + "/p" + std::to_string(i) + ".html");

    std::vector<double> ours;
    for (const std::string& url : urls) {
        net::HttpRequest r(nullptr, "HttpGet(0): ", false);
        r.url = url;
        r.caFile = ca.caFile();
        const auto start = Clock::now();
        const std::string body = net::HttpGet(r);
        ours.push_back(msSince(start));
        if (body != page) {
            std::printf("HTTPS: wrong body\n");
            return;
        }
    }
    const std::string cacert = "--http1.0 --cacert " + ca.caFile();
    const std::vector<double> curlFull = curlTimes(cacert + " --no-sessionid", urls);
    const std::vector<double> curlResumed = curlTimes(cacert, urls);
    std::printf("HTTPS fetch of a 50 KB page from local nginx, %d sequential fetches, new connection each\n", fetches);
    std::printf("  HttpGet                      median %.3f ms per fetch\n", median(ours));
    std::printf("  curl --no-sessionid          median %.3f ms per transfer\n", median(curlFull));
    std::printf("  curl (TLS sessions resumed)  median %.3f ms per transfer\n", median(curlResumed));
    if (!curlFull.empty())
        std::printf("  ratio HttpGet/curl (full handshakes)  %.2f\n", median(ours) / median(curlFull));
    std::fflush(stdout);
}

} // namespace

int main()
{
    const int fetches = 200;
    const int mails = 100;

    test::TempDir root;
    std::string page;
    while (page.size() < 50 * 1024)
        page += "<tr><td>status line " + std::to_string(page.size()) + "</td></tr>\r\n";
    page.resize(50 * 1024);
    for (int i = 0; i < fetches; ++i)
        std::ofstream(root.file("p" + std::to_string(i) + ".html"), std::ios::binary) << page;
    test::NginxPeer nginx;
    nginx.start(root.path());

    std::vector<double> ours;
    for (int i = 0; i < fetches; ++i) {
        net::HttpRequest r(nullptr, "HttpGet(0): ", false);
        r.userAgent = "Tarnwick";
        r.url = nginx.url("/p" + std::to_string(i) + ".html");
        const auto start = Clock::now();
        const std::string body = net::HttpGet(r);
        ours.push_back(msSince(start));
        if (body != page) {
            std::cerr << "wrong body\n";
            return 1;
        }
    }

    std::vector<double> viaTask;
    QuickHost host;
    const int timeout = 60000;
    for (int i = 0; i < fetches; ++i) {
        std::vector<net::HttpRequest> rs(1, net::HttpRequest(nullptr, "HttpGet(0): ", false));
        rs[0].url = nginx.url("/p" + std::to_string(i) + ".html");
        const auto start = Clock::now();
        net::runPageFetchTask(host, rs, timeout);
        viaTask.push_back(msSince(start));
    }

    // curl fetching the same addresses in one run, one time per transfer
    std::string command = "curl --http1.0 -s -w '%{time_total}\\n'";
    for (int i = 0; i < fetches; ++i)
        command += " -o /dev/null " + nginx.url("/p" + std::to_string(i) + ".html");
    std::vector<double> curl;
    const auto curlStart = Clock::now();
    if (FILE* p = ::popen(command.c_str(), "r")) {
        double seconds;
        while (std::fscanf(p, "%lf", &seconds) == 1)
            curl.push_back(seconds * 1000);
        ::pclose(p);
    }
    const double curlWall = msSince(curlStart);

    std::printf("HTTP fetch of a 50 KB page from local nginx, %d sequential fetches\n", fetches);
    std::printf("  HttpGet              median %.3f ms per fetch\n", median(ours));
    std::printf("  page-fetch task      median %.3f ms per fetch (1 ms host dispatch)\n", median(viaTask));
    std::printf("  curl --http1.0       median %.3f ms per transfer, %.3f ms per fetch over the whole run\n",
                median(curl), curlWall / fetches);
    if (!curl.empty())
        std::printf("  ratio HttpGet/curl   %.2f\n", median(ours) / median(curl));
    std::fflush(stdout);

    httpsFigures(root, page, fetches);

    test::SmtpSink sink;
    sink.start("", "");
    std::vector<double> sends;
    for (int i = 0; i < mails; ++i) {
        net::MailRequest m(nullptr, "SendMail: ");
        m.server = sink.address();
        m.sender = "bench@example.test";
        m.to = "to@example.test";
        m.message = "Subject: bench " + std::to_string(i) + "\r\n\r\n";
        for (int line = 0; line < 26; ++line)
            m.message += std::string(76, 'x') + "\r\n";
        const auto start = Clock::now();
        net::SendMail(m);
        sends.push_back(msSince(start));
    }
    std::printf("SMTP send to local aiosmtpd, %d messages one by one\n", mails);
    std::printf("  SendMail             median %.3f ms per message\n", median(sends));

    // a problem report quoting 5 MB of fetched pages in Latin-1, one line per page
    std::string report = "Subject: Problem Report\r\n\r\n";
    for (int row = 1; report.size() < 5 * 1024 * 1024; ++row) {
        report += "<tr><td>Soci\xe9t\xe9 G\xe9n\xe9rale</td><td>Registered = yes</td></tr>";
        if (row % 1000 == 0)
            report += "\r\n";
    }
    std::vector<double> composes;
    std::size_t composedSize = 0;
    for (int i = 0; i < 20; ++i) {
        const auto start = Clock::now();
        composedSize = net::composeMessage("Date: x\r\n", report, "<id@example.test>").size();
        composes.push_back(msSince(start));
    }
    std::printf("Message composition of a %.1f MB Latin-1 problem report (quoted-printable, %.1f MB out)\n",
                static_cast<double>(report.size()) / 1e6, static_cast<double>(composedSize) / 1e6);
    std::printf("  composeMessage       median %.3f ms, %.0f MB/s\n", median(composes),
                static_cast<double>(report.size()) / 1e3 / median(composes));
    return 0;
}
