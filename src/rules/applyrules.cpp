#include "rules/applyrules.h"

#include "core/entry.h"
#include "rules/pattern.h"
#include "rules/rulesfile.h"
#include "rules/templatevars.h"

#include <utility>

namespace tarnwick::rules {

const char* const k_noDataMessage = "No data in the trademark office webpage.";
const char* const k_incompletePageMessage =
    "The trademark office webpage is not complete. You might want to try again.";

namespace {

constexpr std::string_view k_fetchSection = "fetch1";
constexpr std::string_view k_statusSeparator = " - ";

// "75123456" becomes "75-123456"; a shorter value is kept as read.
std::string withDashAfterSecond(std::string number)
{
    if (number.size() < 2)
        return number;
    std::string out;
    out.reserve(number.size() + 1);
    out.append(number, 0, 2).append("-").append(number, 2, std::string::npos);
    return out;
}

} // namespace

std::string pageAddress(const core::Entry& entry, const RulesFile& rules, TemplateVars& vars)
{
    CurrentEntryScope scope(vars, &entry, vars.previous());
    std::string_view key = !entry.RegNum.empty()   ? "page[RegNum]"
                           : !entry.SerNum.empty() ? "page[SerNum]"
                                                   : "page[IntNum]";
    return rules.lookup(k_fetchSection, key);
}

std::string addPageAddress(const core::Entry& entry, std::vector<std::string>& addresses, const RulesFile& rules,
                           TemplateVars& vars)
{
    addresses.push_back(pageAddress(entry, rules, vars));
    return {};
}

RulesOutcome applyRulesWithOutcome(core::Entry& entry, const std::vector<std::string>&, const std::vector<std::string>&,
                                   const std::vector<std::string>& pages, const RulesFile& rules, TemplateVars& vars)
{
    if (pages.empty() || pages.front().empty())
        return {k_noDataMessage, false};
    std::string_view page = pages.front();
    CurrentEntryScope scope(vars, &entry, vars.previous());

    // An empty "none" would be found in every page; it turns the test off instead.
    std::string none = rules.lookup(k_fetchSection, "none");
    if (!none.empty() && containsAlternative(page, none))
        return {{}, true};
    if (!containsAlternative(page, rules.lookup(k_fetchSection, "required")))
        return {k_incompletePageMessage, false};

    auto read = [&](std::string_view key) { return extractField(page, rules, k_fetchSection, key); };

    entry.SerNum = withDashAfterSecond(read("[SerNum]"));
    entry.RegNum = read("[RegNum]");
    entry.IntNum = read("[IntNum]");
    entry.Trademark = read("[Trademark]");
    std::string status = read("[Status]");
    size_t split = status.find(k_statusSeparator);
    if (split == std::string::npos) {
        entry.StatusDate = std::move(status);
        entry.StatusText.clear();
    } else {
        entry.StatusDate = status.substr(0, split);
        entry.StatusText = status.substr(split + k_statusSeparator.size());
    }
    entry.FilingDate = read("[FilingDate]");
    entry.RegDate = read("[RegDate]");
    entry.PublishedDate = read("[PublishedDate]");
    entry.LawOffice = read("[LawOffice]");
    entry.Owner = read("[Owner]");
    entry.Attorney = read("[Attorney]");
    entry.LastHistory = read("[LastHistory]");
    entry.Location = read("[Location]");
    return {};
}

std::string applyRules(core::Entry& entry, const std::vector<std::string>& addresses,
                       const std::vector<std::string>& rawPages, const std::vector<std::string>& pages,
                       const RulesFile& rules, TemplateVars& vars)
{
    return applyRulesWithOutcome(entry, addresses, rawPages, pages, rules, vars).message;
}

void installStatusUrlProvider(const RulesFile& rules, TemplateVars& vars)
{
    core::setStatusUrlProvider([&rules, &vars](const core::Entry& entry) -> std::string {
        // A page address that names StatusUrl itself would otherwise recurse
        // without end; the inner reference reads as empty.
        static thread_local bool building = false;
        if (building)
            return {};
        struct Building {
            Building() { building = true; }
            ~Building() { building = false; }
        } guard;
        return pageAddress(entry, rules, vars);
    });
}

} // namespace tarnwick::rules
