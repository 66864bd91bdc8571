#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace tarnwick::cli {

// The command line after the program's name, run in this process: what the program prints goes to `out` and
// `err`, what it reads comes from `in`, and no terminal is ever assumed. Returns the exit status.
int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, std::istream& in);

// The same for the program itself: standard output, error and input, with what a terminal needs.
int runProcess(const std::vector<std::string>& args);

// The usage of the whole program: the global options and the list of commands.
std::string programUsage();

} // namespace tarnwick::cli
