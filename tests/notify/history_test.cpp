#include "notify/history.h"

#include "core/entry.h"
#include "platform/files.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

using namespace tarnwick;

namespace {

const std::string k_header(notify::historyHeader());

TEST(HistoryFile, ReadsRecordsAndSkipsWhatIsNone)
{
    struct Case {
        const char* name;
        std::string text;
        size_t records;
        int damaged;
    };
    const Case cases[] = {
        {"empty", "", 0, 0},
        {"header and two records",
         k_header + "2026-12-08\t76123456\tACME\tStatusText\ta\tb\r\n2026-12-09\t76123456\t\tOwner\t\tX\r\n", 2, 0},
        {"line feeds alone", "2026-12-08\t1\tR\tOwner\ta\tb\n", 1, 0},
        // a crash in the middle of an append leaves a torn last line, which is no damage
        {"torn last line", k_header + "2026-12-08\t1\tR\tOwner\ta\tb\r\n2026-12-09\t1\tR\tOw", 1, 0},
        {"five columns", "2026-12-08\t1\tR\tOwner\ta\r\n", 0, 1},
        {"seven columns", "2026-12-08\t1\tR\tOwner\ta\tb\tc\r\n", 0, 1},
        {"no date", "yesterday\t1\tR\tOwner\ta\tb\r\n", 0, 1},
        {"unknown date", "\?\?\?\?-\?\?-\?\?\t1\tR\tOwner\ta\tb\r\n", 0, 1},
        {"no number", "2026-12-08\t\tR\tOwner\ta\tb\r\n", 0, 1},
        {"torn line in the middle", "2026-12-08\t1\tR\tOw2026-12-09\t1\tR\tOwner\ta\tb\r\n", 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const notify::HistoryText h = notify::parseHistory(c.text);
        EXPECT_EQ(h.records.size(), c.records);
        EXPECT_EQ(h.damaged, c.damaged);
    }
}

TEST(HistoryFile, ValuesWithTabsAndLineBreaksComeBackWhole)
{
    const notify::ChangeRecord record{"2026-12-08", "76123456", "R\\D", "LastHistory", "a\tb\r\nc\\", "\\t not a tab"};
    std::string line;
    notify::appendHistoryLine(line, record);
    EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 5);
    EXPECT_TRUE(line.ends_with("\r\n") && line.find('\n') == line.size() - 1);
    const notify::HistoryText h = notify::parseHistory(line);
    ASSERT_EQ(h.records.size(), 1u);
    EXPECT_EQ(h.records[0].reference, record.reference);
    EXPECT_EQ(h.records[0].oldValue, record.oldValue);
    EXPECT_EQ(h.records[0].newValue, record.newValue);
}

TEST(HistoryIndex, FindsAnEntrysRecordsByAnyOfItsNumbers)
{
    notify::HistoryText h;
    for (const char* number : {"75-123456", "1234567", "75123457", "75123456"})
        h.records.push_back({"2026-12-08", number, "", "Owner", "a", "b"});
    const notify::HistoryIndex index(h);
    core::Entry e(45000);
    e.SerNum = "75123456";
    e.RegNum = "1234567";
    EXPECT_EQ(index.of(e), (std::vector<size_t>{0, 1, 3}));
    EXPECT_EQ(index.of(std::vector<std::string>{"75-123457"}), (std::vector<size_t>{2}));
    EXPECT_TRUE(index.of(std::vector<std::string>{"999"}).empty());
}

TEST(HistoryFile, IsReadAgainOnlyWhenItChanged)
{
    test::TempDir dir;
    notify::History history;
    EXPECT_TRUE(history.read(dir.path()).records.empty());
    EXPECT_EQ(history.read(dir.path()).error, "");
    const std::string path = dir.file(notify::k_historyFileName);
    ASSERT_TRUE(platform::appendRecordsDurably(path, "2026-12-08\t1\tR\tOwner\ta\tb\r\n", k_header));
    EXPECT_EQ(history.read(dir.path()).records.size(), 1u);
    ASSERT_TRUE(platform::appendRecordsDurably(path, "2026-12-09\t1\tR\tOwner\tb\tc\r\n", k_header));
    EXPECT_EQ(history.read(dir.path()).records.size(), 2u);
    EXPECT_EQ(platform::readFile(path)->substr(0, k_header.size()), k_header);
}

} // namespace
