#include "core/daynumber.h"

#include "platform/clock.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

namespace tarnwick::core {

namespace {

// 1970-01-01 in the day count (1899-12-30 is day 0).
constexpr std::int64_t k_unixEpochDay = 25569;
constexpr std::int64_t k_millisPerDay = 86400000;

std::int64_t floorDiv(std::int64_t a, std::int64_t b)
{
    std::int64_t q = a / b;
    return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

// Days since 1970-01-01 of a proleptic Gregorian date (eras of 400 years).
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = floorDiv(y, 400);
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void civilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d)
{
    z += 719468;
    const std::int64_t era = floorDiv(z, 146097);
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2 ? 1 : 0);
}

bool isLeapYear(int y)
{
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int daysInMonth(int y, int m)
{
    static constexpr int k_days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeapYear(y) ? 29 : k_days[m - 1];
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

int digitsAt(std::string_view text, size_t from, size_t count)
{
    int value = 0;
    for (size_t i = from; i < from + count; ++i)
        value = value * 10 + (text[i] - '0');
    return value;
}

void appendDay(std::string& out, std::int64_t day)
{
    if (day == k_unknownDay) {
        out += k_unknownDayText;
        return;
    }
    std::int64_t y = 0;
    unsigned m = 0;
    unsigned d = 0;
    civilFromDays(day - k_unixEpochDay, y, m, d);
    if (y >= 0 && y <= 9999) {
        // the days of a docket, written digit by digit: a report or an export writes some of them for every entry
        const auto digits = [](unsigned value, char* at, int count) {
            for (int i = count - 1; i >= 0; --i, value /= 10)
                at[i] = static_cast<char>('0' + value % 10);
        };
        char text[10] = {0, 0, 0, 0, '-', 0, 0, '-', 0, 0};
        digits(static_cast<unsigned>(y), text, 4);
        digits(m, text + 5, 2);
        digits(d, text + 8, 2);
        out.append(text, sizeof text);
        return;
    }
    char buf[48];
    int n = std::snprintf(buf, sizeof buf, "%04lld-%02u-%02u", static_cast<long long>(y), m, d);
    out.append(buf, static_cast<size_t>(n));
}

} // namespace

DayNumber dayFromDate(int year, int month, int day)
{
    return static_cast<DayNumber>(daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) +
                                  k_unixEpochDay);
}

void dateFromDay(DayNumber day, int& year, int& month, int& dayOfMonth)
{
    std::int64_t y = 0;
    unsigned m = 0;
    unsigned d = 0;
    civilFromDays(static_cast<std::int64_t>(day) - k_unixEpochDay, y, m, d);
    year = static_cast<int>(y);
    month = static_cast<int>(m);
    dayOfMonth = static_cast<int>(d);
}

int weekdayOf(DayNumber day)
{
    // day 1 was a Sunday
    const std::int64_t sinceFirstSunday = static_cast<std::int64_t>(day) - 1;
    return static_cast<int>(sinceFirstSunday - floorDiv(sinceFirstSunday, 7) * 7);
}

DayNumber dayNumberOf(std::string_view text)
{
    if (text.size() < 10 || text[4] != '-' || text[7] != '-')
        return k_noDay;
    if (text.substr(0, 10) == k_unknownDayText)
        return k_unknownDay;
    for (size_t i : {0, 1, 2, 3, 5, 6, 8, 9}) {
        if (!isDigit(text[i]))
            return k_noDay;
    }
    const int year = digitsAt(text, 0, 4);
    const int month = digitsAt(text, 5, 2);
    const int day = digitsAt(text, 8, 2);
    // a date the calendar does not have is no date, nor is one before the year 100, where the day count ends
    if (year < 100 || month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month))
        return k_noDay;
    return dayFromDate(year, month, day);
}

std::string formatDay(DayNumber day)
{
    std::string out;
    if (day != k_noDay)
        appendDay(out, day);
    return out;
}

PointInTime now(bool utc)
{
    const platform::Clock& c = platform::clock();
    std::int64_t millis = c.utcMillis();
    if (!utc)
        millis += static_cast<std::int64_t>(c.utcOffsetSeconds()) * 1000;
    return static_cast<double>(k_unixEpochDay) + static_cast<double>(millis) / static_cast<double>(k_millisPerDay);
}

DayNumber today()
{
    const platform::Clock& c = platform::clock();
    const std::int64_t millis = c.utcMillis() + static_cast<std::int64_t>(c.utcOffsetSeconds()) * 1000;
    return static_cast<DayNumber>(floorDiv(millis, k_millisPerDay) + k_unixEpochDay);
}

std::string formatTime(PointInTime utcPoint, bool utc, bool dateOnly)
{
    if (utcPoint == 0.0 || !std::isfinite(utcPoint))
        return {};
    // whole milliseconds first, so that binary fractions never turn 13:05:09 into 13:05:08
    const double scaled = utcPoint * static_cast<double>(k_millisPerDay);
    if (std::fabs(scaled) > 9.0e15)
        return {};
    std::int64_t millis = std::llround(scaled);
    if (!utc)
        millis += static_cast<std::int64_t>(platform::clock().utcOffsetSeconds()) * 1000;
    const std::int64_t day = floorDiv(millis, k_millisPerDay);
    const std::int64_t secondOfDay = (millis - day * k_millisPerDay) / 1000;

    std::string out;
    out.reserve(24);
    appendDay(out, day);
    if (dateOnly)
        return out;
    int hour = static_cast<int>(secondOfDay / 3600);
    const int minute = static_cast<int>(secondOfDay / 60 % 60);
    const int second = static_cast<int>(secondOfDay % 60);
    const char* suffix = "";
    if (!utc) {
        suffix = hour < 12 ? " AM" : " PM";
        hour %= 12;
        if (hour == 0)
            hour = 12;
    }
    char buf[32];
    int n = std::snprintf(buf, sizeof buf, " %02d:%02d:%02d%s", hour, minute, second, suffix);
    out.append(buf, static_cast<size_t>(n));
    return out;
}

} // namespace tarnwick::core
