#pragma once

// tools/oauth-authority on 127.0.0.1: sign-in, tokens and the test controls.

#include "loopback.h"
#include "peers.h"

#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace tarnwick::test {

class OAuthAuthority {
public:
    // Starts the authority with `extraArgs`; false (and the reason in `why`) when Python is not installed.
    bool start(const std::vector<std::string>& extraArgs = {})
    {
        if (::access("/usr/bin/python3", X_OK) != 0) {
            why = "/usr/bin/python3 is not installed";
            return false;
        }
        std::vector<std::string> argv = {"/usr/bin/python3",
                                         std::string(TARNWICK_SOURCE_DIR) + "/tools/oauth-authority", "--port", "0"};
        argv.insert(argv.end(), extraArgs.begin(), extraArgs.end());
        m_child.start(argv);
        const std::string line = m_child.readLine(30000);
        const std::size_t colon = line.rfind(':');
        m_port = colon == std::string::npos ? 0 : std::atoi(line.c_str() + colon + 1);
        if (m_port <= 0)
            throw std::runtime_error("the OAuth authority did not start");
        return true;
    }
    std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(m_port) + path; }
    int port() const { return m_port; }
    void stop() { m_child.stop(); }

    // POSTs a test control ("/test/revoke"); its HTTP status, 0 when there was no answer.
    int control(const std::string& path) const
    {
        const int s = connectLoopback(m_port);
        if (s < 0)
            return 0;
        const std::string request = "POST " + path + " HTTP/1.0\r\nContent-Length: 0\r\n\r\n";
        std::string reply;
        if (::write(s, request.data(), request.size()) == static_cast<ssize_t>(request.size())) {
            char buffer[1024];
            ssize_t n;
            while ((n = ::read(s, buffer, sizeof buffer)) > 0)
                reply.append(buffer, static_cast<std::size_t>(n));
        }
        ::close(s);
        const std::size_t blank = reply.find(' ');
        return blank == std::string::npos ? 0 : std::atoi(reply.c_str() + blank + 1);
    }
    // The requests seen, one JSON object a line.
    std::string log() const { return loopbackGet(m_port, "/test/log"); }

    std::string why;

private:
    ChildProcess m_child;
    int m_port = 0;
};

} // namespace tarnwick::test
