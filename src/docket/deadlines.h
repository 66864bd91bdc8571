#pragma once

#include "core/daynumber.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::core {
struct Entry;
}

namespace tarnwick::docket {

// What a registered mark must file to stay registered.
enum class DeadlineKind {
    DeclarationOfUse, // the window opens on the 5th anniversary and closes on the 6th
    Renewal,          // renewal with a declaration of use: the year before each 10th anniversary
};

// One maintenance window of a registration; days are day numbers.
struct Deadline {
    DeadlineKind kind = DeadlineKind::DeclarationOfUse;
    int years = 0; // the anniversary the window closes on: 6, or 10, 20, 30 ...
    core::DayNumber opens = 0;
    core::DayNumber closes = 0;
    core::DayNumber graceEnds = 0; // six months after the close

    bool operator==(const Deadline&) const = default;
};

// "Declaration of use", "Renewal at 10 years", "Renewal at 20 years" ...
std::string kindText(const Deadline& deadline);

// The same calendar day `years` later; 29 February falls on 28 February in a year without it.
core::DayNumber addYears(core::DayNumber day, int years);
// The same day of the month `months` later, or that month's last day when it is shorter.
core::DayNumber addMonths(core::DayNumber day, int months);

// The status names a dead mark: cancelled, canceled, expired, abandoned or dead (a partial cancellation or one
// "in part" leaves the mark alive).
bool isDeadStatus(std::string_view statusText);
// The status or the last history line says the office accepted a maintenance filing: "renewed", or a
// Section 8, 71 or 9 or renewal filing together with "accepted" or "granted" (not after "not").
bool saysFilingAccepted(const core::Entry& entry);

// The windows of a live registration that are still to be met on `today`, earliest first: the declaration of use
// and the next renewal, each unless its grace period ended before `today` or the office says it was met (an
// accepted filing meets every window that had opened by the status date; without a status date nothing counts
// as met). None for a dead mark, or without a registration number or a registration date.
std::vector<Deadline> pendingDeadlines(const core::Entry& entry, core::DayNumber today);
// The earliest of them.
std::optional<Deadline> nextDeadline(const core::Entry& entry, core::DayNumber today);

// "2029-05-18 Declaration of use (grace to 2029-11-18)": the closing day, the kind and the end of the grace period;
// the empty text for none.
std::string deadlineText(const std::optional<Deadline>& deadline);
// The same with the window's opening day: "2029-05-18 Declaration of use (opens 2028-05-18, grace to 2029-11-18)".
std::string deadlineDetails(const std::optional<Deadline>& deadline);

// The template variables of an entry's next deadline on the entry's Today: NextDeadline (deadlineText),
// NextDeadlineDate, NextDeadlineKind, NextDeadlineOpens and NextDeadlineGrace, compared without regard to case;
// empty texts when the entry has no deadline. None for any other name.
std::optional<std::string> deadlineVariable(const core::Entry& entry, std::string_view name);

// The XML export's line of the entry's next deadline on its Today: the closing day as the element's text, the kind,
// opening day and end of the grace period as attributes; an empty element when there is none.
// `  <NextDeadline kind="Declaration of use" opens="2028-05-18" grace="2029-11-18">2029-05-18</NextDeadline>`
std::string deadlineElement(const core::Entry& entry);

} // namespace tarnwick::docket
