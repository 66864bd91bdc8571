#pragma once

#include "cli/run.h"
#include "platform/files.h"
#include "support/tempdir.h"

#include <cstdlib>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace tarnwick::test {

struct CliRun {
    int exit = -1;
    std::string out;
    std::string err;
};

// `arg` as one word for /bin/sh.
inline std::string shellQuoted(const std::string& arg)
{
    std::string q = "'";
    for (char c : arg) {
        if (c == '\'')
            q.append("'\\''");
        else
            q.push_back(c);
    }
    q.push_back('\'');
    return q;
}

// Runs tarnwick-cli with `args` (and `--settings settingsFile` first when given),
// standard input from /dev/null (or `input`), and returns its exit code and output.
inline CliRun runCli(const std::vector<std::string>& args, const std::string& settingsFile = {},
                     const std::string& input = {})
{
    TempDir dir;
    (void)platform::writeFileAtomic(dir.file("in"), input);
    std::string command = shellQuoted(TARNWICK_CLI);
    if (!settingsFile.empty())
        command.append(" --settings ").append(shellQuoted(settingsFile));
    for (const std::string& a : args)
        command.append(" ").append(shellQuoted(a));
    command.append(" >").append(shellQuoted(dir.file("out")));
    command.append(" 2>").append(shellQuoted(dir.file("err"))).append(" <").append(shellQuoted(dir.file("in")));
    CliRun run;
    const int status = std::system(command.c_str());
    run.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = platform::readFile(dir.file("out")).value_or("");
    run.err = platform::readFile(dir.file("err")).value_or("");
    return run;
}

// The same as runCli, with the commands run in this process: for every test whose subject is not the process
// itself (its exit on a signal, its terminal, its real standard output). Nothing is ever a terminal here.
inline CliRun runCliInProcess(const std::vector<std::string>& args, const std::string& settingsFile = {},
                              const std::string& input = {})
{
    std::vector<std::string> all;
    if (!settingsFile.empty())
        all = {"--settings", settingsFile};
    all.insert(all.end(), args.begin(), args.end());
    std::ostringstream out;
    std::ostringstream err;
    std::istringstream in(input);
    CliRun run;
    run.exit = cli::run(all, out, err, in);
    run.out = out.str();
    run.err = err.str();
    return run;
}

} // namespace tarnwick::test
