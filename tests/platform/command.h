#pragma once

#include "platform/files.h"
#include "support/runcli.h"
#include "support/tempdir.h"

#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace tarnwick::test {

struct CommandRun {
    int exit = -1;
    std::string output; // standard output and error together
};

// Runs the program `args[0]` with the rest as its arguments, input from /dev/null.
inline CommandRun runCommand(const std::vector<std::string>& args)
{
    TempDir dir;
    std::string command;
    for (const std::string& a : args)
        command.append(command.empty() ? "" : " ").append(shellQuoted(a));
    command.append(" >").append(shellQuoted(dir.file("out"))).append(" 2>&1 </dev/null");
    const int status = std::system(command.c_str());
    CommandRun run;
    run.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.output = platform::readFile(dir.file("out")).value_or("");
    return run;
}

} // namespace tarnwick::test
