#pragma once

#include "core/daynumber.h"
#include "notify/appnames.h"
#include "notify/emailqueue.h"
#include "update/entrynumbers.h"
#include "update/noticegroup.h"
#include "update/pagefetcher.h"
#include "update/updatecontext.h"

#include <chrono>
#include <string>
#include <vector>

namespace tarnwick::update {

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
    int remindersQueued = 0; // deadline reminders queued after the run's changes
    int reached = 0;         // due entries the run took up, the one in flight at a cancel included
    bool cancelled = false; // a cancel (or a refused warning) stopped the run; the entries not reached are as they were
    int noRecord = 0;       // updated entries whose number the office has no record of
    int numbersNotTaken = 0; // updated entries whose page gives a new number that was not taken
    // the first entry that failed (its reference, else its number) and why
    std::string firstFailedFor;
    std::string firstFailure;
    // the warning about fields reverted to nothing was refused (Cancel) for this entry
    bool warningRefused = false;
    std::string warningRefusedFor;
};

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
    // Updates the entry at `position`; false stops the run (a close, or a cancel before this entry was reached). `next`
    // is the entry the run takes after it (-1 for none): without a pace between requests its pages are asked for while
    // this entry's are read.
    bool UpdateEntry(int position, int next = -1);
    // Fetches `addresses` as one worker task. Bit i of `directMask` fetches
    // address i without the proxy, bit i of `sizesOnlyMask` logs sizes only.
    // Only the office's status pages (`statusPages`) carry the rules' request
    // headers, so that the API key goes to no other host.
    FetchResult FetchPages(const std::vector<std::string>& addresses, unsigned directMask, unsigned sizesOnlyMask,
                           bool statusPages = false);
    // The rules download: once per run of the program, then only the title.
    void download();

private:
    void fail(int position, const std::string& text, int number = 0);
    // Each number the page gives that `stored` does not hold stays in `now` only when it is well formed and
    // the page it leads to names the entry; why the others were not taken goes to `note`. Returns the error
    // of a check that the run's cancel or close cut short.
    std::string checkNewNumbers(const core::Entry& stored, core::Entry& now, std::string& note);
    // Commits the waiting notices; when that fails, their entries fail. With `checkpoint` the entries are
    // saved after a good commit once the last save is long enough ago (checkpointDue).
    void commitNotices(bool checkpoint);
    // Whether a save of the entries in the middle of the run is due: a few seconds after the last one, and
    // never sooner than twenty times what that one took, so that the saves stay a small part of a run
    // however large the data file grows.
    bool checkpointDue() const;
    // Appends the count and time of the run's saves to the file TARNWICK_SAVE_TIMES names, if any.
    void reportCheckpoints() const;
    // LastUpdate cleared by the redo question goes back for an entry that does not get a new one.
    void restoreLastUpdate(int position);

    UpdateContext m_ctx;
    PageFetcher m_fetcher{m_ctx};
    NoticeGroup m_notices{m_ctx};
    // the run in progress
    int m_processed = 0;
    int m_due = 0;
    RunSummary* m_summary = nullptr;
    // LastUpdate of each position before the redo question cleared it (0: not cleared)
    std::vector<core::DayNumber> m_clearedLastUpdate;
    // the saves of the entries in the middle of the run: how many and how long they took in all, when the last
    // one ended and how long it took
    int m_checkpoints = 0;
    std::chrono::steady_clock::duration m_checkpointTime{};
    std::chrono::steady_clock::time_point m_lastCheckpoint;
    std::chrono::steady_clock::duration m_lastCheckpointCost{};
};

// Whether a downloaded rules text may replace the one in use: it begins with
// "version: " and holds CR LF "end-of-rules" CR LF.
bool acceptableRulesText(const std::string& text);

} // namespace tarnwick::update
