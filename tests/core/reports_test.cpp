#include "core/reports.h"

#include "core/entrystore.h"
#include "support/files.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

using namespace tarnwick;

namespace {

class FakeRenderer final : public core::ReportRenderer {
public:
    std::string head() override { return "HEAD\r\n"; }
    std::string row(const core::Entry& entry) override { return "ROW " + entry.Reference + "\r\n"; }
    std::string tail() override { return "TAIL\r\n"; }
};

using test::readAll;

core::Entry entryWith(const std::string& reference, const std::string& serNum)
{
    core::Entry e(45000);
    e.Reference = reference;
    e.SerNum = serNum;
    return e;
}

TEST(Reports, EmptyStoreWritesHeadTailAndBareExport)
{
    test::TempDir dir;
    core::EntryStore store;
    FakeRenderer renderer;
    core::WriteReports(store, dir.path(), renderer);
    EXPECT_EQ(readAll(dir.file("Tarnwick.html")), "HEAD\r\nTAIL\r\n");
    EXPECT_EQ(readAll(dir.file("Tarnwick.xml")),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<Entries>\r\n</Entries>\r\n");
}

TEST(Reports, ExportHoldsEveryFieldByKeyInTableOrder)
{
    core::EntryStore store;
    core::Entry e = entryWith("", "75123456");
    e.Trademark = "Fish & <Chips>";
    e.Owner = "\"O'Brien\"";
    store.appendEntry(e);

    const std::string xml = core::xmlExport(store);
    const std::string expected = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                 "<Entries>\n"
                                 " <Entry>\n"
                                 "  <Fequency>Daily</Fequency>\n"
                                 "  <LastUpdate></LastUpdate>\n"
                                 "  <LastChange></LastChange>\n"
                                 "  <Reference></Reference>\n"
                                 "  <SerNum>75123456</SerNum>\n"
                                 "  <RegNum></RegNum>\n"
                                 "  <IntNum></IntNum>\n"
                                 "  <Trademark>Fish &amp; &lt;Chips&gt;</Trademark>\n"
                                 "  <StatusDate></StatusDate>\n"
                                 "  <StatusText></StatusText>\n"
                                 "  <LastHistory></LastHistory>\n"
                                 "  <FilingDate></FilingDate>\n"
                                 "  <RegDate></RegDate>\n"
                                 "  <PublishedDate></PublishedDate>\n"
                                 "  <LawOffice></LawOffice>\n"
                                 "  <Owner>&quot;O&apos;Brien&quot;</Owner>\n"
                                 "  <Attorney></Attorney>\n"
                                 "  <Location></Location>\n"
                                 "  <Error></Error>\n"
                                 " </Entry>\n"
                                 "</Entries>\n";
    EXPECT_EQ(xml, expected);
}

TEST(Reports, BothFilesFollowTheStoreOrder)
{
    core::EntryStore store;
    store.appendEntry(entryWith("C-3", "3"));
    store.appendEntry(entryWith("A-1", "1"));
    store.appendEntry(entryWith("B-2", "2"));
    store.sort(core::FieldId::Reference, false);

    test::TempDir dir;
    FakeRenderer renderer;
    core::WriteReports(store, dir.path(), renderer);
    EXPECT_EQ(readAll(dir.file("Tarnwick.html")), "HEAD\r\nROW A-1\r\nROW B-2\r\nROW C-3\r\nTAIL\r\n");
    const std::string xml = readAll(dir.file("Tarnwick.xml"));
    const size_t a = xml.find("<Reference>A-1</Reference>");
    const size_t b = xml.find("<Reference>B-2</Reference>");
    const size_t c = xml.find("<Reference>C-3</Reference>");
    ASSERT_NE(c, std::string::npos);
    EXPECT_LT(a, b);
    EXPECT_LT(b, c);
    EXPECT_EQ(xml.find("\r\r"), std::string::npos);
}

TEST(Reports, ExportOfMarkupIsWellFormedXml)
{
    core::EntryStore store;
    core::Entry e = entryWith("</Reference><x a='1'>", "1");
    e.Trademark = "<![CDATA[ & ]]> \"quotes\" 'apostrophes' &amp;";
    e.StatusText = "a\xE9\xFC \x80";      // from a Windows-1252 page
    e.Owner = "Caf\xC3\xA9 \xE2\x82\xAC"; // from a UTF-8 page
    e.LastUpdate = 45000;
    store.appendEntry(e);

    test::TempDir dir;
    FakeRenderer renderer;
    core::WriteReports(store, dir.path(), renderer);
    const std::string command =
        "/usr/bin/xmllint --noout '" + dir.file("Tarnwick.xml") + "' > '" + dir.file("lint.txt") + "' 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(readAll(dir.file("lint.txt")), "");
    // the declared encoding reads both kinds of value as the characters they were
    const std::string parse = "/usr/bin/python3 -c 'import sys, xml.etree.ElementTree as t; e=t.parse(sys.argv[1])."
                              "find(\"Entry\"); sys.stdout.buffer.write((e.findtext(\"StatusText\") + \"|\" + "
                              "e.findtext(\"Owner\")).encode(\"utf-8\"))' " +
                              dir.file("Tarnwick.xml");
    std::string out(256, '\0');
    FILE* pipe = ::popen(parse.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    out.resize(std::fread(out.data(), 1, out.size(), pipe));
    ::pclose(pipe);
    EXPECT_EQ(out, "a\u00E9\u00FC \u20AC|Caf\u00E9 \u20AC");
}

TEST(Reports, AFileThatCannotBeWrittenLeavesTheOtherWritten)
{
    test::TempDir dir;
    core::EntryStore store;
    FakeRenderer renderer;
    // a folder in the HTML report's place cannot be replaced
    std::filesystem::create_directory(dir.file("Tarnwick.html"));
    core::ReportsWritten written = core::WriteReports(store, dir.path(), renderer);
    EXPECT_FALSE(written.html);
    EXPECT_TRUE(written.xml);
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("Tarnwick.html")));
    EXPECT_TRUE(std::filesystem::is_regular_file(dir.file("Tarnwick.xml")));

    // a missing report folder, or none at all, writes nothing
    written = core::WriteReports(store, dir.file("missing"), renderer);
    EXPECT_FALSE(written.html || written.xml);
    EXPECT_FALSE(std::filesystem::exists(dir.file("missing")));
    written = core::WriteReports(store, "", renderer);
    EXPECT_FALSE(written.html || written.xml);
}

} // namespace
