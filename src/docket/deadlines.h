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

// What an owner must file, or (for the opposition period) what the docket shows for information.
enum class DeadlineKind {
    DeclarationOfUse,     // the window opens on the 5th anniversary and closes on the 6th
    Renewal,              // renewal with a declaration of use: the year before each 10th anniversary
    OfficeActionResponse, // the answer to an office action or a suspension inquiry
    StatementOfUse,       // the statement of use, or a request to extend its time, after a notice of allowance
    OppositionPeriod,     // information only: the end of the period in which a third party may oppose
};

// One deadline of an entry; days are day numbers. Every day a person must act by has already been moved off a
// Saturday, Sunday or federal holiday to the next business day; `nominal` keeps the day before that move.
struct Deadline {
    DeadlineKind kind = DeadlineKind::DeclarationOfUse;
    int years = 0;                 // maintenance: the anniversary the window closes on (6, or 10, 20, 30 ...); else 0
    core::DayNumber opens = 0;     // maintenance: the day the window opens; else the day of the action, notice or
                                   // publication the deadline counts from (for a statement of use after an
                                   // extension, the day of the extension)
    core::DayNumber closes = 0;    // the due day (business day)
    core::DayNumber nominal = 0;   // the due day as counted, before moving it to a business day (== closes when
                                   // it needed no move)
    core::DayNumber graceEnds = 0; // the last day an extension or grace period reaches (business day), or 0 when
                                   // none is available
    bool informational = false;    // the opposition period: shown and put in the calendar, never reminded as due
    std::string source;            // the status or history text the deadline comes from (empty for maintenance)
    bool section71 = false;        // maintenance of a designation under an international registration (an entry with
                                   // an international number): its declarations are the Section 71 ones, the
                                   // international registration being renewed at the international office

    bool operator==(const Deadline&) const = default;
};

// The deadline's identity within its entry, stable from one update to the next as long as the office's dates do
// not change: "declaration-6y", "renewal-10y", "response-2026-11-02", "statement-of-use-2026-06-01",
// "opposition-2026-12-01". Calendar UIDs and the record of sent reminders are built from it together with the
// entry's number.
std::string deadlineId(const Deadline& deadline);
// The number an entry's deadlines are kept under: its registration number, else its application's, else the
// international registration's; empty when it has none.
const std::string& deadlineNumber(const core::Entry& entry);

// "Declaration of use", "Renewal at 10 years", "Section 71 declaration", "Section 71 declaration at 10 years",
// "Response to office action", "Statement of use", "Opposition period ends"
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

// The deadlines of a live mark still to be met on `today` (the last day it reaches, `graceEnds` when there is one,
// not before `today`), sorted by `closes`. None for a dead mark.
// Maintenance: the declaration of use and the next renewal of a registration (registration number and date), each
// unless the office says it was met (an accepted filing meets every window that had opened by the status date;
// without a status date nothing counts as met).
// Prosecution, from the entry's latest values only: the status (dated by the status date) and the last history item
// (dated by its own day). An office action answers in 3 months with one extension to 6 when issued from 2022-12-03
// on, else, and for a designation under an international registration (an entry with an international number), in
// 6 months without one; an action after registration in 6 months, or by the end of the maintenance window it falls
// in when that is later. A notice of allowance asks for the statement of use, or a request to extend its time, in
// 6 months; each extension seen gives 6 more, at most 36 months after the notice. A later event that is not of the
// same kind ends them (a response, an accepted or filed statement of use, publication, registration). Publication
// (the published date, else the event) gives the end of the opposition period 30 days later, for information.
std::vector<Deadline> pendingDeadlines(const core::Entry& entry, core::DayNumber today);
// The earliest of them that is the owner's to meet: the end of the opposition period is somebody else's deadline
// and never the next one.
std::optional<Deadline> nextDeadline(const core::Entry& entry, core::DayNumber today);

// "2029-05-18 Declaration of use (grace to 2029-11-18)", "2027-02-22 Response to office action (extension to
// 2027-05-20)", "2027-08-02 Statement of use": the due day, the kind and the last day an extension or grace reaches;
// the empty text for none.
std::string deadlineText(const std::optional<Deadline>& deadline);
// A window with its opening day: "2029-05-18 Declaration of use (opens 2028-05-18, grace to 2029-11-18)"; any other
// deadline with the text it comes from: "Response due 2027-02-22 (2027-02-20 is a Saturday), extension to
// 2027-05-20; from 2026-11-20 Non-final action e-mailed." Each names the day it was counted to when that was no
// business day.
std::string deadlineDetails(const std::optional<Deadline>& deadline);

// The template variables of an entry's next deadline on the entry's Today: NextDeadline (deadlineText),
// NextDeadlineDate, NextDeadlineKind, NextDeadlineOpens and NextDeadlineGrace, compared without regard to case;
// empty texts when the entry has no deadline. None for any other name.
std::optional<std::string> deadlineVariable(const core::Entry& entry, std::string_view name);
// The same of a next deadline already computed (none: the empty texts).
std::optional<std::string> deadlineVariable(const std::optional<Deadline>& next, std::string_view name);

// The XML export's line of the entry's next deadline on its Today: the closing day as the element's text, the kind,
// opening day and end of the grace period as attributes; an empty element when there is none.
// `  <NextDeadline kind="Declaration of use" opens="2028-05-18" grace="2029-11-18">2029-05-18</NextDeadline>`
std::string deadlineElement(const core::Entry& entry);
// The same of a next deadline already computed.
std::string deadlineElement(const std::optional<Deadline>& next);

} // namespace tarnwick::docket
