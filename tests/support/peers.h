#pragma once

// Real servers for network tests, started on 127.0.0.1 and stopped again:
// aiosmtpd (SmtpSink), nginx (NginxPeer) and tinyproxy (TinyproxyPeer).

#include "files.h"
#include "loopback.h"
#include "tempdir.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

#ifndef TARNWICK_SOURCE_DIR
#define TARNWICK_SOURCE_DIR "."
#endif

namespace tarnwick::test {

// A child process with a pipe on its standard input (closing it tells a
// well-behaved child to end) and one on its standard output.
class ChildProcess {
public:
    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess() { stop(); }

    void start(const std::vector<std::string>& argv)
    {
        int in[2];
        int out[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe failed");
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, in[0], 0);
        posix_spawn_file_actions_adddup2(&fa, out[1], 1);
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        pid_t pid = 0;
        int rc = ::posix_spawn(&pid, args[0], &fa, nullptr, args.data(), environ);
        posix_spawn_file_actions_destroy(&fa);
        ::close(in[0]);
        ::close(out[1]);
        if (rc != 0) {
            ::close(in[1]);
            ::close(out[0]);
            throw std::runtime_error("cannot start " + argv[0]);
        }
        m_pid = pid;
        m_stdin = in[1];
        m_stdout = out[0];
    }

    // The first line the child writes, waiting at most `timeoutMs`; empty when none.
    std::string readLine(int timeoutMs)
    {
        std::string line;
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < end) {
            pollfd p{m_stdout, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0)
                continue;
            char c;
            if (::read(m_stdout, &c, 1) != 1)
                break;
            if (c == '\n')
                return line;
            line += c;
        }
        return {};
    }

    bool running()
    {
        if (m_pid <= 0)
            return false;
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            return false;
        }
        return true;
    }

    void stop()
    {
        if (m_stdin >= 0)
            ::close(m_stdin);
        m_stdin = -1;
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            int status = 0;
            while (::waitpid(m_pid, &status, WNOHANG) == 0) {
                if (std::chrono::steady_clock::now() > end) {
                    ::kill(m_pid, SIGKILL);
                    ::waitpid(m_pid, &status, 0);
                    break;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            m_pid = -1;
        }
        if (m_stdout >= 0)
            ::close(m_stdout);
        m_stdout = -1;
    }

private:
    pid_t m_pid = -1;
    int m_stdin = -1;
    int m_stdout = -1;
};

// A port on 127.0.0.1 that was free a moment ago.
inline int freeLoopbackPort()
{
    return LoopbackListener().port();
}

// Whether something accepts connections on 127.0.0.1:`port`.
inline bool loopbackAccepts(int port)
{
    const int s = connectLoopback(port);
    if (s < 0)
        return false;
    ::close(s);
    return true;
}

inline bool waitUntilAccepting(ChildProcess& child, int port, int timeoutMs)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
        if (loopbackAccepts(port))
            return true;
        if (!child.running())
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

// aiosmtpd on 127.0.0.1 through tools/smtp_sink.py, keeping every message.
class SmtpSink {
public:
    struct Message {
        std::string from;               // envelope sender
        std::vector<std::string> rcpts; // envelope recipients
        std::string login;              // the AUTH LOGIN user, empty without
        std::string data;               // the message as received, dots unstuffed
    };

    // Starts the server; `user`/`password` are the one login AUTH LOGIN accepts,
    // `refuseRecipient` (if set) is answered with 550; `extraArgs` go to
    // tools/smtp_sink.py as they are (e.g. its TLS options).
    void start(const std::string& user = "tester", const std::string& password = "secret",
               const std::string& refuseRecipient = "", const std::vector<std::string>& extraArgs = {})
    {
        m_dir = std::make_unique<TempDir>();
        std::vector<std::string> argv = {
            "/usr/bin/python3", std::string(TARNWICK_SOURCE_DIR) + "/tools/smtp_sink.py", "--port", "0", "--dir",
            m_dir->path()};
        if (!user.empty()) {
            argv.insert(argv.end(), {"--user", user, "--password", password});
        }
        if (!refuseRecipient.empty())
            argv.insert(argv.end(), {"--refuse", refuseRecipient});
        argv.insert(argv.end(), extraArgs.begin(), extraArgs.end());
        m_child.start(argv);
        std::string line = m_child.readLine(30000);
        m_port = line.empty() ? 0 : std::stoi(line);
        if (m_port <= 0)
            throw std::runtime_error("smtp sink did not start");
    }
    int port() const { return m_port; }
    std::string address() const { return "127.0.0.1:" + std::to_string(m_port); }

    // Every message received so far, in arrival order.
    std::vector<Message> messages() const
    {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(m_dir->path())) {
            std::string n = e.path().filename().string();
            if (n.size() > 4 && n.compare(n.size() - 4, 4, ".eml") == 0)
                names.push_back(e.path().string());
        }
        std::sort(names.begin(), names.end());
        std::vector<Message> out;
        for (const std::string& n : names) {
            std::string blob = readAll(n);
            std::size_t end = blob.find("\n\n");
            if (end == std::string::npos)
                continue;
            Message m;
            std::istringstream head(blob.substr(0, end));
            std::string line;
            while (std::getline(head, line)) {
                if (line.rfind("FROM ", 0) == 0)
                    m.from = line.substr(5);
                else if (line.rfind("RCPT ", 0) == 0)
                    m.rcpts.push_back(line.substr(5));
                else if (line.rfind("AUTH ", 0) == 0)
                    m.login = line.substr(5);
            }
            m.data = blob.substr(end + 2);
            out.push_back(std::move(m));
        }
        return out;
    }
    void stop()
    {
        m_child.stop();
        m_port = 0;
    }

private:
    ChildProcess m_child;
    std::unique_ptr<TempDir> m_dir;
    int m_port = 0;
};

// nginx on 127.0.0.1 serving `root` at "/" and, when given, `extraRoot` at "/extra/".
class NginxPeer {
public:
    void start(const std::string& root, const std::string& extraRoot = "")
    {
        m_dir = std::make_unique<TempDir>();
        m_port = freeLoopbackPort();
        std::ostringstream c;
        if (::geteuid() == 0)
            c << "user root;\n";
        c << "daemon off;\nmaster_process off;\nworker_processes 1;\n"
          << "pid " << m_dir->file("nginx.pid") << ";\n"
          << "error_log " << m_dir->file("error.log") << " warn;\n"
          << "events { worker_connections 256; }\n"
          << "http {\n"
          << "  access_log off;\n"
          << "  client_body_temp_path " << m_dir->file("body") << ";\n"
          << "  proxy_temp_path " << m_dir->file("proxy") << ";\n"
          << "  fastcgi_temp_path " << m_dir->file("fastcgi") << ";\n"
          << "  uwsgi_temp_path " << m_dir->file("uwsgi") << ";\n"
          << "  scgi_temp_path " << m_dir->file("scgi") << ";\n"
          << "  default_type application/octet-stream;\n"
          << "  server {\n"
          << "    listen 127.0.0.1:" << m_port << ";\n"
          << "    server_name localhost;\n"
          << "    location / { root " << root << "; }\n";
        if (!extraRoot.empty())
            c << "    location /extra/ { alias " << extraRoot << "/; }\n";
        c << "    location = /echo { return 200 \"$request_method $request_uri $http_host $http_user_agent "
             "$content_length\"; }\n"
          << "  }\n}\n";
        std::ofstream(m_dir->file("nginx.conf")) << c.str();
        m_child.start(
            {"/usr/sbin/nginx", "-p", m_dir->path(), "-c", m_dir->file("nginx.conf"), "-e", m_dir->file("error.log")});
        if (!waitUntilAccepting(m_child, m_port, 30000))
            throw std::runtime_error("nginx did not start: " + readAll(m_dir->file("error.log")));
    }
    int port() const { return m_port; }
    std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(m_port) + path; }
    void stop() { m_child.stop(); }

private:
    ChildProcess m_child;
    std::unique_ptr<TempDir> m_dir;
    int m_port = 0;
};

// tinyproxy on 127.0.0.1, allowing only loopback clients.
class TinyproxyPeer {
public:
    // `upstream` (host:port), when given, is a proxy that every request is passed on to.
    void start(const std::string& upstream = "")
    {
        m_dir = std::make_unique<TempDir>();
        m_port = freeLoopbackPort();
        std::ostringstream c;
        if (::geteuid() == 0)
            c << "User root\nGroup root\n";
        if (!upstream.empty())
            c << "Upstream http " << upstream << "\n";
        c << "Port " << m_port << "\nListen 127.0.0.1\nAllow 127.0.0.1\nTimeout 60\nMaxClients 20\n"
          << "LogLevel Info\nLogFile \"" << m_dir->file("tinyproxy.log") << "\"\n"
          << "PidFile \"" << m_dir->file("tinyproxy.pid") << "\"\nDisableViaHeader Yes\n";
        std::ofstream(m_dir->file("tinyproxy.conf")) << c.str();
        m_child.start({"/usr/bin/tinyproxy", "-d", "-c", m_dir->file("tinyproxy.conf")});
        if (!waitUntilAccepting(m_child, m_port, 30000))
            throw std::runtime_error("tinyproxy did not start: " + readAll(m_dir->file("tinyproxy.log")));
    }
    int port() const { return m_port; }
    std::string address() const { return "127.0.0.1:" + std::to_string(m_port); }
    std::string logText() const { return readAll(m_dir->file("tinyproxy.log")); }
    void stop() { m_child.stop(); }

private:
    ChildProcess m_child;
    std::unique_ptr<TempDir> m_dir;
    int m_port = 0;
};

} // namespace tarnwick::test
