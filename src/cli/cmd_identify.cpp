#include "cli/commands.h"

#include "core/entry.h"
#include "core/identifier.h"

#include <iostream>

namespace tarnwick::cli {

// One line per typed number: the number, a TAB, then its kind and stored form or
// the first line of the refusal.
int cmdIdentify(const Invocation& inv)
{
    if (inv.args.empty()) {
        std::cerr << "usage: tarnwick-cli identify NUMBER...\n";
        return 1;
    }
    bool allAccepted = true;
    for (const std::string& typed : inv.args) {
        core::Entry entry(core::k_noDay);
        std::cout << typed << '\t';
        if (std::optional<std::string> refusal = core::setIdentifier(entry, typed)) {
            allAccepted = false;
            std::cout << "refused: " << refusal->substr(0, refusal->find('\n')) << '\n';
        } else {
            // a fresh entry has no trademark, so this is the kind and the stored number
            std::cout << core::identifierText(entry) << '\n';
        }
    }
    return allAccepted ? 0 : 1;
}

} // namespace tarnwick::cli
