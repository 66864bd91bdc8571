#include "notify/emailqueue.h"

#include "base/frontend.h"
#include "base/log.h"
#include "base/settings.h"
#include "core/entry.h"
#include "core/text.h"
#include "notify/appnames.h"
#include "notify/templates.h"
#include "notify/usertemplates.h"
#include "platform/files.h"
#include "rules/templatevars.h"

#include <algorithm>

// The digest: the status changes of a run in one message, which the notices of edits join before a sending.
namespace tarnwick::notify {

std::string EmailQueue::stageDigest(const core::Entry& entry, const core::Entry& previous)
{
    const std::optional<std::string> text = templateInUse(m_ctx.templates, templateid::DigestEntry);
    if (!text) {
        const std::string error = "PostEmail: Can't find e-mail template file.";
        base::errorReport(m_ctx.log, m_ctx.frontEnd, error, "E-Mail Creation Failed");
        return error;
    }
    if (m_digestClosed)
        endDigestNow();
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

bool EmailQueue::digestShowsReminders() const
{
    const std::optional<std::string> text = templateInUse(m_ctx.templates, templateid::Digest);
    if (!text)
        return false;
    std::string folded(*text);
    std::transform(folded.begin(), folded.end(), folded.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    return folded.find("[digesttext]") != std::string::npos || folded.find("[digestreminders]") != std::string::npos;
}

std::string EmailQueue::stageReminder(const core::Entry& entry, bool digest)
{
    const std::optional<std::string> text = templateInUse(m_ctx.templates, templateid::DeadlineReminder);
    std::optional<std::string> line;
    // a digest template of the user's that shows no reminders would drop them: they go as messages of their own
    if (digest && text && digestShowsReminders()) {
        std::string message;
        {
            rules::CurrentEntryScope scope(m_ctx.vars, &entry, nullptr);
            expandMailTemplate(*text, m_ctx.vars, message);
        }
        line = digestLine(message);
    }
    if (!line)
        return stageEmail(entry, templateid::DeadlineReminder, k_reminderKind, nullptr);
    if (m_digestClosed)
        endDigestNow();
    m_ctx.log.write("Digest reminder '%s'\n", line->c_str());
    m_digestReminders.push_back(std::move(*line));
    return {};
}

void EmailQueue::endDigest()
{
    m_digestClosed = true;
}

void EmailQueue::endDigestNow()
{
    m_digestBlocks.clear();
    m_digestCommitted = 0;
    m_digestReminders.clear();
    m_remindersCommitted = 0;
    m_digestName.clear();
    m_digestEdits.clear();
    m_digestClosed = false;
}

void EmailQueue::forgetSentDigest()
{
    if (m_digestName.empty() || platform::fileExists(platform::joinPath(logDir(), m_digestName)))
        return;
    // the digest written so far is gone (sent): the blocks since go in a digest of their own
    m_digestBlocks.erase(m_digestBlocks.begin(), m_digestBlocks.begin() + static_cast<long>(m_digestCommitted));
    m_digestCommitted = 0;
    m_digestReminders.erase(m_digestReminders.begin(),
                            m_digestReminders.begin() + static_cast<long>(m_remindersCommitted));
    m_remindersCommitted = 0;
    m_digestName.clear();
    m_digestEdits.clear();
}

std::string EmailQueue::writeDigest(std::optional<size_t>& slot)
{
    const std::string dir = logDir();
    forgetSentDigest();
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
    std::string edits;
    for (const DigestEdit& edit : m_digestEdits)
        edits.append(edits.empty() ? "" : "\r\n").append(edit.line);
    std::string reminders;
    for (const std::string& line : m_digestReminders)
        reminders.append(reminders.empty() ? "" : "\r\n").append(line);
    std::string message;
    {
        rules::CurrentEntryScope scope(m_ctx.vars, nullptr, nullptr);
        const std::vector<std::pair<std::string_view, std::string>> own = {
            {extraname::DigestCount, count},
            {extraname::DigestChanges, changes},
            {extraname::DigestEditCount, std::to_string(m_digestEdits.size())},
            {extraname::DigestEdits, edits},
            {extraname::DigestReminderCount, std::to_string(m_digestReminders.size())},
            {extraname::DigestReminders, reminders},
            {extraname::DigestRunItems, std::to_string(m_digestBlocks.size() + m_digestReminders.size())},
            {extraname::DigestSummary, digestSummary(m_digestBlocks.size(), m_digestEdits, m_digestReminders.size())},
            {extraname::DigestText, digestText(m_digestBlocks.size(), changes, m_ctx.vars.lookup("DataSource"),
                                               k_appName, m_digestEdits, m_digestReminders)},
        };
        expandTemplate(
            *text,
            [&](std::string_view name) {
                for (const auto& [ownName, value] : own) {
                    if (core::equalNoCase(name, ownName))
                        return value;
                }
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

std::string EmailQueue::joinEditsToDigest()
{
    if (!m_ctx.settings.digestNotices())
        return {};
    removeUnlisted();
    const std::string dir = logDir();
    PendingList list(dir);
    if (dir.empty() || !list.read())
        return {};
    forgetSentDigest();
    std::vector<std::string> joining;
    std::vector<DigestEdit> edits;
    for (const std::string& name : list.lines()) {
        const char kind = PendingList::editKind(name);
        // an import's notice lists its entries, which a digest's line of its subject would not
        if (kind == 0 || kind == 'i' || std::find(joining.begin(), joining.end(), name) != joining.end())
            continue;
        const platform::ResultOf<std::string> bytes =
            platform::readFile(platform::joinPath(dir, name), platform::FileKind::Own);
        std::optional<std::string> line = bytes ? digestLine(*bytes) : std::nullopt;
        if (!line)
            continue; // the sending passes it over, tells of it, or sends it to its own recipients
        joining.push_back(name);
        edits.push_back({kind, std::move(*line)});
    }
    const bool digestWaits = !m_digestName.empty() || digestDue();
    // a lone notice is a message as good as a digest of one
    if (joining.empty() || (joining.size() == 1 && !digestWaits))
        return {};
    m_ctx.log.write("Digest joins %zu notices of edits\n", joining.size());
    const size_t editsBefore = m_digestEdits.size();
    m_digestEdits.insert(m_digestEdits.end(), edits.begin(), edits.end());
    std::optional<size_t> digestSlot;
    // the digest holds the edits before the list stops naming their notices: a crash between repeats them
    std::string error = writeDigest(digestSlot);
    if (error.empty())
        error = commitStaged(digestSlot, {}, joining);
    m_staged.discard();
    m_stagedNames.clear();
    if (!error.empty()) {
        m_digestEdits.resize(editsBefore);
        m_ctx.log.write("Digest not written: '%s'; the notices go one by one\n", error.c_str());
        return error;
    }
    m_digestCommitted = m_digestBlocks.size();
    m_remindersCommitted = m_digestReminders.size();
    for (const std::string& name : joining)
        (void)platform::removeFile(platform::joinPath(dir, name));
    (void)platform::syncFolder(list.path());
    return {};
}

} // namespace tarnwick::notify
