#pragma once

// A mail submission server that signs in for real, started on 127.0.0.1 and stopped again:
// Postfix offers SMTP with STARTTLS and hands every AUTH to Dovecot, which knows one password
// user (PLAIN, LOGIN) and checks bearer tokens (XOAUTH2, OAUTHBEARER) with the local OAuth 2.0
// authority in tools/oauth-authority. Postfix hands every accepted message to a small script
// that files it in the rig's outbox, so a test reads what the server received.
//
// Each peer has its own configuration, queue, sockets and logs in the rig's temporary folder;
// the system's Postfix and Dovecot are never touched. Postfix's master runs only as root.

#include "files.h"
#include "loopback.h"
#include "peers.h"
#include "tempdir.h"
#include "testca.h"

#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
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

namespace tarnwick::test {

class MailRig {
public:
    struct Options {
        // The mechanisms the server lists after STARTTLS and accepts, from plain, login, xoauth2,
        // oauthbearer and cram-md5 (which no sign-in of ours speaks); none: the server offers no AUTH.
        std::string mechanisms = "plain login xoauth2 oauthbearer";
        bool authWithoutTls = false; // AUTH is offered before STARTTLS too
        bool startTls = true;        // the server offers STARTTLS
        int accessLifetime = 3600;   // seconds an access token from the authority stays good
    };

    struct Message {
        std::string from;               // envelope sender
        std::vector<std::string> rcpts; // envelope recipients
        std::string method;             // the AUTH mechanism of the session, as Postfix names it
        std::string login;              // the user it signed in as
        std::string data;               // the message as received, with LF line ends
    };

    struct Tokens {
        std::string access;
        std::string refresh;
    };

    static constexpr const char* kMaster = "/usr/lib/postfix/sbin/master";
    static constexpr const char* kDovecot = "/usr/sbin/dovecot";
    static constexpr const char* kSetsid = "/usr/bin/setsid";

    // Why the rig cannot run on this machine; empty when it can.
    static std::string unavailableReason()
    {
        if (::access("/usr/bin/python3", X_OK) != 0)
            return "/usr/bin/python3 is not installed (it runs the OAuth authority)";
        if (::access(kMaster, X_OK) != 0)
            return "Postfix is not installed (package postfix; scripts/setup installs it)";
        if (::access(kDovecot, X_OK) != 0)
            return "Dovecot is not installed (package dovecot-core; scripts/setup installs it)";
        if (::geteuid() != 0)
            return "Postfix's master process runs only as root";
        if (::getpwnam("postfix") == nullptr || ::getgrnam("postdrop") == nullptr || ::getpwnam("nobody") == nullptr)
            return "the postfix user or the postdrop group is missing (reinstall package postfix)";
        return {};
    }

    MailRig() : MailRig(Options{}) {}
    explicit MailRig(Options options) : m_options(std::move(options)) {}
    ~MailRig() { stop(); }
    MailRig(const MailRig&) = delete;
    MailRig& operator=(const MailRig&) = delete;

    // Starts the authority, Dovecot and Postfix; throws with their logs when one does not come up.
    void start()
    {
        m_dir = std::make_unique<TempDir>();
        // Postfix's and Dovecot's unprivileged processes reach their files below this folder.
        std::filesystem::permissions(m_dir->path(),
                                     std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                                         std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
                                         std::filesystem::perms::others_exec);
        m_authority.start({"/usr/bin/python3", std::string(TARNWICK_SOURCE_DIR) + "/tools/oauth-authority", "--port",
                           "0", "--user", oauthUser(), "--access-lifetime", std::to_string(m_options.accessLifetime)});
        m_ca = std::make_unique<TestCa>();
        const std::string line = m_authority.readLine(30000);
        const std::size_t colon = line.rfind(':');
        m_authorityPort = colon == std::string::npos ? 0 : std::atoi(line.c_str() + colon + 1);
        if (m_authorityPort <= 0)
            throw std::runtime_error("the OAuth authority did not start");
        if (!m_ca->ok())
            throw std::runtime_error("openssl could not make the rig's certificates");

        writeDovecotConfig();
        // Each in a session of its own, which stop() ends with all its processes.
        m_dovecot.start({kSetsid, kDovecot, "-F", "-c", file("dovecot.conf")});
        m_port = freeLoopbackPort();
        writePostfixConfig();
        m_postfix.start({kSetsid, kMaster, "-d", "-c", file("postfix")});

        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        // stop() reads the pid file, which Dovecot writes after opening its sockets.
        while (!std::filesystem::exists(file("dovecot/auth-client")) || readAll(file("dovecot/master.pid")).empty()) {
            if (!m_dovecot.running() || std::chrono::steady_clock::now() > end)
                throw std::runtime_error("Dovecot did not start: " + readAll(file("dovecot.log")));
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (!waitUntilAccepting(m_postfix, m_port, 30000))
            throw std::runtime_error("Postfix did not start: " + log());
    }

    // Ends the peers at once: nothing they hold outlives the rig, so they are not asked to wind down.
    void stop()
    {
        if (m_dir && m_postfix.running())
            killSession(file("queue/pid/master.pid"));
        if (m_dir && m_dovecot.running())
            killSession(file("dovecot/master.pid"));
        m_postfix.stop();
        m_dovecot.stop();
        m_authority.stop();
    }

    int port() const { return m_port; }
    std::string address() const { return "127.0.0.1:" + std::to_string(m_port); }
    // The certificate authority that signed the server's certificate (for localhost and 127.0.0.1).
    std::string caFile() const { return m_ca->caFile(); }

    // The password user, signing in with PLAIN or LOGIN.
    static std::string passwordUser() { return "sam@example.test"; }
    static std::string password() { return "rig-password"; }
    // The account every token from the authority belongs to (XOAUTH2, OAUTHBEARER).
    static std::string oauthUser() { return "alice@example.test"; }
    static std::string clientId() { return "tarnwick-test"; }

    int authorityPort() const { return m_authorityPort; }
    std::string authorityUrl(const std::string& path = "") const
    {
        return "http://127.0.0.1:" + std::to_string(m_authorityPort) + path;
    }

    // Fresh tokens for oauthUser(): a device sign-in the authority's test control approves at once.
    Tokens signIn()
    {
        const std::string device = post("/device", "client_id=" + clientId() + "&scope=smtp");
        const std::string userCode = jsonString(device, "user_code");
        if (userCode.empty() || post("/test/approve?user_code=" + userCode, "").empty())
            throw std::runtime_error("the authority refused the device sign-in: " + device);
        const std::string answer =
            post("/token", "grant_type=urn%3Aietf%3Aparams%3Aoauth%3Agrant-type%3Adevice_code&device_code=" +
                               jsonString(device, "device_code") + "&client_id=" + clientId());
        Tokens tokens{jsonString(answer, "access_token"), jsonString(answer, "refresh_token")};
        if (tokens.access.empty())
            throw std::runtime_error("the authority gave no token: " + answer);
        return tokens;
    }

    // The requests the authority saw, one JSON object a line.
    std::string authorityLog() const { return loopbackGet(m_authorityPort, "/test/log"); }

    // One of the authority's test controls ("expire", "revoke", "slow-down", ...); whether it was done.
    bool control(const std::string& name) { return post("/test/" + name, "") == "204"; }

    // Every message Postfix passed on so far, in arrival order.
    std::vector<Message> messages() const
    {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(file("outbox")))
            if (e.path().extension() == ".eml")
                names.push_back(e.path().string());
        std::sort(names.begin(), names.end());
        std::vector<Message> out;
        for (const std::string& name : names)
            out.push_back(parseMessage(readAll(name)));
        return out;
    }

    // Waits until at least `count` messages have arrived; whether they did within `timeoutMs`.
    bool waitForMessages(std::size_t count, int timeoutMs = 10000) const
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (messages().size() < count) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }

    // Postfix's log and Dovecot's.
    std::string log() const { return readAll(file("maillog")); }
    std::string authLog() const { return readAll(file("dovecot.log")); }

    // The commands of every finished SMTP session as Postfix counts them, e.g.
    // "ehlo=2 starttls=1 auth=1 mail=1 rcpt=1 data=1 quit=1 commands=8" (a failed AUTH counts "auth=0/1",
    // a HELO after STARTTLS "ehlo=1 starttls=1 helo=1").
    std::vector<std::string> sessions() const
    {
        std::vector<std::string> out;
        std::istringstream in(log());
        const std::string mark = "disconnect from ";
        for (std::string line; std::getline(in, line);) {
            const std::size_t at = line.find(mark);
            const std::size_t counts = at == std::string::npos ? at : line.find("] ", at);
            // The rig's own check that Postfix listens says nothing.
            if (line.find("postfix/smtpd[") != std::string::npos && counts != std::string::npos &&
                line.compare(counts + 2, std::string::npos, "commands=0/0") != 0)
                out.push_back(line.substr(counts + 2));
        }
        return out;
    }

    // Waits until Postfix has logged at least `count` sessions; whether it did within `timeoutMs`.
    bool waitForSessions(std::size_t count, int timeoutMs = 10000) const
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (sessions().size() < count) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }

private:
    std::string file(const std::string& name) const { return m_dir->file(name); }

    // Kills every process of the session led by the process whose id the file holds.
    static void killSession(const std::string& pidFile)
    {
        const int pid = std::atoi(readAll(pidFile).c_str());
        if (pid > 1 && ::getsid(pid) == pid)
            ::kill(-pid, SIGKILL);
    }

    void writeDovecotConfig() const
    {
        std::filesystem::create_directory(file("dovecot"));
        writeFile(file("dovecot-users"), passwordUser() + ":{PLAIN}" + password() + "\n");
        writeFile(file("dovecot-oauth2.conf"),
                  "introspection_mode = post\nintrospection_url = " + authorityUrl("/introspect") +
                      "\nusername_attribute = username\nactive_attribute = active\n"
                      "active_value = true\n");
        std::ostringstream c;
        c << "base_dir = " << file("dovecot") << "\nstate_dir = " << file("dovecot-state")
          << "\ninstance_name = tarnwick-mailrig-" << m_authorityPort
          << "\nprotocols =\nlog_path = " << file("dovecot.log")
          << "\nssl = no\n"
          // Postfix decides where a password may go; Dovecot only checks it.
          << "disable_plaintext_auth = no\nauth_mechanisms = "
          << (m_options.mechanisms.empty() ? "plain" : m_options.mechanisms) << "\n"
          << "auth_verbose = yes\nauth_failure_delay = 0\n"
          << "passdb {\n  driver = passwd-file\n  mechanisms = plain login cram-md5\n  args = scheme=PLAIN "
             "username_format=%u "
          << file("dovecot-users") << "\n}\n"
          << "passdb {\n  driver = oauth2\n  mechanisms = xoauth2 oauthbearer\n  args = " << file("dovecot-oauth2.conf")
          << "\n}\n"
          << "userdb {\n  driver = static\n  args = uid=nobody gid=nogroup home=/nonexistent\n}\n"
          << "service auth {\n  unix_listener auth-client {\n    mode = 0666\n  }\n}\n"
          // Without the penalty socket Dovecot does not slow down a client after each refusal,
          // which tests refusing tokens on purpose would otherwise wait for.
          << "service anvil {\n  unix_listener anvil-auth-penalty {\n    mode = 0\n  }\n}\n";
        writeFile(file("dovecot.conf"), c.str());
    }

    void writePostfixConfig() const
    {
        const passwd* owner = ::getpwnam("postfix");
        const group* postdrop = ::getgrnam("postdrop");
        const auto dir = [](const std::string& path, uid_t uid, gid_t gid, mode_t mode) {
            std::filesystem::create_directories(path);
            if (::chown(path.c_str(), uid, gid) != 0 || ::chmod(path.c_str(), mode) != 0)
                throw std::runtime_error("cannot prepare " + path);
        };
        // The queue as `postfix check` would make it, without its slow walk over every file.
        dir(file("queue"), 0, 0, 0755);
        dir(file("queue/pid"), 0, 0, 0755);
        for (const char* name : {"active", "bounce", "corrupt", "defer", "deferred", "flush", "hold", "incoming",
                                 "private", "saved", "trace"})
            dir(file("queue/") + name, owner->pw_uid, owner->pw_gid, 0700);
        dir(file("queue/maildrop"), owner->pw_uid, postdrop->gr_gid, 0730);
        dir(file("queue/public"), owner->pw_uid, postdrop->gr_gid, 0710);
        dir(file("data"), owner->pw_uid, owner->pw_gid, 0700);
        dir(file("outbox"), 0, 0, 0777);
        dir(file("postfix"), 0, 0, 0755);

        // The delivery agent runs as nobody and files each message: envelope lines, a blank line, the message.
        writeFile(file("record"), "#!/bin/sh\nout=" + file("outbox") +
                                      "\ntmp=\"$out/.new-$$\"\n"
                                      "{ for a; do echo \"$a\"; done; echo; cat; } > \"$tmp\" && "
                                      "mv \"$tmp\" \"$out/$(date +%s%N)-$$.eml\"\n");
        ::chmod(file("record").c_str(), 0755);

        std::ostringstream m;
        m << "compatibility_level = 3.6\nqueue_directory = " << file("queue") << "\ndata_directory = " << file("data")
          << "\nmail_owner = postfix\nsetgid_group = postdrop\nmaillog_file = " << file("maillog")
          << "\nmaillog_file_prefixes = " << m_dir->path()
          << "\ninet_interfaces = 127.0.0.1\ninet_protocols = ipv4\nmyhostname = mailrig.localhost\n"
          << "mydomain = localhost\nmydestination =\nrelay_domains =\nlocal_recipient_maps =\nalias_maps =\n"
          << "alias_database =\nbiff = no\nsmtpd_peername_lookup = no\n"
          // The message goes on as the client wrote it: no added Date, Message-ID or domain.
          << "local_header_rewrite_clients =\ndefault_transport = record\nrelay_transport = record\n"
          << "smtpd_relay_restrictions = permit_sasl_authenticated, reject\nsmtpd_sasl_auth_enable = "
          << (m_options.mechanisms.empty() ? "no" : "yes") << "\n"
          << "smtpd_sasl_type = dovecot\nsmtpd_sasl_path = " << file("dovecot/auth-client")
          << "\nsmtpd_tls_security_level = " << (m_options.startTls ? "may" : "none")
          << "\nsmtpd_tls_auth_only = " << (m_options.authWithoutTls ? "no" : "yes")
          << "\nsmtpd_tls_cert_file = " << m_ca->certFile() << "\nsmtpd_tls_key_file = " << m_ca->keyFile() << "\n";
        writeFile(file("postfix/main.cf"), m.str());

        std::ostringstream s;
        s << "127.0.0.1:" << m_port << " inet n - n - - smtpd\n"
          << "cleanup unix n - n - 0 cleanup\nqmgr unix n - n 300 1 qmgr\ntlsmgr unix - - n 1000? 1 tlsmgr\n"
          << "rewrite unix - - n - - trivial-rewrite\nbounce unix - - n - 0 bounce\n"
          << "defer unix - - n - 0 bounce\ntrace unix - - n - 0 bounce\nverify unix - - n - 1 verify\n"
          << "flush unix n - n 1000? 0 flush\nproxymap unix - - n - - proxymap\nanvil unix - - n - 1 anvil\n"
          << "scache unix - - n - 1 scache\npostlog unix-dgram n - n - 1 postlogd\n"
          << "record unix - n n - - pipe user=nobody argv=" << file("record")
          << " from=${sender} method=${sasl_method} login=${sasl_username} rcpt=${recipient}\n";
        writeFile(file("postfix/master.cf"), s.str());
        // Postfix waits until a main.cf written within the current second has settled; this one has.
        for (const char* name : {"postfix/main.cf", "postfix/master.cf"})
            std::filesystem::last_write_time(file(name),
                                             std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));
    }

    static Message parseMessage(const std::string& blob)
    {
        Message m;
        const std::size_t end = blob.find("\n\n");
        std::istringstream head(blob.substr(0, end));
        for (std::string line; std::getline(head, line);) {
            const std::size_t eq = line.find('=');
            const std::string key = line.substr(0, eq);
            const std::string value = eq == std::string::npos ? std::string() : line.substr(eq + 1);
            if (key == "from")
                m.from = value;
            else if (key == "method")
                m.method = value;
            else if (key == "login")
                m.login = value;
            else if (key == "rcpt")
                m.rcpts.push_back(value);
        }
        m.data = end == std::string::npos ? std::string() : blob.substr(end + 2);
        // Postfix's own Received: field comes first; the rest is the client's.
        if (m.data.rfind("Received: ", 0) == 0) {
            std::size_t next = m.data.find('\n');
            while (next != std::string::npos && next + 1 < m.data.size() &&
                   (m.data[next + 1] == ' ' || m.data[next + 1] == '\t'))
                next = m.data.find('\n', next + 1);
            m.data.erase(0, next == std::string::npos ? next : next + 1);
        }
        return m;
    }

    // The body of the authority's answer to a form POST, or its status line's code when it has no body.
    std::string post(const std::string& path, const std::string& form) const
    {
        const std::string reply =
            loopbackExchange(m_authorityPort, "POST " + path +
                                                  " HTTP/1.0\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                                                  "Content-Length: " +
                                                  std::to_string(form.size()) + "\r\n\r\n" + form);
        const std::size_t body = reply.find("\r\n\r\n");
        if (body == std::string::npos)
            return {};
        if (body + 4 < reply.size())
            return reply.substr(body + 4);
        const std::size_t code = reply.find(' ');
        return code == std::string::npos ? std::string() : reply.substr(code + 1, 3);
    }

    // The string value of `key` in the flat JSON object `json`; the authority's values need no unescaping.
    static std::string jsonString(const std::string& json, const std::string& key)
    {
        const std::size_t at = json.find("\"" + key + "\"");
        const std::size_t open = at == std::string::npos ? at : json.find('"', json.find(':', at) + 1);
        const std::size_t close = open == std::string::npos ? open : json.find('"', open + 1);
        return close == std::string::npos ? std::string() : json.substr(open + 1, close - open - 1);
    }

    Options m_options;
    std::unique_ptr<TempDir> m_dir;
    std::unique_ptr<TestCa> m_ca;
    ChildProcess m_authority;
    ChildProcess m_dovecot;
    ChildProcess m_postfix;
    int m_authorityPort = 0;
    int m_port = 0;
};

} // namespace tarnwick::test
