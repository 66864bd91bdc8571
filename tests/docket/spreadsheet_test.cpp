#include "core/entrystore.h"
#include "docket/csv.h"
#include "docket/spreadsheet.h"
#include "platform/files.h"
#include "support/tempdir.h"

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
    };
    for (const auto& [input, error] : bad) {
        const docket::CsvTable t = docket::parseCsv(input);
        EXPECT_EQ(t.error, error);
        EXPECT_TRUE(t.records.empty());
    }
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
    platform::writeFileAtomic(dir.file("marks.csv"), docket::spreadsheetOf({e}, e.Today));
    const std::string command = "/usr/bin/python3 -c 'import csv,sys; r=list(csv.reader(open(sys.argv[1], "
                                "encoding=\"utf-8-sig\", newline=\"\"))); print(len(r), len(r[0]), r[1])' " +
                                dir.file("marks.csv");
    std::string out(512, '\0');
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    out.resize(std::fread(out.data(), 1, out.size(), pipe));
    ::pclose(pipe);
    EXPECT_EQ(out, "2 18 ['76-123456', 'Réf, \"1\"', 'Monthly', '76-123456', '1234567', '\\'=HYPERLINK(\"x\")', '', "
                   "'2020-05-18', '', '', '', '', '', '', '', '2026-05-18', 'Declaration of use', '2026-11-18']\n");
}

TEST(Spreadsheet, ImportIsAllOrNothingAndSkipsDuplicates)
{
    struct Case {
        const char* file;
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
