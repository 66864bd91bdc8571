#include "core/entrystore.h"
#include "docket/csv.h"
#include "docket/spreadsheet.h"
#include "platform/files.h"
#include "support/tempdir.h"
#include "update/changes.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace tarnwick;
using Fields = std::vector<std::string>;

TEST(Csv, RecordsRoundTripAndBadQuotingNamesTheLine)
{
    const Fields tricky[] = {
        {"\xEF\xBB\xBF"
         "bom",
         "", "with, comma"},
        {"say \"hi\"", "two\r\nlines", "lf\nonly"},
        {""},
    };
    std::string text;
    for (const Fields& f : tricky)
        docket::appendCsvRecord(text, f);
    EXPECT_TRUE(text.starts_with("\"\xEF\xBB\xBF"
                                 "bom\",,\"with, comma\"\r\n\"say "));
    const docket::CsvTable back = docket::parseCsv(text);
    ASSERT_EQ(back.error, "");
    ASSERT_EQ(back.records.size(), 3u);
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(back.records[i].fields, tricky[i]);
    EXPECT_EQ(back.records[2].line, 5); // after a record of three lines

    const std::pair<const char*, const char*> bad[] = {
        {"a,b\nc,\"open\n\n", "line 2: a quoted field is not closed"},
        {"a\n\"x\"y,z\n", "line 2: text after a closing quote"},
        {"a\nb\"c\n", "line 2: a quote inside a field that does not start with one"},
        {"a\n=\"0912345\n", "line 2: a quoted field is not closed"},
    };
    for (const auto& [input, error] : bad) {
        const docket::CsvTable t = docket::parseCsv(input);
        EXPECT_EQ(t.error, error);
        EXPECT_TRUE(t.records.empty());
    }
}

TEST(Csv, TextCellsGiveBackTheirText)
{
    const std::pair<const char*, const char*> written[] = {
        {"0912345", "=\"0912345\""},
        {"say \"hi\"", "=\"say \"\"hi\"\"\""},
        {"", "=\"\""},
    };
    for (const auto& [text, cell] : written) {
        SCOPED_TRACE(text);
        EXPECT_EQ(docket::textCell(text), cell);
        EXPECT_EQ(docket::cellText(cell), text);
    }
    // a formula that is more than one text is its own text, as is any other cell
    for (const char* cell : {"=\"a\"&\"b\"", "=1+1", "=\"", "0912345"})
        EXPECT_EQ(docket::cellText(cell), cell);
    // spreadsheets write text cells unquoted
    const docket::CsvTable t = docket::parseCsv("=\"0912345\";=\"a\"\"b\";=x\n", ';');
    ASSERT_EQ(t.error, "");
    ASSERT_EQ(t.records.size(), 1u);
    EXPECT_EQ(t.records[0].fields, (Fields{"=\"0912345\"", "=\"a\"\"b\"", "=x"}));
}

namespace {

const core::DayNumber k_today = core::dayNumberOf("2025-01-01");

// Marks with numbers that a spreadsheet would strip of their leading zeros, and office values it would change.
std::vector<core::Entry> watchedMarks()
{
    std::vector<core::Entry> marks(3, core::Entry(k_today));
    marks[0].RegNum = "0012345";
    marks[0].Reference = "0042";
    marks[0].Trademark = "ACME";
    marks[0].RegDate = "1912-05-18";
    marks[0].StatusDate = "2024-03-05";
    marks[0].StatusText = "Registered";
    marks[0].Owner = "Soci\xE9t\xE9 G\xE9n\xE9rale";
    marks[0].LastHistory = "-- renewal filed";
    marks[1].SerNum = "07-500001";
    marks[1].RegNum = "0912345";
    marks[1].Trademark = "=SUM(1)";
    marks[1].StatusDate = core::k_unknownDayText;
    marks[1].Location = "'Box 5";
    marks[2].IntNum = "0123456";
    marks[2].FilingDate = "2001-02-03";
    marks[2].Attorney = "1,234 Main St";
    return marks;
}

// A CSV text as a spreadsheet program saves it: a text cell (when the file protects its cells) as its text, a cell
// of digits as the number it read.
std::string savedBySpreadsheet(std::string_view csv, bool cellsProtected)
{
    std::string out;
    for (docket::CsvRecord& r : docket::parseCsv(csv).records) {
        for (std::string& f : r.fields) {
            const bool text = cellsProtected && f.starts_with("=\"");
            f = docket::cellText(f);
            if (!text && !f.empty() && f.find_first_not_of("0123456789") == std::string::npos)
                f.erase(0, std::min(f.find_first_not_of('0'), f.size() - 1));
        }
        docket::appendCsvRecord(out, r.fields);
    }
    return out;
}

} // namespace

TEST(Spreadsheet, RoundTripThroughASpreadsheetAddsNothingTwice)
{
    core::EntryStore store;
    for (const core::Entry& e : watchedMarks())
        store.appendEntry(e);
    const std::string exported = docket::spreadsheetOf(store.entries(), k_today);
    const std::pair<const char*, std::string> files[] = {
        {"as written", exported},
        {"saved by a spreadsheet", savedBySpreadsheet(exported, true)},
        {"written without text cells", savedBySpreadsheet(exported, false)},
    };
    for (const auto& [name, text] : files) {
        SCOPED_TRACE(name);
        const docket::ImportPlan plan = docket::planImport(text, store, k_today);
        EXPECT_EQ(plan.errors, std::vector<std::string>{});
        EXPECT_EQ(plan.duplicates.size(), 3u);
        EXPECT_TRUE(plan.entries.empty());
    }
}

TEST(Spreadsheet, ImportKeepsTheOfficeValuesAsBaseline)
{
    const std::vector<core::Entry> marks = watchedMarks();
    const std::string saved = savedBySpreadsheet(docket::spreadsheetOf(marks, k_today), true);
    const docket::ImportPlan plan = docket::planImport(saved, core::EntryStore(), k_today);
    ASSERT_EQ(plan.entries.size(), marks.size());
    const core::DayNumber lastChange[] = {core::dayNumberOf("2024-03-05"), k_today, k_today};
    for (size_t i = 0; i < marks.size(); ++i) {
        SCOPED_TRACE(i);
        const core::Entry& back = plan.entries[i];
        for (core::FieldId id : core::k_watchedFields)
            EXPECT_EQ(*back.textField(id), *marks[i].textField(id)) << core::fieldInfo(id).key;
        EXPECT_EQ(back.StatusDate, marks[i].StatusDate);
        EXPECT_EQ(back.IntNum, marks[i].IntNum);
        EXPECT_EQ(back.LastChange, lastChange[i]);
        // the next update mails what the office changed meanwhile
        EXPECT_TRUE(update::hasBaseline(back));
        core::Entry page = back;
        page.Location = "Archive";
        EXPECT_FALSE(page.sameWatchedValues(back));
    }

    // a line whose Reg # names another mark than its Number carries its Number alone; one that names the same
    // gives the Number the office's form
    const docket::ImportPlan lines = docket::planImport(
        "Number,Reg #,Status\n1234567,7654321,Registered\n912345,0912345,Registered\n", core::EntryStore(), k_today);
    ASSERT_EQ(lines.entries.size(), 2u);
    EXPECT_EQ(lines.entries[0].RegNum, "1234567");
    EXPECT_EQ(lines.entries[0].StatusText, "");
    EXPECT_FALSE(update::hasBaseline(lines.entries[0]));
    EXPECT_EQ(lines.entries[1].RegNum, "0912345");
    EXPECT_EQ(lines.entries[1].StatusText, "Registered");
}

TEST(Spreadsheet, ExportReadByPythonsCsvModule)
{
    core::Entry e(core::dayNumberOf("2025-01-01"));
    e.SerNum = "76-123456";
    e.RegNum = "1234567";
    e.RegDate = "2020-05-18";
    e.Reference = "R\xE9"
                  "f, \"1\"";
    e.Trademark = "=HYPERLINK(\"x\")";
    e.Frequency = core::Frequency::Monthly;
    test::TempDir dir;
    (void)platform::writeFileAtomic(dir.file("marks.csv"), docket::spreadsheetOf({e}, e.Today));
    const std::string command = "/usr/bin/python3 -c 'import csv,sys; r=list(csv.reader(open(sys.argv[1], "
                                "encoding=\"utf-8-sig\", newline=\"\"))); print(len(r), len(r[0]), r[1])' " +
                                dir.file("marks.csv");
    std::string out(512, '\0');
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    out.resize(std::fread(out.data(), 1, out.size(), pipe));
    ::pclose(pipe);
    EXPECT_EQ(out, "2 19 ['=\"76-123456\"', 'Réf, \"1\"', 'Monthly', '=\"76-123456\"', '=\"1234567\"', "
                   "'\\'=HYPERLINK(\"x\")', '', '=\"2020-05-18\"', '', '', '', '', '', '', '', '', '2026-05-18', "
                   "'Declaration of use', '2026-11-18']\n");
}

TEST(Spreadsheet, ImportIsAllOrNothingAndSkipsDuplicates)
{
    struct Case {
        std::string file;
        std::vector<std::string> added; // number, reference, frequency
        std::vector<std::string> duplicates;
        std::vector<std::string> errors;
    };
    const Case cases[] = {
        {"\xEF\xBB\xBFReference,NUMBER,Frequency\r\nA,75123456,weekly\r\n,,\r\nB,I1234567,\r\nC,2824281,Never\r\n"
         "D,75/123456,\r\n",
         {"75-123456 A Weekly", "I1234567 B Daily"},
         {"line 5: 2824281 already exists", "line 6: 75-123456 repeats an earlier line"},
         {}},
        {"Number;Reference\n1234567;R\xC3\xA9sum\xC3\xA9 \xE2\x82\xAC \xE4\xB8\xAD\n",
         {"1234567 R\xC3\xA9sum\xC3\xA9 "
          "\xE2\x82\xAC \xE4\xB8\xAD Daily"},
         {},
         {}},
        {"Number;Reference\n1234567;\"R\xC3\xA9sum\xC3\xA9\n\xE2\x82\xAC\"\n",
         {"1234567 R\xE9sum\xE9 \x80 Daily"},
         {},
         {}},
        {"Number,Frequency\n1234567,Daily\n12345,\n7654321,Hourly\n,Weekly\n",
         {},
         {},
         {"line 3: 12345: Invalid Registration/Application/International Reg Number.",
          "line 4: unknown frequency 'Hourly' (Daily, Weekly, Monthly, Yearly or Never)", "line 5: no number"}},
        // the longest reference counts characters, not bytes
        {"Number,Reference\n1234567," +
             [] {
                 std::string r;
                 for (int i = 0; i < 1000; ++i)
                     r += "\xC3\xA9";
                 return r;
             }() +
             "\n7654321," + std::string(1001, 'x') + "\n",
         {},
         {},
         {"line 3: the reference is 1001 characters long (at most 1000)"}},
        {"Serial,Reference\n1234567,x\n", {}, {}, {"line 1: no column is named Number"}},
        {"", {}, {}, {"line 1: no header line naming the columns"}},
    };
    core::EntryStore store;
    core::Entry existing(1);
    existing.RegNum = "2824281";
    store.appendEntry(existing);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const docket::ImportPlan plan = docket::planImport(c.file, store, 1);
        std::vector<std::string> added;
        for (const core::Entry& e : plan.entries)
            added.push_back(docket::displayNumber(e) + " " + e.Reference + " " +
                            e.valueText(core::FieldId::Frequency, false));
        EXPECT_EQ(added, c.added);
        EXPECT_EQ(plan.duplicates, c.duplicates);
        EXPECT_EQ(plan.errors, c.errors);
    }
}
