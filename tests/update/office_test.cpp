// Today's office through tarnwick-cli: XML records over HTTPS with an API key, the answers that ask the
// client to come back later, mail over STARTTLS, and a canary that neither secret leaves Tarnwick in clear;
// and the simulated office's page and record telling each event of a mark's life alike.
#include "net/base64.h"
#include "platform/files.h"
#include "support/loopback.h"
#include "support/office.h"
#include "support/runcli.h"
#include "support/tempdir.h"
#include "support/testca.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <poll.h>
#include <thread>

using namespace tarnwick;

namespace {

// Relays one loopback port to another and keeps every byte the client sent.
class WireTap {
public:
    explicit WireTap(int targetPort) : m_target(targetPort)
    {
        m_thread = std::thread([this] { run(); });
    }
    ~WireTap()
    {
        m_stop = true;
        m_thread.join();
    }
    int port() const { return m_listener.port(); }
    std::string sent() const
    {
        std::lock_guard lock(m_mutex);
        return m_sent;
    }

private:
    void run()
    {
        while (!m_stop) {
            pollfd p{m_listener.fd(), POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            const int client = ::accept4(m_listener.fd(), nullptr, nullptr, SOCK_CLOEXEC);
            const int server = test::connectLoopback(m_target);
            if (server >= 0) {
                pump(client, server);
                ::close(server);
            }
            ::close(client);
        }
    }
    void pump(int client, int server)
    {
        char buffer[16384];
        while (!m_stop) {
            pollfd p[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
            if (::poll(p, 2, 50) <= 0)
                continue;
            for (int i = 0; i < 2; ++i) {
                if (!(p[i].revents & (POLLIN | POLLHUP | POLLERR)))
                    continue;
                const ssize_t n = ::read(p[i].fd, buffer, sizeof buffer);
                if (n <= 0)
                    return;
                if (i == 0) {
                    std::lock_guard lock(m_mutex);
                    m_sent.append(buffer, static_cast<size_t>(n));
                }
                if (::send(i == 0 ? server : client, buffer, static_cast<size_t>(n), MSG_NOSIGNAL) != n)
                    return;
            }
        }
    }

    int m_target;
    test::LoopbackListener m_listener;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;
    std::string m_sent;
    std::thread m_thread;
};

class OfficeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_ca.ok());
        m_office.start(6, 1, 1, {"--cert", m_ca.certFile(), "--key", m_ca.keyFile(), "--api-key", std::string(k_key)});
        ::mkdir(m_dir.file("log").c_str(), 0700);
        ASSERT_EQ(cli({"config", "set", "LogDir", m_dir.file("log")}).exit, 0);
    }
    test::CliRun cli(const std::vector<std::string>& args) const
    {
        return test::runCli(args, m_dir.file("settings.ini"));
    }
    // The office-xml rules as `rules use office-xml` writes them, their addresses turned to the simulator.
    void useXmlRules()
    {
        ASSERT_EQ(cli({"rules", "use", "office-xml"}).exit, 0);
        const std::string path = m_dir.file("log/Tarnwick/rules.txt");
        ASSERT_EQ(platform::readFile(path).value_or(""), rules::RulesFile::officeXmlText());
        std::string text = m_office.xmlRulesText();
        const std::string from = "http://www.tarnwick.example";
        text.replace(text.find(from), from.size(), m_office.base());
        ASSERT_TRUE(platform::writeFileAtomic(path, text));
        ASSERT_EQ(cli({"config", "set", "CaFile", m_ca.caFile()}).exit, 0);
    }
    void addMarks(int count)
    {
        for (int i = 0; i < count; ++i)
            ASSERT_EQ(cli({"add", test::OfficeSimulator::serial(i), "--reference", "M" + std::to_string(i)}).exit, 0);
    }

    static constexpr std::string_view k_key = "K3y-8c41f0-canary";
    test::TestCa m_ca;
    test::OfficeSimulator m_office;
    test::TempDir m_dir;
};

} // namespace

TEST_F(OfficeTest, XmlRecordsOverHttpsWithTheApiKey)
{
    struct Case {
        std::string key; // the ApiKey setting
        std::string out; // the update's lines for the two marks
    };
    const Case cases[] = {
        {"", "[1/2] M0 75-000001: failed: HttpGet: HTTP Get Failed. (401 Unauthorized)\n"
             "[2/2] M1 75-000002: failed: HttpGet: HTTP Get Failed. (401 Unauthorized)\n"},
        {"wrong", "[1/2] M0 75-000001: failed: HttpGet: HTTP Get Failed. (401 Unauthorized)\n"
                  "[2/2] M1 75-000002: failed: HttpGet: HTTP Get Failed. (401 Unauthorized)\n"},
        {std::string(k_key), "[1/2] M0 75-000001: first reading\n[2/2] M1 75-000002: first reading\n"},
    };
    useXmlRules();
    addMarks(2);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        ASSERT_EQ(cli({"config", "set", "ApiKey", c.key}).exit, 0);
        const test::CliRun r = cli({"update"});
        EXPECT_EQ(r.out.substr(0, c.out.size()), c.out) << r.out << r.err;
    }
    // the record's values reached the entry: the simulator's mark 0 on day 1
    const test::CliRun details = cli({"details", test::OfficeSimulator::serial(0)});
    EXPECT_NE(details.out.find("Abandoned - failure to respond."), std::string::npos) << details.out;
}

TEST_F(OfficeTest, RetryAfterIsWaitedThenTriedAgainUpToThreeTimes)
{
    struct Case {
        const char* fault;
        std::string line;
    };
    // the second mark's page is asked for while the first one's is read
    const Case cases[] = {
        {"429", "[2/2] M1 75-000002: failed: HttpGet: HTTP Get Failed. (429 Too Many Requests)\n"},
        {"429once", "[2/2] M1 75-000002: first reading\n"},
    };
    ::mkdir(m_dir.file("log/Tarnwick").c_str(), 0700);
    ASSERT_TRUE(platform::writeFileAtomic(m_dir.file("log/Tarnwick/rules.txt"), m_office.rulesText()));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        std::filesystem::remove(m_dir.file("log/tradmark.dat"));
        addMarks(2);
        m_office.setFault(test::OfficeSimulator::serial(1), c.fault);
        const test::CliRun r = cli({"update"});
        EXPECT_NE(r.out.find("[1/2] M0 75-000001: first reading\n" + c.line), std::string::npos) << r.out;
        const std::string log = platform::readFile(m_dir.file("log/Tarnwick.log")).value_or("");
        size_t waits = 0;
        for (size_t at = log.find("asks to try again"); at != std::string::npos;
             at = log.find("asks to try again", at + 1))
            ++waits;
        EXPECT_EQ(waits, std::string(c.fault) == "429" ? 3u : 1u) << log;
        std::filesystem::remove(m_dir.file("log/Tarnwick.log"));
    }
}

// The rules download and two status pages go to one host: with a pace of 700 ms the run takes at least
// two intervals.
TEST_F(OfficeTest, FetchTrustsTheCaFileAsTheUpdateDoes)
{
    const std::string page = "https://127.0.0.1:" + std::to_string(m_office.tlsPort()) +
                             "/servlet/tarr?regser=serial&entry=" + test::OfficeSimulator::serial(0);
    for (const bool caFile : {false, true}) {
        SCOPED_TRACE(caFile);
        ASSERT_EQ(cli({"config", "set", "CaFile", caFile ? m_ca.caFile() : ""}).exit, 0);
        const test::CliRun run = cli({"fetch", page});
        EXPECT_EQ(run.exit, caFile ? 0 : 1) << run.err;
        EXPECT_EQ(run.out.find("Serial Number") != std::string::npos, caFile) << run.out;
        EXPECT_EQ(run.err.find("TLS: Secure connection failed.") != std::string::npos, !caFile) << run.err;
    }
}

TEST_F(OfficeTest, RequestIntervalSpacesRequestsToOneHost)
{
    ::mkdir(m_dir.file("log/Tarnwick").c_str(), 0700);
    ASSERT_TRUE(platform::writeFileAtomic(m_dir.file("log/Tarnwick/rules.txt"), m_office.rulesText()));
    addMarks(2);
    ASSERT_EQ(cli({"config", "set", "RequestInterval", "700"}).exit, 0);
    // the "entry added" notices would go after the run, and no mail server is set
    ASSERT_EQ(cli({"config", "set", "SendAfterUpdate", "0"}).exit, 0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(cli({"update"}).exit, 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1400));
}

// A run with the password and the API key set: no file Tarnwick wrote and no byte it sent holds either,
// and the mail went out over STARTTLS.
TEST_F(OfficeTest, CanaryNeitherSecretLeavesInClear)
{
    const std::string password = "pw-77e1-canary";
    test::SmtpSink sink;
    sink.start("tester", password, "", {"--tls", "starttls", "--cert", m_ca.certFile(), "--key", m_ca.keyFile()});
    WireTap tap(sink.port());
    useXmlRules();
    addMarks(3);
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"config", "set", "ApiKey", std::string(k_key)},
             {"config", "set", "Password", password},
             {"config", "set", "UserName", "tester"},
             {"config", "set", "SmtpServer", "localhost:" + std::to_string(tap.port())},
             {"config", "set", "ReturnAddress", "tarnwick@example.test"},
             {"config", "set", "NotifyAddress", "practice@example.test"},
             {"config", "set", "ReportDir", m_dir.file("reports")}}) {
        ASSERT_EQ(cli(args).exit, 0) << args[3];
    }
    ::mkdir(m_dir.file("reports").c_str(), 0700);
    ASSERT_EQ(cli({"update"}).exit, 0);
    m_office.setDay(300);
    const test::CliRun run = cli({"update"});
    cli({"send"});
    cli({"report"});
    EXPECT_FALSE(sink.messages().empty()) << run.out << run.err;
    EXPECT_EQ(cli({"config", "list"}).out.find("ApiKey"), std::string::npos);

    const std::string secrets[] = {password, std::string(k_key), net::base64Encode(password)};
    for (const auto& file : std::filesystem::recursive_directory_iterator(m_dir.path())) {
        if (!file.is_regular_file())
            continue;
        std::string text = platform::readFile(file.path().string()).value_or("");
        for (const std::string& secret : secrets)
            EXPECT_EQ(text.find(secret), std::string::npos) << file.path() << " holds " << secret;
    }
    const std::string wire = tap.sent();
    EXPECT_NE(wire.find("STARTTLS"), std::string::npos);
    for (const std::string& secret : secrets)
        EXPECT_EQ(wire.find(secret), std::string::npos) << "sent " << secret;
}

// Each event of a mark's life reads the same from the simulator's status page and from its XML record: the
// status, its date, the newest history item (in capitals in the record, as the office writes them) and the
// publication date. The marks of seed 87 pass through every kind of event in their first eight.
TEST(OfficeSimulatorEvents, EachEventReadsTheSameFromThePageAndTheRecord)
{
    struct Case {
        int mark;
        int day;
        const char* status;
        const char* date;
        const char* history;
        const char* published;
    };
    const Case cases[] = {
        {0, 49, "Non-final action e-mailed.", "2004-02-22", "Non-Final Action E-Mailed", ""},
        {7, 3, "Final refusal e-mailed.", "2004-01-07", "Final Refusal E-Mailed", ""},
        {1, 227, "Suspension inquiry e-mailed.", "2004-08-18", "Suspension Inquiry E-Mailed", ""},
        {1, 76, "Response received.", "2004-03-20", "Teas Response To Office Action Received", ""},
        {0, 136, "Abandoned - failure to respond.", "2004-05-19", "Abandonment Notice Mailed", ""},
        {1, 334, "Published for opposition.", "2004-12-03", "Published For Opposition", "2004-12-03"},
        {4, 34, "Notice of allowance issued.", "2004-02-07", "Notice Of Allowance - Issued", "2003-12-13"},
        {4, 385, "Extension 2 granted.", "2005-01-23", "Extension 2 Granted", "2003-12-13"},
        {4, 718, "Statement of use filed.", "2005-12-22", "Teas Statement Of Use Received", "2003-12-13"},
        {4, 769, "Statement of use accepted.", "2006-02-11", "Statement Of Use - Accepted", "2003-12-13"},
        {1, 396, "Registered.", "2005-02-03", "Registered - Principal Register", "2004-12-03"},
        {7, 926, "Post registration action e-mailed.", "2006-07-18", "Post Registration Action E-Mailed", "2004-05-23"},
    };
    test::TempDir dir;
    const std::string xmlRules = dir.file("office-xml.txt");
    ASSERT_TRUE(platform::writeFileAtomic(xmlRules, std::string(rules::RulesFile::officeXmlText())));
    const auto upper = [](std::string text) {
        std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
        return text;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        const std::string serial = test::OfficeSimulator::serial(c.mark);
        for (const std::string format : {"html", "xml"}) {
            SCOPED_TRACE(format);
            const std::string out = dir.file(format + std::to_string(c.day));
            const std::string command =
                "/usr/bin/python3 " + test::shellQuoted(TARNWICK_SOURCE_DIR) +
                "/tools/office_simulator.py pages --base http://127.0.0.1:9 --seed 87 --size 8" + " --day " +
                std::to_string(c.day) + " --format " + format + " --out " + test::shellQuoted(out);
            ASSERT_EQ(std::system(command.c_str()), 0) << command;
            const bool xml = format == "xml";
            const std::string page = xml ? out + "/ts/cd/casestatus/sn" + serial + "/info.xml"
                                         : out + "/serial/" + serial.substr(0, 2) + "-" + serial.substr(2) + ".html";
            std::vector<std::string> args = {"extract", page, "--number", serial};
            if (xml)
                args.insert(args.end(), {"--rules", xmlRules});
            const test::CliRun r = test::runCli(args);
            ASSERT_EQ(r.exit, 0) << r.out << r.err;
            EXPECT_NE(r.out.find(std::string("\nStatusText: ") + c.status + "\n"), std::string::npos) << r.out;
            EXPECT_NE(r.out.find(std::string("\nStatusDate: ") + c.date + "\n"), std::string::npos) << r.out;
            EXPECT_NE(upper(r.out).find(upper(std::string("\nLastHistory: ") + c.date + " - " + c.history + "\n")),
                      std::string::npos)
                << r.out;
            EXPECT_NE(r.out.find(std::string("\nPublishedDate: ") + c.published + "\n"), std::string::npos) << r.out;
        }
    }
}
