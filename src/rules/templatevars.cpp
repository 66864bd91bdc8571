#include "rules/templatevars.h"

#include "core/entry.h"
#include "core/fieldtable.h"
#include "core/text.h"
#include "docket/deadlines.h"
#include "rules/rulesfile.h"

#include <utility>

namespace tarnwick::rules {

namespace {

constexpr std::string_view k_oldSuffix = "Old";

// An entry's own names and those of its next deadline.
std::optional<std::string> entryName(const core::Entry& entry, std::string_view name)
{
    if (auto value = entry.lookupVariable(name))
        return value;
    return docket::deadlineVariable(entry, name);
}

} // namespace

std::string allChanges(const core::Entry& now, const core::Entry& was)
{
    std::string out;
    for (core::FieldId id : core::k_watchedFields) {
        std::string nowText = now.valueText(id, false);
        std::string wasText = was.valueText(id, false);
        if (nowText == wasText)
            continue;
        std::string_view caption = core::fieldInfo(id).columnCaption;
        if (!out.empty())
            out += "\r\n\r\n";
        out.append(caption).append(" (now): ").append(nowText).append("\r\n");
        out.append(caption).append(" (was): ").append(wasText);
    }
    return out;
}

std::optional<std::string> TemplateVars::find(std::string_view name) const
{
    if (m_apiKey && core::equalNoCase(name, "ApiKey")) {
        m_apiKeyAsked = true;
        return *m_apiKey;
    }
    if (m_appNames) {
        if (auto value = m_appNames->value(name))
            return value;
    }
    if (m_rules && core::equalNoCase(name, "RulesVersion"))
        return m_rules->version();
    if (m_current) {
        if (auto value = entryName(*m_current, name))
            return value;
    }
    if (m_current && m_previous && core::equalNoCase(name, "AllChanges"))
        return allChanges(*m_current, *m_previous);
    if (m_previous && name.size() > k_oldSuffix.size() &&
        core::equalNoCase(name.substr(name.size() - k_oldSuffix.size()), k_oldSuffix))
        return entryName(*m_previous, name.substr(0, name.size() - k_oldSuffix.size()));
    return std::nullopt;
}

std::string TemplateVars::lookup(std::string_view name) const
{
    std::optional<std::string> value = find(name);
    if (!value) {
        std::string out;
        out.reserve(name.size() + 2);
        out.append("[").append(name).append("]");
        return out;
    }
    if (value->empty())
        return "-";
    return std::move(*value);
}

} // namespace tarnwick::rules
