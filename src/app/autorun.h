#pragma once

#include "base/frontend.h"
#include "core/daynumber.h"
#include "update/updaterun.h"

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace tarnwick::base {
class Log;
}
namespace tarnwick::core {
class EntryStore;
}

namespace tarnwick::app {

class AppContext;
class MainState;

// Why nobody answers a box: the session is ending (a logout), or the program runs in auto mode (a timer).
enum class Unattended { SessionEnding, AutoMode };

// The answer a box gets when nobody is there to click. Nothing is deleted, installed or downloaded and no
// test mail goes out; the window may go. A session that ends leaves the pending e-mail queued, auto mode sends it.
base::Answer unattendedAnswer(const base::MessageBox& box, Unattended why);
// The box written to the log instead of shown, with the answer it got.
base::Answer logUnattendedBox(base::Log& log, const base::MessageBox& box, Unattended why);

// A start in auto mode that cannot go on (another instance runs, no configuration) says why in the log and on
// standard error, and ends at once.
void refuseAutoStart(base::Log& log, std::ostream& err, const std::string& reason);

// How an unattended run came out.
struct AutoOutcome {
    bool startupOk = true; // the data file was read
    bool saved = true;     // the data file and the reports were written
    bool ran = false;      // Update All ran to its end (nothing due counts)
    bool stopped = false;  // cancelled, closed or refused before the run reached every due entry
    int due = 0;           // the entries due
    int failed = 0;        // of them, those not updated
    std::string mailError; // why the last sending failed; empty when it went (or nothing was to go)
};
// The exit status of an unattended run: Normal when everything due was updated and the mail went out, else the
// status of what went wrong: the files first, then the mail (then even the failures were not heard of).
int autoExitStatus(const AutoOutcome& outcome);
// The log line that closes an unattended run.
std::string autoEndLine(const AutoOutcome& outcome, int status);

// An entry that the last run could not update, and why.
struct FailedEntry {
    std::string name; // its reference when it has one, then its number (and trademark)
    std::string reason;
};
// The entries of the store that failed: an Error and still due (an entry whose page was read is up to date).
std::vector<FailedEntry> failedEntries(const core::EntryStore& entries);
// One line per failed entry: "- KESTREL-EU, registration 3000004: HTTP 500 ...".
std::string failureList(const std::vector<FailedEntry>& failed);

// What the failure notice of an unattended run does: the mailbox gets at most one a day, and a notice that still
// waits in the queue is brought up to date instead of joined by another.
enum class FailureNotice { None, Replace, Queue };
FailureNotice failureNoticeStep(int failed, bool stillQueued, core::DayNumber lastQueued, core::DayNumber today);

// The file in the logging directory that keeps the day the last failure notice was queued.
constexpr const char* k_failureNoticeDayFile = "Tarnwick_failnotice.dat";
// The kind of the failure notice's message file ("Tarnwick_failures.tmp").
constexpr const char* k_failureNoticeKind = "failures";

// What auto mode does around Update All, for the window and the command line alike: the run's end in the log
// (also when nothing was due), the failure notice queued, the pending e-mail sent by the close, and the exit
// status.
class AutoRun {
public:
    explicit AutoRun(MainState& state) : m_state(state) {}

    // Update All has returned with `summary`.
    void runEnded(const update::RunSummary& summary);
    // The exit status, written to the log with the line that closes the run: `startupOk` the data file was read,
    // `saved` the data file and the reports were written at the end.
    int finish(bool startupOk, bool saved);
    const AutoOutcome& outcome() const { return m_outcome; }

private:
    // Queues (or brings up to date) the failure notice; the error text (already logged), empty when none was due
    // or it was queued.
    std::string queueFailureNotice(const std::vector<FailedEntry>& failed, core::DayNumber today);

    MainState& m_state;
    AutoOutcome m_outcome;
};

} // namespace tarnwick::app
