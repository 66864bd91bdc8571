#pragma once

// The office simulator of tools/ as a test peer on 127.0.0.1.

#include "loopback.h"
#include "peers.h"
#include "rules/rulesfile.h"

#include <algorithm>
#include <string>
#include <vector>

namespace tarnwick::test {

class OfficeSimulator {
public:
    // `extra` are further serve options; with "--cert" the simulator serves HTTPS on a second port too. The
    // rules it serves are signed with the test distributor key unless `signRules` was cleared.
    void start(int size = 20, int seed = 1, int day = 1, const std::vector<std::string>& extra = {})
    {
        std::vector<std::string> command = {"/usr/bin/python3",
                                            std::string(TARNWICK_SOURCE_DIR) + "/tools/office_simulator.py",
                                            "serve",
                                            "--size",
                                            std::to_string(size),
                                            "--seed",
                                            std::to_string(seed),
                                            "--day",
                                            std::to_string(day)};
        command.insert(command.end(), extra.begin(), extra.end());
        if (signRules)
            command.insert(command.end(),
                           {"--sign-key", std::string(TARNWICK_TEST_DATA) + "/distributor-test-key.pem"});
        m_child.start(command);
        m_port = readPort();
        if (std::find(extra.begin(), extra.end(), "--cert") != extra.end())
            m_tlsPort = readPort();
    }
    void stop() { m_child.stop(); }
    bool signRules = true;
    int port() const { return m_port; }
    int tlsPort() const { return m_tlsPort; }
    std::string base() const { return "http://127.0.0.1:" + std::to_string(m_port); }

    // A control request ("/sim/day?d=3"); the answer's body.
    std::string control(const std::string& path) const { return loopbackGet(m_port, path); }
    void setDay(int day) const { control("/sim/day?d=" + std::to_string(day)); }
    void setFault(const std::string& serial, const std::string& kind) const
    {
        control("/sim/fault?entry=" + serial + "&kind=" + kind);
    }

    // The built-in rules with every address pointing at the simulator.
    std::string rulesText(const std::string& version = "4.2.06.500") const
    {
        std::string text(rules::RulesFile::defaultText());
        text = "version: " + version + text.substr(text.find("\r\n"));
        for (const std::string from : {"http://tarr.uspto.gov", "http://www.tarnwick.example"}) {
            for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at))
                text.replace(at, from.size(), base());
        }
        return text;
    }

    // The office-xml rules with the record addresses pointing at the simulator's HTTPS port.
    std::string xmlRulesText() const
    {
        std::string text(rules::RulesFile::officeXmlText());
        const std::string from = "https://tsdrapi.uspto.gov";
        const std::string to = "https://127.0.0.1:" + std::to_string(m_tlsPort);
        for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
            text.replace(at, from.size(), to);
        return text;
    }

    // The serial number of mark `index` as the simulator numbers them.
    static std::string serial(int index)
    {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%08d", 75000001 + index);
        return buf;
    }

private:
    int readPort()
    {
        const std::string line = m_child.readLine(30000);
        const int port = line.empty() ? 0 : std::stoi(line);
        if (port <= 0)
            throw std::runtime_error("office simulator did not start");
        return port;
    }

    ChildProcess m_child;
    int m_port = 0;
    int m_tlsPort = 0;
};

} // namespace tarnwick::test
