#include "base/frontend.h"
#include "base/log.h"
#include "base/scopes.h"
#include "base/settings.h"
#include "platform/signature.h"
#include "rules/rulesfile.h"
#include "update/updaterun.h"

namespace tarnwick::update {

namespace {

// What to do with a downloaded rules text.
struct RulesVerdict {
    bool take = false;
    std::string why; // why not, for the log; empty when the text is simply not newer
};

// A downloaded text replaces the rules in use only when it is whole, newer by a version of digits and dots,
// and signed by the distributor: the rules name the hosts that see the API key and the reports, so an
// unsigned text would be a remote control. The signature, fetched the way the text came, is asked for only
// when everything else holds.
RulesVerdict judgeDownloadedRules(UpdateRun& run, const std::string& text, const std::string& inUse,
                                  const std::string& address, bool direct)
{
    if (!acceptableRulesText(text))
        return {false, "it is not a whole rules text"};
    const std::string version = rules::RulesFile::versionOf(text);
    if (!rules::RulesFile::wellFormedVersion(version))
        return {false, "its version is not numbers and dots"};
    if (rules::RulesFile::compareVersions(version, inUse) <= 0)
        return {};
    const FetchResult signature = run.FetchPages({address + ".sig"}, direct ? 1u : 0u, 1u);
    if (!signature.error.empty())
        return {false, "no signature: " + signature.error};
    std::string why = platform::verifySignature(text, signature.pages.front(), platform::distributorKey());
    return {why.empty(), why};
}

} // namespace

void UpdateRun::download()
{
    RunControl& c = m_ctx.control;
    if (c.busy)
        return;
    if (m_ctx.rules.updatePending()) {
        m_ctx.rules.setUpdatePending(false);
        const std::string address = m_ctx.rules.lookup("location", "rules");
        const std::string proxy = m_ctx.settings.value(base::setting::ProxyServer);
        const size_t hostEnd = address.find('/', 7);
        const std::string host = address.size() > 7
                                     ? address.substr(7, hostEnd == std::string::npos ? std::string::npos : hostEnd - 7)
                                     : std::string();
        base::FrontEnd& fe = m_ctx.frontEnd;
        FetchResult fetched;
        RulesVerdict verdict;
        {
            // no second operation may start while the download waits, and the cancel
            // of an earlier operation does not cut this one short
            base::ScopedValue<bool> busy(c.busy, true);
            c.runState = base::RunState::Running;
            base::RunDisplay display(fe, "Update Rules", proxy.empty() ? 1 : 2);
            fe.statusLine("from " + host);
            // the window's time-out choice does not change it
            base::ScopedValue<int> timeout(c.fixedTimeoutMs, 30000);
            fetched = FetchPages({address}, 1u, 0u);
            bool direct = true;
            if (!fetched.error.empty() && !proxy.empty()) {
                fe.runPosition(1);
                fetched = FetchPages({address}, 0u, 0u);
                m_ctx.rules.setDirectDownload(!fetched.error.empty());
                direct = false;
            }
            if (fetched.error.empty() && !fetched.pages.empty())
                verdict = judgeDownloadedRules(*this, fetched.pages.front(), m_ctx.rules.version(), address, direct);
            fe.statusLine({});
        }
        if (verdict.take)
            m_ctx.rules.accept(std::move(fetched.pages.front()));
        else if (!verdict.why.empty())
            m_ctx.log.write("Update Rules: the rules from '%s' are not taken: %s\n", address.c_str(),
                            verdict.why.c_str());
    }
    if (m_ctx.refreshTitle)
        m_ctx.refreshTitle();
}

} // namespace tarnwick::update
