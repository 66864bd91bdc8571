#include "core/entry.h"
#include "docket/deadlines.h"

#include <gtest/gtest.h>

using namespace tarnwick;

namespace {

core::DayNumber day(const char* text)
{
    return core::dayNumberOf(text);
}

} // namespace

TEST(Deadlines, NextWindowFromRegistrationDateAndStatus)
{
    struct Case {
        const char* regNum;
        const char* regDate;
        const char* statusDate;
        const char* status;
        const char* history;
        const char* today;
        const char* next; // deadlineDetails, empty for none
    };
    const char* const declaration2026 = "2026-05-18 Declaration of use (opens 2025-05-18, grace to 2026-11-18)";
    const char* const renewal2030 =
        "2030-05-20 Renewal at 10 years (opens 2029-05-18, grace to 2030-11-18; 2030-05-18 is a Saturday)";
    const Case cases[] = {
        // the declaration, through its grace period, then the renewal
        {"1234567", "2020-05-18", "2020-05-18", "Registered.", "", "2021-01-01", declaration2026},
        {"1234567", "2020-05-18", "2020-05-18", "Registered.", "", "2026-11-18", declaration2026},
        {"1234567", "2020-05-18", "2020-05-18", "Registered.", "", "2026-11-19", renewal2030},
        // 29 February falls on 28 February; a grace period ends on the last day of a shorter month; a day that is no
        // business day moves to the next one
        {"1234567", "2020-02-29", "2020-02-29", "Registered.", "", "2021-01-01",
         "2026-03-02 Declaration of use (opens 2025-02-28, grace to 2026-08-28; 2026-02-28 is a Saturday)"},
        {"1234567", "2012-02-29", "2018-03-01", "Registered. Sec. 8 (6-yr) accepted.", "", "2019-01-01",
         "2022-02-28 Renewal at 10 years (opens 2021-02-28, grace to 2022-08-29)"},
        {"1234567", "2019-08-31", "2019-08-31", "Registered.", "", "2024-01-01",
         "2025-09-02 Declaration of use (opens 2024-08-31, grace to 2026-03-02; 2025-08-31 is a Sunday)"},
        // a grace period lasts to the business day its last day moved to; an old registration's next renewal
        {"1234567", "2019-08-31", "2019-08-31", "Registered.", "", "2026-03-02",
         "2025-09-02 Declaration of use (opens 2024-08-31, grace to 2026-03-02; 2025-08-31 is a Sunday)"},
        {"1234567", "2019-08-31", "2019-08-31", "Registered.", "", "2026-03-03",
         "2029-08-31 Renewal at 10 years (opens 2028-08-31, grace to 2030-02-28)"},
        {"1234567", "1990-01-02", "1990-01-02", "Registered.", "", "2026-12-10",
         "2030-01-02 Renewal at 40 years (opens 2029-01-02, grace to 2030-07-02)"},
        // the office says a filing was accepted: every window opened by the status date is met
        {"1234567", "2020-05-18", "2025-09-10", "Registered.", "REGISTERED - SEC. 8 (6-YR) ACCEPTED & SEC. 15 ACK.",
         "2025-10-01", renewal2030},
        {"1234567", "2020-05-18", "2030-06-01", "Registered and renewed.", "Registration Renewed - 10 Yr", "2030-07-01",
         "2040-05-18 Renewal at 20 years (opens 2039-05-18, grace to 2040-11-19)"},
        {"1234567", "2020-05-18", "2025-09-10", "Section 71 declaration accepted.", "", "2025-10-01", renewal2030},
        // ... but not without a status date, not before acceptance, not when refused
        {"1234567", "2020-05-18", "", "Section 8 accepted.", "", "2025-10-01", declaration2026},
        {"1234567", "2020-05-18", "2025-09-10", "Section 8 declaration filed.", "", "2025-10-01", declaration2026},
        {"1234567", "2020-05-18", "2025-09-10", "Section 8 not accepted.", "", "2025-10-01", declaration2026},
        {"1234567", "2020-05-18", "2025-09-10", "Sec. 7 amendment accepted.", "", "2025-10-01", declaration2026},
        // dead marks and marks without a registration have none
        {"1234567", "2020-05-18", "2027-01-02", "Cancelled - Section 8.", "", "2025-10-01", ""},
        {"1234567", "2020-05-18", "2027-01-02", "Registration expired.", "", "2025-10-01", ""},
        {"1234567", "2020-05-18", "2027-01-02", "Abandoned - failure to respond.", "", "2025-10-01", ""},
        {"1234567", "2020-05-18", "2025-09-10", "Registration cancelled in part.", "", "2025-10-01", declaration2026},
        {"1234567", "2020-05-18", "2025-09-10", "Response deadline extended.", "", "2025-10-01", declaration2026},
        {"1234567", "", "", "Registered.", "", "2025-10-01", ""},
        {"1234567", "\?\?\?\?-\?\?-\?\?", "", "Registered.", "", "2025-10-01", ""},
        {"", "2020-05-18", "", "Registered.", "", "2025-10-01", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.regDate) + " " + c.status + " " + c.history + " on " + c.today);
        core::Entry e(day(c.today));
        e.RegNum = c.regNum;
        e.RegDate = c.regDate;
        e.StatusDate = c.statusDate;
        e.StatusText = c.status;
        e.LastHistory = c.history;
        EXPECT_EQ(docket::deadlineDetails(docket::nextDeadline(e, e.Today)), c.next);
    }
}

TEST(Deadlines, TemplateVariablesAndXmlElement)
{
    core::Entry e(day("2021-01-01"));
    e.RegNum = "1234567";
    e.RegDate = "2020-05-18";
    const std::pair<const char*, const char*> names[] = {
        {"NextDeadline", "2026-05-18 Declaration of use (grace to 2026-11-18)"},
        {"nextdeadlinedate", "2026-05-18"},
        {"NextDeadlineKind", "Declaration of use"},
        {"NextDeadlineOpens", "2025-05-18"},
        {"NextDeadlineGrace", "2026-11-18"},
    };
    for (const auto& [name, value] : names)
        EXPECT_EQ(docket::deadlineVariable(e, name), value) << name;
    EXPECT_FALSE(docket::deadlineVariable(e, "NextDeadlines"));
    EXPECT_EQ(docket::deadlineElement(e), "  <NextDeadline kind=\"Declaration of use\" opens=\"2025-05-18\" "
                                          "grace=\"2026-11-18\">2026-05-18</NextDeadline>\n");
    e.StatusText = "Abandoned.";
    EXPECT_EQ(docket::deadlineVariable(e, "NextDeadline"), "");
    EXPECT_EQ(docket::deadlineElement(e), "  <NextDeadline></NextDeadline>\n");
}
