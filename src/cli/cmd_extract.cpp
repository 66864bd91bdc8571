#include "cli/commands.h"

#include "core/entry.h"
#include "core/fieldtable.h"
#include "core/identifier.h"
#include "platform/files.h"
#include "rules/applyrules.h"
#include "rules/pagetext.h"
#include "rules/rulesfile.h"
#include "rules/templatevars.h"

#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace tarnwick::cli {

namespace {

// The fields the rules write, in the order of the field table.
constexpr core::FieldId k_extractedFields[] = {
    core::FieldId::SerNum,     core::FieldId::RegNum,        core::FieldId::IntNum,      core::FieldId::Trademark,
    core::FieldId::StatusDate, core::FieldId::StatusText,    core::FieldId::LastHistory, core::FieldId::FilingDate,
    core::FieldId::RegDate,    core::FieldId::PublishedDate, core::FieldId::LawOffice,   core::FieldId::Owner,
    core::FieldId::Attorney,   core::FieldId::Location,
};

std::optional<std::string> readOrComplain(const Invocation& inv, const std::string& path, const char* what)
{
    platform::ResultOf<std::string> bytes = platform::readFile(path);
    if (!bytes)
        inv.err << "tarnwick-cli: cannot read " << what << path << ": " << bytes.systemText() << "\n";
    return bytes;
}

// The fields the rules read from one saved status page: the page address for the
// entry first, then "Key: value" per field, "No record." when the office has no
// record (exit 2), or the rules' message on standard error (exit 1).
int extract(const Invocation& inv)
{
    if (inv.args.size() != 1)
        return inv.usage();
    const std::optional<std::string> rulesPath = inv.options.value("rules");
    const std::optional<std::string> number = inv.options.value("number");

    std::optional<std::string> raw = readOrComplain(inv, inv.args[0], "");
    if (!raw)
        return 1;
    rules::TemplateVars vars;
    rules::RulesFile rulesFile(vars);
    if (rulesPath) {
        std::optional<std::string> text = readOrComplain(inv, *rulesPath, "rules file ");
        if (!text)
            return 1;
        rulesFile.useText(std::move(*text));
    }
    // the entry variable StatusUrl reads these rules for as long as they live
    const core::StatusUrlProviderScope statusUrl;
    rules::installStatusUrlProvider(rulesFile, vars);

    core::Entry entry;
    if (number) {
        if (std::optional<std::string> refusal = core::setIdentifier(entry, *number)) {
            inv.err << "tarnwick-cli: " << *number << ": " << refusal->substr(0, refusal->find('\n')) << "\n";
            return 1;
        }
    }

    const std::string address = rules::pageAddress(entry, rulesFile, vars);
    inv.out << "Page: " << address << "\n";

    const std::vector<std::string> addresses{address};
    const std::vector<std::string> rawPages{*raw};
    const std::vector<std::string> pages{rules::normalisePage(*raw)};
    const rules::RulesOutcome outcome =
        rules::applyRulesWithOutcome(entry, addresses, rawPages, pages, rulesFile, vars);
    if (outcome.noRecord) {
        inv.out << "No record.\n";
        return 2;
    }
    if (!outcome.message.empty()) {
        inv.out.flush();
        inv.err << outcome.message << "\n";
        return 1;
    }
    entry.finishRecord();
    for (core::FieldId id : k_extractedFields)
        inv.out << core::fieldInfo(id).key << ": " << entry.valueText(id, false) << "\n";
    return 0;
}

} // namespace

const Command k_extractCommand{
    .name = "extract",
    .arguments = "PAGE",
    .summary = "the fields the rules read from a page",
    .options =
        {
            {"rules", "FILE", "read the fields with the rules in FILE instead of the built-in rules"},
            {"number", "N", "the entry's number, which the page address is made from"},
        },
    .run = extract,
};

} // namespace tarnwick::cli
