#include "notify/history.h"

#include "core/entry.h"
#include "platform/files.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sys/stat.h>

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
        {"a file whose lines carry no check",
         "Date\tNumber\tReference\tField\tOld\tNew\r\n2026-12-08\t76123456\tACME\tStatusText\ta\tb\r\n", 1, 0},
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
        // from the end back a byte at a time: every line crosses pieces
        size_t newestFirst = 0;
        notify::HistoryBackReader back({}, [&](const notify::ChangeRecord&) { ++newestFirst; });
        for (size_t i = c.text.size(); i-- > 0;)
            back.addBefore(std::string_view(c.text).substr(i, 1));
        EXPECT_EQ(back.finish(), c.damaged);
        EXPECT_EQ(newestFirst, c.records);
    }
}

TEST(HistoryFile, ValuesWithTabsAndLineBreaksComeBackWhole)
{
    const notify::ChangeRecord record{"2026-12-08", "76123456", "R\\D", "LastHistory", "a\tb\r\nc\\", "\\t not a tab"};
    std::string line;
    notify::appendHistoryLine(line, record);
    EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 6);
    EXPECT_TRUE(line.ends_with("\r\n") && line.find('\n') == line.size() - 1);
    const notify::HistoryText h = notify::parseHistory(line);
    ASSERT_EQ(h.records.size(), 1u);
    EXPECT_EQ(h.records[0].reference, record.reference);
    EXPECT_EQ(h.records[0].oldValue, record.oldValue);
    EXPECT_EQ(h.records[0].newValue, record.newValue);
}

TEST(HistoryFile, ALineCutByACrashIsReadWholeOrSkippedNeverCut)
{
    const notify::ChangeRecord record{"2026-12-08", "76123456", "ACME", "StatusText", "Published.", "Registered."};
    const notify::ChangeRecord next{"2026-12-09", "76123456", "ACME", "Owner", "", "Widget Co"};
    std::string line;
    notify::appendHistoryLine(line, record);
    EXPECT_EQ(line.substr(0, 9), "cea26699\t"); // the CRC-32 that zip and zlib compute, so other tools can check
    std::string nextLine;
    notify::appendHistoryLine(nextLine, next);
    const size_t content = line.size() - 2;
    std::string changed = line;
    changed[line.find("Registered")] = 'r';
    struct Case {
        const char* name;
        std::string written; // the last line a crash left
        bool whole;
    };
    const Case cases[] = {
        {"in the check", line.substr(0, 4), false},
        {"before the check's TAB", line.substr(0, 8), false},
        {"after the check's TAB", line.substr(0, 9), false},
        {"in the date", line.substr(0, 14), false},
        {"in a middle value", line.substr(0, line.find("ACME") + 2), false},
        {"after the last TAB", line.substr(0, line.rfind('\t') + 1), false},
        {"in the last value", line.substr(0, content - 1), false},
        {"a byte changed", changed, false},
        {"before the CR", line.substr(0, content), true},
        {"a CR without LF", line.substr(0, content + 1), true},
        {"a line without a check", "2026-12-08\t76123456\tACME\tStatusText\tPublished.\tRegistered.", true},
    };
    test::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file(std::string(c.name) + ".txt");
        ASSERT_TRUE(platform::writeFileAtomic(path, k_header + c.written));
        ASSERT_TRUE(platform::appendRecordsDurably(path, nextLine, k_header)); // closes the torn line first
        const std::string text = *platform::readFile(path);
        const notify::HistoryText h = notify::parseHistory(text);
        EXPECT_EQ(h.damaged, c.whole ? 0 : 1);
        ASSERT_EQ(h.records.size(), c.whole ? 2u : 1u);
        if (c.whole) {
            EXPECT_EQ(h.records[0], record);
        }
        EXPECT_EQ(h.records.back(), next);
        // read in blocks, the text comes whatever the place its pieces end: the same records, torn or not
        for (const std::string& written : {text, k_header + c.written}) {
            const notify::HistoryText whole = notify::parseHistory(written);
            for (size_t cut = 0; cut <= written.size(); ++cut) {
                notify::HistoryReader reader;
                reader.add(std::string_view(written).substr(0, cut));
                reader.add(std::string_view(written).substr(cut));
                const notify::HistoryText pieces = reader.finish();
                ASSERT_EQ(pieces.records, whole.records) << "cut at " << cut;
                ASSERT_EQ(pieces.damaged, whole.damaged) << "cut at " << cut;
                // and read from the end back, newest first
                std::vector<notify::ChangeRecord> newestFirst;
                notify::HistoryBackReader back({}, [&](const notify::ChangeRecord& r) { newestFirst.push_back(r); });
                back.addBefore(std::string_view(written).substr(cut));
                back.addBefore(std::string_view(written).substr(0, cut));
                ASSERT_EQ(back.finish(), whole.damaged) << "cut at " << cut;
                ASSERT_TRUE(
                    std::equal(newestFirst.rbegin(), newestFirst.rend(), whole.records.begin(), whole.records.end()))
                    << "cut at " << cut;
            }
        }
    }
}

TEST(HistoryFile, AReadKeepsTheNamedNumbersOrTheNewestAndCountsTheRest)
{
    std::string text = k_header;
    const char* numbers[] = {"75123456", "1234567", "75123456", "75123457", "75123456", "1234567", "75123456"};
    for (size_t i = 0; i < std::size(numbers); ++i)
        notify::appendHistoryLine(text, {"2026-12-08", numbers[i], "", "Owner", "", std::to_string(i)});
    core::Entry e(45000);
    e.SerNum = "75-123456";
    e.RegNum = "1234567";
    struct Case {
        const char* name;
        notify::HistoryKeep keep;
        std::vector<std::string> kept; // new values, in file order
    };
    const Case cases[] = {
        {"everything", {}, {"0", "1", "2", "3", "4", "5", "6"}},
        {"one number", {{"75-123456"}, 0}, {"0", "2", "4", "6"}},
        {"two numbers", {{"1234567", "75123457"}, 0}, {"1", "3", "5"}},
        {"the newest two of each", {{}, 2}, {"1", "3", "4", "5", "6"}},
        {"the newest of one", {{"75123456"}, 1}, {"6"}},
        {"a number without digits", {{"none"}, 0}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        notify::HistoryReader reader(c.keep);
        reader.add(text);
        const notify::HistoryText h = reader.finish();
        std::vector<std::string> kept;
        for (const notify::ChangeRecord& r : h.records)
            kept.push_back(r.newValue);
        EXPECT_EQ(kept, c.kept);
        EXPECT_EQ(notify::HistoryIndex(h).count(e), 6u); // the entry's records, kept or not
        if (c.keep.newest == 0) {
            // read from the end back, the same records newest first
            std::vector<std::string> newestFirst;
            notify::HistoryBackReader back(c.keep.numbers,
                                           [&](const notify::ChangeRecord& r) { newestFirst.push_back(r.newValue); });
            back.addBefore(text);
            back.finish();
            EXPECT_EQ(newestFirst, std::vector<std::string>(c.kept.rbegin(), c.kept.rend()));
        }
    }
}

TEST(HistoryFile, ReadFromItsEndBackGivesTheRecordsNewestFirst)
{
    // lines cross the blocks of a read: more than two blocks of records of three numbers, one line damaged
    std::string text = k_header;
    for (int i = 0; i < 30000; ++i)
        notify::appendHistoryLine(text, {"2026-12-08", std::to_string(75000001 + i % 3), "R", "StatusText",
                                         std::string(40, 'a'), std::to_string(i)});
    std::string damaged;
    notify::appendHistoryLine(damaged, {"2026-12-09", "75000002", "R", "Owner", "a", "b"});
    text += damaged.substr(0, damaged.size() - 3) + "\r\n";
    struct Case {
        const char* name;
        std::vector<std::string> numbers;
        size_t records;
        int damaged; // counted only where the line may be of the named numbers
    };
    const Case cases[] = {
        {"every number", {}, 30000, 1},
        {"one number", {"75-000001"}, 10000, 0},
        {"the damaged line's", {"75000002"}, 10000, 1},
    };
    test::TempDir dir;
    ASSERT_TRUE(platform::writeFileAtomic(dir.file(notify::k_historyFileName), text));
    const notify::HistoryText whole = notify::parseHistory(text);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<notify::ChangeRecord> read;
        const notify::HistoryScan scan = notify::readHistoryNewestFirst(
            dir.path(), c.numbers, [&](const notify::ChangeRecord& r) { read.push_back(r); });
        EXPECT_EQ(scan.error, "");
        EXPECT_EQ(scan.damaged, c.damaged);
        ASSERT_EQ(read.size(), c.records);
        std::vector<notify::ChangeRecord> expected;
        for (auto r = whole.records.rbegin(); r != whole.records.rend(); ++r) {
            if (c.numbers.empty() || notify::numberDigits(r->number) == notify::numberDigits(c.numbers[0]))
                expected.push_back(*r);
        }
        EXPECT_TRUE(read == expected);
        // a read from the start that keeps the named numbers checks the same lines
        notify::HistoryReader forward(notify::HistoryKeep{c.numbers, 0});
        forward.add(text);
        const notify::HistoryText kept = forward.finish();
        EXPECT_EQ(kept.damaged, c.damaged);
        EXPECT_EQ(kept.records.size(), c.records);
    }
    // no file is no records; a folder at its name is refused
    test::TempDir other;
    int records = 0;
    const auto count = [&records](const notify::ChangeRecord&) { ++records; };
    EXPECT_EQ(notify::readHistoryNewestFirst(other.path(), {}, count).error, "");
    ASSERT_EQ(::mkdir(other.file(notify::k_historyFileName).c_str(), 0700), 0);
    EXPECT_NE(notify::readHistoryNewestFirst(other.path(), {}, count).error.find("not a regular file"),
              std::string::npos);
    EXPECT_EQ(records, 0);
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
    EXPECT_TRUE(history.read(dir.path(), {{"2"}, 0}).records.empty()); // read again for what else it keeps
    EXPECT_EQ(history.read(dir.path(), {{"2"}, 0}).leftOut.at("1"), 2u);
    EXPECT_EQ(platform::readFile(path)->substr(0, k_header.size()), k_header);
}

} // namespace
