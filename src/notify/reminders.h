#pragma once

#include "core/daynumber.h"
#include "rules/templatevars.h"

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarnwick::base {
class Log;
}
namespace tarnwick::core {
struct Entry;
}
namespace tarnwick::docket {
struct Deadline;
}

namespace tarnwick::notify {

class EmailQueue;

// The reminders sent, in the logging directory: a line per deadline and threshold, "NUMBER TAB deadline TAB
// threshold" ("2824281\tdeclaration-6y\t14"), CR LF. Replaced atomically right after the queue has listed the
// reminders it records: a crash in between sends a reminder a second time, never not at all.
constexpr const char* k_reminderRecordName = "Tarnwick_reminders.dat";

// The deadline a reminder is expanded for, whose names the template variables' application names answer for the
// life of the scope: DeadlineKind, DeadlineDate, DeadlineGrace, DeadlineDaysLeft, DeadlineSource and
// ReminderThreshold, before the names they answered already.
class ReminderNamesScope final : public rules::TemplateVars::AppNames {
public:
    ReminderNamesScope(rules::TemplateVars& vars, const docket::Deadline& deadline, core::DayNumber today,
                       std::string_view threshold);
    ~ReminderNamesScope() override;
    ReminderNamesScope(const ReminderNamesScope&) = delete;
    ReminderNamesScope& operator=(const ReminderNamesScope&) = delete;

    std::optional<std::string> value(std::string_view name) const override;

private:
    rules::TemplateVars& m_vars;
    const rules::TemplateVars::AppNames* m_inner;
    std::vector<std::pair<std::string_view, std::string>> m_own;
};

// What the reminders of a run came to: how many were queued, and why they were not (or were not recorded: they
// then go again at the next run), already logged.
struct ReminderOutcome {
    int queued = 0;
    std::string error;
};

// Queues a reminder for each open deadline of `entries` that has crossed one of `thresholds` (days before its due
// day, largest first) on `today` since the last reminder recorded for it, and one for a deadline past its due day
// that an extension or grace keeps open; with `digest` they join the run's digest. The queue commits them, and
// then the record takes in every threshold crossed and forgets the deadlines no longer open.
ReminderOutcome queueReminders(EmailQueue& queue, rules::TemplateVars& vars, base::Log& log, const std::string& logDir,
                               const std::vector<core::Entry>& entries, core::DayNumber today,
                               const std::vector<int>& thresholds, bool digest);

} // namespace tarnwick::notify
