#include "cli/commands.h"

#include "platform/files.h"
#include "platform/terminal.h"
#include "rules/pagetext.h"

#include <iostream>
#include <string>
#include <string_view>
#include <unistd.h>

namespace tarnwick::cli {

// The normalised text of a status page, byte for byte, for writing and checking rules.
int cmdNormalise(const Invocation& inv)
{
    if (inv.args.size() > 1) {
        std::cerr << "usage: tarnwick-cli normalise [FILE]\n";
        return 1;
    }
    const bool fromStdin = inv.args.empty() || inv.args[0] == "-";
    const std::string name = fromStdin ? std::string("standard input") : inv.args[0];
    // a file is read with one read into a buffer of its size
    const platform::ResultOf<std::string> page = fromStdin ? platform::readStandardInput() : platform::readFile(name);
    if (!page) {
        std::cerr << "tarnwick-cli: cannot read " << name << ": " << page.systemText() << "\n";
        return 1;
    }
    const rules::PageText text = rules::normalisePage(*page);
    std::string_view out = text;
    std::string shown;
    if (::isatty(STDOUT_FILENO) == 1) {
        // a terminal shows the page's control bytes instead of obeying them
        shown = platform::forOutput(STDOUT_FILENO, out);
        out = shown;
    }
    if (const platform::Result written = platform::writeStandardOutput(out); !written) {
        std::cerr << "tarnwick-cli: cannot write standard output: " << written.systemText() << "\n";
        return 1;
    }
    return 0;
}

} // namespace tarnwick::cli
