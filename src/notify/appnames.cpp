#include "notify/appnames.h"

#include "base/log.h"
#include "base/settings.h"
#include "core/daynumber.h"
#include "core/entrystore.h"
#include "core/identifier.h"
#include "core/text.h"
#include "net/flowlog.h"
#include "notify/templates.h"
#include "platform/files.h"
#include "platform/sysinfo.h"
#include "rules/rulesfile.h"

#include <cstdio>

namespace tarnwick::notify {

namespace {

struct SettingName {
    std::string_view name;
    base::SettingKey setting;
};

// Names whose value is the text of a setting, in lookup order.
constexpr SettingName k_counterNames[] = {
    {"CountExec", base::setting::CountExec},
    {"CountStatusChange", base::setting::CountStatusChange},
    {"CountUpdateSucceeded", base::setting::CountUpdateSucceeded},
    {"CountUpdateFailed", base::setting::CountUpdateFailed},
    {"CountEmailPost", base::setting::CountEmailPost},
    {"CountEmailBatchSucceeded", base::setting::CountEmailBatchSucceeded},
    {"CountEmailBatchFailed", base::setting::CountEmailBatchFailed},
};
constexpr SettingName k_settingNames[] = {
    {"GUID", base::setting::GUID},
    {"Timeout", base::setting::Timeout},
    {"ProxyServer", base::setting::ProxyServer},
    {"OrgName", base::setting::OrgName},
    {"SmtpServer", base::setting::SmtpServer},
    {"ReturnAddress", base::setting::ReturnAddress},
};

std::optional<std::string> settingValue(const base::AppSettings& settings, const SettingName* begin,
                                        const SettingName* end, std::string_view name)
{
    for (const SettingName* s = begin; s != end; ++s) {
        if (core::equalNoCase(name, s->name))
            return settings.value(s->setting);
    }
    return std::nullopt;
}

// The installation time: the last write of the folder that holds the running program.
std::string installedTime(bool utc)
{
    std::optional<std::string> folder = platform::programFolder();
    if (!folder)
        return {};
    std::optional<std::int64_t> millis = platform::lastWriteMillis(*folder);
    if (!millis)
        return {};
    const core::PointInTime point = 25569.0 + static_cast<double>(*millis) / 86400000.0;
    return core::formatTime(point, utc, false);
}

std::string lastFetchText(const std::vector<std::string>& addresses, const std::vector<std::string>& pages)
{
    std::string out;
    for (size_t i = 0; i < pages.size(); ++i) {
        char head[48];
        int n = std::snprintf(head, sizeof head, "***LastFetch(%zu): ", i + 1);
        out.append(head, static_cast<size_t>(n));
        if (i < addresses.size())
            out += addresses[i];
        out += "\r\n";
        out += pages[i];
        out += "\r\n";
    }
    return out;
}

} // namespace

std::string versionText()
{
#ifdef TARNWICK_VERSION
    return TARNWICK_VERSION;
#else
    return "?.?.??";
#endif
}

std::string joinedNotifyAddresses(const base::AppSettings& settings)
{
    std::string out;
    for (const std::string& address : settings.notifyAddresses()) {
        if (!out.empty())
            out += ", ";
        out += address;
    }
    return out;
}

ApplicationNames::ApplicationNames(const base::AppSettings& settings) : m_settings(settings) {}

int ApplicationNames::entriesCounted(std::string_view name) const
{
    if (!m_store)
        return 0;
    const bool recent = core::equalNoCase(name, "CountRecentChange");
    const bool wantNoRecord = core::equalNoCase(name, "CountNoRecord");
    int count = 0;
    for (const core::Entry& e : m_store->entries()) {
        if (recent) {
            count += (e.stateImage() & 1) != 0 ? 1 : 0;
            continue;
        }
        const bool noRecord = core::hasNoRecordError(e);
        count += (wantNoRecord ? noRecord : !noRecord && !e.Error.empty()) ? 1 : 0;
    }
    return count;
}

std::string ApplicationNames::activityAddress() const
{
    std::string address = m_rules ? std::string(m_rules->lookup("location", "activity")) : std::string();
    return address.empty() ? std::string(k_defaultActivityAddress) : address;
}

std::string ApplicationNames::supportAddress() const
{
    std::string address = m_rules ? std::string(m_rules->lookup("location", "support")) : std::string();
    return address.empty() ? std::string(k_defaultSupportAddress) : address;
}

std::optional<std::string> ApplicationNames::value(std::string_view name) const
{
    auto is = [name](std::string_view candidate) { return core::equalNoCase(name, candidate); };

    if (is("NowLocal"))
        return core::formatTime(core::now(true), false, false);
    if (is("NowUTC"))
        return core::formatTime(core::now(true), true, false);
    if (is("Version"))
        return versionText();
    if (is("RulesVersion")) {
        if (!m_rules)
            return std::nullopt; // the lookup's own rules answer, if it has any
        return std::string(m_rules->version());
    }
    if (is("ActivityAddress"))
        return activityAddress();
    if (is("ProblemDesc"))
        return m_problemDesc;
    if (is("SupportAddress"))
        return supportAddress();
    if (is("TCPIPFlow"))
        return m_flowLog ? m_flowLog->text() : std::string();
    if (auto v = settingValue(m_settings, std::begin(k_counterNames), std::end(k_counterNames), name))
        return v;
    if (is("CountEntry"))
        return std::to_string(m_store ? m_store->count() : 0);
    if (is("CountRecentChange") || is("CountFailing") || is("CountNoRecord"))
        return std::to_string(entriesCounted(name));
    if (is("InstalledLocal"))
        return installedTime(false);
    if (is("InstalledUTC"))
        return installedTime(true);
    if (is("OS"))
        return platform::osDescription().value_or("**unknown**");
    if (auto v = settingValue(m_settings, std::begin(k_settingNames), std::end(k_settingNames), name))
        return v;
    if (is("NotifyAddresses"))
        return joinedNotifyAddresses(m_settings);
    if (is("AppDir"))
        return m_settings.value(base::setting::Install);
    if (is("LogDir"))
        return m_settings.value(base::setting::LogDir);
    if (is("ReportDir"))
        return m_settings.value(base::setting::ReportDir);
    if (is("LogFile")) {
        std::string path = m_log ? m_log->path() : std::string();
        return path.empty() ? std::string() : platform::readFile(path).value_or(std::string());
    }
    if (is("AppName"))
        return std::string(k_appName);
    if (is("Courtesy"))
        return courtesyLine(m_settings.value(base::setting::OrgName));
    if (is("CourtesyHtml"))
        return courtesyHtml(m_settings.value(base::setting::OrgName));
    if (is("DistributorCourtesy"))
        return std::string(k_distributorCourtesy);
    if (is("DataKind"))
        return std::string("Trademark");
    if (is("DataSource"))
        return std::string("TARR");
    if (is("LastFetch"))
        return lastFetchText(m_lastAddresses, m_lastPages);
    return std::nullopt;
}

std::string courtesyLine(std::string_view orgName)
{
    std::string line = std::string("Sent by ") + k_appName + " (" + k_webAddress + ")";
    if (!orgName.empty())
        line.append(" for ").append(orgName);
    return line + ".";
}

std::string courtesyHtml(std::string_view orgName)
{
    std::string html =
        std::string("<p><i>Sent by ") + k_appName + " (<a href=\"" + k_webAddress + "\">" + k_webAddress + "</a>)";
    if (!orgName.empty()) {
        html += " for ";
        appendEscapedHtml(html, orgName);
    }
    return html + ".</i></p>";
}

} // namespace tarnwick::notify
