#include "platform/files.h"
#include "rules/rulesfile.h"
#include "rules/templatevars.h"
#include "support/runcli.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <vector>

using namespace tarnwick;

namespace {

using test::CliRun;

CliRun runCli(const std::vector<std::string>& args)
{
    return test::runCliInProcess(args);
}

std::string page(const char* name)
{
    return std::string(TARNWICK_TEST_DATA) + "/" + name;
}

const std::string k_office = "Page: http://tarr.uspto.gov/servlet/tarr?regser=";

} // namespace

TEST(CliExtract, PrintsTheAddressAndEveryFieldOfEachPage)
{
    struct Case {
        const char* file;
        const char* number;
        int exitCode;
        std::string out;
        std::string err;
    } cases[] = {
        {"status-pending.html", "78123456", 0,
         k_office + "serial&entry=78-123456\n"
                    "SerNum: 78-123456\nRegNum: \nIntNum: \nTrademark: HARROWGATE HARVEST\n"
                    "StatusDate: 2004-03-02\nStatusText: Non-final action e-mailed.\n"
                    "LastHistory: 2004-03-02 - Non-final action e-mailed\n"
                    "FilingDate: 2003-09-22\nRegDate: \nPublishedDate: \nLawOffice: LAW OFFICE 112\n"
                    "Owner: Harrowgate & Lyle Provisions, Inc.\n"
                    "Attorney: MARGARET T. ELLWOOD (ATTORNEY OF RECORD)|ELLWOOD & PRATT LLP|"
                    "200 HARBOR STREET, SUITE 4|BOSTON MA 02110\n"
                    "Location: 2004-03-05 - 650 - Publication And Issue Section\n",
         ""},
        {"status-newly-filed.html", "78/999,001", 0,
         k_office + "serial&entry=78-999001\n"
                    "SerNum: 78-999001\nRegNum: \nIntNum: \nTrademark: \n"
                    "StatusDate: - (NOT AVAILABLE)\nStatusText: \n"
                    "LastHistory: \?\?\?\?-\?\?-\?\? - Not found in the TARR database.\n"
                    "FilingDate: \nRegDate: \nPublishedDate: \nLawOffice: \nOwner: \nAttorney: \n"
                    "Location: 2004-06-11 - 900 - File Repository (Franconia)\n",
         ""},
        {"status-international.html", "I0823417", 0,
         k_office + "internationalreg&entry=0823417\n"
                    "SerNum: 79-004512\nRegNum: 2987654\nIntNum: 0823417\nTrademark: KVARNSTR&Ouml;M BL\xC5\n"
                    "StatusDate: 2005-01-18\nStatusText: Registered. - Protection extended under the Madrid Protocol.\n"
                    "LastHistory: 2005-01-18 - Registered - Principal Register\n"
                    "FilingDate: 2004-05-10\nRegDate: 2005-01-18\nPublishedDate: 2004-10-26\n"
                    "LawOffice: LAW OFFICE 108\nOwner: Kvarnstr&ouml;m Textil AB\n"
                    "Attorney: OLOF LINDQVIST|NORDSTRAND & PARTNERS|1 KUNGSPORTSPLATSEN|GOTEBORG 411 10|SWEDEN\n"
                    "Location: 2005-01-21 - 830 - Post Registration\n",
         ""},
        {"status-norecord.html", "1234567", 2, k_office + "registration&entry=1234567\nNo record.\n", ""},
        {"status-truncated.html", "78123456", 1, k_office + "serial&entry=78-123456\n",
         "The trademark office webpage is not complete. You might want to try again.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        CliRun run = runCli({"extract", page(c.file), "--number", c.number});
        EXPECT_EQ(run.exit, c.exitCode);
        EXPECT_EQ(run.out, c.out);
        EXPECT_EQ(run.err, c.err);
    }
}

TEST(CliExtract, UsesARulesFileWithATailPattern)
{
    // the oldest history line: the one nearest before the rule under the history
    std::string text(rules::RulesFile::defaultText());
    const std::string line = " [LastHistory]: near the top of this page.</b><br/><br/></center>[*]<br/>\r\n";
    size_t at = text.find(line);
    ASSERT_NE(at, std::string::npos);
    text.replace(at, line.size(), " [LastHistory]: <b>PROSECUTION HISTORY</b>[--]\\r\\n[*]<br/>\\r\\n<hr/>\r\n");
    test::TempDir dir;
    ASSERT_TRUE(platform::writeFileAtomic(dir.file("rules.txt"), text));

    CliRun run = runCli({"extract", page("status-international.html"), "--rules", dir.file("rules.txt")});
    EXPECT_EQ(run.exit, 0) << run.err;
    EXPECT_NE(run.out.find("\nLastHistory: 2004-05-14 - New Application Entered In Tram\n"), std::string::npos)
        << run.out;
    EXPECT_TRUE(run.out.starts_with(k_office + "internationalreg&entry=-\n")) << run.out;
}

TEST(CliExtract, RefusesBadArgumentsWithOneLine)
{
    struct Case {
        std::vector<std::string> args;
        std::string errStart;
    } cases[] = {
        {{"extract", page("no-such-page.html")}, "tarnwick-cli: cannot read "},
        {{"extract", page("status-pending.html"), "--rules", page("no-such-rules.txt")},
         "tarnwick-cli: cannot read rules file " + page("no-such-rules.txt") + ": "},
        {{"extract", page("status-pending.html"), "--number", "75-12345"}, "tarnwick-cli: 75-12345: Invalid"},
        {{"extract"}, "usage: "},
        {{"extract", page("status-pending.html"), "--number"}, "usage: "},
        {{"match", page("status-pending.html")}, "usage: "},
        {{"match", page("no-such-page.html"), "x"}, "tarnwick-cli: cannot read "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.back());
        CliRun run = runCli(c.args);
        EXPECT_EQ(run.exit, 1);
        EXPECT_EQ(run.out, "");
        EXPECT_TRUE(run.err.starts_with(c.errStart)) << run.err;
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
    }
}

TEST(CliMatch, PrintsWhatAPatternYieldsOnTheNormalisedPage)
{
    struct Case {
        const char* pattern;
        std::string out;
    } cases[] = {
        {"<b>Serial Number:</b>[*]<br/>", "78123456"},
        {"<b>Correspondent</b><br/>[*#<br/>=|]<br/><br/><hr/>",
         "\r\nMARGARET T. ELLWOOD (ATTORNEY OF RECORD)|ELLWOOD &amp; PRATT LLP|200 HARBOR STREET, SUITE 4|BOSTON MA "
         "02110"},
        {"PROSECUTION HISTORY</b>[--]<br/>\r\n[*]<br/>\r\n<hr/>", "\r\n2003-09-29 - New Application Entered In Tram"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern);
        CliRun run = runCli({"match", page("status-pending.html"), c.pattern});
        EXPECT_EQ(run.exit, 0);
        EXPECT_EQ(run.out, c.out);
        EXPECT_EQ(run.err, "");
    }
}

TEST(CliRules, UseOfficeXmlAndBackToTheBuiltInRules)
{
    test::TempDir dir;
    const std::string settings = dir.file("settings.ini");
    const std::string logDir = dir.file("logs");
    const std::string rulesPath = logDir + "/Tarnwick/rules.txt";
    ASSERT_EQ(::mkdir(logDir.c_str(), 0700), 0);
    rules::TemplateVars vars;
    rules::RulesFile loaded(vars);
    const std::string builtInVersion = rules::RulesFile::versionOf(rules::RulesFile::defaultText());

    struct Step {
        std::vector<std::string> args;
        int exit;
        bool fileAfter;
        std::string versionInUse; // after loading the logging folder's rules
    } steps[] = {
        {{"rules", "use", "office-xml"}, 1, false, builtInVersion}, // no logging folder set yet
        {{"config", "set", "LogDir", logDir}, 0, false, builtInVersion},
        {{"rules", "use", "office-xml"}, 0, true, "5.0.00.000"},
        {{"rules", "use", "office-xml"}, 0, true, "5.0.00.000"}, // over its own file
        {{"rules", "use", "others"}, 1, true, "5.0.00.000"},
        {{"rules", "use", "built-in"}, 0, false, builtInVersion},
        {{"rules", "use", "built-in"}, 0, false, builtInVersion}, // nothing left to remove
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.args.back());
        CliRun run = test::runCliInProcess(s.args, settings);
        EXPECT_EQ(run.exit, s.exit) << run.err;
        EXPECT_EQ(platform::fileExists(rulesPath), s.fileAfter);
        if (s.fileAfter) {
            EXPECT_EQ(platform::readFile(rulesPath), std::string(rules::RulesFile::officeXmlText()));
        }
        loaded.load(logDir);
        EXPECT_EQ(loaded.version(), s.versionInUse);
    }
    // the file was written by rename: no temporary is left beside it
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(logDir + "/Tarnwick"), {}), 0);
}
