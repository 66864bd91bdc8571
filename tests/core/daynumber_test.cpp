#include "core/daynumber.h"
#include "support/clockscope.h"

#include <gtest/gtest.h>

#include <cstdint>

using namespace tarnwick;
using namespace tarnwick::core;

namespace {

constexpr std::int64_t k_msPerDay = 86400000;
// 2004-05-18 00:00:00 UTC in milliseconds since 1970
constexpr std::int64_t k_may18 = (38125 - 25569) * k_msPerDay;

std::int64_t at(int h, int m, int s)
{
    return k_may18 + ((h * 60 + m) * 60 + s) * 1000LL;
}

using test::ClockScope;

} // namespace

TEST(DayNumberOf, ReadsYearMonthDayTexts)
{
    struct Case {
        const char* text;
        DayNumber want;
    } cases[] = {
        {"1899-12-31", 1},
        {"1899-12-30", 0},
        {"1900-01-01", 2},
        {"1900-03-01", 61}, // 1900 was no leap year
        {"1900-02-29", 0},
        {"2004-05-18", 38125},
        {"2004-05-18 and more", 38125},
        {"2000-02-29", 36585},
        {"2001-02-29", 0},
        {"2004-13-01", 0},
        {"2004-00-10", 0},
        {"2004-04-31", 0},
        {"\?\?\?\?-\?\?-\?\?", k_unknownDay},
        {"\?\?\?\?-\?\?-\?\?x", k_unknownDay},
        {"0000-00-00", 0},
        {"0099-12-31", 0},
        {"0100-01-01", -657434},
        {"2004-5-18", 0},
        {"2004-05-1", 0},
        {"2004/05/18", 0},
        {"20a4-05-18", 0},
        {"2004-05-1x", 0},
        {"", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(dayNumberOf(c.text), c.want);
    }
}

TEST(DayNumber, CalendarAgreesWithCountingDayByDay)
{
    int y = 1899, m = 12, d = 31;
    auto monthLength = [](int year, int month) {
        static const int k_len[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
        bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
        return month == 2 && leap ? 29 : k_len[month - 1];
    };
    for (DayNumber day = 1; day < 110000; ++day) { // into the 22nd century
        int gy = 0, gm = 0, gd = 0;
        dateFromDay(day, gy, gm, gd);
        ASSERT_EQ(gy * 10000 + gm * 100 + gd, y * 10000 + m * 100 + d) << day;
        ASSERT_EQ(dayFromDate(y, m, d), day);
        if (++d > monthLength(y, m)) {
            d = 1;
            if (++m > 12) {
                m = 1;
                ++y;
            }
        }
    }
}

TEST(DayNumber, WeekdaysAndDisplayForm)
{
    EXPECT_EQ(weekdayOf(1), 0); // Sunday 1899-12-31
    EXPECT_EQ(weekdayOf(0), 6); // Saturday
    EXPECT_EQ(weekdayOf(-1), 5);
    EXPECT_EQ(weekdayOf(38125), 2); // Tuesday 2004-05-18
    EXPECT_EQ(formatDay(38125), "2004-05-18");
    EXPECT_EQ(formatDay(1), "1899-12-31");
    EXPECT_EQ(formatDay(0), "");
    EXPECT_EQ(formatDay(k_unknownDay), "\?\?\?\?-\?\?-\?\?");
}

TEST(FormatTime, WritesUtcAndTwelveHourLocalStamps)
{
    struct Case {
        std::int64_t utcMillis;
        int offset;
        bool utc;
        bool dateOnly;
        const char* want;
    } cases[] = {
        {at(13, 5, 9), 0, true, false, "2004-05-18 13:05:09"},
        {at(13, 5, 9) + 999, 0, true, false, "2004-05-18 13:05:09"},
        {at(0, 0, 0), 0, true, false, "2004-05-18 00:00:00"},
        {at(23, 59, 59), 0, true, false, "2004-05-18 23:59:59"},
        {at(0, 30, 0), 0, false, false, "2004-05-18 12:30:00 AM"},
        {at(12, 0, 0), 0, false, false, "2004-05-18 12:00:00 PM"},
        {at(11, 59, 59), 0, false, false, "2004-05-18 11:59:59 AM"},
        {at(13, 5, 9), 0, false, false, "2004-05-18 01:05:09 PM"},
        {at(23, 0, 0), 2 * 3600, false, false, "2004-05-19 01:00:00 AM"},
        {at(23, 0, 0), 2 * 3600, true, false, "2004-05-18 23:00:00"},
        {at(1, 0, 0), -5 * 3600, false, false, "2004-05-17 08:00:00 PM"},
        {at(1, 0, 0), -5 * 3600, false, true, "2004-05-17"},
        {at(13, 5, 9), 0, true, true, "2004-05-18"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.want);
        ClockScope scope(c.utcMillis, c.offset);
        EXPECT_EQ(formatTime(now(true), c.utc, c.dateOnly), c.want);
    }
}

TEST(FormatTime, ZeroPointIsEmptyAndLocalFormUsesThePresentOffset)
{
    ClockScope scope(at(10, 0, 0), 3600);
    EXPECT_EQ(formatTime(0.0, true, false), "");
    EXPECT_EQ(formatTime(0.0, false, true), "");
    // a winter stamp is shifted by today's offset, not by the one in force then
    EXPECT_EQ(formatTime(1.5, false, false), "1899-12-31 01:00:00 PM");
}

TEST(Now, LocalTimeAndTodayFollowTheInstalledClock)
{
    ClockScope scope(at(23, 0, 0), 2 * 3600);
    EXPECT_NEAR(now(false) - now(true), 2.0 / 24, 1e-9);
    EXPECT_NEAR(now(true), 38125 + 23.0 / 24, 1e-9);
    EXPECT_EQ(today(), 38126); // already the 19th locally
    scope.clock().setOffset(-3 * 3600);
    EXPECT_EQ(today(), 38125);
    scope.clock().set(at(1, 0, 0));
    EXPECT_EQ(today(), 38124);
}
