#include "rules/dates.h"

#include "core/daynumber.h"
#include "support/clockscope.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

using namespace tarnwick;

namespace {

const std::string k_unknown = "\?\?\?\?-\?\?-\?\?";

struct Case {
    std::string captured;
    std::string format;
    std::string expected;
};

// Noon UTC of a calendar day, for a clock that stands still there.
std::int64_t noonMillis(int year, int month, int day)
{
    const std::int64_t sinceEpoch = core::dayFromDate(year, month, day) - core::dayFromDate(1970, 1, 1);
    return sinceEpoch * 86400000 + 43200000;
}

class ConvertDate : public ::testing::Test {};

} // namespace

TEST_F(ConvertDate, Cases)
{
    const Case cases[] = {
        {"15 Mar 2004", "dmy", "2004-03-15"},
        {"15 mar 2004", "DMY", "2004-03-15"},
        {" <b>15&nbsp;Mar</b>\r\n 2004 ", "dmy", "2004-03-15"},
        // the table order of the names decides, each tried in exact and then in upper case
        {"1 May Mar 2004", "dmy", "2004-03-01"},
        {"1 MAR jan 2004", "dmy", "2004-01-01"},
        {"Mayfield 3", "dmy", "0003-05-00"},
        {"15 Mar abc", "dmy", "0000-03-15"},
        {"Dec. 5", "dmy", "0005-12-00"},
        {"15 Xyz 2004", "dmy", k_unknown},
        {"99999999999 Mar 2004", "dmy", "2004-03-2147483647"},
        {"Mar 15, 2004", "mdy", "2004-03-15"},
        {"Mar 15, 2004", "MdY", "2004-03-15"},
        {"March 5th, in the year 2004", "mdy", "2004-03-05"},
        {"mar 15, 2004", "mdy", k_unknown},
        {"Mar 15", "mdy", k_unknown},
        {"Mar", "mdy", k_unknown},
        {"Mar x y", "mdy", k_unknown},
        {"05.12.2003", "dd?mm?yyyy", "2003-12-05"},
        {"05.12.2003", "mm?dd?yyyy", "2003-05-12"},
        {"05.12.2003", "DD?MM?YYYY", "2003-12-05"},
        {"ab.cd.efgh", "dd?mm?yyyy", "efgh-cd-ab"},
        {"05.12", "dd?mm?yyyy", k_unknown},
        {"05.12.", "dd?mm?yyyy", "-12-05"},
        {"05.12.20", "mm?dd?yyyy", "20-05-12"},
        {"", "dmy", k_unknown},
        {"  -  ", "dd?mm?yyyy", k_unknown},
        {"<i></i>", "mdy", k_unknown},
        {"15 Mar 2004", "ymd", k_unknown},
        {"15 Mar 2004", "", k_unknown},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.captured + " / " + c.format);
        EXPECT_EQ(rules::convertDate(c.captured, c.format), c.expected);
    }
}

TEST_F(ConvertDate, DayMonthWithoutYearTakesTheMostRecentSuchMonth)
{
    struct YearCase {
        int todayMonth;
        std::string captured;
        std::string expected;
    };
    const YearCase cases[] = {
        {2, "15 Mar", "2003-03-15"}, {3, "15 Mar", "2004-03-15"},  {12, "15 Mar", "2004-03-15"},
        {11, "5 Dec", "2003-12-05"}, {1, "31 Jan ", "2004-01-31"},
    };
    for (const YearCase& c : cases) {
        SCOPED_TRACE(c.captured + " in month " + std::to_string(c.todayMonth));
        const test::ClockScope clock(noonMillis(2004, c.todayMonth, 10), 0);
        EXPECT_EQ(rules::convertDate(c.captured, "dmy"), c.expected);
    }
}

TEST_F(ConvertDate, CurrentYearIsTheLocalOne)
{
    // 23:30 UTC on 31 December 2003 is already 2004 one hour east of Greenwich
    const test::ClockScope clock(noonMillis(2003, 12, 31) + 41400000, 3600);
    EXPECT_EQ(rules::convertDate("2 Jan", "dmy"), "2004-01-02");
}
