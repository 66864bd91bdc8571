#include "notify/emailqueue.h"

#include "base/frontend.h"
#include "base/log.h"
#include "base/oauthsignin.h"
#include "base/scopes.h"
#include "base/settings.h"
#include "core/entry.h"
#include "core/text.h"
#include "core/textfile.h"
#include "net/sendmail.h"
#include "notify/appnames.h"
#include "notify/templates.h"
#include "notify/usertemplates.h"
#include "platform/files.h"
#include "rules/templatevars.h"
#include "tasks/errors.h"
#include "tasks/workertask.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

namespace tarnwick::notify {

namespace {

constexpr int k_sendTimeoutMs = 30000;
// how long the removals of sent messages may wait for their folder's sync
constexpr std::chrono::milliseconds k_removalSyncInterval{200};
constexpr const char* k_sendFailedTitle = "Send Notifications Failed";
constexpr const char* k_staysQueued = "The messages stay queued and go with the next sending.";
constexpr const char* k_dropDamaged = "Remove the file to drop it from the queue.";

// The mail server as the user can look it up: its name and the port the dialogue used.
std::string serverAndPort(const std::string& server, net::MailSecurity security)
{
    if (server.find(':') != std::string::npos)
        return server;
    const int port = security == net::MailSecurity::Implicit ? 465 : security == net::MailSecurity::StartTls ? 587 : 25;
    return server + ":" + std::to_string(port);
}
constexpr const char* k_internalProblem =
    "There is a problem with the internal state of Tarnwick, please exit the application.";

// The part of a message file name after its first "_" (the whole name without one).
std::string_view shownName(std::string_view name)
{
    size_t underscore = name.find('_');
    return underscore == std::string_view::npos ? name : name.substr(underscore + 1);
}

// What a commit returns when the step before listing refused: the caller has reported why.
constexpr std::string_view k_notListedText = "PostEmail: the messages were not listed.";

// Cuts a leading header line "<tag>text\r\n" (tag compared without regard to case) off `text` into `value`.
// False when the text begins with the tag but holds no line end.
bool takeHeaderLine(std::string_view& text, std::string_view tag, std::string& value, bool& found)
{
    found = false;
    if (text.size() < tag.size() || !core::equalNoCase(text.substr(0, tag.size()), tag))
        return true;
    size_t end = text.find("\r\n");
    if (end == std::string_view::npos)
        return false;
    value.assign(text.substr(tag.size(), end - tag.size()));
    text.remove_prefix(end + 2);
    found = true;
    return true;
}

const char* runCaption(MailMode mode)
{
    switch (mode) {
    case MailMode::ReturnAddress:
        return "Send E-Mail to Return Address";
    case MailMode::NotifyAddresses:
        return "Send E-Mail to Notify Addresses";
    default:
        return "Send E-Mail";
    }
}

} // namespace

std::string messageFileName(const core::Entry& entry, std::string_view kind)
{
    const std::string& id =
        !entry.RegNum.empty() ? entry.RegNum : (!entry.SerNum.empty() ? entry.SerNum : entry.IntNum);
    std::string name = "Tarnwick_";
    name += kind;
    for (char c : id)
        name += PendingList::nameByte(c) ? c : '_';
    name += ".tmp";
    return name;
}

EmailQueue::EmailQueue(EmailContext context) : m_ctx(std::move(context)) {}

std::string EmailQueue::logDir() const
{
    return m_ctx.settings.value(base::setting::LogDir);
}

std::string EmailQueue::pendingListPath() const
{
    std::string dir = logDir();
    return dir.empty() ? std::string() : platform::joinPath(dir, k_pendingListName);
}

std::string EmailQueue::PostEmail(const core::Entry& entry, int templateId, std::string_view kind)
{
    return PostEmail(entry, templateId, kind, m_ctx.vars.previous());
}

std::string EmailQueue::PostEmail(const core::Entry& entry, int templateId, std::string_view kind,
                                  const core::Entry* previous)
{
    std::string error = stageEmail(entry, templateId, kind, previous);
    return error.empty() ? commitEmail() : error;
}

std::string EmailQueue::freeMessageName(const std::string& name) const
{
    const std::string dir = logDir();
    const std::string stem = name.substr(0, name.size() - 4); // without ".tmp"
    std::string candidate = name;
    // a second posting for the same entry and kind before a sending is a message of its own
    for (int n = 2; m_stagedNames.contains(candidate) || platform::fileExists(platform::joinPath(dir, candidate)); ++n)
        candidate = stem + "_" + std::to_string(n) + ".tmp";
    return candidate;
}

std::string EmailQueue::stageEmail(const core::Entry& entry, int templateId, std::string_view kind,
                                   const core::Entry* previous)
{
    std::string error;
    const std::optional<std::string> text = templateInUse(m_ctx.templates, templateId);
    if (!text) {
        error = "PostEmail: Can't find e-mail template file.";
    } else {
        const std::string name = freeMessageName(messageFileName(entry, kind));
        const std::string dir = logDir();
        m_ctx.log.write("Post E-Mail '%s'\n", name.c_str());
        std::string message;
        {
            rules::CurrentEntryScope scope(m_ctx.vars, &entry, previous);
            expandMailTemplate(*text, m_ctx.vars, message);
        }
        if (dir.empty() || !m_staged.add(platform::joinPath(dir, name), message))
            error = "PostEmail: Can't create the pending e-mail file.";
        else
            m_stagedNames.insert(name);
    }
    if (!error.empty())
        base::errorReport(m_ctx.log, m_ctx.frontEnd, error, "E-Mail Creation Failed");
    return error;
}

std::string EmailQueue::commitEmail(const std::function<bool()>& beforeListing)
{
    const bool digestWaits = digestDue();
    if (m_staged.empty() && !digestWaits)
        return {};
    std::optional<size_t> digestSlot;
    std::string error = digestWaits ? writeDigest(digestSlot) : std::string();
    if (error.empty())
        error = commitStaged(digestSlot, beforeListing);
    m_staged.discard();
    m_stagedNames.clear();
    if (error.empty()) {
        m_digestCommitted = m_digestBlocks.size();
        m_remindersCommitted = m_digestReminders.size();
    } else {
        m_digestBlocks.resize(m_digestCommitted);
        m_digestReminders.resize(m_remindersCommitted);
        if (error != k_notListedText)
            base::errorReport(m_ctx.log, m_ctx.frontEnd, error, "E-Mail Creation Failed");
    }
    return error;
}

std::string EmailQueue::commitStaged(std::optional<size_t> digestSlot, const std::function<bool()>& beforeListing,
                                     const std::vector<std::string>& dropped)
{
    if (m_staged.empty() && dropped.empty())
        return {};
    removeUnlisted();
    PendingList& list = pendingList();
    if (!list.refresh())
        return "PostEmail: Can't create the e-mail notification file.";
    // the messages are durable under their names before the list names them
    std::vector<std::string> committed;
    if (!m_staged.empty() && !m_staged.commit(committed, [this](const std::string& taken) {
            return platform::joinPath(logDir(), freeMessageName(platform::fileNameOf(taken)));
        }))
        return "PostEmail: Can't create the pending e-mail file.";
    auto removeCommitted = [&] {
        for (const std::string& path : committed)
            (void)platform::removeFile(path);
    };
    if (beforeListing && !beforeListing()) {
        removeCommitted();
        (void)platform::syncFolder(list.path());
        return std::string(k_notListedText);
    }
    std::vector<std::string> names;
    names.reserve(committed.size());
    for (const std::string& path : committed)
        names.push_back(platform::fileNameOf(path));
    if (!list.add(names, dropped)) {
        // a message that no list names is no half entry
        removeCommitted();
        return "PostEmail: Can't create the e-mail notification file.";
    }
    for (size_t i = 0; i < committed.size(); ++i)
        m_ctx.settings.increment(base::setting::CountEmailPost);
    if (digestSlot && *digestSlot < names.size())
        m_digestName = names[*digestSlot];
    return {};
}

PendingList& EmailQueue::pendingList()
{
    const std::string dir = logDir();
    if (!m_list || m_list->path() != PendingList(dir).path())
        m_list.emplace(dir);
    return *m_list;
}

bool EmailQueue::pendingExists() const
{
    return PendingList(logDir()).exists();
}

// Once per logging directory, before the queue is first sent or added to: an edit's notice that a crash left on
// no list may be the only one there is.
void EmailQueue::removeUnlisted()
{
    const std::string dir = logDir();
    if (dir.empty() || dir == m_checkedDir)
        return;
    switch (PendingList(dir).settleUnlisted(m_ctx.log, m_ctx.savedEntryNamed)) {
    case PendingList::Settling::Settled:
        m_checkedDir = dir;
        break;
    case PendingList::Settling::ListNotWritten:
        m_checkedDir.clear(); // tried again before the next use of the queue
        break;
    case PendingList::Settling::ListUnreadable:
        break;
    }
}

int EmailQueue::pendingCount() const
{
    return PendingList(logDir()).count();
}

std::string EmailQueue::recipients(MailMode mode) const
{
    switch (mode) {
    case MailMode::ReturnAddress:
        return m_ctx.settings.value(base::setting::ReturnAddress);
    case MailMode::NotifyAddresses:
        return joinedNotifyAddresses(m_ctx.settings);
    case MailMode::ActivityAddress:
        return m_ctx.names.activityAddress();
    case MailMode::SupportAddress:
        return m_ctx.names.supportAddress();
    case MailMode::OwnToLine:
        break;
    }
    return {};
}

base::AccessToken EmailQueue::accessToken(bool force)
{
    // the authority may take its time: the window keeps drawing meanwhile and its Cancel reaches the exchange
    const base::RenewalRunner onWorker = [this](const base::RenewalExchange& exchange) {
        struct Job {
            tasks::CancelByte cancel;
            tasks::ConnectionSlot slot;
        };
        tasks::WorkerTask<Job, base::Renewal> task(m_ctx.taskHost,
                                                   [exchange](Job& job) { return exchange(&job.cancel); });
        try {
            return task.run(std::vector<Job>(1), k_sendTimeoutMs).front();
        } catch (const tasks::CAppError& e) {
            return base::Renewal{{}, e.message(), false};
        }
    };
    return base::mailAccessToken(m_ctx.settings, m_ctx.flowLog, force, onWorker);
}

std::string EmailQueue::runSmtpJob(const std::string& to, const std::string& cc, std::string message)
{
    net::MailRequest request(m_ctx.flowLog, "SendMail: ");
    request.server = m_ctx.settings.value(base::setting::SmtpServer);
    request.userName = m_ctx.settings.value(base::setting::UserName);
    request.password = m_ctx.settings.plainPassword();
    request.security = m_ctx.settings.smtpSecurity();
    request.caFile = m_ctx.settings.value(base::setting::CaFile);
    request.sentInClear = std::make_shared<std::atomic<bool>>(false);
    request.sender = m_ctx.settings.value(base::setting::ReturnAddress);
    request.replyTo = request.sender;
    request.to = to;
    request.cc = cc;
    request.mailer = k_appName;
    request.message = std::move(message);

    // with an OAuth sign-in the access token goes in place of the password; one the server refuses is renewed
    // once and the message sent once more
    const bool oauth2 = m_ctx.settings.mailSignInByOAuth();
    // a token the authority does not give is no failure of the mail server's: the user is told to sign in again
    m_lastFailedAtAuthority = false;
    if (oauth2) {
        const base::AccessToken token = accessToken(false);
        if (!token.error.empty()) {
            m_lastFailedAtAuthority = true;
            return token.error;
        }
        request.oauth2 = true;
        request.accessToken = token.token;
        request.password.clear();
    }

    base::RunState& reason = runState();
    std::string error;
    bool unmarked = false;
    try {
        base::OperationDisplay display(m_ctx.frontEnd, k_sendTimeoutMs / 1000);
        base::ScopedValue<bool> sending(m_ctx.sending ? *m_ctx.sending : unmarked, true);
        const int timeoutMs = k_sendTimeoutMs;
        try {
            net::runSendMailTask(m_ctx.taskHost, request, timeoutMs);
        } catch (const net::TokenRejected&) {
            if (!oauth2)
                throw;
            const base::AccessToken token = accessToken(true);
            if (!token.error.empty()) {
                m_lastFailedAtAuthority = true;
                throw tasks::CAppError(token.error);
            }
            request.accessToken = token.token;
            net::runSendMailTask(m_ctx.taskHost, request, timeoutMs);
        }
    } catch (const tasks::CThreadsNotDoneError& e) {
        error = e.message();
        reason = base::RunState::ThreadsNotDone;
    } catch (const tasks::CTimedoutError&) {
        error = "SendEmail: Operation timed out.";
    } catch (const tasks::CAppError& e) {
        error = e.message();
    } catch (...) {
        error = "Unknown error.";
    }
    if (request.sentInClear->load())
        m_ctx.log.write("Send E-Mail: the server offers no STARTTLS; the message went in clear\n");

    if (reason == base::RunState::ThreadsNotDone) {
        base::errorReport(m_ctx.log, m_ctx.frontEnd, k_internalProblem, "Problem");
        reason = base::RunState::Cancelled;
    } else if (reason == base::RunState::TimedOut) {
        reason = base::RunState::Running;
        error = "SendEmail: Operation timed out.";
    }
    return error;
}

std::string EmailQueue::sendMessageFile(const std::string& path, MailMode mode)
{
    m_lastSendWentOut = false;
    m_lastFailedAtServer = false;
    m_ctx.log.write("Send E-Mail '%s'\n", path.c_str());
    // a message that is there but cannot be read, or holds nothing to send, is a failed message: it stays
    // queued and the user hears of it; it never counts as sent
    auto failed = [&](std::string error) {
        m_ctx.log.write("Send E-Mail error '%s'\n", error.c_str());
        m_ctx.settings.increment(base::setting::CountEmailBatchFailed);
        return error;
    };
    platform::ResultOf<std::string> bytes = platform::readFile(path, platform::FileKind::Own);
    if (!bytes && !bytes.missing())
        return failed("SendEmail: Can't read the e-mail file '" + path +
                      "': " + (bytes.notRegular() ? "not a regular file" : bytes.error()));
    if (!bytes)
        return {};
    // an empty message is one whose bytes a power cut took before they reached the disk
    if (bytes->empty())
        return failed("SendEmail: The e-mail file '" + path + "' is empty: its message was lost. " + k_dropDamaged);

    std::string_view text = *bytes;
    std::string to;
    std::string cc;
    bool toFound = false;
    bool ccFound = false;
    if (!takeHeaderLine(text, "To: ", to, toFound) || !takeHeaderLine(text, "Cc: ", cc, ccFound))
        return failed("SendEmail: The e-mail file '" + path + "' is damaged: its To: or Cc: line has no line end. " +
                      k_dropDamaged);
    if (toFound)
        mode = MailMode::OwnToLine;
    if (mode != MailMode::OwnToLine)
        to = recipients(mode);

    std::string error = runSmtpJob(to, cc, std::string(text));
    m_lastFailedAtServer = !error.empty() && !m_lastFailedAtAuthority && !m_ctx.taskHost.cancelRequested() &&
                           runState() != base::RunState::Cancelled && runState() != base::RunState::Closing;
    if (!error.empty()) {
        m_ctx.log.write("Send E-Mail error '%s'\n", error.c_str());
        m_ctx.settings.increment(base::setting::CountEmailBatchFailed);
    } else {
        m_ctx.settings.increment(base::setting::CountEmailBatchSucceeded);
        m_lastSendWentOut = true;
    }
    return error;
}

bool EmailQueue::processPending(bool ask, bool del)
{
    m_lastSent = 0;
    m_lastError.clear();
    m_listError.clear();
    base::FrontEnd& fe = m_ctx.frontEnd;

    // what a crash left on no list is settled first: an adopted notice may be the only one there is
    removeUnlisted();
    if (!pendingExists()) {
        if (!ask)
            fe.tell("There aren't any e-mail notifications waiting to be sent.");
        return true;
    }
    if (del && fe.ask(base::Question::DeletePendingEmail,
                      "Do you really want to delete the pending e-mail notifications?") != base::Answer::Yes)
        return false;
    if (ask) {
        base::Answer answer = fe.ask(base::Question::SendPendingEmail,
                                     "There are e-mail notifications waiting to be sent. Send them now?");
        if (answer == base::Answer::Cancel)
            return false;
        if (answer != base::Answer::Yes)
            return true;
    }

    if (!del)
        (void)joinEditsToDigest();
    PendingList list(logDir());
    // a list that cannot be read sends nothing, and what it names stays on it
    (void)list.read();
    // the activity report goes first whenever the count of sent messages is a multiple of 5, and after a
    // batch whose report failed (its file is then left behind); only when the user agreed to it
    const bool activity = !del && m_ctx.settings.usageReportsAllowed() &&
                          (m_ctx.settings.number(base::setting::CountEmailBatchSucceeded) % 5 == 0 ||
                           platform::fileExists(platform::joinPath(logDir(), k_activityFileName)));
    if (!del)
        fe.runStart("Sending E-Mail", static_cast<int>(list.lines().size()) + (activity ? 1 : 0));
    const BatchOutcome outcome = sendBatch(list, del, activity);

    // the list is left as it was when the removals did not reach the disk: what it names and is gone is passed
    // over at the next batch
    platform::Result listed = !outcome.removalsSynced ? outcome.removalsSynced
                              : outcome.error.empty() ? list.keepListedMeanwhile()
                                                      : list.keepFrom(outcome.firstKept);
    if (!listed) {
        // the messages sent stay listed and would go out again: the user must hear of it
        m_listError = "Can't update the pending e-mail list '" + list.path() + "': " + listed.error() +
                      ". Messages sent now may be sent again.";
        base::errorReport(m_ctx.log, fe, m_listError, k_sendFailedTitle);
    }
    const bool result = outcome.error.empty() || reportFailedBatch(outcome.error, ask);
    if (!del)
        fe.runEnd();
    return result;
}

EmailQueue::BatchOutcome EmailQueue::sendBatch(const PendingList& list, bool del, bool activity)
{
    base::FrontEnd& fe = m_ctx.frontEnd;
    const std::vector<std::string>& lines = list.lines();
    BatchOutcome outcome{{}, lines.size(), {}};
    const std::string dir = logDir();
    int position = 0;
    if (activity) {
        outcome.error = sendActivityReport(platform::joinPath(dir, k_activityFileName));
        outcome.firstKept = outcome.error.empty() ? lines.size() : 0;
        ++position;
    }
    // a sent message whose removal a power cut undoes goes out again: the removals reach the disk as the batch
    // goes, a few at a time, so that a cut sends again at most the last few
    auto lastSync = std::chrono::steady_clock::now();
    auto syncRemovals = [&] {
        if (platform::Result synced = platform::syncFolder(list.path()); !synced)
            outcome.removalsSynced = std::move(synced);
    };
    for (size_t i = 0; i < lines.size() && outcome.error.empty(); ++i, ++position) {
        const std::string& name = lines[i];
        if (!del)
            fe.runPosition(position); // deleting shows no run
        fe.statusLine(std::string(shownName(name)));
        if (!PendingList::namesMessage(name)) {
            if (!name.empty())
                m_ctx.log.write("Pending list line '%s' names no queued e-mail; dropped\n", name.c_str());
            continue;
        }
        const std::string path = platform::joinPath(dir, name);
        if (!del) {
            const bool welcome = core::equalNoCase(shownName(name), "welcome.tmp");
            outcome.error = sendMessageFile(path, welcome ? MailMode::ActivityAddress : MailMode::NotifyAddresses);
            if (!outcome.error.empty()) {
                outcome.firstKept = i;
                break;
            }
            m_lastSent += m_lastSendWentOut ? 1 : 0;
        }
        (void)platform::removeFile(path);
        if (const auto now = std::chrono::steady_clock::now(); now - lastSync >= k_removalSyncInterval) {
            syncRemovals();
            lastSync = now;
        }
    }
    syncRemovals();
    return outcome;
}

std::string EmailQueue::sendActivityReport(const std::string& path)
{
    std::string report;
    {
        rules::CurrentEntryScope scope(m_ctx.vars, nullptr, nullptr);
        report = expandTemplateId(templateid::Activity, m_ctx.vars);
    }
    if (!platform::writeFileAtomic(path, report))
        return {};
    m_ctx.frontEnd.runPosition(0);
    m_ctx.frontEnd.statusLine(std::string(shownName(k_activityFileName)));
    std::string error = sendMessageFile(path, MailMode::ActivityAddress);
    const bool cancelled = m_ctx.taskHost.cancelRequested() || runState() == base::RunState::Cancelled;
    if (!error.empty() && !cancelled) {
        // a refused report must not hold the user's notifications back: it is tried at the next batch
        m_ctx.log.write("Activity report not sent; it is tried again with the next batch\n");
        return {};
    }
    if (error.empty()) {
        m_lastSent += m_lastSendWentOut ? 1 : 0;
        (void)platform::removeFile(path);
    }
    return error;
}

std::string EmailQueue::failedAtServer() const
{
    if (!m_lastFailedAtServer)
        return {};
    return "The e-mail could not be sent through " +
           serverAndPort(m_ctx.settings.value(base::setting::SmtpServer), m_ctx.settings.smtpSecurity()) + ":\n";
}

bool EmailQueue::reportFailedBatch(const std::string& error, bool ask)
{
    m_lastError = error;
    std::string text = failedAtServer();
    text += error + "\n\n" + k_staysQueued;
    if (ask)
        text += "\n\nDo you want to exit anyway?";
    const base::Answer answer = m_ctx.frontEnd.ask(ask ? base::Question::ExitAfterFailedSend : base::Question::Message,
                                                   std::move(text), k_sendFailedTitle);
    return !ask || answer == base::Answer::Yes;
}

std::string EmailQueue::sendAtOnce(int templateId, MailMode mode, bool showResult)
{
    m_lastFailedAtServer = false;
    std::string error;
    const std::string dir = logDir();
    const std::string path = platform::joinPath(dir, k_emailTestFileName);
    const std::optional<std::string> text = templateInUse(m_ctx.templates, templateId);
    std::string message;
    if (text) {
        rules::CurrentEntryScope scope(m_ctx.vars, nullptr, nullptr);
        expandTemplate(*text, m_ctx.vars, message);
    }
    if (!text) {
        error = "SendEmail: Can't find e-mail template file.";
    } else if (dir.empty() || !platform::writeFileAtomic(path, message)) {
        error = "Can't create the temporary e-mail file.";
    } else {
        m_ctx.frontEnd.runStart(runCaption(mode), 1);
        m_ctx.frontEnd.statusLine({});
        error = sendMessageFile(path, mode);
        (void)platform::removeFile(path);
        m_ctx.frontEnd.runEnd();
    }
    if (showResult) {
        // the user checks the server the message tried, as the settings name it
        if (!error.empty())
            base::errorReport(m_ctx.log, m_ctx.frontEnd, failedAtServer() + error, "E-Mail Failed");
        else
            m_ctx.frontEnd.tell("E-mail was sent successfully.");
    }
    return error;
}

} // namespace tarnwick::notify
