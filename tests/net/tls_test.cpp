// TLS over real peers on loopback: nginx for https, tinyproxy for CONNECT, aiosmtpd for STARTTLS and
// implicit TLS, with certificates from a CA made by the openssl command for this run.
#include "fakeserver.h"
#include "net/httpget.h"
#include "net/sendmail.h"
#include "net/socketconnection.h"
#include "support/peers.h"
#include "support/testca.h"
#include "tasks/errors.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

using namespace tarnwick;
using namespace tarnwick::net;
using namespace std::chrono_literals;

namespace {

// nginx serving one page over TLS on 127.0.0.1.
class TlsNginx {
public:
    void start(const test::TestCa& certs)
    {
        m_port = test::freeLoopbackPort();
        std::ofstream(m_dir.file("page.html"), std::ios::binary) << "<html>secure page</html>";
        std::ofstream c(m_dir.file("nginx.conf"));
        if (::geteuid() == 0)
            c << "user root;\n";
        c << "daemon off;\nmaster_process off;\nworker_processes 1;\npid " << m_dir.file("nginx.pid") << ";\n"
          << "error_log " << m_dir.file("error.log") << " warn;\nevents { worker_connections 64; }\n"
          << "http {\n  access_log off;\n  client_body_temp_path " << m_dir.file("body") << ";\n"
          << "  server {\n    listen 127.0.0.1:" << m_port << " ssl;\n"
          << "    ssl_certificate " << certs.file("server.pem") << ";\n"
          << "    ssl_certificate_key " << certs.file("server.key") << ";\n"
          << "    location / { root " << m_dir.path() << "; }\n  }\n}\n";
        c.close();
        m_child.start(
            {"/usr/sbin/nginx", "-p", m_dir.path(), "-c", m_dir.file("nginx.conf"), "-e", m_dir.file("error.log")});
        if (!test::waitUntilAccepting(m_child, m_port, 30000))
            throw std::runtime_error("nginx did not start: " + test::readWholeFile(m_dir.file("error.log")));
    }
    std::string url(const std::string& host, const std::string& path) const
    {
        return "https://" + host + ":" + std::to_string(m_port) + path;
    }

private:
    test::ChildProcess m_child;
    test::TempDir m_dir;
    int m_port = 0;
};

class Tls : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // a server certificate for "localhost" only, and a second CA that vouches for nothing here
        s_certs = std::make_unique<test::TestCa>(test::TestCa::Options{.ipAddressToo = false, .otherCa = true});
        if (s_certs->ok()) {
            s_nginx = std::make_unique<TlsNginx>();
            s_nginx->start(*s_certs);
        }
    }
    static void TearDownTestSuite()
    {
        s_nginx.reset();
        s_certs.reset();
    }
    void SetUp() override { ASSERT_TRUE(s_certs->ok()) << "the openssl command could not make the test CA"; }

    static std::string fetch(const std::string& url, const std::string& caFile, const std::string& proxy = "")
    {
        HttpRequest r(nullptr, "HttpGet(0): ", false);
        setRequestUrl(r, url, proxy);
        r.caFile = caFile;
        try {
            return HttpGet(r);
        } catch (const tasks::CAppError& e) {
            return "(" + e.message() + ")";
        }
    }

    static inline std::unique_ptr<test::TestCa> s_certs;
    static inline std::unique_ptr<TlsNginx> s_nginx;
};

} // namespace

TEST_F(Tls, HttpsChecksTheCertificateAndItsName)
{
    const std::string failed = "(TLS: Secure connection failed. (";
    struct Case {
        std::string url;
        std::string caFile;
        std::string result;
    };
    const Case cases[] = {
        {s_nginx->url("localhost", "/page.html"), s_certs->file("ca.pem"), "<html>secure page</html>"},
        {s_nginx->url("LocalHost", "/page.html"), s_certs->file("ca.pem"), "<html>secure page</html>"},
        // the certificate names localhost, not the address
        {s_nginx->url("127.0.0.1", "/page.html"), s_certs->file("ca.pem"), failed + "IP address mismatch))"},
        {s_nginx->url("localhost", "/page.html"), s_certs->file("other.pem"),
         failed + "unable to get local issuer certificate))"},
        {s_nginx->url("localhost", "/page.html"), "", failed + "unable to get local issuer certificate))"},
        {s_nginx->url("localhost", "/page.html"), s_certs->file("missing.pem"),
         failed + "cannot read the certificate authorities))"},
        {s_nginx->url("localhost", "/none.html"), s_certs->file("ca.pem"),
         "(HttpGet: HTTP Get Failed. (404 Not Found))"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url + " " + c.caFile);
        EXPECT_EQ(fetch(c.url, c.caFile), c.result);
    }
}

TEST_F(Tls, HttpsThroughAProxyTunnel)
{
    test::TinyproxyPeer proxy;
    proxy.start();
    EXPECT_EQ(fetch(s_nginx->url("localhost", "/page.html"), s_certs->file("ca.pem"), proxy.address()),
              "<html>secure page</html>");
    EXPECT_NE(proxy.logText().find("CONNECT localhost:"), std::string::npos);
}

TEST_F(Tls, ASilentServerStillCancels)
{
    test::FakeServer server([](test::FakePeer& p) { p.readToEnd(); });
    HttpRequest r(nullptr, "HttpGet(0): ", false);
    r.url = "https://127.0.0.1:" + std::to_string(server.port()) + "/";
    std::thread cancel([&r] {
        std::this_thread::sleep_for(200ms);
        r.cancel = 1;
    });
    const auto start = std::chrono::steady_clock::now();
    try {
        HttpGet(r);
        ADD_FAILURE() << "no error";
    } catch (const tasks::CAppError& e) {
        EXPECT_EQ(e.message(), msg::k_cancelled);
    }
    cancel.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
}

TEST_F(Tls, MailOverStartTlsAndImplicitTls)
{
    struct Case {
        MailSecurity security;
        const char* sinkMode; // empty: a server that offers no STARTTLS (or one a man in the middle struck out)
        std::string caFile;
        std::string error; // empty: delivered
        const char* user = "tester";
        bool sentInClear = false;
    };
    const Case cases[] = {
        {MailSecurity::StartTls, "starttls", s_certs->file("ca.pem"), ""},
        {MailSecurity::Implicit, "implicit", s_certs->file("ca.pem"), ""},
        {MailSecurity::StartTls, "starttls", s_certs->file("other.pem"),
         "TLS: Secure connection failed. (unable to get local issuer certificate)"},
        // the server wants TLS first and offers no login before it
        {MailSecurity::None, "starttls", s_certs->file("ca.pem"), msg::k_loginOnlyAfterStartTls},
        {MailSecurity::StartTlsWhenOffered, "starttls", s_certs->file("ca.pem"), ""},
        // without STARTTLS the password is not sent; mail without a login may still go, and says so
        {MailSecurity::StartTlsWhenOffered, "", "", msg::k_noStartTls},
        {MailSecurity::StartTlsWhenOffered, "", "", "", "", true},
        {MailSecurity::None, "", "", ""}, // the plain dialogue, chosen
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sinkMode + (" " + c.caFile) + " user " + c.user);
        test::SmtpSink sink;
        sink.start(c.user, "secret", "",
                   *c.sinkMode ? std::vector<std::string>{"--tls", c.sinkMode, "--cert", s_certs->file("server.pem"),
                                                          "--key", s_certs->file("server.key")}
                               : std::vector<std::string>{});
        MailRequest r(nullptr, "SendMail: ");
        r.server = "localhost:" + std::to_string(sink.port());
        r.security = c.security;
        r.caFile = c.caFile;
        r.userName = c.user;
        r.password = "secret";
        r.sentInClear = std::make_shared<std::atomic<bool>>(false);
        r.sender = "s@example.test";
        r.to = "a@example.test";
        r.message = "Subject: secured\r\n\r\nbody\r\n";
        std::string error;
        try {
            SendMail(r);
        } catch (const tasks::CAppError& e) {
            error = e.message();
        }
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(r.sentInClear->load(), c.sentInClear);
        const auto messages = sink.messages();
        ASSERT_EQ(messages.size(), c.error.empty() ? 1u : 0u);
        if (c.error.empty()) {
            EXPECT_EQ(messages[0].login, c.user);
            EXPECT_NE(messages[0].data.find("\r\n\r\nbody\r\n"), std::string::npos);
        }
    }
}
