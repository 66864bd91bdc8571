#include "core/entrystore.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tarnwick::core;

namespace {

Entry entryWith(const char* serNum, const char* regNum, const char* intNum, const char* reference = "")
{
    Entry e(38125);
    e.SerNum = serNum;
    e.RegNum = regNum;
    e.IntNum = intNum;
    e.Reference = reference;
    return e;
}

std::string column(const EntryStore& store, FieldId id)
{
    std::string out;
    for (const Entry& e : store.entries()) {
        out += e.valueText(id, true);
        out += ";";
    }
    return out;
}

} // namespace

TEST(EntryStore, FindDuplicateUsesTheFirstIdentifierSet)
{
    EntryStore store;
    store.addEntry(entryWith("75-ABC456", "", "", "one"));
    store.addEntry(entryWith("", "1234567", "", "two"));
    store.addEntry(entryWith("", "", "7654321", "three"));
    store.appendEntry(entryWith("", "", "", "none"));

    struct Case {
        Entry probe;
        int want; // -1: none
    } cases[] = {
        {entryWith("75-abc456", "", "", "other ref"), 0},
        {entryWith("75-ABC456", "1234567", "", ""), 0},
        {entryWith("76-000000", "1234567", "", ""), -1}, // SerNum decides when it is set
        {entryWith("", "1234567", "7654321", ""), 1},
        {entryWith("", "01234567", "", ""), 1}, // the same registration with a leading zero
        {entryWith("", "", "7654321", ""), 2},
        {entryWith("", "", "", ""), -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.probe.SerNum + "|" + c.probe.RegNum + "|" + c.probe.IntNum);
        std::optional<int> got = store.findDuplicate(c.probe);
        EXPECT_EQ(got.value_or(-1), c.want);
    }
}

TEST(EntryStore, AddReportsTheNewPositionOrTheDuplicates)
{
    EntryStore store;
    const std::pair<Entry, Added> steps[] = {
        {entryWith("75-123456", "", "", "first"), {0, true}},
        {entryWith("75-999999", "", "", "second"), {1, true}},
        {entryWith("75-123456", "", "", "again"), {0, false}},
    };
    for (const auto& [entry, want] : steps) {
        SCOPED_TRACE(entry.Reference);
        const Added got = store.addEntry(entry);
        EXPECT_EQ(got.position, want.position);
        EXPECT_EQ(got.added, want.added);
    }
    EXPECT_EQ(store.count(), 2);
    EXPECT_EQ(store.appendEntry(entryWith("75-123456", "", "", "kept")), 2); // no search
}

TEST(EntryStore, ReplaceGivesBackTheValuesItReplaced)
{
    EntryStore store;
    store.addEntry(entryWith("", "1234567", "", "A-1"));
    Entry changed = store.at(0);
    changed.Reference = "B-2";
    changed.Today = 5;
    const Entry previous = store.replaceEntry(0, changed);
    EXPECT_EQ(previous.Reference, "A-1");
    EXPECT_EQ(store.at(0).Reference, "B-2");
    EXPECT_EQ(store.at(0).Today, 5);
}

TEST(EntryStore, SortOrdersByColumnWithStableTies)
{
    EntryStore store;
    auto add = [&](const char* serNum, Frequency frequency, const char* statusDate, const char* reference) {
        Entry e = entryWith(serNum, "", "", reference);
        e.Frequency = frequency;
        e.StatusDate = statusDate;
        store.appendEntry(e);
    };
    add("", Frequency::Daily, "1999-12-31", "r1");
    add("75-000002", Frequency::Never, "2001-05-01", "r2");
    add("75-000001", Frequency::Weekly, "", "r3");
    add("", Frequency::Never, "2001-05-01", "r4");

    store.sort(FieldId::SerNum, false);
    EXPECT_EQ(column(store, FieldId::Reference), "r3;r2;r1;r4;"); // no application number: last, in order
    store.sort(FieldId::StatusDate, false);
    EXPECT_EQ(column(store, FieldId::Reference), "r2;r4;r1;r3;");
    // Ascending on a default-descending column: Never first, Daily last
    store.sort(FieldId::Frequency, true);
    EXPECT_EQ(column(store, FieldId::Reference), "r2;r4;r3;r1;");
    store.sort(FieldId::Reference, true);
    EXPECT_EQ(column(store, FieldId::Reference), "r4;r3;r2;r1;");
}
