#include "core/entry.h"
#include "docket/calendar.h"
#include "platform/files.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace tarnwick;

namespace {

// What the icalendar library reads from `text`.
std::string parsedBack(const std::string& text)
{
    test::TempDir dir;
    (void)platform::writeFileAtomic(dir.file("deadlines.ics"), text);
    const std::string command = "/usr/bin/python3 " + std::string(TARNWICK_SOURCE_DIR) + "/tests/docket/icalcheck.py " +
                                dir.file("deadlines.ics");
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr)
        return out;
    char buf[4096];
    while (std::fgets(buf, sizeof buf, pipe) != nullptr)
        out += buf;
    ::pclose(pipe);
    return out;
}

core::Entry registration(const char* reference, const char* regNum, const char* status)
{
    core::Entry e(core::dayNumberOf("2025-01-01"));
    e.Reference = reference;
    e.RegNum = regNum;
    e.RegDate = "2020-05-18";
    e.StatusText = status;
    return e;
}

} // namespace

TEST(Calendar, ARealParserReadsEveryPendingDeadlineOnce)
{
    // a Windows-1252 reference with every character TEXT escapes, a trademark long enough to fold, a registration
    // watched twice, a dead one, and an application with an office action (its extension a second alarm) after
    // publication (an event without an alarm)
    core::Entry first = registration("R&D; Caf\xE9, \\ 1", "1234567", "Registered.");
    first.Trademark = std::string(60, 'W') + " \xE9t\xE9";
    core::Entry application = registration("", "", "Non-final action e-mailed.");
    application.SerNum = "90123456";
    application.RegDate.clear();
    application.StatusDate = "2024-10-20";
    application.PublishedDate = "2024-12-10";
    const std::vector<core::Entry> entries = {first, registration("", "1234567", "Registered."),
                                              registration("X", "7654321", "Cancelled - Section 8."), application};
    docket::CalendarOptions options;
    options.today = core::dayNumberOf("2025-01-01");
    options.stamp = 45000.5;
    options.reminderDays = 45;
    const docket::Calendar cal = docket::calendarOf(entries, options);
    EXPECT_EQ(cal.events, 4);

    size_t start = 0;
    for (size_t end = cal.text.find("\r\n"); end != std::string::npos; end = cal.text.find("\r\n", start)) {
        EXPECT_LE(end - start, 75u) << cal.text.substr(start, end - start);
        EXPECT_EQ(cal.text.substr(start, end - start).find('\n'), std::string::npos);
        start = end + 2;
    }
    EXPECT_EQ(start, cal.text.size());
    EXPECT_NE(cal.text.find("DTSTAMP:20230315T120000Z\r\n"), std::string::npos);

    const std::string summary = "R&D; Café, \\ 1, reg. 1234567: ";
    const std::string about = " for registration 1234567, trademark " + std::string(60, 'W') +
                              " été, reference R&D; Café, \\ 1./The window opens on ";
    EXPECT_EQ(
        parsedBack(cal.text),
        "calendar 2.0 -//Velmora Systems//Tarnwick " TARNWICK_VERSION "//EN\n"
        "reg1234567-declaration-6y@tarnwick|2026-05-18|2026-05-19|" +
            summary + "Declaration of use|Declaration of use" + about +
            "2025-05-18 and closes on 2026-05-18; the grace period ends on 2026-11-18./Registered on "
            "2020-05-18.|-45\n"
            "reg1234567-renewal-10y@tarnwick|2030-05-20|2030-05-21|" +
            summary + "Renewal at 10 years|Renewal at 10 years" + about +
            "2029-05-18 and closes on 2030-05-20 (2030-05-18 is a Saturday); the grace period ends on 2030-11-18./"
            "Registered on 2020-05-18.|-45\n"
            "ser90123456-opposition-2024-12-10@tarnwick|2025-01-09|2025-01-10|Ser. 90123456: Opposition period "
            "ends|Opposition period ends for application 90123456./For information: Opposition period ends "
            "2025-01-09.|\n"
            "ser90123456-response-2024-10-20@tarnwick|2025-01-21|2025-01-22|Ser. 90123456: Response to office "
            "action|Response to office action for application 90123456./Response due 2025-01-21 (2025-01-20 is "
            "Birthday of Martin Luther King, Jr.), extension to 2025-04-21; from 2024-10-20 Non-final action "
            "e-mailed.|-45,45\n");

    // the UIDs name the registration and the deadline, nothing that may change
    std::vector<core::Entry> renamed = entries;
    renamed[0].Reference = "other";
    const std::string again = docket::calendarOf(renamed, options).text;
    for (const char* uid : {"UID:reg1234567-declaration-6y@tarnwick\r\n", "UID:reg1234567-renewal-10y@tarnwick\r\n"})
        EXPECT_NE(again.find(uid), std::string::npos) << uid;
}
