#include "update/pagefetcher.h"

#include "base/frontend.h"
#include "base/log.h"
#include "base/scopes.h"
#include "base/settings.h"
#include "core/entry.h"
#include "core/entrystore.h"
#include "net/httpget.h"
#include "rules/applyrules.h"
#include "rules/requestrules.h"
#include "rules/rulesfile.h"
#include "tasks/errors.h"

#include <algorithm>
#include <atomic>
#include <utility>

namespace tarnwick::update {

namespace {

// The host part of an address ("host:port" as written), empty when it names none.
std::string hostOf(std::string_view address)
{
    const std::size_t scheme = address.find("://");
    if (scheme != std::string_view::npos)
        address.remove_prefix(scheme + 3);
    return std::string(address.substr(0, address.find_first_of("/?")));
}

bool sameRequest(const net::HttpRequest& a, const net::HttpRequest& b)
{
    return a.url == b.url && a.viaProxy == b.viaProxy && a.caFile == b.caFile && a.headers == b.headers &&
           a.sizesOnly == b.sizesOnly && a.flowLog == b.flowLog && a.label == b.label && a.userAgent == b.userAgent;
}

} // namespace

struct PageFetcher::Ahead {
    std::vector<net::HttpRequest> requests;
    std::shared_ptr<std::atomic<int>> retryAfter;
    std::unique_ptr<net::PageFetchTask> task;
};

PageFetcher::PageFetcher(const UpdateContext& context) : m_ctx(context) {}

// a fetch ahead still running is cut loose: its jobs see their cancel byte
PageFetcher::~PageFetcher() = default;

bool PageFetcher::waitMs(long ms, bool shown)
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

int PageFetcher::requestIntervalMs() const
{
    return std::max(m_ctx.settings.requestIntervalMs(), rules::requestIntervalMs(m_ctx.rules));
}

std::vector<net::HttpRequest> PageFetcher::pageRequests(const std::vector<std::string>& addresses, unsigned directMask,
                                                        unsigned sizesOnlyMask, bool statusPages,
                                                        bool& keyWithheld) const
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

void PageFetcher::fetchAhead(int position)
{
    // with a pace every request waits its turn; a run that is stopping asks for nothing more
    if (position < 0 || m_ahead || requestIntervalMs() > 0 || m_ctx.control.runState != base::RunState::Running)
        return;
    const core::Entry& e = m_ctx.entries.at(position);
    std::vector<std::string> addresses;
    if (e.isUpToDate() || !rules::addPageAddress(e, addresses, m_ctx.rules, m_ctx.vars).empty())
        return;
    bool keyWithheld = false;
    auto ahead = std::make_unique<Ahead>();
    ahead->requests = pageRequests(addresses, 0, 0, true, keyWithheld);
    ahead->retryAfter = std::make_shared<std::atomic<int>>(-1);
    std::vector<net::HttpRequest> batch = ahead->requests;
    for (net::HttpRequest& r : batch)
        r.retryAfter = ahead->retryAfter;
    ahead->task = net::startPageFetchTask(m_ctx.taskHost, batch);
    m_ahead = std::move(ahead);
}

std::unique_ptr<PageFetcher::Ahead> PageFetcher::takeFetchAhead(const std::vector<net::HttpRequest>& requests)
{
    if (m_ahead &&
        std::equal(requests.begin(), requests.end(), m_ahead->requests.begin(), m_ahead->requests.end(), sameRequest))
        return std::move(m_ahead);
    dropFetchAhead();
    return nullptr;
}

void PageFetcher::dropFetchAhead()
{
    if (!m_ahead)
        return;
    const std::unique_ptr<Ahead> dropped = std::move(m_ahead);
    dropped->task->cancelAll();
    std::vector<std::string> pages;
    fetchBatch([&dropped](LiveTimeout timeout) { return dropped->task->finish(timeout.source()); }, pages);
}

FetchResult PageFetcher::fetch(const std::vector<std::string>& addresses, unsigned directMask, unsigned sizesOnlyMask,
                               bool statusPages, bool takeAhead)
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
    std::unique_ptr<Ahead> ahead = takeAhead ? takeFetchAhead(requests) : nullptr;

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
                    fetchBatch([&ahead](LiveTimeout timeout) { return ahead->task->finish(timeout.source()); }, pages);
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
                    [&](LiveTimeout timeout) { return net::runPageFetchTask(m_ctx.taskHost, batch, timeout.source()); },
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

std::string PageFetcher::fetchBatch(const std::function<std::vector<std::string>(LiveTimeout timeout)>& fetch,
                                    std::vector<std::string>& pages)
{
    RunControl& c = m_ctx.control;
    std::string error;
    const LiveTimeout timeout(c);
    try {
        base::OperationDisplay display(m_ctx.frontEnd, timeout.ms() / 1000);
        pages = fetch(timeout);
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

} // namespace tarnwick::update
