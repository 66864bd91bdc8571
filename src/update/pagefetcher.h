#pragma once

#include "update/updatecontext.h"

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace tarnwick::net {
struct HttpRequest;
}

namespace tarnwick::update {

// The result of a fetch: the error text (empty on success) and the pages.
struct FetchResult {
    std::string error;
    std::vector<std::string> pages;
    // each status page's Content-Type, which may name its character set
    std::vector<std::string> contentTypes;
};

// The pages of a run: each fetch is one worker task that the run waits for, at the pace the settings and the
// rules ask between two requests to one host, tried again when the server asks so. Without a pace the next
// entry's status pages may be asked for while the present one's are read. Works on the user-interface thread.
class PageFetcher {
public:
    explicit PageFetcher(const UpdateContext& context);
    ~PageFetcher();
    PageFetcher(const PageFetcher&) = delete;
    PageFetcher& operator=(const PageFetcher&) = delete;

    // Fetches `addresses` as one worker task. Bit i of `directMask` fetches address i without the proxy, bit i
    // of `sizesOnlyMask` logs sizes only. Only the office's status pages (`statusPages`) carry the rules'
    // request headers, so that the API key goes to no other host. A fetch beside the run's order (`takeAhead`
    // false) leaves the pages asked for ahead alone.
    FetchResult fetch(const std::vector<std::string>& addresses, unsigned directMask, unsigned sizesOnlyMask,
                      bool statusPages, bool takeAhead);
    // Asks for the status pages of the entry at `position` ahead of its turn, when the run keeps no pace.
    void fetchAhead(int position);
    // Cuts a fetch ahead that no entry took short and waits for its connections to close.
    void dropFetchAhead();

    // A 429 or 503 answer with Retry-After is tried again this many times, after at most this long.
    static constexpr int k_maxRetries = 3;
    static constexpr int k_maxRetryAfterSeconds = 120;

private:
    // Pages asked for ahead of their entry's turn.
    struct Ahead;

    // The requests for `addresses` as fetch sends them; `keyWithheld` is set when a plain-HTTP address does
    // not get the header that carries the API key.
    std::vector<net::HttpRequest> pageRequests(const std::vector<std::string>& addresses, unsigned directMask,
                                               unsigned sizesOnlyMask, bool statusPages, bool& keyWithheld) const;
    // The wait between two requests to one host, in ms.
    int requestIntervalMs() const;
    // Waits for one worker task's pages (`fetch` is given the live time-out); the error text, empty when
    // `pages` holds every body.
    std::string fetchBatch(const std::function<std::vector<std::string>(LiveTimeout timeout)>& fetch,
                           std::vector<std::string>& pages);
    // The pages asked for ahead when they are `requests`; any other fetch ahead is let go.
    std::unique_ptr<Ahead> takeFetchAhead(const std::vector<net::HttpRequest>& requests);
    // Dispatches for `ms` (shown: in the operation display); false when the run was cancelled meanwhile.
    bool waitMs(long ms, bool shown);

    const UpdateContext& m_ctx;
    // when each host was last asked for a page
    std::map<std::string, std::chrono::steady_clock::time_point> m_lastRequest;
    // the status pages of the run's next entry, asked for while the present one is read
    std::unique_ptr<Ahead> m_ahead;
};

} // namespace tarnwick::update
