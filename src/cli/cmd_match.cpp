#include "cli/commands.h"

#include "platform/files.h"
#include "platform/terminal.h"
#include "rules/pagetext.h"
#include "rules/pattern.h"

#include <iostream>
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
    const platform::ResultOf<std::string> page = platform::readFile(inv.args[0]);
    if (!page) {
        inv.err << "tarnwick-cli: cannot read " << inv.args[0] << ": " << page.systemText() << "\n";
        return 1;
    }
    const std::string result =
        platform::forOutput(inv.outFd(), rules::matchPattern(rules::normalisePage(*page), inv.args[1]));
    if (!inv.process) {
        inv.out << result;
        return 0;
    }
    if (const platform::Result written = platform::writeStandardOutput(result); !written) {
        std::cerr << "tarnwick-cli: cannot write standard output: " << written.systemText() << "\n";
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
