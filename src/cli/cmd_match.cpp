#include "cli/commands.h"

#include "platform/files.h"
#include "platform/terminal.h"
#include "rules/pagetext.h"
#include "rules/pattern.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <unistd.h>

namespace tarnwick::cli {

namespace {

// What one extraction pattern yields on a saved page, byte for byte: the quick
// way to try a pattern before it goes into the rules.
int match(const Invocation& inv)
{
    if (inv.args.size() != 2)
        return inv.usage();
    errno = 0;
    const std::optional<std::string> page = platform::readFile(inv.args[0]);
    if (!page) {
        const int err = errno;
        inv.err << "tarnwick-cli: cannot read " << inv.args[0] << ": " << (err ? std::strerror(err) : "read error")
                << "\n";
        return 1;
    }
    const std::string result =
        platform::forOutput(inv.outFd(), rules::matchPattern(rules::normalisePage(*page), inv.args[1]));
    if (!inv.process) {
        inv.out << result;
        return 0;
    }
    if (std::fwrite(result.data(), 1, result.size(), stdout) != result.size() || std::fflush(stdout) != 0) {
        std::cerr << "tarnwick-cli: cannot write standard output: " << std::strerror(errno) << "\n";
        return 1;
    }
    return 0;
}

} // namespace

const Command k_matchCommand{
    .name = "match",
    .arguments = "PAGE PATTERN",
    .summary = "what one pattern yields on a page",
    .run = match,
};

} // namespace tarnwick::cli
