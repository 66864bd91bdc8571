// The e-mail queue end to end: 1000 notifications posted into a fresh logging
// folder, then sent in one batch to a local SMTP sink (aiosmtpd on 127.0.0.1).
// Prints posts per second and messages sent per second.
#include "base/frontend.h"
#include "base/log.h"
#include "base/settings.h"
#include "core/entry.h"
#include "notify/appnames.h"
#include "notify/emailqueue.h"
#include "notify/templates.h"
#include "rules/templatevars.h"
#include "tasks/taskhost.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using namespace tarnwick;

namespace {

constexpr int k_messages = 1000;

// A front end without a window whose waits return at once.
class QuietFrontEnd final : public base::FrontEnd, public tasks::TaskHost {
public:
    base::Answer messageBox(const base::MessageBox& box) override
    {
        std::fprintf(stderr, "box: %s\n", box.text.c_str());
        return box.defaultAnswer;
    }
    std::optional<std::string> textInput(const std::string&, const std::string&, const std::string&) override
    {
        return std::nullopt;
    }
    void runStart(const std::string&, int) override {}
    void runPosition(int) override {}
    void runEnd() override {}
    void operationStart(int) override {}
    void operationEnd() override {}
    void statusLine(const std::string&) override {}
    void setBusy(bool) override {}
    void rowChanged(int) override {}
    void dispatch(int) override {}
    bool cancelRequested() const override { return false; }
};

// tools/smtp_sink.py on a free loopback port, ended with the object.
class Sink {
public:
    explicit Sink(const std::string& folder)
    {
        int out[2];
        if (::pipe(out) != 0)
            std::exit(1);
        const std::string script = std::string(TARNWICK_TEST_DATA) + "/../../tools/smtp_sink.py";
        const char* argv[] = {"/usr/bin/python3", script.c_str(), "--port", "0", "--dir", folder.c_str(), nullptr};
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, out[1], 1);
        posix_spawn_file_actions_addclose(&fa, out[0]);
        if (::posix_spawn(&m_pid, argv[0], &fa, nullptr, const_cast<char**>(argv), environ) != 0)
            std::exit(1);
        posix_spawn_file_actions_destroy(&fa);
        ::close(out[1]);
        std::string line;
        char c;
        pollfd p{out[0], POLLIN, 0};
        while (::poll(&p, 1, 30000) > 0 && ::read(out[0], &c, 1) == 1 && c != '\n')
            line += c;
        ::close(out[0]);
        m_port = std::atoi(line.c_str());
        if (m_port <= 0) {
            std::fprintf(stderr, "the SMTP sink did not start\n");
            std::exit(1);
        }
    }
    ~Sink()
    {
        ::kill(m_pid, SIGTERM);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
    }
    int port() const { return m_port; }

private:
    pid_t m_pid = -1;
    int m_port = 0;
};

void BM_PostThenSendBatch(benchmark::State& state)
{
    using Clock = std::chrono::steady_clock;
    for (auto _ : state) {
        char pattern[] = "/tmp/tarnwick-bench-XXXXXX";
        if (::mkdtemp(pattern) == nullptr)
            std::exit(1);
        const std::string root = pattern;
        std::filesystem::create_directory(root + "/logs");
        std::filesystem::create_directory(root + "/sink");
        double postSeconds = 0;
        double sendSeconds = 0;
        int sent = 0;
        {
            Sink sink(root + "/sink");
            base::AppSettings settings(root + "/settings.ini");
            settings.setValue(base::setting::LogDir, root + "/logs");
            settings.setValue(base::setting::SmtpServer, "127.0.0.1:" + std::to_string(sink.port()));
            settings.setValue(base::setting::ReturnAddress, "me@example.test");
            settings.setValue(base::setting::CountEmailBatchSucceeded, "1"); // no activity report
            settings.setNotifyAddresses({"n1@example.test"});
            base::Log log(settings);
            QuietFrontEnd fe;
            rules::TemplateVars vars;
            notify::ApplicationNames names(settings);
            vars.setAppNames(&names);
            notify::EmailQueue queue(
                {.settings = settings, .log = log, .frontEnd = fe, .taskHost = fe, .vars = vars, .names = names});

            core::Entry entry(45000);
            entry.Trademark = "BENCHMARK";
            const auto postStart = Clock::now();
            for (int i = 0; i < k_messages; ++i) {
                entry.RegNum = std::to_string(1000000 + i);
                if (!queue.PostEmail(entry, notify::templateid::EntryAdded, "a").empty())
                    std::exit(1);
            }
            const auto sendStart = Clock::now();
            queue.processPending(false, false);
            const auto end = Clock::now();
            postSeconds = std::chrono::duration<double>(sendStart - postStart).count();
            sendSeconds = std::chrono::duration<double>(end - sendStart).count();
            sent = queue.lastBatchSent();
        }
        std::filesystem::remove_all(root);
        state.counters["posts_per_s"] = k_messages / postSeconds;
        state.counters["sent_per_s"] = sent / sendSeconds;
        state.counters["sent"] = sent;
        std::printf("posted %d in %.3f s (%.0f/s); sent %d in %.3f s (%.1f/s)\n", k_messages, postSeconds,
                    k_messages / postSeconds, sent, sendSeconds, sent / sendSeconds);
    }
}
BENCHMARK(BM_PostThenSendBatch)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

BENCHMARK_MAIN();
