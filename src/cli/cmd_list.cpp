#include "cli/commands.h"

#include "base/settings.h"
#include "core/datafile.h"
#include "core/entrystore.h"
#include "core/identifier.h"

#include <iostream>

namespace tarnwick::cli {

namespace {

// One TAB-separated line per entry of the data file, in file order: frequency,
// reference, identifier, trademark, status date, status text, last update, error.
int list(const Invocation& inv)
{
    if (!inv.args.empty())
        return inv.usage();
    std::string logDir;
    {
        base::AppSettings settings(base::settingsPath(inv.settingsOption));
        logDir = settings.value(base::setting::LogDir);
    }
    if (logDir.empty()) {
        inv.err << "tarnwick-cli: no logging directory is set (config set LogDir DIR)\n";
        return 1;
    }
    core::EntryStore store;
    std::string message = core::loadDataFile(store, logDir);
    if (!message.empty()) {
        inv.err << message << '\n';
        return 1;
    }
    std::string out;
    for (const core::Entry& e : store.entries()) {
        out += e.valueText(core::FieldId::Frequency, false);
        for (const std::string& field : {e.Reference, core::identifierText(e), e.Trademark, e.StatusDate, e.StatusText,
                                         e.valueText(core::FieldId::LastUpdate, false), e.Error}) {
            out += '\t';
            out += field;
        }
        out += '\n';
    }
    inv.out << out;
    return 0;
}

} // namespace

const Command k_listCommand{
    .name = "list",
    .summary = "the entries of the data file",
    .readsSettings = true,
    .run = list,
};

} // namespace tarnwick::cli
