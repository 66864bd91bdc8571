#include "core/entrystore.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tarnwick::core;

namespace {

class RecordingHost : public EntryStoreHost {
public:
    struct Posting {
        std::string reference;
        int templateId;
        std::string kind;
        bool hasPrevious;
        std::string previousReference;
    };

    void reportError(const std::string& title, const std::string& text) override
    {
        reports.push_back(title + "|" + text);
    }
    std::string postNotification(const Entry& entry, int templateId, const std::string& kind,
                                 const Entry* previous) override
    {
        postings.push_back(
            {entry.Reference, templateId, kind, previous != nullptr, previous ? previous->Reference : std::string()});
        return postError;
    }
    void rowChanged(int position) override { changedRows.push_back(position); }
    void selectOnly(int position) override { selections.push_back(position); }

    std::vector<std::string> reports;
    std::vector<Posting> postings;
    std::vector<int> changedRows;
    std::vector<int> selections;
    std::string postError;
};

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
    store.addEntry(entryWith("75-ABC456", "", "", "one"), 0);
    store.addEntry(entryWith("", "1234567", "", "two"), 0);
    store.addEntry(entryWith("", "", "7654321", "three"), 0);
    store.addEntry(entryWith("", "", "", "none"), addflags::SkipDuplicateSearch);

    struct Case {
        Entry probe;
        int want; // -1: none
    } cases[] = {
        {entryWith("75-abc456", "", "", "other ref"), 0},
        {entryWith("75-ABC456", "1234567", "", ""), 0},
        {entryWith("76-000000", "1234567", "", ""), -1}, // SerNum decides when it is set
        {entryWith("", "1234567", "7654321", ""), 1},
        {entryWith("", "", "7654321", ""), 2},
        {entryWith("", "", "", ""), -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.probe.SerNum + "|" + c.probe.RegNum + "|" + c.probe.IntNum);
        std::optional<int> got = store.findDuplicate(c.probe);
        EXPECT_EQ(got.value_or(-1), c.want);
    }
}

TEST(EntryStore, AddEntryFlags)
{
    struct Case {
        unsigned flags;
        bool duplicate;
        const char* wantResult;
        size_t wantReports;
        size_t wantPostings;
        std::vector<int> wantSelections;
        int wantCount;
    } cases[] = {
        {addflags::AddCommand, true, "This entry already exists.", 1, 0, {0}, 1},
        {addflags::ReportDuplicate, true, "This entry already exists.", 0, 0, {}, 1},
        {addflags::ShowReport, true, "", 0, 0, {}, 1},
        {addflags::SelectRow, true, "", 0, 0, {0}, 1},
        {addflags::SkipDuplicateSearch, true, "", 0, 0, {}, 2},
        {addflags::AddCommand, false, "", 0, 1, {1}, 2},
        {addflags::AddCommand | addflags::SkipDuplicateSearch, true, "", 0, 1, {1}, 2},
        {0, false, "", 0, 0, {}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.flags);
        RecordingHost host;
        EntryStore store(&host);
        store.addEntry(entryWith("75-123456", "", "", "first"), 0);
        Entry added = entryWith(c.duplicate ? "75-123456" : "75-999999", "", "", "second");
        EXPECT_EQ(store.addEntry(added, c.flags), c.wantResult);
        EXPECT_EQ(host.reports.size(), c.wantReports);
        if (c.wantReports) {
            EXPECT_EQ(host.reports[0], "Duplicate Entry|This entry already exists.");
        }
        ASSERT_EQ(host.postings.size(), c.wantPostings);
        if (c.wantPostings) {
            EXPECT_EQ(host.postings[0].reference, "second");
            EXPECT_EQ(host.postings[0].templateId, 2);
            EXPECT_EQ(host.postings[0].kind, "a");
            EXPECT_FALSE(host.postings[0].hasPrevious);
        }
        EXPECT_EQ(host.selections, c.wantSelections);
        EXPECT_EQ(store.count(), c.wantCount);
    }
}

TEST(EntryStore, ReplaceEntryAnnouncesAChangedReferenceOnly)
{
    struct Case {
        const char* newReference;
        unsigned flags;
        bool wantPosting;
    } cases[] = {
        {"B-2", addflags::NotifyChanged, true},
        {"a 1", addflags::NotifyChanged, false}, // same letters and digits: no change
        {"B-2", 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.newReference);
        RecordingHost host;
        EntryStore store(&host);
        store.addEntry(entryWith("", "1111111", "", "x"), 0);
        store.addEntry(entryWith("", "1234567", "", "A-1"), 0);
        Entry changed = store.at(1);
        changed.Reference = c.newReference;
        changed.Today = 5;
        EXPECT_EQ(store.replaceEntry(1, changed, c.flags), "");
        EXPECT_EQ(store.at(1).Reference, c.newReference);
        EXPECT_EQ(store.at(1).Today, 5);
        EXPECT_EQ(host.changedRows, std::vector<int>{1});
        ASSERT_EQ(host.postings.size(), c.wantPosting ? 1u : 0u);
        if (c.wantPosting) {
            EXPECT_EQ(host.postings[0].reference, "B-2");
            EXPECT_EQ(host.postings[0].templateId, 3);
            EXPECT_EQ(host.postings[0].kind, "c");
            EXPECT_TRUE(host.postings[0].hasPrevious);
            EXPECT_EQ(host.postings[0].previousReference, "A-1");
        }
    }
    RecordingHost host;
    host.postError = "queue full";
    EntryStore store(&host);
    store.addEntry(entryWith("", "1234567", "", "A"), 0);
    EXPECT_EQ(store.replaceEntry(0, entryWith("", "1234567", "", "B"), addflags::NotifyChanged), "queue full");
    EXPECT_EQ(store.at(0).Reference, "B");
}

TEST(EntryStore, SortOrdersByColumnWithStableTies)
{
    EntryStore store;
    auto add = [&](const char* serNum, Frequency frequency, const char* statusDate, const char* reference) {
        Entry e = entryWith(serNum, "", "", reference);
        e.Frequency = frequency;
        e.StatusDate = statusDate;
        store.addEntry(e, addflags::SkipDuplicateSearch);
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
