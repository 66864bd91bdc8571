#pragma once

#include <string>
#include <string_view>

namespace tarnwick::core {

// Whole days of the OLE Automation day count: day 1 is Sunday 31 December 1899,
// 0 means no date.
using DayNumber = int;
constexpr DayNumber k_noDay = 0;
// The unknown date "????-??-??"; sorts after every real day.
constexpr DayNumber k_unknownDay = 268435456;
// Its text form (escaped so that no "??-" trigraph appears in the source).
constexpr std::string_view k_unknownDayText = "\?\?\?\?-\?\?-\?\?";

// A point in time: days since 1899-12-30, the fraction being the time of day.
using PointInTime = double;

DayNumber dayFromDate(int year, int month, int day);
void dateFromDay(DayNumber day, int& year, int& month, int& dayOfMonth);
// 0 Sunday .. 6 Saturday
int weekdayOf(DayNumber day);

// The day of a year-month-day text: at least 10 characters, "-" at 4 and 7,
// digits elsewhere; "????-??-??" gives k_unknownDay; anything else 0.
DayNumber dayNumberOf(std::string_view text);

// "%04d-%02d-%02d" of a day; the empty text for 0.
std::string formatDay(DayNumber day);

// The current time from the installed clock: UTC, or the local wall-clock time.
PointInTime now(bool utc);
// The current local calendar day: the day a new entry takes as Today.
DayNumber today();

// The day text or time stamp of a UTC point in time. Local form shifts by the
// present local-minus-UTC difference and writes a 12-hour clock with " AM"/" PM";
// UTC form writes a 24-hour clock without suffix. A point of exactly 0 gives "".
std::string formatTime(PointInTime utcPoint, bool utc, bool dateOnly);

} // namespace tarnwick::core
