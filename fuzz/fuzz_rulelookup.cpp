#include "core/entry.h"
#include "rules/applyrules.h"
#include "rules/rulesfile.h"
#include "rules/templatevars.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

using namespace tarnwick;

namespace {

std::string_view nextPart(std::string_view& input)
{
    size_t nul = input.find('\0');
    std::string_view part = input.substr(0, nul);
    input = nul == std::string_view::npos ? std::string_view() : input.substr(nul + 1);
    return part;
}

} // namespace

// Input: section, NUL, key, NUL, rules text. Lookups run with an entry current
// whose values hold brackets, and with StatusUrl resolving through the rules.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::string_view section = nextPart(input);
    std::string_view key = nextPart(input);

    static rules::TemplateVars vars;
    static rules::RulesFile rulesFile(vars);
    static bool installed = [] {
        rules::installStatusUrlProvider(rulesFile, vars);
        return true;
    }();
    (void)installed;

    rulesFile.useText(std::string(input));
    (void)rules::RulesFile::versionOf(input);

    core::Entry current(core::k_noDay);
    current.RegNum = "[RegNum]";
    current.SerNum = "75-123456";
    current.Trademark = std::string(key);
    core::Entry previous(core::k_noDay);
    previous.Owner = "[StatusUrl]";
    rules::CurrentEntryScope scope(vars, &current, &previous);

    (void)rulesFile.lookup(section, key);
    (void)rulesFile.lookup("fetch1", key);
    (void)rules::pageAddress(current, rulesFile, vars);
    (void)vars.lookup("StatusUrlOld");
    return 0;
}
