#include "docket/businessdays.h"

#include <gtest/gtest.h>

using namespace tarnwick;

TEST(BusinessDays, HolidaysInTheDistrictAndTheDayAfter)
{
    struct Case {
        const char* day;
        const char* reason; // empty for a business day
        const char* next;   // nextBusinessDay
    };
    const Case cases[] = {
        {"2026-12-10", "", "2026-12-10"},
        {"2027-02-20", "2027-02-20 is a Saturday", "2027-02-22"},
        // fixed dates and the day kept instead: a Saturday's on the Friday before (New Year's Day in the year
        // before), a Sunday's on the Monday after
        {"2026-01-01", "2026-01-01 is New Year's Day", "2026-01-02"},
        {"2021-12-31", "2021-12-31 is New Year's Day (observed)", "2022-01-03"},
        {"2023-01-02", "2023-01-02 is New Year's Day (observed)", "2023-01-03"},
        {"2020-06-19", "", "2020-06-19"},
        {"2021-06-18", "2021-06-18 is Juneteenth National Independence Day (observed)", "2021-06-21"},
        {"2022-06-18", "2022-06-18 is a Saturday", "2022-06-21"},
        {"2026-07-03", "2026-07-03 is Independence Day (observed)", "2026-07-06"},
        {"2023-11-10", "2023-11-10 is Veterans Day (observed)", "2023-11-13"},
        {"2022-12-26", "2022-12-26 is Christmas Day (observed)", "2022-12-27"},
        // the Mondays and the Thursday
        {"2022-01-17", "2022-01-17 is Birthday of Martin Luther King, Jr.", "2022-01-18"},
        {"2027-02-15", "2027-02-15 is Washington's Birthday", "2027-02-16"},
        {"2024-05-27", "2024-05-27 is Memorial Day", "2024-05-28"},
        {"2025-08-30", "2025-08-30 is a Saturday", "2025-09-02"},
        {"2026-09-07", "2026-09-07 is Labor Day", "2026-09-08"},
        {"2025-10-13", "2025-10-13 is Columbus Day", "2025-10-14"},
        {"2024-11-28", "2024-11-28 is Thanksgiving Day", "2024-11-29"},
        // Inauguration Day every fourth year, on the 21st after a Sunday, not kept on the Friday before a Saturday
        {"2033-01-20", "2033-01-20 is Inauguration Day", "2033-01-21"},
        {"1985-01-21", "1985-01-21 is Inauguration Day", "1985-01-22"},
        {"2025-01-20", "2025-01-20 is Birthday of Martin Luther King, Jr.", "2025-01-21"},
        {"2029-01-19", "", "2029-01-19"},
        {"2030-01-21", "2030-01-21 is Birthday of Martin Luther King, Jr.", "2030-01-22"},
        {"2031-01-20", "2031-01-20 is Birthday of Martin Luther King, Jr.", "2031-01-21"},
        {"2032-01-20", "", "2032-01-20"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.day);
        const core::DayNumber day = core::dayNumberOf(c.day);
        EXPECT_EQ(docket::notBusinessDayReason(day), c.reason);
        EXPECT_EQ(docket::isBusinessDay(day), *c.reason == '\0');
        EXPECT_EQ(core::formatDay(docket::nextBusinessDay(day)), c.next);
    }
}
