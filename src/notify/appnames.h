#pragma once

#include "rules/templatevars.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::base {
class AppSettings;
class Log;
} // namespace tarnwick::base
namespace tarnwick::core {
class EntryStore;
}
namespace tarnwick::net {
class FlowLog;
}

namespace tarnwick::notify {

constexpr const char* k_appName = "Tarnwick";
constexpr const char* k_defaultActivityAddress = "Tarnwick Activity <activity@tarnwick.example>";
constexpr const char* k_defaultSupportAddress = "Tarnwick Support <support@tarnwick.example>";
constexpr const char* k_webAddress = "http://www.tarnwick.example/";
// The program and its web address, as the About box shows them.
constexpr const char* k_courtesy = "Tarnwick, http://www.tarnwick.example/.";
// The line of the distributor's own service reports (DistributorCourtesy).
constexpr const char* k_distributorCourtesy = "Courtesy of Brenlow Patent Law Firm LLP, http://www.tarnwick.example/.";

// The closing line of the user's own mail (Courtesy): the program, its web address and the user's organisation,
// "Sent by Tarnwick (http://www.tarnwick.example/) for Demo Trademark Group."; without an organisation the line
// ends after the address.
std::string courtesyLine(std::string_view orgName);
// The same line as an HTML paragraph (CourtesyHtml), the address a link and the organisation escaped.
std::string courtesyHtml(std::string_view orgName);

// The application-wide template names: dates, version texts, addresses, settings, counters, the flow log,
// the log file and the fixed product texts. Everything is read at lookup time from the sources it observes
// (none of them owned; all but the settings may be absent).
class ApplicationNames final : public rules::TemplateVars::AppNames {
public:
    explicit ApplicationNames(const base::AppSettings& settings);

    void setRules(const rules::RulesFile* rules) { m_rules = rules; }
    void setFlowLog(const net::FlowLog* flowLog) { m_flowLog = flowLog; }
    void setEntryStore(const core::EntryStore* store) { m_store = store; }
    // The log whose whole file LogFile reads.
    void setLog(const base::Log* log) { m_log = log; }
    void setProblemDesc(std::string text) { m_problemDesc = std::move(text); }
    const std::string& problemDesc() const { return m_problemDesc; }
    // The pages the most recent entry update fetched, normalised, and their addresses, as the problem report
    // quotes them; the update reads the pages from here, so that they are held once.
    void setLastFetch(std::vector<std::string> addresses, std::vector<std::string> pages)
    {
        m_lastAddresses = std::move(addresses);
        m_lastPages = std::move(pages);
    }
    const std::vector<std::string>& lastPages() const { return m_lastPages; }

    // The value of an application-wide name (compared without regard to case); none for any other name.
    std::optional<std::string> value(std::string_view name) const override;

    // The rules file's "location" addresses, or the built-in mailboxes when the rules name none.
    std::string activityAddress() const;
    std::string supportAddress() const;

    const base::AppSettings& settings() const { return m_settings; }

private:
    // CountRecentChange (changed within the last week), CountNoRecord (no record at the office) and
    // CountFailing (any other error) over the entry list.
    int entriesCounted(std::string_view name) const;

    const base::AppSettings& m_settings;
    const rules::RulesFile* m_rules = nullptr;
    const net::FlowLog* m_flowLog = nullptr;
    const core::EntryStore* m_store = nullptr;
    const base::Log* m_log = nullptr;
    std::string m_problemDesc;
    std::vector<std::string> m_lastAddresses;
    std::vector<std::string> m_lastPages;
};

// "?.?.??" when the build names no version.
std::string versionText();
// The notification addresses joined with ", ".
std::string joinedNotifyAddresses(const base::AppSettings& settings);

} // namespace tarnwick::notify
