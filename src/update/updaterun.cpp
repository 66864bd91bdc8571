#include "update/updaterun.h"

#include "base/frontend.h"
#include "base/log.h"
#include "base/scopes.h"
#include "base/settings.h"
#include "core/daynumber.h"
#include "core/entry.h"
#include "core/entrystore.h"
#include "core/identifier.h"
#include "update/changes.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace tarnwick::update {

const char* const k_cancelledMessage = "Operation canceled.";
const char* const k_timedOutMessage = "HttpGet: Operation timed out.";
const char* const k_warningRefusedMessage = "Possible update problem, update canceled by user.";
const char* const k_internalProblemMessage =
    "There is a problem with the internal state of Tarnwick, please exit the application.";

namespace {

bool isNever(const core::Entry& e)
{
    return !(e.Frequency >= core::Frequency::Daily && e.Frequency <= core::Frequency::Yearly);
}

} // namespace

UpdateRun::UpdateRun(UpdateContext context) : m_ctx(std::move(context)) {}

UpdateRun::~UpdateRun() = default;

RunSummary UpdateRun::Run(bool selectedOnly, const std::vector<int>& selection)
{
    RunSummary summary;
    summary.selectedOnly = selectedOnly;
    RunControl& c = m_ctx.control;
    base::FrontEnd& fe = m_ctx.frontEnd;
    if (c.busy)
        return summary;
    // a cancel of an earlier operation must not cut this one short; a cancel during the rules download
    // cancels the command
    c.runState = base::RunState::Running;
    download();
    if (c.runState != base::RunState::Running)
        return summary;

    const int n = m_ctx.entries.count();
    std::vector<char> takesPart(static_cast<size_t>(n), selectedOnly ? 0 : 1);
    if (selectedOnly) {
        for (int p : selection) {
            if (p >= 0 && p < n)
                takesPart[static_cast<size_t>(p)] = 1;
        }
    }

    m_clearedLastUpdate.assign(static_cast<size_t>(n), 0);
    int due = 0;
    for (bool redone = false;; redone = true) {
        int taking = 0;
        due = 0;
        for (int p = 0; p < n; ++p) {
            if (!takesPart[static_cast<size_t>(p)])
                continue;
            ++taking;
            if (!m_ctx.entries.at(p).isUpToDate())
                ++due;
        }
        // after a Yes that made nothing due (every entry Never) the run ends as after a No
        if (due > 0 || redone)
            break;
        if (c.autoMode || taking == 0)
            return summary;
        std::string question = "All ";
        question += selectedOnly ? "the selected" : "of the";
        question += " entries are already up-to-date.\n\nDo you want to redo the update?";
        if (fe.ask(base::Question::RedoUpdate, question) != base::Answer::Yes)
            return summary;
        for (int p = 0; p < n; ++p) {
            core::Entry& e = m_ctx.entries.at(p);
            if (!takesPart[static_cast<size_t>(p)] || (!selectedOnly && isNever(e)))
                continue;
            m_clearedLastUpdate[static_cast<size_t>(p)] = e.LastUpdate;
            e.LastUpdate = 0;
            m_ctx.frontEnd.rowChanged(p);
        }
    }
    if (due == 0)
        return summary;

    base::BusyScope busy(c.busy, fe);
    base::RunDisplay display(fe, selectedOnly ? "Update Status (Selected)" : "Update Status (All)", due);
    c.runState = base::RunState::Running;
    c.failedCount = 0;
    c.warnReverted = true;
    summary.started = true;
    summary.due = due;
    m_due = due;
    m_processed = 0;
    m_notices.clear();
    m_checkpoints = 0;
    m_checkpointTime = {};
    m_lastCheckpoint = std::chrono::steady_clock::now();
    m_lastCheckpointCost = {};
    {
        base::ScopedValue<RunSummary*> running(m_summary, &summary);

        auto dueFrom = [&](int from) {
            for (int p = from; p < n; ++p) {
                if (takesPart[static_cast<size_t>(p)] && !m_ctx.entries.at(p).isUpToDate())
                    return p;
            }
            return -1;
        };
        // a cancel stops the run at the entry in flight: the entries not reached keep their values, error and due
        // state, and the progress stays at the entries reached
        for (int p = 0; p < n; ++p) {
            if (!takesPart[static_cast<size_t>(p)] || m_ctx.entries.at(p).isUpToDate())
                continue;
            if (!UpdateEntry(p, dueFrom(p + 1)))
                break;
            ++m_processed;
            fe.runPosition(m_processed);
            if (m_processed > 5)
                c.warnReverted = false;
            if (m_notices.due())
                commitNotices(true);
        }
        m_fetcher.dropFetchAhead();
        // the last group is committed before the caller saves the entries that record it
        commitNotices(false);
        for (int p = 0; p < n; ++p)
            restoreLastUpdate(p);
        summary.failed = c.failedCount;
        summary.reached = m_processed;
        summary.cancelled = c.runState == base::RunState::Cancelled;
    }
    reportCheckpoints();
    // the tally goes out before the closing message waits for anyone
    if (m_ctx.onRunEnd)
        m_ctx.onRunEnd(summary);
    return summary;
}

void UpdateRun::restoreLastUpdate(int position)
{
    if (static_cast<size_t>(position) >= m_clearedLastUpdate.size())
        return;
    core::DayNumber& cleared = m_clearedLastUpdate[static_cast<size_t>(position)];
    core::Entry& e = m_ctx.entries.at(position);
    if (cleared != 0 && e.LastUpdate == 0) {
        e.LastUpdate = cleared;
        m_ctx.frontEnd.rowChanged(position);
    }
    cleared = 0;
}

void UpdateRun::commitNotices(bool checkpoint)
{
    const bool committed = m_notices.commit([this](int position, int number, const std::string& error) {
        // the change was never mailed: the next run that can post finds it again
        m_ctx.settings.setNumber(base::setting::CountUpdateSucceeded,
                                 m_ctx.settings.number(base::setting::CountUpdateSucceeded) - 1);
        m_ctx.settings.setNumber(base::setting::CountStatusChange,
                                 m_ctx.settings.number(base::setting::CountStatusChange) - 1);
        if (m_summary) {
            --m_summary->updated;
            --m_summary->changed;
            --m_summary->notificationsQueued;
        }
        fail(position, error, number);
    });
    // A commit lists its notices durably; the save only records that the entries have their new values. A
    // crash before the next save leaves the data file with the values before them, so the run after finds
    // those changes again and notices them a second time: a save put off repeats a notice, it never loses one.
    // The data file is only ever saved right after a commit, so it never holds a change whose notice is not
    // listed.
    if (!committed || !checkpoint || !m_ctx.checkpoint || !checkpointDue())
        return;
    // an entry the redo question cleared and the run has not reached yet is saved as it was
    std::vector<std::pair<int, core::DayNumber>> waiting;
    for (size_t p = 0; p < m_clearedLastUpdate.size(); ++p) {
        core::Entry& e = m_ctx.entries.at(static_cast<int>(p));
        if (m_clearedLastUpdate[p] != 0 && e.LastUpdate == 0) {
            waiting.emplace_back(static_cast<int>(p), 0);
            e.LastUpdate = m_clearedLastUpdate[p];
        }
    }
    const auto start = std::chrono::steady_clock::now();
    m_ctx.checkpoint();
    m_lastCheckpoint = std::chrono::steady_clock::now();
    m_lastCheckpointCost = m_lastCheckpoint - start;
    m_checkpointTime += m_lastCheckpointCost;
    ++m_checkpoints;
    for (const auto& [p, day] : waiting)
        m_ctx.entries.at(p).LastUpdate = day;
}

bool UpdateRun::checkpointDue() const
{
    constexpr std::chrono::seconds k_checkpointSpacing{5};
    constexpr int k_costFactor = 20;
    const auto since = std::chrono::steady_clock::now() - m_lastCheckpoint;
    return since >= k_checkpointSpacing && since >= k_costFactor * m_lastCheckpointCost;
}

void UpdateRun::reportCheckpoints() const
{
    // a benchmark names a file in TARNWICK_SAVE_TIMES to learn what the saves in the middle of a run cost
    const char* path = std::getenv("TARNWICK_SAVE_TIMES");
    if (path == nullptr || *path == '\0')
        return;
    if (std::FILE* f = std::fopen(path, "a")) {
        std::fprintf(f, "saves %d total_ms %.1f\n", m_checkpoints,
                     std::chrono::duration<double, std::milli>(m_checkpointTime).count());
        std::fclose(f);
    }
}

void UpdateRun::fail(int position, const std::string& text, int number)
{
    m_ctx.log.write("Update error '%s'\n", text.c_str());
    m_ctx.settings.increment(base::setting::CountUpdateFailed);
    ++m_ctx.control.failedCount;
    restoreLastUpdate(position);
    m_ctx.entries.at(position).Error = text;
    m_ctx.frontEnd.rowChanged(position);
    if (m_summary && m_summary->firstFailure.empty()) {
        const core::Entry& e = m_ctx.entries.at(position);
        m_summary->firstFailedFor = !e.Reference.empty() ? e.Reference : *e.textField(fetchedBy(e));
        m_summary->firstFailure = text;
    }
    if (m_summary && m_ctx.onEntry) {
        EntryOutcome o;
        o.position = position;
        o.number = number > 0 ? number : m_processed + 1;
        o.due = m_due;
        o.kind = EntryOutcome::Kind::Failed;
        o.error = text;
        m_ctx.onEntry(o);
    }
}

FetchResult UpdateRun::FetchPages(const std::vector<std::string>& addresses, unsigned directMask,
                                  unsigned sizesOnlyMask, bool statusPages)
{
    return m_fetcher.fetch(addresses, directMask, sizesOnlyMask, statusPages, true);
}

bool acceptableRulesText(const std::string& text)
{
    return text.starts_with("version: ") && text.find("\r\nend-of-rules\r\n") != std::string::npos;
}

} // namespace tarnwick::update
