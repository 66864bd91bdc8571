#include "fakeserver.h"
#include "support/peers.h"
#include "support/runcli.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <fstream>

using namespace tarnwick::test;

namespace {

struct Outcome {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs tarnwick-cli fetch with `args`; `whileRunning` is called with its pid.
Outcome spawnFetch(const std::vector<std::string>& args, const std::function<void(pid_t)>& whileRunning)
{
    TempDir dir;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, dir.file("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&fa, 2, dir.file("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<std::string> all = {TARNWICK_CLI, "--settings", dir.file("settings.ini"), "fetch"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    Outcome o;
    if (::posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ) != 0)
        return o;
    posix_spawn_file_actions_destroy(&fa);
    if (whileRunning)
        whileRunning(pid);
    int status = 0;
    ::waitpid(pid, &status, 0);
    o.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    o.out = readWholeFile(dir.file("out"));
    o.err = readWholeFile(dir.file("err"));
    return o;
}

// The same in this process.
Outcome runFetch(const std::vector<std::string>& args)
{
    TempDir dir;
    std::vector<std::string> all = {"fetch"};
    all.insert(all.end(), args.begin(), args.end());
    const CliRun run = runCliInProcess(all, dir.file("settings.ini"));
    return {run.exit, run.out, run.err};
}

} // namespace

TEST(CliFetch, WritesTheBodyByteForByte)
{
    TempDir root;
    std::string all;
    for (int i = 0; i < 256; ++i)
        all += static_cast<char>(i);
    std::ofstream(root.file("bytes.bin"), std::ios::binary) << all;
    NginxPeer nginx;
    nginx.start(root.path());
    TinyproxyPeer proxy;
    proxy.start();

    Outcome direct = runFetch({nginx.url("/bytes.bin"), "--flow"});
    EXPECT_EQ(direct.exitCode, 0);
    EXPECT_EQ(direct.out, all);
    EXPECT_NE(direct.err.find("HttpGet(0): Connecting to 127.0.0.1 on port #"), std::string::npos);
    EXPECT_NE(direct.err.find("HttpGet(0): Closed\n"), std::string::npos);

    Outcome proxied = runFetch({nginx.url("/bytes.bin"), "--proxy", proxy.address()});
    EXPECT_EQ(proxied.exitCode, 0);
    EXPECT_EQ(proxied.out, all);
    EXPECT_EQ(proxied.err, "");
}

TEST(CliFetch, FailuresGoToStandardError)
{
    struct Case {
        std::vector<std::string> args;
        std::string err;
    };
    const Case cases[] = {
        {{"ftp://127.0.0.1/"}, "HttpGet: Bad URL.\n"},
        {{"http://127.0.0.1:" + std::to_string(freeLoopbackPort()) + "/"},
         "Network: Unable to initiate session (connection refused).\n"},
        {{}, "usage: tarnwick-cli [--settings FILE] fetch URL [--proxy HOST[:PORT]] [--flow]\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.err);
        Outcome o = runFetch(c.args);
        EXPECT_EQ(o.exitCode, 1);
        EXPECT_EQ(o.out, "");
        EXPECT_EQ(o.err, c.err);
    }
}

TEST(CliFetch, InterruptCancelsCleanly)
{
    FakeServer server([](FakePeer& p) { p.readToEnd(); });
    Outcome o = spawnFetch({"http://" + server.address() + "/"}, [&](pid_t pid) {
        ASSERT_TRUE(server.waitAccepted());
        ::kill(pid, SIGINT);
    });
    EXPECT_EQ(o.exitCode, 1);
    EXPECT_EQ(o.err, "Operation canceled.\n");
}
