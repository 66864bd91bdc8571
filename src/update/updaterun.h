#pragma once

#include "base/runstate.h"
#include "core/entry.h"
#include "notify/appnames.h"
#include "notify/emailqueue.h"
#include "notify/history.h"
#include "update/entrynumbers.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace tarnwick::base {
class AppSettings;
class FrontEnd;
class Log;
} // namespace tarnwick::base
namespace tarnwick::core {
class EntryStore;
}
namespace tarnwick::net {
class FlowLog;
struct HttpRequest;
} // namespace tarnwick::net
namespace tarnwick::rules {
class RulesFile;
class TemplateVars;
} // namespace tarnwick::rules
namespace tarnwick::tasks {
class TaskHost;
}

namespace tarnwick::update {

extern const char* const k_cancelledMessage;      // "Operation canceled."
extern const char* const k_timedOutMessage;       // "HttpGet: Operation timed out."
extern const char* const k_warningRefusedMessage; // "Possible update problem, update canceled by user."
extern const char* const k_internalProblemMessage;

// What the window keeps for the run and the operations; owned by the window
// (app::MainState), read and written by the run.
struct RunControl {
    bool busy = false;
    base::RunState runState = base::RunState::Running; // read between the steps of a run
    bool autoMode = false;
    int timeoutMs = 60000;  // the window's operation time-out (the Timeout setting)
    int fixedTimeoutMs = 0; // an operation's own time-out that the window's choice does not change; 0 for none
    bool warnReverted = false;
    int failedCount = 0;
    bool historyProblemTold = false; // the user heard once that the history file cannot be written

    // The time-out of the network operation under way.
    int operationTimeoutMs() const { return fixedTimeoutMs > 0 ? fixedTimeoutMs : timeoutMs; }
};

// Which entries an update takes: the selected ones (Update Selected) or all (Update All).
enum class Scope { Selected, All };

// How one due entry came out, for a progress display.
struct EntryOutcome {
    enum class Kind { Changed, Unchanged, FirstReading, NoRecord, Failed };
    int position = 0; // list position
    int number = 0;   // 1-based among the due entries
    int due = 0;      // due entries of the run
    Kind kind = Kind::Unchanged;
    std::vector<std::string> changedCaptions; // Changed: the captions of the watched fields that differ
    std::string error;                        // Failed: the entry's new Error
};

// What a run came to.
struct RunSummary {
    bool started = false; // false: busy, nothing due, or the redo question declined
    bool selectedOnly = false;
    int due = 0;
    int updated = 0;
    int changed = 0;
    int failed = 0;
    int notificationsQueued = 0;
    int noRecord = 0;        // updated entries whose number the office has no record of
    int numbersNotTaken = 0; // updated entries whose page gives a new number that was not taken
    // the first entry that failed (its reference, else its number) and why
    std::string firstFailedFor;
    std::string firstFailure;
    // the warning about fields reverted to nothing was refused (Cancel) for this entry
    bool warningRefused = false;
    std::string warningRefusedFor;
};

// Everything a run works with; nothing is owned.
struct UpdateContext {
    base::AppSettings& settings;
    base::Log& log;
    base::FrontEnd& frontEnd;
    tasks::TaskHost& taskHost;
    notify::NoticeSink& notices; // the notices of changed entries
    rules::TemplateVars& vars;
    rules::RulesFile& rules;
    notify::ApplicationNames& names; // receives the last fetch
    core::EntryStore& entries;
    RunControl& control;
    net::FlowLog* flowLog = nullptr;
    // the window title is refreshed after each rules download; may be empty
    std::function<void()> refreshTitle;
    // each due entry as it is done; may be empty
    std::function<void(const EntryOutcome&)> onEntry;
    // Makes the notices posted since its last call durable and listed; returns the error text (already
    // reported). Empty when every posting is committed as it is made.
    std::function<std::string()> commitNotices;
    // Saves the entries; called after a group of notices was committed in the middle of a run.
    std::function<void()> checkpoint;
};

// The result of FetchPages: the error text (empty on success) and the pages.
struct FetchResult {
    std::string error;
    std::vector<std::string> pages;
    // each status page's Content-Type, which may name its character set
    std::vector<std::string> contentTypes;
};

// Pages asked for ahead of their entry's turn (the run's own).
struct FetchAhead;

// An update run over all or the selected entries, and the rules download that
// runs before it. Works on the user-interface thread; only the page fetches run
// on worker threads.
class UpdateRun {
public:
    explicit UpdateRun(UpdateContext context);
    ~UpdateRun();
    UpdateRun(const UpdateRun&) = delete;
    UpdateRun& operator=(const UpdateRun&) = delete;

    // The whole run: Update Selected (`selectedOnly`, over `selection`) or
    // Update All.
    RunSummary Run(bool selectedOnly, const std::vector<int>& selection = {});
    // Updates the entry at `position`; false stops the run. `next` is the entry the run takes after it (-1
    // for none): without a pace between requests its pages are asked for while this entry's are read.
    bool UpdateEntry(int position, int next = -1);
    // Fetches `addresses` as one worker task. Bit i of `directMask` fetches
    // address i without the proxy, bit i of `sizesOnlyMask` logs sizes only.
    // Only the office's status pages (`statusPages`) carry the rules' request
    // headers, so that the API key goes to no other host.
    FetchResult FetchPages(const std::vector<std::string>& addresses, unsigned directMask, unsigned sizesOnlyMask,
                           bool statusPages = false);
    // The rules download: once per run of the program, then only the title.
    void download();

    // A 429 or 503 answer with Retry-After is tried again this many times, after at most this long.
    static constexpr int k_maxRetries = 3;
    static constexpr int k_maxRetryAfterSeconds = 120;

    // Notices are committed in groups that wait at most this long; a run's last group at its end.
    static constexpr std::chrono::milliseconds k_noticeGroupTime{1000};

private:
    // A change whose notice waits in the group: the entry's values before the update, to go back to when the
    // notice cannot be committed.
    struct Noticed {
        int position = 0;
        int number = 0;
        core::Entry previous;
        std::vector<notify::ChangeRecord> records; // for the history, once the notice is committed
    };

    void fail(int position, const std::string& text, int number = 0);
    // Each number the page gives that `stored` does not hold stays in `now` only when it is well formed and
    // the page it leads to names the entry; why the others were not taken goes to `note`. Returns the error
    // of a check that the run's cancel or close cut short.
    std::string checkNewNumbers(const core::Entry& stored, core::Entry& now, std::string& note);
    // Commits the waiting notices; when that fails, their entries go back to their previous values and fail.
    // With `checkpoint` the entries are saved after a good commit.
    void commitNotices(bool checkpoint);
    // Adds the records to the history; a file that cannot be written is told of once and stops nothing.
    void writeHistory(const std::vector<notify::ChangeRecord>& records);
    // LastUpdate cleared by the redo question goes back for an entry that does not get a new one.
    void restoreLastUpdate(int position);
    // FetchPages; a fetch beside the run's order (`takeAhead` false) leaves the pages asked for ahead alone.
    FetchResult fetchPages(const std::vector<std::string>& addresses, unsigned directMask, unsigned sizesOnlyMask,
                           bool statusPages, bool takeAhead);
    // The requests for `addresses` as FetchPages sends them; `keyWithheld` is set when a plain-HTTP address
    // does not get the header that carries the API key.
    std::vector<net::HttpRequest> pageRequests(const std::vector<std::string>& addresses, unsigned directMask,
                                               unsigned sizesOnlyMask, bool statusPages, bool& keyWithheld) const;
    // The wait between two requests to one host, in ms.
    int requestIntervalMs() const;
    // Waits for one worker task's pages (`fetch` is given the time-out); the error text, empty when `pages`
    // holds every body.
    std::string fetchBatch(const std::function<std::vector<std::string>(const int& timeoutMs)>& fetch,
                           std::vector<std::string>& pages);
    // Asks for the status pages of the entry at `position` ahead of its turn, when the run keeps no pace.
    void fetchAhead(int position);
    // The pages asked for ahead when they are `requests`; any other fetch ahead is let go.
    std::unique_ptr<FetchAhead> takeFetchAhead(const std::vector<net::HttpRequest>& requests);
    // Cuts a fetch ahead that no entry took short and waits for its connections to close.
    void dropFetchAhead();
    // Dispatches for `ms` (shown: in the operation display); false when the run was cancelled meanwhile.
    bool waitMs(long ms, bool shown);

    UpdateContext m_ctx;
    // the run in progress
    int m_processed = 0;
    int m_due = 0;
    RunSummary* m_summary = nullptr;
    // when each host was last asked for a page
    std::map<std::string, std::chrono::steady_clock::time_point> m_lastRequest;
    // LastUpdate of each position before the redo question cleared it (0: not cleared)
    std::vector<core::DayNumber> m_clearedLastUpdate;
    std::vector<Noticed> m_noticed;
    std::chrono::steady_clock::time_point m_groupStart;
    // the status pages of the run's next entry, asked for while the present one is read
    std::unique_ptr<FetchAhead> m_ahead;
};

// Whether a downloaded rules text may replace the one in use: it begins with
// "version: " and holds CR LF "end-of-rules" CR LF.
bool acceptableRulesText(const std::string& text);

} // namespace tarnwick::update
