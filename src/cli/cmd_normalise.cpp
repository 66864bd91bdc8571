#include "cli/commands.h"

#include "platform/files.h"
#include "platform/terminal.h"
#include "rules/pagetext.h"

#include <iostream>
#include <iterator>
#include <string>
#include <string_view>
#include <unistd.h>

namespace tarnwick::cli {

namespace {

platform::ResultOf<std::string> readInput(const Invocation& inv)
{
    if (!inv.process)
        return std::string(std::istreambuf_iterator<char>(inv.in), {});
    return platform::readStandardInput();
}

// The normalised text of a status page, byte for byte, for writing and checking rules.
int normalise(const Invocation& inv)
{
    if (inv.args.size() > 1)
        return inv.usage();
    const bool fromStdin = inv.args.empty() || inv.args[0] == "-";
    const std::string name = fromStdin ? std::string("standard input") : inv.args[0];
    // a file is read with one read into a buffer of its size
    const platform::ResultOf<std::string> page = fromStdin ? readInput(inv) : platform::readFile(name);
    if (!page) {
        inv.err << "tarnwick-cli: cannot read " << name << ": " << page.systemText() << "\n";
        return 1;
    }
    const rules::PageText text = rules::normalisePage(*page);
    std::string_view out = text;
    std::string shown;
    if (inv.process && ::isatty(STDOUT_FILENO) == 1) {
        // a terminal shows the page's control bytes instead of obeying them
        shown = platform::forOutput(STDOUT_FILENO, out);
        out = shown;
    }
    if (!inv.process) {
        inv.out.write(out.data(), static_cast<std::streamsize>(out.size()));
        return 0;
    }

    if (const platform::Result written = platform::writeStandardOutput(out); !written) {
        std::cerr << "tarnwick-cli: cannot write standard output: " << written.systemText() << "\n";
        return 1;
    }
    return 0;
}

} // namespace

const Command k_normaliseCommand{
    .name = "normalise",
    .arguments = "[FILE]",
    .summary = "the normalised text of a status page (of standard input without FILE)",
    .run = normalise,
};

} // namespace tarnwick::cli
