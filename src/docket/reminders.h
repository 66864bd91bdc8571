#pragma once

#include "core/daynumber.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::docket {

struct Deadline;

// The threshold of the one reminder of a deadline past its due day that an extension or grace keeps open.
constexpr std::string_view k_overdueThreshold = "overdue";
// What a run does for one deadline: the reminder it sends (its threshold, "14" or "overdue"; empty for none) and
// the thresholds it records as sent. Several thresholds crossed at once send one reminder, for the smallest, and
// record them all; a threshold recorded already is not sent again.
struct ReminderStep {
    std::string send;
    std::vector<std::string> record;
};
// The step on `today` for `deadline` with `thresholds` (largest first, as base::reminderThresholds gives them);
// `recorded` tells whether a threshold of this deadline was recorded before. An informational deadline is never
// reminded; a deadline past its due day is reminded once, as "overdue", while its extension or grace still reaches
// `today`.
ReminderStep reminderStep(const Deadline& deadline, core::DayNumber today, const std::vector<int>& thresholds,
                          const std::function<bool(std::string_view threshold)>& recorded);

} // namespace tarnwick::docket
