#include "docket/reminders.h"

#include "docket/deadlines.h"

namespace tarnwick::docket {

ReminderStep reminderStep(const Deadline& deadline, core::DayNumber today, const std::vector<int>& thresholds,
                          const std::function<bool(std::string_view threshold)>& recorded)
{
    ReminderStep step;
    if (deadline.informational)
        return step;
    const int daysLeft = deadline.closes - today;
    if (daysLeft < 0) {
        // past the due day: one reminder while an extension or grace keeps the deadline open
        if (deadline.graceEnds >= today && !recorded(k_overdueThreshold)) {
            step.send = k_overdueThreshold;
            step.record.emplace_back(k_overdueThreshold);
        }
        return step;
    }
    // largest first: the last one crossed is the smallest
    std::string smallest;
    for (int days : thresholds) {
        if (daysLeft > days)
            continue;
        smallest = std::to_string(days);
        if (!recorded(smallest))
            step.record.push_back(smallest);
    }
    // the reminder of a nearer threshold that went out already is not followed by one of a farther threshold
    if (!smallest.empty() && !recorded(smallest))
        step.send = smallest;
    return step;
}

} // namespace tarnwick::docket
