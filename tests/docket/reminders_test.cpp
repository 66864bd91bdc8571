#include "base/settings.h"
#include "docket/deadlines.h"
#include "docket/reminders.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace tarnwick;

TEST(ReminderStep, OneReminderPerCrossingForTheSmallestThreshold)
{
    constexpr core::DayNumber today = 46000;
    struct Case {
        int daysLeft;
        int graceDays; // the extension or grace past the due day; -1 for none
        std::vector<std::string> recorded;
        bool informational;
        std::string send;
        std::vector<std::string> record;
    };
    const Case cases[] = {
        {61, -1, {}, false, "", {}},                    // before the first threshold
        {60, -1, {}, false, "60", {"60"}},              // on it
        {59, -1, {"60"}, false, "", {}},                // sent already
        {14, -1, {"60"}, false, "14", {"14"}},          // the next one
        {10, -1, {}, false, "14", {"60", "14"}},        // a first run late: one reminder, both recorded
        {2, -1, {}, false, "3", {"60", "14", "3"}},     // every threshold at once
        {10, -1, {"14"}, false, "", {"60"}},            // a farther threshold added later stays quiet
        {0, -1, {"60", "14", "3"}, false, "", {}},      // the due day itself: nothing new
        {0, 30, {}, false, "3", {"60", "14", "3"}},     // due today is not overdue yet
        {-1, 30, {"3"}, false, "overdue", {"overdue"}}, // past due, the extension still open
        {-1, 30, {"overdue"}, false, "", {}},           // told once
        {-31, 30, {}, false, "", {}},                   // the extension is over too
        {-1, -1, {}, false, "", {}},                    // past due without extension or grace
        {5, -1, {}, true, "", {}},                      // the opposition period is no owner's deadline
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.daysLeft) + " days left, " + std::to_string(c.recorded.size()) + " recorded");
        docket::Deadline d;
        d.kind = c.informational ? docket::DeadlineKind::OppositionPeriod : docket::DeadlineKind::OfficeActionResponse;
        d.closes = d.nominal = today + c.daysLeft;
        d.graceEnds = c.graceDays < 0 ? 0 : d.closes + c.graceDays;
        d.informational = c.informational;
        const docket::ReminderStep step = docket::reminderStep(d, today, {60, 14, 3}, [&](std::string_view t) {
            return std::find(c.recorded.begin(), c.recorded.end(), t) != c.recorded.end();
        });
        EXPECT_EQ(step.send, c.send);
        EXPECT_EQ(step.record, c.record);
    }
}

TEST(ReminderThresholds, ListsOfDaysAndTheOldSingleNumber)
{
    const std::pair<const char*, std::optional<std::vector<int>>> cases[] = {
        {"", std::vector<int>{60, 14, 3}},
        {"30", std::vector<int>{30}}, // as the setting was stored before it became a list
        {"3, 14 ,60", std::vector<int>{60, 14, 3}},
        {"0,0,7", std::vector<int>{7, 0}},
        {"3650", std::vector<int>{3650}},
        {"3651", std::nullopt},
        {"-5", std::nullopt},
        {"60,,3", std::nullopt},
        {"60,", std::nullopt},
        {"sixty", std::nullopt},
        {"60;14", std::nullopt},
    };
    for (const auto& [text, days] : cases) {
        EXPECT_EQ(base::reminderThresholds(text), days) << text;
        EXPECT_EQ(bool(base::AppSettings::checkValue("DeadlineReminderDays", text)), days.has_value()) << text;
    }
    EXPECT_EQ(base::AppSettings::checkValue("DeadlineReminderDays", "60;14").error(),
              "DeadlineReminderDays is a list of days before a due day, each from 0 to 3650, divided by commas, like "
              "60,14,3, not '60;14'");
}
