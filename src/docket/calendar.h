#pragma once

#include "core/daynumber.h"

#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::core {
struct Entry;
}

namespace tarnwick::docket {

constexpr int k_defaultReminderDays = 60;

struct CalendarOptions {
    core::DayNumber today = 0;                // which deadlines are still pending
    core::PointInTime stamp = 0;              // DTSTAMP, a UTC point in time
    int reminderDays = k_defaultReminderDays; // the alarm, days before the closing day (0: on the day)
};

struct Calendar {
    std::string text;
    int events = 0;
};

// The iCalendar file (RFC 5545) of every pending deadline of `entries`: one all-day event on each due day, its
// summary naming the reference, the number and the kind, its description the window (opening day, end of the grace
// period) or the details of the deadline and the text it comes from. An alarm `reminderDays` before the due day, and
// a second as many days before the day an extension of the answer to an office action reaches; none for the end of
// the opposition period, which is for information. Each event's UID names the number (the registration for the
// maintenance windows, else the serial number when there is one) and the deadline's identity, so that a calendar
// importing the file again updates its events; a mark watched twice gives its events once. UTF-8, CR LF, lines
// folded at 75 octets.
Calendar calendarOf(const std::vector<core::Entry>& entries, const CalendarOptions& options);

// A TEXT value: backslash, semicolon and comma escaped, a line break as "\n", other control bytes as blanks.
std::string escapeCalendarText(std::string_view text);
// Appends one content line, folded so that no line passes 75 octets and no UTF-8 character is split, and CR LF.
void appendContentLine(std::string& out, std::string_view line);

} // namespace tarnwick::docket
