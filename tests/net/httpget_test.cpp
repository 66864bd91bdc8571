#include "net/httpget.h"

#include "fakeserver.h"
#include "flowcapture.h"
#include "net/socketconnection.h"
#include "support/peers.h"
#include "tasks/errors.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <future>
#include <optional>

using namespace tarnwick;
using namespace tarnwick::net;
using tarnwick::test::FakePeer;
using tarnwick::test::FakeServer;
using tarnwick::test::FlowCapture;
using namespace std::chrono_literals;

namespace {

std::string fetch(const std::string& url, FlowLog* log = nullptr, const std::string& agent = "HttpGet")
{
    HttpRequest r(log, "HttpGet(0): ", false);
    r.userAgent = agent;
    r.url = url;
    return HttpGet(r);
}

std::string failureOf(const std::string& url, FlowLog* log = nullptr)
{
    try {
        fetch(url, log);
    } catch (const tasks::CAppError& e) {
        return e.message();
    }
    return "(no error)";
}

// Answers one request with `response` and hands over the request text.
struct OneShot {
    explicit OneShot(std::string response)
        : server([this, response](FakePeer& p) {
              request.set_value(p.readUntil("\r\n\r\n"));
              p.send(response);
          })
    {
    }
    std::string url(const std::string& path = "/") const { return "http://" + server.address() + path; }
    std::promise<std::string> request;
    FakeServer server;
};

class NoWaitHost : public tasks::TaskHost {
public:
    bool cancelRequested() const override { return cancel.load(); }
    void dispatch(int) override
    {
        if (onDispatch)
            onDispatch();
        std::this_thread::sleep_for(2ms);
    }
    void setRunningTask(tasks::Cancellable* t) override { running = t; }
    std::atomic<bool> cancel{false};
    std::function<void()> onDispatch;
    tasks::Cancellable* running = nullptr;
};

} // namespace

TEST(HttpUrl, RequestTextForEveryKindOfUrl)
{
    const std::string tail = " HTTP/1.0\r\nAccept: */*\r\nAccept-Language: en-us\r\nCache-Control: no-cache\r\n"
                             "Pragma: no-cache\r\nUser-Agent: UA\r\nHost: ";
    struct Case {
        std::string url;
        bool viaProxy;
        std::string hostPart;
        std::string request;
    };
    const Case cases[] = {
        {"http://example/a b?q=x y", false, "example", "GET /a%20b?q=x%20y" + tail + "example\r\n\r\n"},
        {"'http://example:8080/p'", false, "example:8080", "GET /p" + tail + "example:8080\r\n\r\n"},
        {"\"HtTp://example/\"", false, "example", "GET /" + tail + "example\r\n\r\n"},
        {"http://example", false, "example", "GET /" + tail + "example\r\n\r\n"},
        {"example/x", false, "example", "GET /x" + tail + "example\r\n\r\n"},
        {"http://example/form?a=1??name=a b&x=1", false, "example",
         "POST /form?a=1" + tail +
             "example\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: 12\r\n\r\nname=a b&x=1"},
        {"http://example/p??", false, "example", "GET /p" + tail + "example\r\n\r\n"},
        // through a proxy: the proxy gets the absolute address, Host names the origin
        {"http://proxy:3128//office.example/status?sn=1", true, "proxy:3128",
         "GET http://office.example/status?sn=1" + tail + "office.example\r\n\r\n"},
        {"http://proxy//office.example", true, "proxy", "GET http://office.example/" + tail + "office.example\r\n\r\n"},
        // direct: a path that begins with "//" is only a path
        {"http://127.0.0.1:8080//other.host/p?q", false, "127.0.0.1:8080",
         "GET //other.host/p?q" + tail + "127.0.0.1:8080\r\n\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        const auto target = parseHttpUrl(c.url, c.viaProxy);
        ASSERT_TRUE(target);
        EXPECT_EQ(target->hostPart, c.hostPart);
        EXPECT_EQ(buildHttpRequest(*target, "UA"), c.request);
    }
    for (const char* bad :
         {"", "ftp://x", "'ftp://x'", "http://x/y?u=http://z", "https://x/y?u=ftp://z", "http://x/a\r\nX-Injected: yes",
          "http://x/a\nb", "http://x/\x01", "http://x/a\tb", "http://x/\x7f", "'http://x/\r'"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(parseHttpUrl(bad));
    }
}

TEST(HttpUrl, ProxyRewriteMarksTheRequest)
{
    struct Case {
        const char* url;
        const char* proxy;
        const char* rewritten;
        bool viaProxy;
    };
    const Case cases[] = {
        {"http://office/x?y", "proxy:3128", "http://proxy:3128//office/x?y", true},
        {"HTTPS://office/x", "proxy", "HTTPS://proxy//office/x", true},
        {"http://office/x", "", "http://office/x", false},
        {"", "proxy", "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        HttpRequest r;
        r.viaProxy = !c.viaProxy;
        setRequestUrl(r, c.url, c.proxy);
        EXPECT_EQ(r.url, c.rewritten);
        EXPECT_EQ(r.viaProxy, c.viaProxy);
    }
}

TEST(HttpResponse, StatusAndEndOfHeaders)
{
    const std::string f = msg::k_httpFailed;
    struct Case {
        std::string response;
        std::string error;
        std::size_t bodyStart;
    };
    const Case cases[] = {
        {"HTTP/1.0 200 OK\r\nA: b\r\n\r\nbody", "", 25},
        {"HTTP/1.0 200 OK\r\n\r\n", "", 19},
        {"http/1.1 200 OK\r\n\r\n", "", 19},
        {"HTTP/1.1 404 Not Found\r\n\r\nmissing", f + " (404 Not Found)", 0},
        {"HTTP/1.1 200\r\n\r\n", f + " (200)", 0},
        {"HTTP/1.0 200 OK\r\nServer: x\r\n", f, 0},
        {"HTTP/1.0 200 OK", f, 0},
        {"", f, 0},
        {"HTTP/1.0 200 OK\n\n", f, 0},
        {"HTTX/1.0 200 OK\r\n\r\n", f + " (200 OK)", 0},
        {"FTP 200 OK\r\n\r\n", f + " (200 OK)", 0},
        {"HTTP200 \r\n\r\n", f + " ()", 0},
        {"HTTP/1.1 \r\n\r\n", f + " ()", 0},
        {"HTTP/1.1 500 Internal error; upstream said 200 OK\r\n\r\n", f + " (500 Internal error; upstream said 200 OK)",
         0},
        {"HTTP/1.1 2000 OK\r\n\r\n", f + " (2000 OK)", 0},
        {"HTTP/1.1  200 OK\r\n\r\n", f + " ( 200 OK)", 0},
        {"HTTP 200 OK\r\n\r\n", "", 15},
        {"HTTP/1.0 500 " + std::string(300, 'e') + "\r\n\r\n", (f + " (500 " + std::string(300, 'e')).substr(0, 254),
         0},
        // only the first 255 characters of the status line count
        {"HTTP/1.0 " + std::string(250, 'x') + " 200 OK\r\n\r\n",
         (f + " (" + std::string(250, 'x') + " 20").substr(0, 254), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.response.substr(0, 40));
        const HttpResponseCheck check = checkHttpResponse(c.response);
        EXPECT_EQ(check.error, c.error);
        if (c.error.empty()) {
            EXPECT_EQ(check.bodyStart, c.bodyStart);
        }
    }
}

TEST(HttpResponse, ContentLengthTellsTheWholeLength)
{
    const std::string head = "HTTP/1.0 200 OK\r\n";
    struct Case {
        std::string headers; // between the status line and the empty line
        std::optional<std::size_t> body;
    };
    const Case cases[] = {
        {"Content-Length: 4\r\n", 4},
        {"content-LENGTH:\t 12 \r\nServer: x\r\n", 12},
        {"Content-Length: 0\r\n", 0},
        {"Content-Length: 4\r\nContent-Length: 4\r\n", 4},
        {"Content-Length: 4\r\nContent-Length: 5\r\n", std::nullopt},
        {"Content-Length: 4x\r\n", std::nullopt},
        {"Content-Length: \r\n", std::nullopt},
        {"Content-Length: -4\r\n", std::nullopt},
        {"Content-Length: 4\r\nTransfer-Encoding: chunked\r\n", std::nullopt},
        {"X-Content-Length: 4\r\n", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.headers);
        const std::string response = head + c.headers + "\r\nbody and more";
        const std::size_t bodyStart = head.size() + c.headers.size() + 2;
        // the bytes arrive one at a time; the length is known once the headers are complete
        HttpResponseEnd end;
        for (std::size_t n = 1; n < bodyStart; ++n)
            ASSERT_FALSE(end.totalLength(std::string_view(response).substr(0, n)));
        const auto total = end.totalLength(response);
        EXPECT_EQ(total, c.body ? std::optional<std::size_t>(bodyStart + *c.body) : std::nullopt);
    }
}

TEST(HttpGet, ContentLengthEndsTheResponse)
{
    struct Case {
        std::string response;
        bool keepOpen; // the server waits for the client to close
        std::string result;
    };
    const Case cases[] = {
        {"HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\nbody", true, "body"},
        {"HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n", true, ""},
        {"HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\nbody and more", false, "body"},
        {"HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\nbody", false,
         "(HttpGet: HTTP Get Failed. (incomplete response))"},
        {"HTTP/1.0 200 OK\r\n\r\nto the close", false, "to the close"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.response);
        FakeServer server([&c](FakePeer& p) {
            p.readUntil("\r\n\r\n");
            p.send(c.response);
            if (c.keepOpen)
                p.readToEnd();
        });
        std::string result;
        try {
            result = fetch("http://" + server.address() + "/");
        } catch (const tasks::CAppError& e) {
            result = "(" + e.message() + ")";
        }
        EXPECT_EQ(result, c.result);
    }
}

TEST(HttpGet, SendsTheExactRequestAndReturnsTheBody)
{
    OneShot server("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nthe body");
    EXPECT_EQ(fetch(server.url("/a b?x=1"), nullptr, "Tarnwick"), "the body");
    EXPECT_EQ(server.request.get_future().get(),
              "GET /a%20b?x=1 HTTP/1.0\r\nAccept: */*\r\nAccept-Language: en-us\r\nCache-Control: no-cache\r\n"
              "Pragma: no-cache\r\nUser-Agent: Tarnwick\r\nHost: " +
                  server.server.address() + "\r\n\r\n");
}

TEST(HttpGet, LeavesTheContentTypeWhenAsked)
{
    struct Case {
        std::string headers;
        std::string contentType;
    } cases[] = {
        {"Server: x\r\ncontent-type:  text/html; charset=UTF-8 \r\nContent-Length: 4\r\n", "text/html; charset=UTF-8"},
        {"Server: x\r\n", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.headers);
        OneShot server("HTTP/1.0 200 OK\r\n" + c.headers + "\r\nbody");
        HttpRequest r(nullptr, "HttpGet(0): ", false);
        r.url = server.url();
        r.contentType = std::make_shared<std::string>("stale");
        EXPECT_EQ(HttpGet(r), "body");
        EXPECT_EQ(*r.contentType, c.contentType);
    }
}

TEST(HttpGet, ExtraHeadersGoOutAfterHostAndTheFlowLogMasksTheirValues)
{
    struct Case {
        std::vector<std::string> headers;
        std::string sent;   // the header text after Host; "(refused)" for no connection
        std::string logged; // the flow log's line of the request, from "Host"
    };
    const Case cases[] = {
        {{"USPTO-API-KEY: k3y-Secret"}, "USPTO-API-KEY: k3y-Secret\r\n\r\n", "USPTO-API-KEY: ***"},
        {{"A: 1", "B: 2"}, "A: 1\r\nB: 2\r\n\r\n", "A: ***\r\nB: ***"},
        {{"X: a\r\nInjected: 1"}, "(refused)", ""},
        {{"X: a\nb"}, "(refused)", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sent);
        OneShot server("HTTP/1.0 200 OK\r\n\r\nbody");
        FlowCapture flow;
        HttpRequest r(&flow.log, "HttpGet(0): ", false);
        r.url = server.url();
        r.headers = c.headers;
        std::string error;
        try {
            HttpGet(r);
        } catch (const tasks::CAppError& e) {
            error = e.message();
        }
        if (c.sent == "(refused)") {
            EXPECT_EQ(error, k_badHeader);
            EXPECT_EQ(server.server.accepted(), 0);
            continue;
        }
        const std::string request = server.request.get_future().get();
        EXPECT_EQ(request.substr(request.find("\r\n", request.find("Host: ")) + 2), c.sent);
        bool masked = false;
        for (const std::string& line : flow.texts()) {
            EXPECT_EQ(line.find("Secret"), std::string::npos) << line;
            masked = masked || line.find(c.logged) != std::string::npos;
        }
        EXPECT_TRUE(masked) << ::testing::PrintToString(flow.texts());
    }
}

TEST(HttpResponse, RetryAfterOnlyFor429And503WithSeconds)
{
    const std::pair<std::string, std::optional<int>> cases[] = {
        {"HTTP/1.1 429 Too Many Requests\r\nRetry-After: 7\r\n\r\n", 7},
        {"HTTP/1.1 503 Service Unavailable\r\nretry-after:  120 \r\n\r\n", 120},
        {"HTTP/1.1 429 Too Many Requests\r\n\r\n", std::nullopt},
        {"HTTP/1.1 429 Too Many Requests\r\nRetry-After: Wed, 21 Oct 2026 07:28:00 GMT\r\n\r\n", std::nullopt},
        {"HTTP/1.1 500 Internal Server Error\r\nRetry-After: 5\r\n\r\n", std::nullopt},
        {"HTTP/1.1 200 OK\r\n\r\nRetry-After: 5\r\n", std::nullopt},
        {"HTTP/1.1 429 Too Many Requests\r\nX: 1\r\n\r\nRetry-After: 5\r\n", std::nullopt},
    };
    for (const auto& [response, seconds] : cases)
        EXPECT_EQ(retryAfterSeconds(response), seconds) << response;
}

TEST(HttpGet, BadUrlOpensNoConnection)
{
    FakeServer server([](FakePeer&) {});
    for (const std::string& url : {"ftp://" + server.address() + "/", "http://" + server.address() + "/a\r\nX: y"}) {
        FlowCapture flow;
        EXPECT_EQ(failureOf(url, &flow.log), msg::k_badUrl);
        EXPECT_EQ(flow.texts(), std::vector<std::string>{"HttpGet(0): HttpGet: Bad URL."});
    }
    EXPECT_EQ(server.accepted(), 0);
}

TEST(HttpGet, FailureIsLoggedAndTheConnectionClosed)
{
    OneShot server("HTTP/1.1 404 Not Found\r\n\r\n");
    FlowCapture flow;
    EXPECT_EQ(failureOf(server.url(), &flow.log), "HttpGet: HTTP Get Failed. (404 Not Found)");
    const auto texts = flow.texts();
    ASSERT_GE(texts.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(texts.end() - 4, texts.end()),
              (std::vector<std::string>{"HttpGet(0): HttpGet: HTTP Get Failed. (404 Not Found)",
                                        "HttpGet(0): Shutdown...", "HttpGet(0): Closing...", "HttpGet(0): Closed"}));
}

TEST(HttpGet, ResponseLargerThanTheLimitFails)
{
    FakeServer server([](FakePeer& p) {
        p.readUntil("\r\n\r\n");
        p.send("HTTP/1.0 200 OK\r\n\r\n");
        const std::string block(1 << 20, 'b');
        while (p.send(block)) {
        }
    });
    EXPECT_EQ(failureOf("http://" + server.address() + "/"), "HttpGet: HTTP Get Failed. (response larger than 64 MiB)");
}

class HttpGetWithPeers : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_root = std::make_unique<test::TempDir>();
        s_big = std::make_unique<test::TempDir>();
        std::string all;
        for (int i = 0; i < 256; ++i)
            all += static_cast<char>(i);
        std::ofstream(s_root->file("bytes.bin"), std::ios::binary) << all;
        std::ofstream(s_root->file("empty.html"), std::ios::binary);
        std::ofstream(s_root->file("page.html"), std::ios::binary) << "<html>status page</html>";
        s_large.clear();
        for (int i = 0; s_large.size() < 5'000'000; ++i)
            s_large += "line " + std::to_string(i) + "\r\n";
        std::ofstream(s_big->file("large.txt"), std::ios::binary) << s_large;
        s_nginx = std::make_unique<test::NginxPeer>();
        s_nginx->start(s_root->path(), s_big->path());
    }
    static void TearDownTestSuite()
    {
        s_nginx.reset();
        s_root.reset();
        s_big.reset();
    }

    static inline std::unique_ptr<test::TempDir> s_root;
    static inline std::unique_ptr<test::TempDir> s_big;
    static inline std::unique_ptr<test::NginxPeer> s_nginx;
    static inline std::string s_large;
};

TEST_F(HttpGetWithPeers, ServesFilesByteForByte)
{
    std::string all;
    for (int i = 0; i < 256; ++i)
        all += static_cast<char>(i);
    struct Case {
        std::string path;
        std::string body;
    };
    const Case cases[] = {
        {"/bytes.bin", all},
        {"/empty.html", ""},
        {"/page.html", "<html>status page</html>"},
        {"/extra/large.txt", s_large},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(fetch(s_nginx->url(c.path)), c.body);
    }
    EXPECT_EQ(failureOf(s_nginx->url("/missing.html")), "HttpGet: HTTP Get Failed. (404 Not Found)");
}

TEST_F(HttpGetWithPeers, PostsAForm)
{
    EXPECT_EQ(fetch(s_nginx->url("/echo??name=x&y=1"), nullptr, "Tarnwick"),
              "POST /echo " + s_nginx->url("").substr(7) + " Tarnwick 10");
}

TEST_F(HttpGetWithPeers, SizesOnlyLogsByteCounts)
{
    FlowCapture flow;
    HttpRequest r(&flow.log, "P: ", true);
    r.url = s_nginx->url("/page.html");
    EXPECT_EQ(HttpGet(r), "<html>status page</html>");
    EXPECT_FALSE(flow.contains("status page"));
    EXPECT_TRUE(flow.contains("P: Received part '"));
}

TEST_F(HttpGetWithPeers, ThroughTinyproxy)
{
    test::TinyproxyPeer proxy;
    proxy.start();
    auto viaProxy = [&proxy](const std::string& path) {
        HttpRequest r(nullptr, "HttpGet(0): ", false);
        setRequestUrl(r, s_nginx->url(path), proxy.address());
        try {
            return HttpGet(r);
        } catch (const tasks::CAppError& e) {
            return "(" + e.message() + ")";
        }
    };
    EXPECT_EQ(viaProxy("/page.html?x=1"), "<html>status page</html>");
    EXPECT_EQ(viaProxy("/extra/large.txt"), s_large);
    EXPECT_EQ(viaProxy("/none"), "(HttpGet: HTTP Get Failed. (404 Not Found))");
}

TEST_F(HttpGetWithPeers, PageFetchTaskKeepsUrlOrder)
{
    NoWaitHost host;
    std::vector<HttpRequest> requests;
    for (const char* path : {"/extra/large.txt", "/page.html", "/empty.html"}) {
        requests.emplace_back(nullptr, "HttpGet(" + std::to_string(requests.size()) + "): ", false);
        requests.back().url = s_nginx->url(path);
    }
    const int timeout = 60000;
    EXPECT_EQ(runPageFetchTask(host, requests, timeout),
              (std::vector<std::string>{s_large, "<html>status page</html>", ""}));

    requests[1].url = s_nginx->url("/gone.html");
    try {
        runPageFetchTask(host, requests, timeout);
        FAIL() << "no error";
    } catch (const tasks::CAsyncError& e) {
        EXPECT_EQ(e.message(), "HttpGet: HTTP Get Failed. (404 Not Found)");
    }
}

TEST(PageFetchTask, CancelAndTimeOutWithAServerThatNeverAnswers)
{
    struct Case {
        bool cancel;
        const char* message;
    };
    for (const Case c : {Case{true, "Operation canceled."}, Case{false, "Operation timed out."}}) {
        SCOPED_TRACE(c.message);
        FakeServer server([](FakePeer& p) { p.readToEnd(); }, 2); // the second waits in the backlog
        NoWaitHost host;
        FlowCapture flow;
        int timeout = 60000;
        host.onDispatch = [&] {
            int receiving = 0;
            for (const std::string& t : flow.texts())
                receiving += t == "HttpGet: Receiving ..." ? 1 : 0;
            if (receiving < 2)
                return;
            if (c.cancel) {
                host.running->cancelAll();
                host.cancel = true;
            } else {
                timeout = 0;
            }
        };
        std::vector<HttpRequest> requests(2, HttpRequest(&flow.log, "HttpGet: ", false));
        for (auto& r : requests)
            r.url = "http://" + server.address() + "/";
        const auto start = std::chrono::steady_clock::now();
        try {
            runPageFetchTask(host, requests, timeout);
            ADD_FAILURE() << "no error";
        } catch (const tasks::CAppError& e) {
            EXPECT_EQ(e.message(), c.message);
        }
        EXPECT_LT(std::chrono::steady_clock::now() - start, 10s); // neither the time-out nor the grace period
        EXPECT_EQ(flow.contains("Cancelling..."), c.cancel);
    }
}
