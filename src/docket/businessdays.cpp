#include "docket/businessdays.h"

#include <array>
#include <string_view>

namespace tarnwick::docket {

namespace {

constexpr int k_saturday = 6;
constexpr int k_sunday = 0;
constexpr int k_monday = 1;
constexpr int k_thursday = 4;

struct FixedHoliday {
    int month;
    int day;
    int since; // the first year the law keeps it
    std::string_view name;
};

constexpr std::array<FixedHoliday, 5> k_fixed = {{
    {1, 1, 0, "New Year's Day"},
    {6, 19, 2021, "Juneteenth National Independence Day"},
    {7, 4, 0, "Independence Day"},
    {11, 11, 0, "Veterans Day"},
    {12, 25, 0, "Christmas Day"},
}};

struct WeekdayHoliday {
    int month;
    int weekday;
    int nth; // 1 first ... 4 fourth, 0 the last of the month
    int since;
    std::string_view name;
};

constexpr std::array<WeekdayHoliday, 6> k_weekday = {{
    {1, k_monday, 3, 1986, "Birthday of Martin Luther King, Jr."},
    {2, k_monday, 3, 0, "Washington's Birthday"},
    {5, k_monday, 0, 0, "Memorial Day"},
    {9, k_monday, 1, 0, "Labor Day"},
    {10, k_monday, 2, 0, "Columbus Day"},
    {11, k_thursday, 4, 0, "Thanksgiving Day"},
}};

constexpr int k_firstInauguration = 1965;

core::DayNumber nthWeekday(int year, const WeekdayHoliday& h)
{
    if (h.nth == 0) {
        core::DayNumber last = core::dayFromDate(h.month == 12 ? year + 1 : year, h.month % 12 + 1, 1) - 1;
        return last - (core::weekdayOf(last) - h.weekday + 7) % 7;
    }
    const core::DayNumber first = core::dayFromDate(year, h.month, 1);
    return first + (h.weekday - core::weekdayOf(first) + 7) % 7 + 7 * (h.nth - 1);
}

// The name of the holiday of `year` kept on `day`, or the empty text.
std::string holidayOfYear(int year, core::DayNumber day)
{
    for (const FixedHoliday& h : k_fixed) {
        if (year < h.since)
            continue;
        const core::DayNumber date = core::dayFromDate(year, h.month, h.day);
        if (date == day)
            return std::string(h.name);
        const int weekday = core::weekdayOf(date);
        const core::DayNumber kept = weekday == k_saturday ? date - 1 : weekday == k_sunday ? date + 1 : date;
        if (kept == day && kept != date)
            return std::string(h.name) + " (observed)";
    }
    for (const WeekdayHoliday& h : k_weekday) {
        if (year >= h.since && nthWeekday(year, h) == day)
            return std::string(h.name);
    }
    if (year >= k_firstInauguration && (year - k_firstInauguration) % 4 == 0) {
        core::DayNumber inauguration = core::dayFromDate(year, 1, 20);
        if (core::weekdayOf(inauguration) == k_sunday)
            ++inauguration;
        if (inauguration == day)
            return "Inauguration Day";
    }
    return {};
}

} // namespace

std::string holidayOn(core::DayNumber day)
{
    int y = 0, m = 0, d = 0;
    core::dateFromDay(day, y, m, d);
    // New Year's Day on a Saturday is kept on the last day of the year before
    if (m == 12 && d == 31) {
        if (std::string next = holidayOfYear(y + 1, day); !next.empty())
            return next;
    }
    return holidayOfYear(y, day);
}

bool isBusinessDay(core::DayNumber day)
{
    const int weekday = core::weekdayOf(day);
    return weekday != k_saturday && weekday != k_sunday && holidayOn(day).empty();
}

core::DayNumber nextBusinessDay(core::DayNumber day)
{
    while (!isBusinessDay(day))
        ++day;
    return day;
}

std::string notBusinessDayReason(core::DayNumber day)
{
    const int weekday = core::weekdayOf(day);
    if (weekday == k_saturday)
        return core::formatDay(day) + " is a Saturday";
    if (weekday == k_sunday)
        return core::formatDay(day) + " is a Sunday";
    const std::string holiday = holidayOn(day);
    return holiday.empty() ? std::string() : core::formatDay(day) + " is " + holiday;
}

} // namespace tarnwick::docket
