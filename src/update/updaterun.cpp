#include "update/updaterun.h"

#include "base/frontend.h"
#include "base/log.h"
#include "base/scopes.h"
#include "base/settings.h"
#include "core/daynumber.h"
#include "core/entry.h"
#include "core/entrystore.h"
#include "core/fieldtable.h"
#include "core/identifier.h"
#include "core/text.h"
#include "net/httpget.h"
#include "notify/history.h"
#include "rules/applyrules.h"
#include "rules/pagetext.h"
#include "rules/requestrules.h"
#include "rules/rulesfile.h"
#include "rules/templatevars.h"
#include "tasks/errors.h"
#include "update/changehistory.h"
#include "update/changes.h"

#include <algorithm>
#include <atomic>
#include <iterator>
#include <memory>
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

// The closing message of a run with failures: how many, and the first one's reason.
std::string failureSummary(const RunSummary& summary, int failed)
{
    const std::string selected = summary.selectedOnly ? " selected" : "";
    std::string text = summary.due <= 1 ? "The" + selected + " entry was not updated."
                                        : std::to_string(failed) + " of the " + std::to_string(summary.due) + selected +
                                              " entries" + (failed == 1 ? " was" : " were") + " not updated.";
    if (!summary.firstFailure.empty())
        text += (failed == 1 ? "\n\n" : "\n\nThe first, ") + summary.firstFailedFor + ": " + summary.firstFailure;
    if (failed > 1)
        text += "\n\nThe Error column gives each entry's reason.";
    return text;
}

} // namespace

struct FetchAhead {
    std::vector<net::HttpRequest> requests;
    std::shared_ptr<std::atomic<int>> retryAfter;
    std::unique_ptr<net::PageFetchTask> task;
};

UpdateRun::UpdateRun(UpdateContext context) : m_ctx(std::move(context)) {}

// a fetch ahead still running is cut loose: its jobs see their cancel byte
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
            core::Entry& e = m_ctx.entries.at(p);
            e.Error.clear();
            m_ctx.frontEnd.rowChanged(p);
            ++taking;
            if (!e.isUpToDate())
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
    m_noticed.clear();
    {
        base::ScopedValue<RunSummary*> running(m_summary, &summary);

        auto dueFrom = [&](int from) {
            for (int p = from; p < n; ++p) {
                if (takesPart[static_cast<size_t>(p)] && !m_ctx.entries.at(p).isUpToDate())
                    return p;
            }
            return -1;
        };
        for (int p = 0; p < n; ++p) {
            if (!takesPart[static_cast<size_t>(p)] || m_ctx.entries.at(p).isUpToDate())
                continue;
            if (!UpdateEntry(p, dueFrom(p + 1)))
                break;
            ++m_processed;
            fe.runPosition(m_processed);
            if (m_processed > 5)
                c.warnReverted = false;
            if (!m_noticed.empty() && std::chrono::steady_clock::now() - m_groupStart >= k_noticeGroupTime)
                commitNotices(true);
        }
        dropFetchAhead();
        // the last group is committed before the caller saves the entries that record it
        commitNotices(false);
        for (int p = 0; p < n; ++p)
            restoreLastUpdate(p);
        summary.failed = c.failedCount;
    }

    if (!c.autoMode || c.failedCount != 0) {
        std::string text = selectedOnly ? "All selected entries have been successfully updated."
                                        : "All entries have been successfully updated.";
        if (c.failedCount != 0)
            text = failureSummary(summary, c.failedCount);
        if (summary.noRecord > 0)
            text += "\n\nThe trademark office has no record of " + std::to_string(summary.noRecord) +
                    (summary.noRecord == 1 ? " entry" : " entries") + "; its Error column says which.";
        if (summary.numbersNotTaken > 0)
            text += summary.numbersNotTaken == 1
                        ? "\n\nThe office's page of 1 entry gives a number that was not taken; its Error column "
                          "says why."
                        : "\n\nThe office's pages of " + std::to_string(summary.numbersNotTaken) +
                              " entries give numbers that were not taken; their Error column says why.";
        fe.tell(text);
    }
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
    if (!m_ctx.commitNotices) {
        m_noticed.clear();
        return;
    }
    const std::string error = m_ctx.commitNotices();
    std::vector<Noticed> noticed = std::move(m_noticed);
    m_noticed.clear();
    if (error.empty()) {
        std::vector<notify::ChangeRecord> records;
        for (Noticed& n : noticed)
            std::move(n.records.begin(), n.records.end(), std::back_inserter(records));
        writeHistory(records);
        if (checkpoint && m_ctx.checkpoint) {
            // an entry the redo question cleared and the run has not reached yet is saved as it was
            std::vector<std::pair<int, core::DayNumber>> waiting;
            for (size_t p = 0; p < m_clearedLastUpdate.size(); ++p) {
                core::Entry& e = m_ctx.entries.at(static_cast<int>(p));
                if (m_clearedLastUpdate[p] != 0 && e.LastUpdate == 0) {
                    waiting.emplace_back(static_cast<int>(p), 0);
                    e.LastUpdate = m_clearedLastUpdate[p];
                }
            }
            m_ctx.checkpoint();
            for (const auto& [p, day] : waiting)
                m_ctx.entries.at(p).LastUpdate = day;
        }
        return;
    }
    // the changes were never mailed: their entries keep the values before them, so that the next run that
    // can post finds the changes again
    for (Noticed& n : noticed) {
        m_ctx.entries.at(n.position) = std::move(n.previous);
        m_ctx.settings.setNumber(base::setting::CountUpdateSucceeded,
                                 m_ctx.settings.number(base::setting::CountUpdateSucceeded) - 1);
        m_ctx.settings.setNumber(base::setting::CountStatusChange,
                                 m_ctx.settings.number(base::setting::CountStatusChange) - 1);
        if (m_summary) {
            --m_summary->updated;
            --m_summary->changed;
            --m_summary->notificationsQueued;
        }
        fail(n.position, error, n.number);
    }
}

void UpdateRun::writeHistory(const std::vector<notify::ChangeRecord>& records)
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

std::string UpdateRun::checkNewNumbers(const core::Entry& stored, core::Entry& now, std::string& note)
{
    for (core::FieldId kind : newNumbers(stored, now)) {
        std::string& number = *now.textField(kind);
        std::string reason;
        if (!wellFormedNumber(kind, number)) {
            reason = "which is not well formed";
        } else {
            // the page the number leads to, asked for once in the mark's life: once taken the number is held
            core::Entry probe = stored;
            for (core::FieldId id : k_numberFields)
                probe.textField(id)->clear();
            *probe.textField(kind) = number;
            std::vector<std::string> addresses;
            FetchResult fetched{rules::addPageAddress(probe, addresses, m_ctx.rules, m_ctx.vars), {}, {}};
            if (fetched.error.empty())
                fetched = fetchPages(addresses, 0, 0, true, false);
            if (!fetched.error.empty() && m_ctx.control.runState != base::RunState::Running)
                return fetched.error;
            rules::RulesOutcome outcome{fetched.error, false};
            core::Entry read = probe;
            if (outcome.message.empty()) {
                std::vector<std::string> pages;
                pages.reserve(fetched.pages.size());
                for (size_t i = 0; i < fetched.pages.size(); ++i)
                    pages.push_back(rules::normalisePage(
                        fetched.pages[i], i < fetched.contentTypes.size() ? fetched.contentTypes[i] : std::string()));
                rules::CurrentEntryScope scope(m_ctx.vars, &probe);
                outcome = rules::applyRulesWithOutcome(read, addresses, fetched.pages, pages, m_ctx.rules, m_ctx.vars);
            }
            reason = outcome.noRecord           ? "but the office has no record of that number"
                     : !outcome.message.empty() ? "which could not be checked (" + outcome.message + ")"
                                                : unconfirmedReason(stored, read);
        }
        if (reason.empty())
            continue;
        if (!note.empty())
            note += ' ';
        note += numberNotTakenNote(kind, number, reason);
        number.clear();
    }
    return {};
}

bool UpdateRun::UpdateEntry(int position, int next)
{
    RunControl& c = m_ctx.control;
    if (c.runState == base::RunState::Closing)
        return false;
    if (m_ctx.entries.at(position).isUpToDate())
        return true;
    if (c.runState == base::RunState::Cancelled) {
        fail(position, k_cancelledMessage);
        return true;
    }
    if (c.runState == base::RunState::Running) {
        // the label shows "&" as a mnemonic mark unless it is doubled
        m_ctx.frontEnd.statusLine("Updating " + core::replaceAll(m_ctx.entries.at(position).Reference, "&", "&&"));
    }

    std::vector<std::string> addresses;
    if (std::string t = rules::addPageAddress(m_ctx.entries.at(position), addresses, m_ctx.rules, m_ctx.vars);
        !t.empty()) {
        fail(position, t);
        return true;
    }

    FetchResult fetched = FetchPages(addresses, 0, 0, true);
    if (fetched.error.empty())
        fetchAhead(next);
    {
        std::vector<std::string> normalised;
        normalised.reserve(fetched.pages.size());
        for (size_t i = 0; i < fetched.pages.size(); ++i)
            normalised.push_back(rules::normalisePage(fetched.pages[i], fetched.contentTypes[i]));
        m_ctx.names.setLastFetch(addresses, std::move(normalised));
    }
    const std::vector<std::string>& pages = m_ctx.names.lastPages();

    if (c.runState == base::RunState::Closing) {
        ++c.failedCount;
        return false;
    }
    if (!fetched.error.empty()) {
        fail(position, fetched.error);
        return true;
    }

    // the previous update is the one before a redo cleared it
    restoreLastUpdate(position);
    const core::Entry& stored = m_ctx.entries.at(position);
    core::Entry now = stored;
    rules::RulesOutcome outcome;
    {
        rules::CurrentEntryScope scope(m_ctx.vars, &stored);
        outcome = rules::applyRulesWithOutcome(now, addresses, fetched.pages, pages, m_ctx.rules, m_ctx.vars);
    }
    // why a number new to the entry was not taken; the page's other values still are
    std::string note;
    if (outcome.message.empty() && !outcome.noRecord) {
        outcome.message = keepHeldNumbers(stored, now, m_ctx.rules);
        if (outcome.message.empty())
            outcome.message = checkNewNumbers(stored, now, note);
    }
    if (c.runState == base::RunState::Closing) {
        ++c.failedCount;
        return false;
    }
    if (!outcome.message.empty()) {
        fail(position, outcome.message);
        return true;
    }

    if (!CheckReverted(now, stored, c.warnReverted, m_ctx.frontEnd)) {
        c.runState = base::RunState::Cancelled;
        if (m_summary) {
            m_summary->warningRefused = true;
            m_summary->warningRefusedFor = core::identifierText(stored);
        }
        fail(position, k_warningRefusedMessage);
        return true;
    }

    const bool firstReading = !hasBaseline(stored);
    if (firstReading)
        now.LastChange = 0; // the status date becomes the baseline
    std::vector<std::string> captions;
    for (core::FieldId id : core::k_watchedFields) {
        if (*now.textField(id) != *stored.textField(id))
            captions.emplace_back(core::fieldInfo(id).columnCaption);
    }
    now.finishRecord();
    // a page read from the office marks the entry as read even when nothing could be taken from it
    if (!outcome.noRecord && now.StatusDate.empty())
        now.StatusDate = core::k_unknownDayText;
    now.LastUpdate = now.Today;
    core::Entry previous = stored;
    const ApplyResult applied = ApplyUpdate(m_ctx.entries, position, now, m_ctx.notices, m_ctx.settings);
    if (!applied.error.empty()) {
        fail(position, applied.error);
        return true;
    }
    if (applied.changed) {
        std::vector<notify::ChangeRecord> records = changeRecords(m_ctx.entries.at(position), previous);
        if (m_ctx.commitNotices) {
            if (m_noticed.empty())
                m_groupStart = std::chrono::steady_clock::now();
            m_noticed.push_back({position, m_processed + 1, std::move(previous), std::move(records)});
        } else {
            writeHistory(records);
        }
    }

    m_ctx.settings.increment(base::setting::CountUpdateSucceeded);
    core::Entry& updated = m_ctx.entries.at(position);
    updated.Error = outcome.noRecord ? core::noRecordMessage(updated) : note;
    m_ctx.frontEnd.rowChanged(position);
    if (m_summary) {
        ++m_summary->updated;
        m_summary->noRecord += outcome.noRecord ? 1 : 0;
        m_summary->numbersNotTaken += note.empty() ? 0 : 1;
        if (applied.changed) {
            ++m_summary->changed;
            ++m_summary->notificationsQueued;
        }
        if (m_ctx.onEntry) {
            EntryOutcome o;
            o.position = position;
            o.number = m_processed + 1;
            o.due = m_due;
            if (outcome.noRecord)
                o.kind = EntryOutcome::Kind::NoRecord;
            else if (applied.changed)
                o.kind = EntryOutcome::Kind::Changed;
            else if (firstReading)
                o.kind = EntryOutcome::Kind::FirstReading;
            else
                o.kind = EntryOutcome::Kind::Unchanged;
            if (applied.changed)
                o.changedCaptions = std::move(captions);
            m_ctx.onEntry(o);
        }
    }
    return true;
}

namespace {

// The host part of an address ("host:port" as written), empty when it names none.
std::string hostOf(std::string_view address)
{
    const std::size_t scheme = address.find("://");
    if (scheme != std::string_view::npos)
        address.remove_prefix(scheme + 3);
    return std::string(address.substr(0, address.find_first_of("/?")));
}

} // namespace

bool UpdateRun::waitMs(long ms, bool shown)
{
    RunControl& c = m_ctx.control;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    auto wait = [&] {
        for (;;) {
            // a wait is no network operation: the operation time-out does not end it, only a cancel
            if (c.runState == base::RunState::TimedOut)
                c.runState = base::RunState::Running;
            if (c.runState != base::RunState::Running)
                break;
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
            if (left <= 0)
                break;
            m_ctx.frontEnd.dispatch(static_cast<int>(std::min<long long>(left, 100)));
        }
        return c.runState == base::RunState::Running;
    };
    if (!shown)
        return wait();
    const base::OperationDisplay display(m_ctx.frontEnd, static_cast<int>((ms + 999) / 1000));
    return wait();
}

int UpdateRun::requestIntervalMs() const
{
    return std::max(m_ctx.settings.requestIntervalMs(), rules::requestIntervalMs(m_ctx.rules));
}

std::vector<net::HttpRequest> UpdateRun::pageRequests(const std::vector<std::string>& addresses, unsigned directMask,
                                                      unsigned sizesOnlyMask, bool statusPages, bool& keyWithheld) const
{
    const std::string proxy = m_ctx.settings.value(base::setting::ProxyServer);
    // a header that carries the API key goes only over TLS
    const std::vector<std::string> headers =
        statusPages ? rules::requestHeaders(m_ctx.rules, m_ctx.vars, m_ctx.settings.plainApiKey(), true)
                    : std::vector<std::string>();
    const std::vector<std::string> plainHeaders =
        statusPages ? rules::requestHeaders(m_ctx.rules, m_ctx.vars, m_ctx.settings.plainApiKey(), false)
                    : std::vector<std::string>();
    const std::string caFile = m_ctx.settings.value(base::setting::CaFile);
    std::vector<net::HttpRequest> requests;
    requests.reserve(addresses.size());
    keyWithheld = false;
    for (size_t i = 0; i < addresses.size(); ++i) {
        const unsigned bit = i < 32 ? (1u << i) : 0u;
        net::HttpRequest& r =
            requests.emplace_back(m_ctx.flowLog, "HttpGet(" + std::to_string(i) + "): ", (sizesOnlyMask & bit) != 0);
        r.userAgent = "Tarnwick";
        const bool overTls = addresses[i].starts_with("https://");
        r.headers = overTls ? headers : plainHeaders;
        keyWithheld = keyWithheld || r.headers.size() < headers.size();
        r.caFile = caFile;
        if (statusPages)
            r.contentType = std::make_shared<std::string>();
        net::setRequestUrl(r, addresses[i], (directMask & bit) == 0 ? std::string_view(proxy) : std::string_view());
    }
    return requests;
}

void UpdateRun::fetchAhead(int position)
{
    // with a pace every request waits its turn; a run that is stopping asks for nothing more
    if (position < 0 || m_ahead || requestIntervalMs() > 0 || m_ctx.control.runState != base::RunState::Running)
        return;
    const core::Entry& e = m_ctx.entries.at(position);
    std::vector<std::string> addresses;
    if (e.isUpToDate() || !rules::addPageAddress(e, addresses, m_ctx.rules, m_ctx.vars).empty())
        return;
    bool keyWithheld = false;
    auto ahead = std::make_unique<FetchAhead>();
    ahead->requests = pageRequests(addresses, 0, 0, true, keyWithheld);
    ahead->retryAfter = std::make_shared<std::atomic<int>>(-1);
    std::vector<net::HttpRequest> batch = ahead->requests;
    for (net::HttpRequest& r : batch)
        r.retryAfter = ahead->retryAfter;
    ahead->task = net::startPageFetchTask(m_ctx.taskHost, batch);
    m_ahead = std::move(ahead);
}

namespace {

bool sameRequest(const net::HttpRequest& a, const net::HttpRequest& b)
{
    return a.url == b.url && a.viaProxy == b.viaProxy && a.caFile == b.caFile && a.headers == b.headers &&
           a.sizesOnly == b.sizesOnly && a.flowLog == b.flowLog && a.label == b.label && a.userAgent == b.userAgent;
}

} // namespace

std::unique_ptr<FetchAhead> UpdateRun::takeFetchAhead(const std::vector<net::HttpRequest>& requests)
{
    if (m_ahead &&
        std::equal(requests.begin(), requests.end(), m_ahead->requests.begin(), m_ahead->requests.end(), sameRequest))
        return std::move(m_ahead);
    dropFetchAhead();
    return nullptr;
}

void UpdateRun::dropFetchAhead()
{
    if (!m_ahead)
        return;
    const std::unique_ptr<FetchAhead> dropped = std::move(m_ahead);
    dropped->task->cancelAll();
    std::vector<std::string> pages;
    fetchBatch([&dropped](const int& timeoutMs) { return dropped->task->finish(timeoutMs); }, pages);
}

FetchResult UpdateRun::FetchPages(const std::vector<std::string>& addresses, unsigned directMask,
                                  unsigned sizesOnlyMask, bool statusPages)
{
    return fetchPages(addresses, directMask, sizesOnlyMask, statusPages, true);
}

FetchResult UpdateRun::fetchPages(const std::vector<std::string>& addresses, unsigned directMask,
                                  unsigned sizesOnlyMask, bool statusPages, bool takeAhead)
{
    RunControl& c = m_ctx.control;
    const std::string first =
        addresses.empty() ? std::string() : addresses.front().substr(0, addresses.front().find('?'));
    m_ctx.log.write("Update '%s'\n", first.c_str());

    bool keyWithheld = false;
    const std::vector<net::HttpRequest> requests =
        pageRequests(addresses, directMask, sizesOnlyMask, statusPages, keyWithheld);
    if (keyWithheld)
        m_ctx.log.write("Update: the API key goes only over HTTPS; '%s' does not get it\n", first.c_str());
    const int intervalMs = requestIntervalMs();
    // the pages may have been asked for while the previous entry was read
    std::unique_ptr<FetchAhead> ahead = takeAhead ? takeFetchAhead(requests) : nullptr;

    // With a pace the pages go one at a time, each after the interval since the last request to its host;
    // without one they go together.
    std::vector<std::vector<size_t>> groups;
    for (size_t i = 0; i < requests.size(); ++i) {
        if (intervalMs == 0 && !groups.empty())
            groups.back().push_back(i);
        else
            groups.push_back({i});
    }

    FetchResult result;
    result.pages.resize(requests.size());
    result.contentTypes.resize(requests.size());
    for (const std::vector<size_t>& group : groups) {
        for (int attempt = 0;; ++attempt) {
            if (intervalMs > 0) {
                const auto host = m_lastRequest.find(hostOf(addresses[group.front()]));
                if (host != m_lastRequest.end()) {
                    const auto due = host->second + std::chrono::milliseconds(intervalMs);
                    const auto left =
                        std::chrono::duration_cast<std::chrono::milliseconds>(due - std::chrono::steady_clock::now());
                    if (left.count() > 0 && !waitMs(left.count(), false)) {
                        result.error = k_cancelledMessage;
                        break;
                    }
                }
            }
            std::vector<std::string> pages;
            std::shared_ptr<std::atomic<int>> retryAfter;
            std::vector<std::shared_ptr<std::string>> contentTypes;
            if (ahead) {
                // without a pace there is one group, and the fetch ahead is its first attempt
                retryAfter = ahead->retryAfter;
                for (const net::HttpRequest& r : ahead->requests)
                    contentTypes.push_back(r.contentType);
                result.error =
                    fetchBatch([&ahead](const int& timeoutMs) { return ahead->task->finish(timeoutMs); }, pages);
                ahead.reset();
            } else {
                retryAfter = std::make_shared<std::atomic<int>>(-1);
                std::vector<net::HttpRequest> batch;
                for (size_t i : group) {
                    batch.push_back(requests[i]);
                    batch.back().retryAfter = retryAfter;
                    contentTypes.push_back(batch.back().contentType);
                    m_lastRequest[hostOf(addresses[i])] = std::chrono::steady_clock::now();
                }
                result.error = fetchBatch(
                    [&](const int& timeoutMs) {
                        return net::runPageFetchTask(m_ctx.taskHost, batch, timeoutMs);
                    },
                    pages);
            }
            if (result.error.empty()) {
                for (size_t k = 0; k < group.size(); ++k) {
                    result.pages[group[k]] = std::move(pages[k]);
                    if (contentTypes[k])
                        result.contentTypes[group[k]] = *contentTypes[k];
                }
                break;
            }
            const int seconds = retryAfter->load();
            if (seconds < 0 || attempt == k_maxRetries || c.runState != base::RunState::Running)
                break;
            m_ctx.log.write("Update: the server asks to try again in %d s\n", seconds);
            m_ctx.frontEnd.statusLine("Waiting " + std::to_string(std::min(seconds, k_maxRetryAfterSeconds)) +
                                      " s as the server asks");
            if (!waitMs(std::min(seconds, k_maxRetryAfterSeconds) * 1000L, true)) {
                result.error = k_cancelledMessage;
                break;
            }
        }
        if (!result.error.empty())
            break;
    }
    if (!result.error.empty()) {
        result.pages.clear();
        result.contentTypes.clear();
    }
    return result;
}

std::string UpdateRun::fetchBatch(const std::function<std::vector<std::string>(const int& timeoutMs)>& fetch,
                                  std::vector<std::string>& pages)
{
    RunControl& c = m_ctx.control;
    std::string error;
    // the task reads the time-out afresh on every cycle: the window's choice takes effect at once
    const int& timeoutMs = c.fixedTimeoutMs > 0 ? c.fixedTimeoutMs : c.timeoutMs;
    try {
        base::OperationDisplay display(m_ctx.frontEnd, timeoutMs / 1000);
        pages = fetch(timeoutMs);
    } catch (const tasks::CThreadsNotDoneError& e) {
        error = e.message();
        c.runState = base::RunState::ThreadsNotDone;
    } catch (const tasks::CTimedoutError&) {
        // the task's own clock ran out just before the window's did
        error = k_timedOutMessage;
    } catch (const tasks::CAppError& e) {
        error = e.message();
    } catch (...) {
        error = "Unknown error.";
    }

    if (c.runState == base::RunState::ThreadsNotDone) {
        base::errorReport(m_ctx.log, m_ctx.frontEnd, k_internalProblemMessage, "Problem");
        c.runState = base::RunState::Cancelled;
    } else if (c.runState == base::RunState::TimedOut) {
        c.runState = base::RunState::Running;
        error = k_timedOutMessage;
    }
    return error;
}

bool acceptableRulesText(const std::string& text)
{
    return text.starts_with("version: ") && text.find("\r\nend-of-rules\r\n") != std::string::npos;
}

} // namespace tarnwick::update
