#pragma once

#include "base/runstate.h"
#include "notify/digesttext.h"
#include "notify/pendinglist.h"
#include "platform/files.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace tarnwick::base {
struct AccessToken;
class AppSettings;
class FrontEnd;
class Log;
} // namespace tarnwick::base
namespace tarnwick::core {
struct Entry;
}
namespace tarnwick::net {
class FlowLog;
}
namespace tarnwick::rules {
class TemplateVars;
}
namespace tarnwick::tasks {
class TaskHost;
}

namespace tarnwick::notify {

class ApplicationNames;
class TemplateStore;

// Recipients of a sending.
enum class MailMode : int {
    ReturnAddress = 0,
    NotifyAddresses = 1,
    ActivityAddress = 2,
    SupportAddress = 3,
    OwnToLine = 4, // set by a leading "To: " line of the message itself
};

// Where the notices of entries go: the queue, or the window that groups an update run's notices.
class NoticeSink {
public:
    virtual ~NoticeSink() = default;
    // Queues the notice from template `templateId` with kind tag `kind` for `entry`, with `previous` as the
    // previous entry (or none). Returns the error text (already reported), empty on success.
    virtual std::string postNotice(const core::Entry& entry, int templateId, std::string_view kind,
                                   const core::Entry* previous) = 0;
};

// What the queue works with; nothing here is owned by it.
struct EmailContext {
    base::AppSettings& settings;
    base::Log& log;
    base::FrontEnd& frontEnd;
    tasks::TaskHost& taskHost;
    rules::TemplateVars& vars;
    const ApplicationNames& names;
    net::FlowLog* flowLog = nullptr;
    // The main window's cancel reason, which a sending reads and sets; none: the queue keeps its own.
    base::RunState* runState = nullptr;
    // The window's "sending" mark, set while each SMTP job runs; none: no mark.
    bool* sending = nullptr;
    // The templates in use, the user's among them; none: the built-in ones.
    TemplateStore* templates = nullptr;
    // Whether the saved entries hold the entry a message name is for ("Tarnwick_a3000004.tmp"): an edit's
    // notice that no list names yet is kept when it agrees with the data file. None: every such file is removed.
    std::function<bool(const std::string& messageName)> savedEntryNamed = {};
};

constexpr const char* k_emailTestFileName = "Tarnwick_emailtest.txt";
// The kind of a deadline reminder's message file ("Tarnwick_r2824281.tmp").
constexpr const char* k_reminderKind = "r";

// The file name of a queued message: "Tarnwick_" + kind + the entry's identifier + ".tmp". Any byte of the
// identifier other than an ASCII letter, digit or "-" becomes "_", so the name never leaves the folder.
std::string messageFileName(const core::Entry& entry, std::string_view kind);

// The queue of notification e-mail in the logging directory, and the sending of messages through the SMTP
// client. Message files are complete on disk before they are listed; the pending list is only ever replaced
// whole, so a crash may send a message twice but never loses one.
class EmailQueue {
public:
    explicit EmailQueue(EmailContext context);

    // Expands template `templateId` with `entry` as the current entry into its message file and lists it.
    // Returns the error text (already reported), empty on success.
    std::string PostEmail(const core::Entry& entry, int templateId, std::string_view kind);
    // The same with `previous` as the previous entry of the expansion (change notices).
    std::string PostEmail(const core::Entry& entry, int templateId, std::string_view kind, const core::Entry* previous);

    // Postings in a group: each message is written at once under a name of its own, and the group is made
    // durable and listed by one commit, so that many postings cost syncs that run together and one rewrite of
    // the list.
    // stageEmail returns the error text (already reported) of a message that could not be written.
    std::string stageEmail(const core::Entry& entry, int templateId, std::string_view kind,
                           const core::Entry* previous);
    // Syncs the staged messages and lists them; on failure none is listed, every staged file is removed, and
    // the error text (already reported) is returned.
    // The staged digest is written with them: the first time as a message of its own, later by replacing it.
    // With `beforeListing`, that step runs once the messages are durable under their names and before the list
    // names them (an edit's data file is written there, so that its notices and the edit are kept together); when
    // it returns false none is listed, the files are removed and the caller reports its own failure.
    std::string commitEmail(const std::function<bool()>& beforeListing = {});
    size_t stagedCount() const { return m_staged.size(); }

    // A status change for the digest of an update run: the entry's block (the digest-entry template with `entry`
    // current and `previous` as the previous entry) goes out with the run's other changes in one message, which
    // the next commitEmail writes with every block so far. Returns the error text (already reported).
    std::string stageDigest(const core::Entry& entry, const core::Entry& previous);
    // A deadline reminder for `entry` from the reminder template, whose deadline names the template variables'
    // application names answer: with `digest` its subject joins the run's digest as a line, which the next
    // commitEmail writes; a reminder that names its own recipients, one that the digest template in use would not
    // show, or any without `digest`, is a message of its own. Returns the error text (already reported).
    std::string stageReminder(const core::Entry& entry, bool digest);
    // The run is over: the next status change starts a digest of its own. Edits of the list still join the
    // digest until it is sent.
    void endDigest();
    // With digest notices, the listed notices of edits (entries added, deleted, references changed) join the
    // digest that waits to be sent, or make one of their own when two or more wait without one; a notice that
    // names its own recipients stays a message of its own. The digest holds them before the list stops naming
    // them, so a crash may send one twice but loses none. Returns the error text (logged): the notices then go
    // one by one.
    std::string joinEditsToDigest();

    // Whether a pending list can be read in the logging directory.
    bool pendingExists() const;
    // The messages the pending list names (its lines that are not empty).
    int pendingCount() const;
    // Sends (or, with `del`, deletes) the queue; with `ask` the user is asked first and, after a failure,
    // whether to go on anyway. True when the caller may go on.
    bool processPending(bool ask, bool del);
    // Expands template `templateId` into a scratch file and sends it at once.
    std::string sendAtOnce(int templateId, MailMode mode, bool showResult);
    // Sends one message file; returns the error text, empty on success and for a missing file (sent and
    // removed before). An empty file, or one that is there but cannot be read (or is no regular file), is a
    // failure: its message stays queued and never counts as sent.
    std::string sendMessageFile(const std::string& path, MailMode mode);

    // The outcome of the last processPending: messages sent (activity report included) and the failure.
    int lastBatchSent() const { return m_lastSent; }
    const std::string& lastBatchError() const { return m_lastError; }
    // Why the last processPending could not rewrite the pending list (already reported); empty when it could.
    const std::string& lastListError() const { return m_listError; }

    std::string pendingListPath() const;

private:
    std::string logDir() const;
    std::string recipients(MailMode mode) const;
    // The access token for the next sending, renewed on a worker thread when it must be (see
    // base::mailAccessToken).
    base::AccessToken accessToken(bool force);
    std::string runSmtpJob(const std::string& to, const std::string& cc, std::string message);

    base::RunState& runState() { return m_ctx.runState ? *m_ctx.runState : m_ownRunState; }
    // Writes the digest with every block so far: staged as a new message (its place in the group in `slot`), or
    // replacing the one listed already. The error text.
    std::string writeDigest(std::optional<size_t>& slot);
    // Commits the staged messages and lists them, without the names `dropped`; the error text.
    std::string commitStaged(std::optional<size_t> digestSlot, const std::function<bool()>& beforeListing,
                             const std::vector<std::string>& dropped = {});
    // Whether the digest template in use shows the reminder lines ([DigestText] or [DigestReminders]).
    bool digestShowsReminders() const;
    // Whether the digest holds blocks or reminders that its file does not hold yet.
    bool digestDue() const
    {
        return m_digestBlocks.size() > m_digestCommitted || m_digestReminders.size() > m_remindersCommitted;
    }
    // Forgets what the digest written so far holds once it is gone (sent).
    void forgetSentDigest();
    // Starts the next digest afresh.
    void endDigestNow();
    // "The e-mail could not be sent through host:port:\n" when the last sending failed at the mail server.
    std::string failedAtServer() const;

    // Settles the message files that no pending list names, once per logging directory.
    void removeUnlisted();
    // How a batch's sending went: the failure that stopped it (empty: none), the first list line that stays
    // queued, and whether the removals of the messages sent reached the disk.
    struct BatchOutcome {
        std::string error;
        size_t firstKept = 0;
        platform::Result removalsSynced;
    };
    // Sends (or, with `del`, deletes) the messages `list` names in order, the activity report first with
    // `activity`, until one fails.
    BatchOutcome sendBatch(const PendingList& list, bool del, bool activity);
    // Sends the activity report; the failure that stops the batch (a cancel), empty otherwise.
    std::string sendActivityReport(const std::string& path);
    // Tells the user of a failed batch; with `ask`, whether to exit anyway (then the answer).
    bool reportFailedBatch(const std::string& error, bool ask);
    // A name for a message of `name`'s form that no file in the folder and no staged message has.
    std::string freeMessageName(const std::string& name) const;

    // The pending list of the logging directory, kept from one commit to the next so that it is read again only
    // when someone else changed it.
    PendingList& pendingList();

    EmailContext m_ctx;
    std::optional<PendingList> m_list;
    platform::FileGroup m_staged;
    std::unordered_set<std::string> m_stagedNames;
    // the run's digest: its blocks and reminder lines, how many of each its file on disk holds, the file's name once
    // written, the edits of the list it holds, and whether its run is over
    std::vector<std::string> m_digestBlocks;
    size_t m_digestCommitted = 0;
    std::vector<std::string> m_digestReminders;
    size_t m_remindersCommitted = 0;
    std::string m_digestName;
    std::vector<DigestEdit> m_digestEdits;
    bool m_digestClosed = false;
    base::RunState m_ownRunState = base::RunState::Running;
    bool m_lastSendWentOut = false;
    bool m_lastFailedAtServer = false;    // the mail server refused or could not be reached
    bool m_lastFailedAtAuthority = false; // the OAuth authority gave no access token
    int m_lastSent = 0;
    std::string m_lastError;
    std::string m_listError;
    std::string m_checkedDir; // the logging directory whose unlisted messages were removed
};

} // namespace tarnwick::notify
