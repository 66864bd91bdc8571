#include "notify/reminders.h"

#include "base/log.h"
#include "core/entry.h"
#include "core/text.h"
#include "core/textfile.h"
#include "docket/deadlines.h"
#include "docket/reminders.h"
#include "notify/emailqueue.h"
#include "notify/templates.h"
#include "platform/files.h"

#include <algorithm>
#include <set>

namespace tarnwick::notify {

namespace {

// A deadline's part of its records' lines: "NUMBER TAB deadline TAB".
std::string deadlinePrefix(const core::Entry& entry, const docket::Deadline& deadline)
{
    return docket::deadlineNumber(entry) + "\t" + docket::deadlineId(deadline) + "\t";
}

} // namespace

ReminderNamesScope::ReminderNamesScope(rules::TemplateVars& vars, const docket::Deadline& deadline,
                                       core::DayNumber today, std::string_view threshold)
    : m_vars(vars), m_inner(vars.appNames())
{
    m_own = {
        {extraname::DeadlineKind, docket::kindText(deadline)},
        {extraname::DeadlineDate, core::formatDay(deadline.closes)},
        {extraname::DeadlineGrace, core::formatDay(deadline.graceEnds)},
        {extraname::DeadlineDaysLeft, std::to_string(deadline.closes - today)},
        {extraname::DeadlineSource, deadline.source},
        {extraname::ReminderThreshold, std::string(threshold)},
    };
    vars.setAppNames(this);
}

ReminderNamesScope::~ReminderNamesScope()
{
    m_vars.setAppNames(m_inner);
}

std::optional<std::string> ReminderNamesScope::value(std::string_view name) const
{
    for (const auto& [own, value] : m_own) {
        if (core::equalNoCase(name, own))
            return value;
    }
    return m_inner ? m_inner->value(name) : std::nullopt;
}

ReminderOutcome queueReminders(EmailQueue& queue, rules::TemplateVars& vars, base::Log& log, const std::string& logDir,
                               const std::vector<core::Entry>& entries, core::DayNumber today,
                               const std::vector<int>& thresholds, bool digest)
{
    ReminderOutcome outcome;
    if (logDir.empty())
        return outcome;
    const std::string path = platform::joinPath(logDir, k_reminderRecordName);
    const platform::ResultOf<std::string> bytes = platform::readFile(path, platform::FileKind::Own);
    if (!bytes && !bytes.missing()) {
        // without the record every reminder would go again: none goes until it can be read
        outcome.error = "Can't read " + path + ": " + (bytes.notRegular() ? "not a regular file" : bytes.systemText());
        log.write("Reminders not queued: %s\n", outcome.error.c_str());
        return outcome;
    }
    std::set<std::string> recorded;
    const std::string text = bytes.value_or(std::string());
    core::LineReader reader(text);
    for (std::string_view line; reader.next(line);) {
        if (!line.empty())
            recorded.emplace(line);
    }

    std::set<std::string> open;     // the prefixes of the deadlines open today
    std::vector<std::string> added; // the thresholds crossed since the last run
    for (const core::Entry& entry : entries) {
        if (docket::deadlineNumber(entry).empty())
            continue;
        for (const docket::Deadline& deadline : docket::pendingDeadlines(entry, today)) {
            const std::string prefix = deadlinePrefix(entry, deadline);
            open.insert(prefix);
            const docket::ReminderStep step =
                docket::reminderStep(deadline, today, thresholds, [&](std::string_view threshold) {
                    return recorded.contains(prefix + std::string(threshold));
                });
            if (!step.send.empty()) {
                std::string error;
                {
                    const ReminderNamesScope names(vars, deadline, today, step.send);
                    error = queue.stageReminder(entry, digest);
                }
                if (!error.empty()) {
                    outcome.error = error;
                    continue; // recorded it is not: the next run tries again
                }
                ++outcome.queued;
            }
            for (const std::string& threshold : step.record)
                added.push_back(prefix + threshold);
        }
    }
    // the reminders are listed before the record holds them
    if (const std::string error = queue.commitEmail(); !error.empty()) {
        outcome.queued = 0;
        outcome.error = error;
        return outcome;
    }

    std::set<std::string> kept(added.begin(), added.end());
    for (const std::string& key : recorded) {
        if (open.contains(key.substr(0, key.rfind('\t') + 1)))
            kept.insert(key);
    }
    if (kept == recorded)
        return outcome;
    std::string lines;
    for (const std::string& key : kept)
        lines.append(key).append("\r\n");
    if (const platform::Result written = platform::writeFileAtomic(path, lines); !written) {
        outcome.error = "Can't write " + path + ": " + written.systemText() + ". The reminders queued now go again.";
        log.write("%s\n", outcome.error.c_str());
    }
    return outcome;
}

} // namespace tarnwick::notify
