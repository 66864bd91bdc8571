#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarnwick::core {
struct Entry;
}

namespace tarnwick::rules {

class RulesFile;

// The one name/value lookup behind every template and every rules variable.
// Lookup order: application-wide names, the current entry's names, AllChanges,
// the previous entry's names through the "Old" suffix. An unknown name comes
// back in its brackets; a known name with an empty value reads "-".
class TemplateVars {
public:
    // The application-wide names (settings, counters, addresses, ...), asked first.
    class AppNames {
    public:
        virtual ~AppNames() = default;
        virtual std::optional<std::string> value(std::string_view name) const = 0;
    };

    void setAppNames(const AppNames* names) { m_appNames = names; }
    const AppNames* appNames() const { return m_appNames; }
    // Gives RulesVersion when no application names answer it.
    void setRules(const RulesFile* rules) { m_rules = rules; }
    const RulesFile* rules() const { return m_rules; }
    void setCurrent(const core::Entry* entry) { m_current = entry; }
    void setPrevious(const core::Entry* entry) { m_previous = entry; }
    const core::Entry* current() const { return m_current; }
    const core::Entry* previous() const { return m_previous; }

    // The API key answers the name ApiKey only while set here, which only the lookup of the rules'
    // request headers does (see ApiKeyScope): templates and reports never see it.
    void setApiKey(const std::string* key)
    {
        m_apiKey = key;
        m_apiKeyAsked = false;
    }
    // Whether ApiKey was looked up since setApiKey.
    bool apiKeyAsked() const { return m_apiKeyAsked; }

    // The value without the bracket and "-" rules: none when the name is unknown.
    std::optional<std::string> find(std::string_view name) const;
    // The value as templates and rules see it.
    std::string lookup(std::string_view name) const;

private:
    const AppNames* m_appNames = nullptr;
    const RulesFile* m_rules = nullptr;
    const core::Entry* m_current = nullptr;
    const core::Entry* m_previous = nullptr;
    const std::string* m_apiKey = nullptr;
    mutable bool m_apiKeyAsked = false;
};

// Lets ApiKey resolve for the life of the scope.
class ApiKeyScope {
public:
    ApiKeyScope(TemplateVars& vars, const std::string& key) : m_vars(vars) { vars.setApiKey(&key); }
    ~ApiKeyScope() { m_vars.setApiKey(nullptr); }
    ApiKeyScope(const ApiKeyScope&) = delete;
    ApiKeyScope& operator=(const ApiKeyScope&) = delete;

private:
    TemplateVars& m_vars;
};

// The change list of a notice (AllChanges): one two-line block per watched
// field whose text differs, blocks separated by an empty line.
std::string allChanges(const core::Entry& now, const core::Entry& was);

// Sets the current (and optionally previous) entry for the life of the scope.
class CurrentEntryScope {
public:
    CurrentEntryScope(TemplateVars& vars, const core::Entry* current, const core::Entry* previous = nullptr)
        : m_vars(vars), m_oldCurrent(vars.current()), m_oldPrevious(vars.previous())
    {
        vars.setCurrent(current);
        vars.setPrevious(previous);
    }
    ~CurrentEntryScope()
    {
        m_vars.setCurrent(m_oldCurrent);
        m_vars.setPrevious(m_oldPrevious);
    }
    CurrentEntryScope(const CurrentEntryScope&) = delete;
    CurrentEntryScope& operator=(const CurrentEntryScope&) = delete;

private:
    TemplateVars& m_vars;
    const core::Entry* m_oldCurrent;
    const core::Entry* m_oldPrevious;
};

} // namespace tarnwick::rules
