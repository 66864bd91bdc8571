#include "cli/commands.h"

#include "platform/files.h"
#include "platform/terminal.h"
#include "rules/pagetext.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <unistd.h>

namespace tarnwick::cli {

namespace {

std::optional<std::string> readStandardInput(const Invocation& inv)
{
    if (!inv.process)
        return std::string(std::istreambuf_iterator<char>(inv.in), {});
    std::string out;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return std::nullopt;
        }
        if (n == 0)
            return out;
        out.append(buf, static_cast<size_t>(n));
    }
}

// The whole text in one write (more only when the output takes it in parts), without a copy into a buffer.
bool writeStandardOutput(std::string_view text)
{
    while (!text.empty()) {
        const ssize_t n = ::write(STDOUT_FILENO, text.data(), text.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        text.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

// The normalised text of a status page, byte for byte, for writing and checking rules.
int normalise(const Invocation& inv)
{
    if (inv.args.size() > 1)
        return inv.usage();
    const bool fromStdin = inv.args.empty() || inv.args[0] == "-";
    const std::string name = fromStdin ? std::string("standard input") : inv.args[0];
    errno = 0;
    // a file is read with one read into a buffer of its size
    const std::optional<std::string> page = fromStdin ? readStandardInput(inv) : platform::readFile(name);
    if (!page) {
        const int err = errno;
        inv.err << "tarnwick-cli: cannot read " << name << ": " << (err ? std::strerror(err) : "read error") << "\n";
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

    if (!writeStandardOutput(out)) {
        std::cerr << "tarnwick-cli: cannot write standard output: " << std::strerror(errno) << "\n";
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
