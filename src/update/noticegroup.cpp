#include "update/noticegroup.h"

#include "base/frontend.h"
#include "base/log.h"
#include "base/settings.h"
#include "core/entrystore.h"
#include "update/changehistory.h"

#include <iterator>
#include <utility>

namespace tarnwick::update {

NoticeGroup::NoticeGroup(const UpdateContext& context) : m_ctx(context) {}

void NoticeGroup::add(int position, int number, core::Entry previous, std::vector<notify::ChangeRecord> records)
{
    if (!m_ctx.commitNotices) {
        writeHistory(records);
        return;
    }
    if (m_noticed.empty())
        m_groupStart = std::chrono::steady_clock::now();
    m_noticed.push_back({position, number, std::move(previous), std::move(records)});
}

bool NoticeGroup::due() const
{
    return !m_noticed.empty() && std::chrono::steady_clock::now() - m_groupStart >= k_groupTime;
}

bool NoticeGroup::commit(const std::function<void(int position, int number, const std::string& error)>& lost)
{
    if (!m_ctx.commitNotices) {
        m_noticed.clear();
        return false;
    }
    const std::string error = m_ctx.commitNotices();
    std::vector<Noticed> noticed = std::move(m_noticed);
    m_noticed.clear();
    if (error.empty()) {
        std::vector<notify::ChangeRecord> records;
        for (Noticed& n : noticed)
            std::move(n.records.begin(), n.records.end(), std::back_inserter(records));
        writeHistory(records);
        return true;
    }
    // the changes were never mailed: their entries keep the values before them
    for (Noticed& n : noticed) {
        m_ctx.entries.at(n.position) = std::move(n.previous);
        lost(n.position, n.number, error);
    }
    return false;
}

void NoticeGroup::writeHistory(const std::vector<notify::ChangeRecord>& records)
{
    const std::string error = appendHistory(m_ctx.settings.value(base::setting::LogDir), records);
    if (error.empty())
        return;
    if (m_ctx.control.historyProblemTold) {
        m_ctx.log.write("History not written '%s'\n", error.c_str());
        return;
    }
    m_ctx.control.historyProblemTold = true;
    base::errorReport(m_ctx.log, m_ctx.frontEnd, error, "History Not Written");
}

} // namespace tarnwick::update
