#include "cli/commands.h"

#include "core/entry.h"
#include "core/identifier.h"

#include <iostream>

namespace tarnwick::cli {

namespace {

// One line per typed number: the number, a TAB, then its kind and stored form or
// the first line of the refusal.
int identify(const Invocation& inv)
{
    if (inv.args.empty())
        return inv.usage();
    bool allAccepted = true;
    for (const std::string& typed : inv.args) {
        core::Entry entry(core::k_noDay);
        inv.out << typed << '\t';
        if (std::optional<std::string> refusal = core::setIdentifier(entry, typed)) {
            allAccepted = false;
            inv.out << "refused: " << refusal->substr(0, refusal->find('\n')) << '\n';
        } else {
            // a fresh entry has no trademark, so this is the kind and the stored number
            inv.out << core::identifierText(entry) << '\n';
        }
    }
    return allAccepted ? 0 : 1;
}

} // namespace

const Command k_identifyCommand{
    .name = "identify",
    .arguments = "NUMBER...",
    .summary = "validate and classify typed numbers",
    .run = identify,
};

} // namespace tarnwick::cli
