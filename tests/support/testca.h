#pragma once

// A certificate authority made by the openssl command for one test run, and a server certificate
// it signs for localhost (and 127.0.0.1 unless told otherwise).

#include "tempdir.h"

#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>

namespace tarnwick::test {

class TestCa {
public:
    struct Options {
        bool ipAddressToo = true; // the server certificate names 127.0.0.1 besides localhost
        bool otherCa = false;     // a second CA ("other.pem") that vouches for nothing here
    };

    TestCa() : TestCa(Options{}) {}
    explicit TestCa(Options options)
    {
        const std::string ec = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
        std::ofstream(file("ext.cnf")) << "subjectAltName=DNS:localhost"
                                       << (options.ipAddressToo ? ",IP:127.0.0.1" : "")
                                       << "\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n";
        for (const char* ca : {"ca", "other"}) {
            if (std::string_view(ca) == "other" && !options.otherCa)
                continue;
            m_ok = m_ok && run("openssl req -x509" + ec + " -days 2 -subj '/CN=Tarnwick test " + ca + "' -keyout " +
                               file(std::string(ca) + ".key") + " -out " + file(std::string(ca) + ".pem") +
                               " -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign");
        }
        m_ok = m_ok &&
               run("openssl req" + ec + " -subj /CN=localhost -keyout " + file("server.key") + " -out " +
                   file("server.csr")) &&
               run("openssl x509 -req -days 2 -in " + file("server.csr") + " -CA " + file("ca.pem") + " -CAkey " +
                   file("ca.key") + " -CAcreateserial -extfile " + file("ext.cnf") + " -out " + file("server.pem"));
    }
    bool ok() const { return m_ok; }
    std::string caFile() const { return file("ca.pem"); }
    std::string certFile() const { return file("server.pem"); }
    std::string keyFile() const { return file("server.key"); }
    std::string file(const std::string& name) const { return m_dir.file(name); }

private:
    static bool run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

    TempDir m_dir;
    bool m_ok = true;
};

} // namespace tarnwick::test
