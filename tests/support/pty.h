#pragma once

// tarnwick-cli on a pseudo terminal, as in a terminal window: standard input, output and error are the
// terminal, and the test types on the other side.

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdlib.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace tarnwick::test {

struct PtyRun {
    int exit = -1;
    std::string output; // what the terminal showed (line ends as the terminal sends them: CR LF)
};

// Runs tarnwick-cli with `args` in a UTF-8 locale; `input` is typed once the output holds `prompt` (at once
// when `prompt` is empty).
inline PtyRun runCliOnPty(const std::vector<std::string>& args, const std::string& input = {},
                          const std::string& prompt = {})
{
    PtyRun run;
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
        return run;
    const std::string slave = ::ptsname(master);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 0, slave.c_str(), O_RDWR | O_NOCTTY, 0);
    posix_spawn_file_actions_adddup2(&files, 0, 1);
    posix_spawn_file_actions_adddup2(&files, 0, 2);
    std::vector<std::string> all = {TARNWICK_CLI};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env = {"LC_ALL=C.UTF-8"};
    for (char** e = environ; *e; ++e) {
        if (std::string(*e).rfind("LC_ALL=", 0) != 0)
            env.emplace_back(*e);
    }
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, argv[0], &files, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&files);
    if (spawned != 0) {
        ::close(master);
        return run;
    }
    bool typed = input.empty();
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < end) {
        if (!typed && run.output.find(prompt) != std::string::npos) {
            typed = ::write(master, input.data(), input.size()) == static_cast<ssize_t>(input.size());
        }
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) {
            int status = 0;
            if (typed && ::waitpid(pid, &status, WNOHANG) == pid) {
                run.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
                pid = -1;
                break;
            }
            continue;
        }
        char buffer[4096];
        const ssize_t n = ::read(master, buffer, sizeof buffer);
        if (n <= 0)
            break; // EIO: the program closed the terminal
        run.output.append(buffer, static_cast<size_t>(n));
    }
    if (pid > 0) {
        // the terminal closed when the program ended; one that hangs past the limit is ended here
        if (std::chrono::steady_clock::now() >= end)
            ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        run.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    ::close(master);
    return run;
}

} // namespace tarnwick::test
