#include "core/entry.h"
#include "support/clockscope.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

using namespace tarnwick;
using namespace tarnwick::core;

namespace {

DayNumber day(int y, int m, int d)
{
    return dayFromDate(y, m, d);
}

int sign(int v)
{
    return v < 0 ? -1 : (v > 0 ? 1 : 0);
}

} // namespace

TEST(FieldTable, KeysCaptionsAndLookup)
{
    const auto& table = fieldTable();
    EXPECT_EQ(table[0].key, "Fequency");
    EXPECT_EQ(table[0].widthSetting, "ColWidthFrequency");
    EXPECT_EQ(table[4].columnCaption, "App #");
    EXPECT_EQ(table[6].menuCaption, "&International Reg Number");
    EXPECT_EQ(table[11].columnCaption, "Filed");
    EXPECT_EQ(table[17].widthFactor, 6);
    EXPECT_TRUE(table[17].defaultDescending);
    EXPECT_TRUE(table[18].menuCaption.empty());
    EXPECT_EQ(table[18].widthFactor, 20);
    int descending = 0;
    for (const FieldInfo& f : table)
        descending += f.defaultDescending ? 1 : 0;
    EXPECT_EQ(descending, 8);

    EXPECT_EQ(fieldByKey("FEQUENCY"), FieldId::Frequency);
    EXPECT_EQ(fieldByKey("sernum"), FieldId::SerNum);
    EXPECT_EQ(fieldByKey("Error"), FieldId::Error);
    EXPECT_FALSE(fieldByKey("Frequency").has_value());
    EXPECT_FALSE(fieldByKey("").has_value());
}

TEST(Entry, NewRecordTakesTodayFromTheClock)
{
    const Entry e = [] {
        const test::ClockScope clock((38125LL - 25569) * 86400000 + 3600000, 0);
        return Entry();
    }();
    EXPECT_EQ(e.Today, 38125);
    EXPECT_EQ(e.Frequency, Frequency::Daily);
    EXPECT_EQ(e.LastUpdate, 0);
    EXPECT_EQ(e.LastChange, 0);
    EXPECT_TRUE(e.SerNum.empty() && e.Reference.empty() && e.Error.empty());
}

TEST(Entry, ValueTextNumericAndDisplayForms)
{
    Entry e(100);
    struct Case {
        FieldId id;
        const char* set;
        const char* numeric;
        const char* display;
    } cases[] = {
        {FieldId::Frequency, "2", "2", "Monthly"},
        {FieldId::Frequency, " -1x", "-1", "Never"},
        {FieldId::Frequency, "4", "4", "Never"},
        {FieldId::Frequency, "Weekly", "0", "Daily"},
        {FieldId::Frequency, "99999999999", "2147483647", "Never"},
        {FieldId::LastUpdate, "38125", "38125", "2004-05-18"},
        {FieldId::LastUpdate, "", "0", ""},
        {FieldId::LastChange, "+1", "1", "1899-12-31"},
        {FieldId::Reference, " AB-12 ", " AB-12 ", " AB-12 "},
        {FieldId::Error, "timed out", "timed out", "timed out"},
        {FieldId::Location, "", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(fieldInfo(c.id).key) + " <- " + c.set);
        e.setValueText(c.id, c.set);
        EXPECT_EQ(e.valueText(c.id, true), c.numeric);
        EXPECT_EQ(e.valueText(c.id, false), c.display);
    }
    for (int id = 3; id < k_fieldCount; ++id) {
        e.setValueText(static_cast<FieldId>(id), std::to_string(id));
        EXPECT_EQ(*e.textField(static_cast<FieldId>(id)), std::to_string(id));
    }
    e.setValueText(static_cast<FieldId>(19), "ignored");
    e.setValueText(static_cast<FieldId>(-1), "ignored");
    EXPECT_EQ(e.valueText(static_cast<FieldId>(19), false), "");
    EXPECT_EQ(e.valueText(static_cast<FieldId>(-1), true), "");
}

TEST(Entry, UpToDateByFrequency)
{
    struct Case {
        int frequency;
        DayNumber lastUpdate;
        DayNumber today;
        bool want;
    } cases[] = {
        {4, 0, day(2004, 5, 18), false},
        {0, 0, day(2004, 5, 18), false},
        {4, day(1990, 1, 1), day(2004, 5, 18), true},
        {7, day(1990, 1, 1), day(2004, 5, 18), true},
        {0, day(2004, 5, 18), day(2004, 5, 18), true},
        {0, day(2004, 5, 17), day(2004, 5, 18), false},
        {1, day(2004, 5, 15), day(2004, 5, 16), false}, // Saturday, then Sunday
        {1, day(2004, 5, 16), day(2004, 5, 22), true},  // Sunday to Saturday
        {1, day(2004, 5, 22), day(2004, 5, 23), false},
        {1, day(1899, 12, 31), day(1900, 1, 6), true},
        {2, day(2004, 1, 31), day(2004, 2, 1), false},
        {2, day(2004, 2, 1), day(2004, 2, 29), true},
        {2, day(2003, 2, 1), day(2004, 2, 1), false},
        {3, day(2003, 12, 31), day(2004, 1, 1), false},
        {3, day(2004, 1, 1), day(2004, 12, 31), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.frequency) + " " + formatDay(c.lastUpdate) + " " + formatDay(c.today));
        Entry e(c.today);
        e.Frequency = static_cast<Frequency>(c.frequency); // as the data file holds it
        e.LastUpdate = c.lastUpdate;
        EXPECT_EQ(e.isUpToDate(), c.want);
    }
}

TEST(Entry, LookupVariableNamesAndComputedValues)
{
    const DayNumber t = day(2004, 5, 18);
    Entry e(t);
    e.RegNum = "1234567";
    e.Trademark = "ACME";
    e.StatusDate = "2004-05-01";
    e.StatusText = "Registered";
    e.Frequency = Frequency::Weekly;
    e.LastUpdate = t;
    e.LastChange = t;

    struct Case {
        const char* name;
        const char* want; // nullptr: not a name of an entry
    } cases[] = {
        {"FEQUENCY", "Weekly"},
        {"Frequency", nullptr},
        {"lastupdate", "2004-05-18"},
        {"LastChange", "2004-05-18"},
        {"RegNum", "1234567"},
        {"SerNum", ""},
        {"RecentChange", "Yes"},
        {"uptodate", "Yes"},
        {"IDENTIFIER", "registration 1234567, trademark ACME"},
        {"Status", "2004-05-01 - Registered"},
        {"StatusUrl", ""},
        {"Nothing", nullptr},
        {"", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::optional<std::string> got = e.lookupVariable(c.name);
        ASSERT_EQ(got.has_value(), c.want != nullptr);
        if (c.want) {
            EXPECT_EQ(*got, c.want);
        }
    }

    e.LastChange = t - 8;
    EXPECT_EQ(e.lookupVariable("RecentChange"), "No");
    e.LastChange = 0;
    EXPECT_EQ(e.lookupVariable("RecentChange"), "No");
    e.LastUpdate = t - 7;
    EXPECT_EQ(e.lookupVariable("UpToDate"), "No");

    setStatusUrlProvider([](const Entry& entry) { return "http://127.0.0.1/status?reg=" + entry.RegNum; });
    EXPECT_EQ(e.lookupVariable("statusurl"), "http://127.0.0.1/status?reg=1234567");
    setStatusUrlProvider(nullptr);
    EXPECT_EQ(e.lookupVariable("StatusUrl"), "");
}

TEST(Entry, FieldListingUsesColumnCaptionsAndDisplayValues)
{
    Entry e(1);
    e.SerNum = "75-123456";
    e.LastUpdate = 38125;
    const std::string listing = e.fieldListing();
    EXPECT_EQ(listing.rfind("Frequency:\tDaily\r\nLast Update:\t2004-05-18\r\nLast Change:\t\r\nReference:\t\r\n"
                            "App #:\t75-123456\r\n",
                            0),
              0u);
    EXPECT_NE(listing.find("\r\nFiled:\t\r\n"), std::string::npos);
    EXPECT_EQ(listing.size() - listing.rfind("Error:\t\r\n"), 9u);
    size_t lines = 0;
    for (char ch : listing)
        lines += ch == '\n' ? 1 : 0;
    EXPECT_EQ(lines, 19u);
}

TEST(Entry, CompareFieldByKind)
{
    struct Case {
        FieldId id;
        const char* a;
        const char* b;
        int want;
    } cases[] = {
        {FieldId::Frequency, "0", "4", -1},
        {FieldId::Frequency, "-2147483648", "2147483647", -1},
        {FieldId::LastUpdate, "38000", "38125", 1}, // later days first
        {FieldId::LastChange, "5", "5", 0},
        {FieldId::Reference, "AB-12", "ab12", 0},
        {FieldId::Reference, "AB-12", "AB-13", -1},
        {FieldId::Reference, "--", "", 0},
        {FieldId::Reference, "", "a", -1},
        {FieldId::Reference, "\xC9t\xE9", "\xE9-T\xC9", 0}, // Latin-1 letters count and fold
        {FieldId::Reference, "a\xD7", "a", 0},              // the multiplication sign is no letter
        {FieldId::SerNum, "75-123456", "75-123456", 0},
        {FieldId::Trademark, "acme", "ACME", 0},
        {FieldId::Trademark, "Acme", "Beta", -1},
        {FieldId::Owner, "", "Zed", 1}, // empty texts after all others
        {FieldId::Owner, "Zed", "", -1},
        {FieldId::Owner, "", "", 0},
        {FieldId::StatusDate, "2001-05-01", "1999-12-31", -1},
        {FieldId::StatusDate, "", "1999-12-31", 1},
        {FieldId::StatusDate, "\?\?\?\?-\?\?-\?\?", "2004-01-01", -1},
        {FieldId::Location, "b", "B", -1},      // case matters here
        {FieldId::FilingDate, "\xE9", "z", -1}, // bytes compare unsigned
        {FieldId::Error, "a", "b", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(fieldInfo(c.id).key) + ": '" + c.a + "' vs '" + c.b + "'");
        Entry a(1);
        Entry b(1);
        a.setValueText(c.id, c.a);
        b.setValueText(c.id, c.b);
        EXPECT_EQ(sign(a.compareField(c.id, b)), c.want);
        EXPECT_EQ(sign(b.compareField(c.id, a)), -c.want);
    }
    EXPECT_EQ(Entry(1).compareField(static_cast<FieldId>(42), Entry(1)), 0);
}

TEST(Entry, SortCompareBreaksTiesByNumbersWithoutReversing)
{
    Entry a(1);
    Entry b(1);
    a.Frequency = b.Frequency = Frequency::Weekly;
    a.SerNum = "75-000001";
    b.SerNum = "75-000002";
    EXPECT_LT(a.sortCompare(FieldId::Frequency, b, false), 0);
    EXPECT_LT(a.sortCompare(FieldId::Frequency, b, true), 0);

    b.Frequency = Frequency::Monthly;
    EXPECT_LT(a.sortCompare(FieldId::Frequency, b, false), 0);
    EXPECT_GT(a.sortCompare(FieldId::Frequency, b, true), 0);

    // sorting by SerNum skips it as a tie-break and falls to RegNum
    a.SerNum = b.SerNum = "";
    a.RegNum = "2";
    b.RegNum = "1";
    EXPECT_GT(a.sortCompare(FieldId::SerNum, b, true), 0);
    a.RegNum = b.RegNum = "";
    a.IntNum = "1";
    EXPECT_LT(a.sortCompare(FieldId::RegNum, b, false), 0);
    EXPECT_EQ(a.sortCompare(FieldId::IntNum, b, false), -1);
    a.IntNum = "";
    EXPECT_EQ(a.sortCompare(FieldId::Owner, b, true), 0);
}

TEST(Entry, SameWatchedValuesIgnoresUnwatchedFieldsAndHonoursCase)
{
    Entry a(1);
    a.Reference = "R1";
    a.Owner = "Acme";
    Entry b = a;
    EXPECT_TRUE(a.sameWatchedValues(b));
    b.IntNum = "1234567";
    b.StatusDate = "2004-05-18";
    b.Frequency = Frequency::Yearly;
    b.LastUpdate = b.LastChange = 9;
    b.Error = "failed";
    b.Today = 2;
    EXPECT_TRUE(a.sameWatchedValues(b));
    for (FieldId id : k_watchedFields) {
        SCOPED_TRACE(fieldInfo(id).key);
        Entry c = a;
        *c.textField(id) += "x";
        EXPECT_FALSE(a.sameWatchedValues(c));
    }
    b = a;
    b.Owner = "ACME";
    EXPECT_FALSE(a.sameWatchedValues(b));
}

TEST(Entry, StateImageCombinesRecentUpToDateAndError)
{
    const DayNumber t = 38125;
    struct Case {
        DayNumber lastChange;
        DayNumber lastUpdate;
        const char* error;
        int want;
    } cases[] = {
        {0, 0, "", 0}, {t - 7, t - 7, "", 1}, {t - 8, t - 8, "", 0}, {t - 8, t, "", 2},
        {t, t, "", 3}, {0, 0, "x", 4},        {t, t, "x", 7},        {t - 3, t - 3, "x", 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.want);
        Entry e(t);
        e.StatusDate = "2004-05-01";
        e.LastChange = c.lastChange;
        e.LastUpdate = c.lastUpdate;
        e.Error = c.error;
        EXPECT_EQ(e.stateImage(), c.want);
    }
}

// Changed means that the entry's last update, within the last week, found a difference in a watched field.
TEST(Entry, RecentlyChangedOnlyWhenTheLastUpdateFoundADifference)
{
    const DayNumber t = 38125;
    struct Case {
        const char* name;
        DayNumber lastChange, lastUpdate;
        const char* statusDate;
        bool want;
    } cases[] = {
        {"found today", t, t, "2004-05-01", true},
        {"found a week ago", t - 7, t - 7, "2004-05-01", true},
        {"found eight days ago", t - 8, t - 8, "2004-05-01", false},
        {"a later update found none", t - 2, t - 1, "2004-05-01", false},
        {"never updated, LastChange from loading", t, 0, "", false},
        {"first reading: the status date's day", t - 17, t, "2004-05-01", false},
        {"no record at the office, its Error cleared", t, t, "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Entry e(t);
        e.StatusDate = c.statusDate;
        e.LastChange = c.lastChange;
        e.LastUpdate = c.lastUpdate;
        EXPECT_EQ(e.recentlyChanged(), c.want);
        EXPECT_EQ(e.lookupVariable("RecentChange"), c.want ? "Yes" : "No");
    }
}

TEST(Entry, FinishRecordGivesAFirstLastChange)
{
    const DayNumber t = 38125;
    struct Case {
        const char* statusDate;
        const char* statusText;
        DayNumber lastChange;
        DayNumber want;
    } cases[] = {
        {"2001-02-03", "Registered", 0, 36925},
        {"", "2001-02-03 - Registered", 0, 36925},
        {"2001-02-03", "Registered", 38000, 38000},
        {"", "", 0, t},
        {"soon", "", 0, t},
        {"\?\?\?\?-\?\?-\?\?", "", 0, t}, // an unknown status date is no day to start from
        {"0000-00-00", "", 0, t},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.statusDate) + "|" + c.statusText);
        Entry e(t);
        e.StatusDate = c.statusDate;
        e.StatusText = c.statusText;
        e.LastChange = c.lastChange;
        e.SerNum = "75-1234567890";
        e.finishRecord();
        EXPECT_EQ(e.LastChange, c.want);
        EXPECT_EQ(e.SerNum, "75-123456");
    }
    Entry split(t);
    split.StatusText = "2001-02-03 - Registered";
    split.finishRecord();
    EXPECT_EQ(split.StatusDate, "2001-02-03");
    EXPECT_EQ(split.StatusText, "Registered");
}
