#include "notify/emailqueue.h"

#include "base/frontend.h"
#include "base/log.h"
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

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
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

bool fileNameByte(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
}

// The part of a message file name after its first "_" (the whole name without one).
std::string_view shownName(std::string_view name)
{
    size_t underscore = name.find('_');
    return underscore == std::string_view::npos ? name : name.substr(underscore + 1);
}

// A list line names a message only in the form the queue writes itself: "Tarnwick_", the kind and the
// identifier in letters, digits, "-" and "_", ".tmp"; never one of the queue's own files.
bool queuedMessageName(std::string_view name)
{
    constexpr std::string_view prefix = "Tarnwick_";
    constexpr std::string_view suffix = ".tmp";
    if (name.size() <= prefix.size() + suffix.size() || !name.starts_with(prefix) || !name.ends_with(suffix))
        return false;
    if (name == k_pendingListName || name == k_remainderListName || name == k_activityFileName)
        return false;
    std::string_view middle = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
    return std::all_of(middle.begin(), middle.end(), [](char c) { return fileNameByte(c) || c == '_'; });
}

// A name of the form that posting gives a message: one of the kinds of notice and the entry's identifier.
// What a commit returns when the step before listing refused: the caller has reported why.
constexpr std::string_view k_notListedText = "PostEmail: the messages were not listed.";

bool postedMessageName(std::string_view name)
{
    if (!queuedMessageName(name))
        return false;
    const std::string_view rest = name.substr(std::string_view("Tarnwick_").size());
    if (rest.starts_with("welcome") || rest.starts_with("digest"))
        return true;
    return rest.starts_with('a') || rest.starts_with('c') || rest.starts_with('d') || rest.starts_with('s');
}

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
        name += fileNameByte(c) ? c : '_';
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
            expandTemplate(*text, m_ctx.vars, message);
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

std::string EmailQueue::stageDigest(const core::Entry& entry, const core::Entry& previous)
{
    const std::optional<std::string> text = templateInUse(m_ctx.templates, templateid::DigestEntry);
    if (!text) {
        const std::string error = "PostEmail: Can't find e-mail template file.";
        base::errorReport(m_ctx.log, m_ctx.frontEnd, error, "E-Mail Creation Failed");
        return error;
    }
    const std::string number = std::to_string(m_digestBlocks.size() + 1);
    std::string block;
    {
        rules::CurrentEntryScope scope(m_ctx.vars, &entry, &previous);
        expandTemplate(
            *text,
            [&](std::string_view name) {
                return core::equalNoCase(name, extraname::DigestNumber) ? number : m_ctx.vars.lookup(name);
            },
            block);
    }
    m_ctx.log.write("Digest item %s '%s'\n", number.c_str(), messageFileName(entry, "s").c_str());
    m_digestBlocks.push_back(std::move(block));
    return {};
}

void EmailQueue::endDigest()
{
    m_digestBlocks.clear();
    m_digestCommitted = 0;
    m_digestName.clear();
}

std::string EmailQueue::writeDigest(std::optional<size_t>& slot)
{
    const std::string dir = logDir();
    if (!m_digestName.empty() && !platform::fileExists(platform::joinPath(dir, m_digestName))) {
        // the digest written so far is gone (sent): the blocks since go in a digest of their own
        m_digestBlocks.erase(m_digestBlocks.begin(), m_digestBlocks.begin() + static_cast<long>(m_digestCommitted));
        m_digestCommitted = 0;
        m_digestName.clear();
    }
    const std::optional<std::string> text = templateInUse(m_ctx.templates, templateid::Digest);
    if (!text)
        return "PostEmail: Can't find e-mail template file.";
    std::string changes;
    for (std::string_view block : m_digestBlocks) {
        while (block.ends_with("\r\n"))
            block.remove_suffix(2);
        if (!changes.empty())
            changes += "\r\n\r\n";
        changes += block;
    }
    const std::string count = std::to_string(m_digestBlocks.size());
    std::string message;
    {
        rules::CurrentEntryScope scope(m_ctx.vars, nullptr, nullptr);
        expandTemplate(
            *text,
            [&](std::string_view name) {
                if (core::equalNoCase(name, extraname::DigestCount))
                    return count;
                if (core::equalNoCase(name, extraname::DigestChanges))
                    return changes;
                return m_ctx.vars.lookup(name);
            },
            message);
    }
    if (!m_digestName.empty()) {
        // listed already: the file is replaced whole, so that it holds either the blocks before or all of them
        m_ctx.log.write("Post E-Mail '%s' (%s changes)\n", m_digestName.c_str(), count.c_str());
        if (!platform::writeFileAtomic(platform::joinPath(dir, m_digestName), message))
            return "PostEmail: Can't create the pending e-mail file.";
        return {};
    }
    const std::string name = freeMessageName("Tarnwick_digest.tmp");
    m_ctx.log.write("Post E-Mail '%s' (%s changes)\n", name.c_str(), count.c_str());
    slot = m_staged.size();
    if (dir.empty() || !m_staged.add(platform::joinPath(dir, name), message))
        return "PostEmail: Can't create the pending e-mail file.";
    m_stagedNames.insert(name);
    return {};
}

std::string EmailQueue::commitEmail(const std::function<bool()>& beforeListing)
{
    const bool digestDue = m_digestBlocks.size() > m_digestCommitted;
    if (m_staged.empty() && !digestDue)
        return {};
    std::optional<size_t> digestSlot;
    std::string error = digestDue ? writeDigest(digestSlot) : std::string();
    if (error.empty())
        error = commitStaged(digestSlot, beforeListing);
    m_staged.discard();
    m_stagedNames.clear();
    if (error.empty()) {
        m_digestCommitted = m_digestBlocks.size();
    } else {
        m_digestBlocks.resize(m_digestCommitted);
        if (error != k_notListedText)
            base::errorReport(m_ctx.log, m_ctx.frontEnd, error, "E-Mail Creation Failed");
    }
    return error;
}

std::string EmailQueue::commitStaged(std::optional<size_t> digestSlot, const std::function<bool()>& beforeListing)
{
    if (m_staged.empty())
        return {};
    const std::string listPath = pendingListPath();
    std::string list;
    removeUnlisted();
    if (platform::fileExists(listPath)) {
        std::optional<std::string> old = platform::readFile(listPath, platform::FileKind::Own);
        if (!old)
            return "PostEmail: Can't create the e-mail notification file.";
        list = std::move(*old);
    }
    // the messages are durable under their names before the list names them
    std::vector<std::string> committed;
    if (!m_staged.commit(committed, [this](const std::string& taken) {
            return platform::joinPath(logDir(), freeMessageName(taken.substr(taken.rfind('/') + 1)));
        }))
        return "PostEmail: Can't create the pending e-mail file.";
    if (beforeListing && !beforeListing()) {
        for (const std::string& path : committed)
            platform::removeFile(path);
        (void)platform::syncFolder(listPath);
        return std::string(k_notListedText);
    }
    if (!list.empty() && list.back() != '\n')
        list += "\r\n";
    for (const std::string& path : committed) {
        list.append(path, path.rfind('/') + 1);
        list += "\r\n";
    }
    if (!platform::writeFileAtomic(listPath, list)) {
        // a message that no list names is no half entry
        for (const std::string& path : committed)
            platform::removeFile(path);
        return "PostEmail: Can't create the e-mail notification file.";
    }
    for (size_t i = 0; i < committed.size(); ++i)
        m_ctx.settings.increment(base::setting::CountEmailPost);
    if (digestSlot && *digestSlot < committed.size())
        m_digestName = committed[*digestSlot].substr(committed[*digestSlot].rfind('/') + 1);
    return {};
}

bool EmailQueue::pendingExists() const
{
    const std::string path = pendingListPath();
    if (path.empty())
        return false;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

// Message files that no list names are left by a power cut between the commit of a group and the writing of
// its list. An update's changes were not saved (its data file is written only after the list), so the next update
// finds them again and posts them anew: those files are removed. An edit's data file is written between the two,
// so the notice of an entry added that the data file holds, or of one deleted that it lacks, tells of a saved edit
// and is listed; any other is removed. Once per logging directory, before the queue is first sent or added to.
void EmailQueue::removeUnlisted()
{
    const std::string dir = logDir();
    if (dir.empty() || dir == m_checkedDir)
        return;
    const std::string listPath = pendingListPath();
    std::optional<std::string> list = platform::readFile(listPath, platform::FileKind::Own);
    if (!list && errno != ENOENT)
        return; // without the list nothing can be told unlisted
    m_checkedDir = dir;
    std::unordered_set<std::string> listed;
    if (list) {
        core::LineReader reader(*list);
        std::string_view line;
        while (reader.next(line))
            listed.emplace(line);
    }
    bool removed = false;
    std::string adopted;
    for (const std::string& name : platform::folderNames(dir)) {
        if (!postedMessageName(name) || listed.contains(name))
            continue;
        const char kind = name[std::string_view("Tarnwick_").size()];
        if ((kind == 'a' || kind == 'd') && m_ctx.savedEntryNamed && m_ctx.savedEntryNamed(name) == (kind == 'a')) {
            m_ctx.log.write("E-mail file '%s' is on no pending list (a crash before it was listed); the data file "
                            "holds its edit, so it is listed\n",
                            name.c_str());
            adopted.append(name).append("\r\n");
            continue;
        }
        m_ctx.log.write("E-mail file '%s' is on no pending list (a crash before it was listed); removed, its "
                        "change is found again by the next update\n",
                        name.c_str());
        removed = platform::removeFile(platform::joinPath(dir, name)) || removed;
    }
    if (!adopted.empty()) {
        std::string text = list.value_or(std::string());
        if (!text.empty() && text.back() != '\n')
            text += "\r\n";
        if (!platform::writeFileAtomic(listPath, text + adopted))
            m_checkedDir.clear(); // tried again before the next use of the queue
    }
    if (removed)
        (void)platform::syncFolder(listPath);
}

int EmailQueue::pendingCount() const
{
    const std::optional<std::string> list = platform::readFile(pendingListPath());
    int count = 0;
    if (list) {
        core::LineReader reader(*list);
        std::string_view line;
        while (reader.next(line))
            count += line.empty() ? 0 : 1;
    }
    return count;
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

    base::RunState& reason = runState();
    std::string error;
    bool unmarked = false;
    try {
        base::OperationDisplay display(m_ctx.frontEnd, k_sendTimeoutMs / 1000);
        base::ScopedValue<bool> sending(m_ctx.sending ? *m_ctx.sending : unmarked, true);
        const int timeoutMs = k_sendTimeoutMs;
        net::runSendMailTask(m_ctx.taskHost, request, timeoutMs);
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
    std::optional<std::string> bytes = platform::readFile(path, platform::FileKind::Own);
    if (!bytes && errno != ENOENT)
        return failed("SendEmail: Can't read the e-mail file '" + path +
                      "': " + (errno == EINVAL ? "not a regular file" : platform::fileErrorText(errno)));
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
    m_lastFailedAtServer = !error.empty() && !m_ctx.taskHost.cancelRequested() &&
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

    const std::string dir = logDir();
    const std::string listPath = pendingListPath();
    const std::string original = platform::readFile(listPath, platform::FileKind::Own).value_or(std::string());
    std::vector<std::string_view> lines;
    {
        core::LineReader reader(original);
        std::string_view line;
        while (reader.next(line))
            lines.push_back(line);
    }

    // the activity report goes first whenever the count of sent messages is a multiple of 5, and after a
    // batch whose report failed (its file is then left behind); only when the user agreed to it
    const std::string activityPath = platform::joinPath(dir, k_activityFileName);
    const bool activity =
        !del && m_ctx.settings.usageReportsAllowed() &&
        (m_ctx.settings.number(base::setting::CountEmailBatchSucceeded) % 5 == 0 || platform::fileExists(activityPath));
    const int items = static_cast<int>(lines.size()) + (activity ? 1 : 0);
    if (!del)
        fe.runStart("Sending E-Mail", items);

    std::string error;
    size_t firstKept = lines.size(); // the list lines that stay queued start here
    int position = 0;
    bool removalsSynced = true;
    auto lastSync = std::chrono::steady_clock::now();
    if (activity) {
        const std::string& path = activityPath;
        std::string report;
        {
            rules::CurrentEntryScope scope(m_ctx.vars, nullptr, nullptr);
            report = expandTemplateId(templateid::Activity, m_ctx.vars);
        }
        if (platform::writeFileAtomic(path, report)) {
            fe.runPosition(position);
            fe.statusLine(std::string(shownName(k_activityFileName)));
            error = sendMessageFile(path, MailMode::ActivityAddress);
            const bool cancelled = m_ctx.taskHost.cancelRequested() || runState() == base::RunState::Cancelled;
            if (!error.empty() && !cancelled) {
                // a refused report must not hold the user's notifications back: it is tried at the next batch
                m_ctx.log.write("Activity report not sent; it is tried again with the next batch\n");
                error.clear();
            } else if (!error.empty()) {
                firstKept = 0;
            } else {
                m_lastSent += m_lastSendWentOut ? 1 : 0;
                platform::removeFile(path);
            }
        }
        ++position;
    }
    for (size_t i = 0; i < lines.size() && error.empty(); ++i, ++position) {
        const std::string name(lines[i]);
        if (!del)
            fe.runPosition(position); // deleting shows no run
        fe.statusLine(std::string(shownName(name)));
        if (!queuedMessageName(name)) {
            if (!name.empty())
                m_ctx.log.write("Pending list line '%s' names no queued e-mail; dropped\n", name.c_str());
            continue;
        }
        const std::string path = platform::joinPath(dir, name);
        if (!del) {
            const bool welcome = core::equalNoCase(shownName(name), "welcome.tmp");
            error = sendMessageFile(path, welcome ? MailMode::ActivityAddress : MailMode::NotifyAddresses);
            if (!error.empty()) {
                firstKept = i;
                break;
            }
            m_lastSent += m_lastSendWentOut ? 1 : 0;
        }
        platform::removeFile(path);
        // a sent message whose removal a power cut undoes goes out again: the removals reach the disk as the
        // batch goes, a few at a time, so that a cut sends again at most the last few
        if (const auto now = std::chrono::steady_clock::now(); now - lastSync >= k_removalSyncInterval) {
            removalsSynced = platform::syncFolder(listPath) && removalsSynced;
            lastSync = now;
        }
    }
    removalsSynced = platform::syncFolder(listPath) && removalsSynced;
    const int syncError = errno;

    // names listed while this batch was sending stay queued behind the remainder
    std::string later;
    if (std::optional<std::string> now = platform::readFile(listPath, platform::FileKind::Own);
        now && now->starts_with(original))
        later = now->substr(original.size());

    bool result = true;
    bool listWritten = removalsSynced;
    if (!listWritten) {
        // the list is left as it was: what it names and is gone is passed over at the next batch
        errno = syncError;
    } else if (error.empty()) {
        if (later.empty())
            listWritten = (platform::removeFile(listPath) || errno == ENOENT) && platform::syncFolder(listPath);
        else
            listWritten = platform::writeFileAtomic(listPath, later);
    } else {
        std::string remainder;
        for (size_t i = firstKept; i < lines.size(); ++i) {
            if (!queuedMessageName(lines[i]))
                continue;
            remainder.append(lines[i]);
            remainder += "\r\n";
        }
        remainder += later;
        listWritten = platform::writeFileAtomic(listPath, remainder);
    }
    if (!listWritten) {
        // the messages sent stay listed and would go out again: the user must hear of it
        m_listError = "Can't update the pending e-mail list '" + listPath + "': " + platform::fileErrorText(errno) +
                      ". Messages sent now may be sent again.";
        base::errorReport(m_ctx.log, fe, m_listError, k_sendFailedTitle);
    }
    if (!error.empty()) {
        m_lastError = error;
        std::string text;
        if (m_lastFailedAtServer)
            text = "The e-mail could not be sent through " +
                   serverAndPort(m_ctx.settings.value(base::setting::SmtpServer), m_ctx.settings.smtpSecurity()) +
                   ":\n";
        text += error + "\n\n" + k_staysQueued;
        if (ask)
            text += "\n\nDo you want to exit anyway?";
        base::Answer answer = fe.ask(ask ? base::Question::ExitAfterFailedSend : base::Question::Message,
                                     std::move(text), k_sendFailedTitle);
        if (ask)
            result = answer == base::Answer::Yes;
    }
    if (!del)
        fe.runEnd();
    return result;
}

std::string EmailQueue::sendAtOnce(int templateId, MailMode mode, bool showResult)
{
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
        platform::removeFile(path);
        m_ctx.frontEnd.runEnd();
    }
    if (showResult) {
        if (!error.empty())
            base::errorReport(m_ctx.log, m_ctx.frontEnd, error, "E-Mail Failed");
        else
            m_ctx.frontEnd.tell("E-mail was sent successfully.");
    }
    return error;
}

} // namespace tarnwick::notify
