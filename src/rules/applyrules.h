#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::core {
struct Entry;
}

namespace tarnwick::rules {

class RulesFile;
class TemplateVars;

extern const char* const k_noDataMessage;
extern const char* const k_incompletePageMessage;

// The status-page address of an entry: the registration number's address when
// it has one, else the application number's, else the international one. The
// entry is the current entry for variable lookup while the address is built.
std::string pageAddress(const core::Entry& entry, const RulesFile& rules, TemplateVars& vars);

// Appends the entry's page address to the addresses an update fetches; always
// the empty text.
std::string addPageAddress(const core::Entry& entry, std::vector<std::string>& addresses, const RulesFile& rules,
                           TemplateVars& vars);

// What applying the rules came to: the message (empty on success) and whether
// the page said that the office has no record of the number.
struct RulesOutcome {
    std::string message;
    bool noRecord = false;
};

// Reads every extracted field of the first normalised page into the entry.
// Returns the empty text on success and when the office has no record (entry
// unchanged), or the message for an empty or incomplete page (entry unchanged).
std::string applyRules(core::Entry& entry, const std::vector<std::string>& addresses,
                       const std::vector<std::string>& rawPages, const std::vector<std::string>& pages,
                       const RulesFile& rules, TemplateVars& vars);
// The same, telling a page without a record apart from a successful read.
RulesOutcome applyRulesWithOutcome(core::Entry& entry, const std::vector<std::string>& addresses,
                                   const std::vector<std::string>& rawPages, const std::vector<std::string>& pages,
                                   const RulesFile& rules, TemplateVars& vars);

// Makes the entry variable StatusUrl give pageAddress with these rules.
void installStatusUrlProvider(const RulesFile& rules, TemplateVars& vars);

} // namespace tarnwick::rules
