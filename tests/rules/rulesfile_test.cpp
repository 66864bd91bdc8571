#include "rules/rulesfile.h"

#include "core/entry.h"
#include "platform/files.h"
#include "rules/templatevars.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace tarnwick;
using rules::RulesFile;

namespace {

std::string rulesWithVersion(const std::string& version)
{
    return "version: " + version + "\r\n;test\r\n\r\nlocation:\r\n rules: from the file\r\n\r\nend-of-rules\r\n";
}

void writeRulesFile(const test::TempDir& dir, const std::string& text)
{
    std::filesystem::create_directories(dir.file("Tarnwick"));
    ASSERT_TRUE(platform::writeFileAtomic(dir.file("Tarnwick/rules.txt"), text));
}

} // namespace

TEST(DefaultRules, IsFortyNineCrLfLinesEndingTheRules)
{
    std::string_view text = RulesFile::defaultText();
    size_t lines = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n') {
            ASSERT_GT(i, 0u);
            EXPECT_EQ(text[i - 1], '\r') << "line " << lines + 1;
            ++lines;
        }
    }
    EXPECT_EQ(lines, 49u);
    EXPECT_TRUE(text.starts_with("version: 4.2.06.000\r\n"));
    EXPECT_TRUE(text.ends_with("\r\n\r\nend-of-rules\r\n"));
    EXPECT_EQ(RulesFile::versionOf(text), "4.2.06.000");
}

TEST(DefaultRules, AnswersTheKeysTheSystemReads)
{
    rules::TemplateVars vars;
    RulesFile rulesFile(vars);
    EXPECT_EQ(rulesFile.version(), "4.2.06.000");
    EXPECT_FALSE(rulesFile.loadedFromFile());
    EXPECT_TRUE(rulesFile.updatePending());
    EXPECT_TRUE(rulesFile.directDownload());
    EXPECT_TRUE(rulesFile.lookup("location", "appc").ends_with("/support/tarnwick.ex_"));
    EXPECT_TRUE(rulesFile.lookup("location", "app").ends_with("/support/tarnwick.exe"));
    EXPECT_TRUE(rulesFile.lookup("location", "rules").ends_with("/support/tarnwick.txt"));
    EXPECT_EQ(rulesFile.lookup("fetch1", "required"), "<b>PROSECUTION HISTORY</b>");
    EXPECT_EQ(rulesFile.lookup("fetch1", "[Location]"),
              "<b>Current Location:</b>[*2# -= - ]<br/>[-]<b>Date In Location:</b>[*1' - ]<br/>");
    EXPECT_TRUE(rulesFile.lookup("fetch1", "none[Status]").starts_with(" - (NOT AVAILABLE)=="));

    core::Entry entry(core::k_noDay);
    entry.RegNum = "1234567";
    rules::CurrentEntryScope scope(vars, &entry);
    EXPECT_TRUE(
        rulesFile.lookup("fetch1", "page[RegNum]").ends_with("/servlet/tarr?regser=registration&entry=1234567"));
}

TEST(RulesVersion, IsReadFromTheVersionLine)
{
    struct Case {
        const char* text;
        const char* version;
    } cases[] = {
        {"version: 4.2.06.000\r\nx", "4.2.06.000"},
        {"Version: 4.2.07.000\r\n", "4.2.07.000"},    // any capitals
        {"VERSION:    4.2.07.000  \n", "4.2.07.000"}, // blanks around, lone LF
        {";x\r\nversion: 1.0\r", "1.0"},
        {"version: 4.2.06.000", ""}, // no line end after it
        {"version: -\r\n", ""},
        {"version:4.2\r\n", ""}, // the blank belongs to the key
        {"no version here\r\n", ""},
        {"", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(RulesFile::versionOf(c.text), c.version);
    }
}

TEST(RulesVersion, ComparesNumberByNumber)
{
    struct Case {
        const char* a;
        const char* b;
        int sign;
    } cases[] = {
        {"4.2.06.000", "4.2.10.000", -1},
        {"10.0", "4.2", 1},
        {"4.9.0", "4.10.0", -1},
        {"4.2", "4.2.0", 0},
        {"4.02", "4.2.000", 0},
        {"4.2.06.000", "4.2.06.000", 0},
        {"4.2.07.000", "4.2.06.000", 1},
        {"99999999999999999999.1", "99999999999999999998.9", 1}, // no number is too long to compare
        // anything but numbers and dots is older than every version of that form
        {"\xff", "0.1", -1},
        {"4.2.06.000 ", "1", -1},
        {"4..2", "1", -1},
        {".4", "1", -1},
        {"4.", "1", -1},
        {"", "", 0},
        {"\xE9", "z", 1}, // two such versions compare byte by byte, unsigned
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
        int r = RulesFile::compareVersions(c.a, c.b);
        EXPECT_EQ((r > 0) - (r < 0), c.sign);
        r = RulesFile::compareVersions(c.b, c.a);
        EXPECT_EQ((r > 0) - (r < 0), -c.sign);
    }
}

TEST(RulesLookup, FindsKeysOnlyInsideTheirSectionBody)
{
    rules::TemplateVars vars;
    RulesFile rulesFile(vars);
    rulesFile.useText("top: not a section, first line\r\n"
                      " k: top value\r\n"
                      "fetch1: rest of header\r\n"
                      " a: one\r\n"
                      "\r\n"
                      ";column-0 comment\r\n"
                      " ;indented comment\r\n"
                      "  two: two leading blanks\r\n"
                      " three:no blank after colon\r\n"
                      " url: http://x.example:8080/a: b\r\n"
                      " lead:  starts with a blank\r\n"
                      " a: second a\r\n"
                      " last: before the end\r\n"
                      "other:\r\n"
                      " after: in other\r\n"
                      "fetch1x:\r\n"
                      " fx: ok\r\n"
                      "end-of-rules\r\n"
                      " tail: after the end\r\n"
                      "none:\r\n"
                      " k: at the very end");
    struct Case {
        const char* section;
        const char* key;
        const char* value;
    } cases[] = {
        {"fetch1", "a", "one"}, // first occurrence
        {"fetch1", "url", "http://x.example:8080/a: b"},
        {"fetch1", "lead", " starts with a blank"},
        {"fetch1", "last", "before the end"},
        {"fetch1", "two", ""},
        {"fetch1", "three", ""},
        {"fetch1", "after", ""}, // the next header ends the body
        {"other", "after", "in other"},
        {"other", "tail", ""},
        {"fetch1x", "fx", "ok"},
        {"Fetch1", "a", ""}, // names match exactly
        {"top", "k", ""},    // a header on the first line is never found
        {"none", "k", "at the very end"},
        {"missing", "a", ""},
        {"fetch1", "missing", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.section) + "/" + c.key);
        EXPECT_EQ(rulesFile.lookup(c.section, c.key), c.value);
    }
}

TEST(RulesLookup, AppliesEscapesThenVariables)
{
    rules::TemplateVars vars;
    RulesFile rulesFile(vars);
    core::Entry entry(core::k_noDay);
    entry.RegNum = "12-3";
    entry.SerNum = "[RegNum]"; // a value put in is never scanned again
    rules::CurrentEntryScope scope(vars, &entry);

    struct Case {
        const char* raw;
        const char* expected;
    } cases[] = {
        {"a\\r\\nb", "a\r\nb"},
        {"a\\\\b", "a\\b"},
        {"a\\\\r\\\\nb", "a\\r\\nb"}, // doubled backslashes are no line end
        {"entry=[RegNum]", "entry=12-3"},
        {"entry=[regnum#-=]", "entry=123"},
        {"[RegNum#-=+#1=one#2]", "one2+3"}, // edits in order; one without "=" ignored
        {"[RegNum#=x]", "12-3"},            // an empty from does nothing
        {"[SerNum]x", "[RegNum]x"},
        {"[IntNum]", "-"}, // empty value
        {"[NoSuchName]", "[NoSuchName]"},
        {"[NoSuch#a=b]", "[NoSuch]"}, // edits apply to what comes back
        {"<b>A:</b>[*2# -= - ]<br/>[-]x[--]y[*]", "<b>A:</b>[*2# -= - ]<br/>[-]x[--]y[*]"},
        {"a[[]b[]]c", "a[[]b[]]c"},
        {"[[RegNum]", "[[RegNum]"}, // the name is "[RegNum"
        {"x[RegNum", "x[RegNum"},
        {"[RegNum][RegNum]", "12-312-3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.raw);
        rulesFile.useText(std::string("x\r\nsec:\r\n k: ") + c.raw + "\r\n");
        EXPECT_EQ(rulesFile.lookup("sec", "k"), c.expected);
    }
}

TEST(RulesLoad, KeepsTheFileOnlyWhenItIsNewer)
{
    struct Case {
        std::string fileText;
        bool fromFile;
    } cases[] = {
        {rulesWithVersion("4.2.06.000"), false}, // equal to the built-in version
        {rulesWithVersion("4.2.05.999"), false},
        {rulesWithVersion("4.2.07.000"), true},
        {"location:\r\n rules: x\r\n", false}, // no version at all
        {"", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fileText);
        test::TempDir dir;
        writeRulesFile(dir, c.fileText);
        rules::TemplateVars vars;
        RulesFile rulesFile(vars);
        rulesFile.load(dir.path());
        EXPECT_EQ(rulesFile.loadedFromFile(), c.fromFile);
        EXPECT_EQ(rulesFile.text(), c.fromFile ? c.fileText : std::string(RulesFile::defaultText()));
        EXPECT_EQ(rulesFile.version(), RulesFile::versionOf(rulesFile.text()));
        EXPECT_FALSE(rulesFile.mustSave());
        rulesFile.markDirtyIfFromFile();
        EXPECT_EQ(rulesFile.mustSave(), c.fromFile);
        // the file on disk is left alone
        EXPECT_EQ(platform::readFile(dir.file("Tarnwick/rules.txt")), c.fileText);
    }
}

TEST(RulesLoad, WithoutALoggingFolderUsesTheBuiltInText)
{
    rules::TemplateVars vars;
    RulesFile rulesFile(vars);
    rulesFile.useText(rulesWithVersion("9.9"));
    rulesFile.load("");
    EXPECT_EQ(rulesFile.text(), RulesFile::defaultText());
    EXPECT_FALSE(rulesFile.loadedFromFile());
}

TEST(RulesSave, WritesOnlyWhenTheTextMustBeSaved)
{
    test::TempDir dir;
    writeRulesFile(dir, rulesWithVersion("4.2.07.000"));
    rules::TemplateVars vars;
    RulesFile rulesFile(vars);
    rulesFile.load(dir.path());

    test::TempDir other;
    std::filesystem::create_directories(other.file("Tarnwick"));
    rulesFile.save(other.path());
    EXPECT_FALSE(platform::fileExists(other.file("Tarnwick/rules.txt")));

    // the configuration dialog moved the logging folder
    rulesFile.markDirtyIfFromFile();
    rulesFile.save(other.path());
    EXPECT_EQ(platform::readFile(other.file("Tarnwick/rules.txt")), rulesWithVersion("4.2.07.000"));

    // a downloaded text replaces the file in place
    rulesFile.accept(rulesWithVersion("4.2.08.000") + std::string("\0\xff", 2)); // bytes kept exactly
    EXPECT_TRUE(rulesFile.mustSave());
    EXPECT_EQ(rulesFile.version(), "4.2.08.000");
    rulesFile.save(dir.path());
    EXPECT_EQ(platform::readFile(dir.file("Tarnwick/rules.txt")), rulesFile.text());
}

TEST(RulesSave, IntoAMissingFolderWritesNothing)
{
    test::TempDir dir;
    rules::TemplateVars vars;
    RulesFile rulesFile(vars);
    rulesFile.accept(rulesWithVersion("4.2.08.000"));
    rulesFile.save(dir.path()); // no "Tarnwick" folder below it
    EXPECT_FALSE(std::filesystem::exists(dir.file("Tarnwick")));
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST(RulesLookup, EditsCannotGrowAValueWithoutBound)
{
    rules::TemplateVars vars;
    RulesFile rulesFile(vars);
    core::Entry entry(core::k_noDay);
    entry.RegNum = "12";
    rules::CurrentEntryScope scope(vars, &entry);
    std::string doubling;
    for (int i = 0; i < 24; ++i)
        doubling += "#1=11";
    rulesFile.useText("x\r\nsec:\r\n k: [RegNum" + doubling + "#2=two]\r\n");
    std::string value = rulesFile.lookup("sec", "k");
    EXPECT_LE(value.size(), rules::editLimit(2));
    EXPECT_GT(value.size(), rules::editLimit(2) / 2); // doubled until the next step would pass the limit
    EXPECT_TRUE(value.ends_with("1two"));
}
