#include "base/frontend.h"
#include "base/settings.h"
#include "rules/rulesfile.h"
#include "update/updaterun.h"

namespace tarnwick::update {

void UpdateRun::download()
{
    RunControl& c = m_ctx.control;
    if (c.busy)
        return;
    if (m_ctx.rules.updatePending()) {
        m_ctx.rules.setUpdatePending(false);
        const std::string address = m_ctx.rules.lookup("location", "rules");
        const std::string proxy = m_ctx.settings.value("ProxyServer");
        const size_t hostEnd = address.find('/', 7);
        const std::string host = address.size() > 7
                                     ? address.substr(7, hostEnd == std::string::npos ? std::string::npos : hostEnd - 7)
                                     : std::string();
        base::FrontEnd& fe = m_ctx.frontEnd;
        // no second operation may start while the download waits, and the cancel
        // of an earlier operation does not cut this one short
        c.busy = true;
        c.runState = runstate::Running;
        fe.runStart("Update Rules", proxy.empty() ? 1 : 2);
        fe.statusLine("from " + host);
        c.fixedTimeoutMs = 30000; // the window's time-out choice does not change it
        FetchResult fetched = FetchPages({address}, 1u, 0u);
        if (!fetched.error.empty() && !proxy.empty()) {
            fe.runPosition(1);
            fetched = FetchPages({address}, 0u, 0u);
            m_ctx.rules.setDirectDownload(!fetched.error.empty());
        }
        c.fixedTimeoutMs = 0;
        fe.statusLine({});
        fe.runEnd();
        c.busy = false;
        if (fetched.error.empty() && !fetched.pages.empty()) {
            std::string& text = fetched.pages.front();
            if (acceptableRulesText(text) &&
                rules::RulesFile::compareVersions(rules::RulesFile::versionOf(text), m_ctx.rules.version()) > 0)
                m_ctx.rules.accept(std::move(text));
        }
    }
    if (m_ctx.refreshTitle)
        m_ctx.refreshTitle();
}

} // namespace tarnwick::update
