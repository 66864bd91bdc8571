#include "rules/applyrules.h"

#include "core/entry.h"
#include "rules/rulesfile.h"
#include "rules/templatevars.h"

#include <gtest/gtest.h>

using namespace tarnwick;

namespace {

// A page in normalised form carrying every anchor of the built-in rules.
std::string fullPage(const std::string& serial = "75123456", const std::string& status = "Registered.",
                     const std::string& history = "2004-05-18 - Registered - Principal Register")
{
    return "<td><b>Serial Number:</b>" + serial +
           "<br/>\r\n"
           "<td><b>Registration Number:</b>2851234<br/>\r\n"
           "<td>Mark<b>(words only):</b>ACME<br/>\r\n"
           "<td><b>Current Status:</b>" +
           status +
           "<br/>\r\n<b>Date of Status:</b>2004-05-18<br/>\r\n"
           "<td><b>Filing Date:</b>2002-01-10<br/>\r\n"
           "<td><b>Registration Date:</b>2004-05-18<br/>\r\n"
           "<td><b>The Information will be/was published in the Official Gazette on</b>2003-02-25<br/>\r\n"
           "<td><b>Law Office Assigned:</b>LAW OFFICE 101<br/>\r\n"
           "<center><b>LAST APPLICANT(S)/OWNER(S) OF RECORD</b></center>1. Acme Corp.<br/>\r\n"
           "<b>Correspondent</b><br/>\r\nJ. DOE<br/>\r\nDOE LLP<br/>\r\n<br/>\r\n<hr/>"
           "<center><b>PROSECUTION HISTORY</b><br/>\r\n"
           "<b>NOTE: see the link to \"Documents\" near the top of this page.</b><br/>\r\n<br/>\r\n</center>\r\n" +
           history +
           "<br/>\r\n"
           "<b>Current Location:</b>830 -Post Registration<br/>\r\n<b>Date In Location:</b>2004-05-20<br/>\r\n";
}

class ApplyRules : public ::testing::Test {
protected:
    ApplyRules() : m_rules(m_vars) { m_entry.Reference = "DOCKET-1"; }

    std::string apply(const std::string& page) { return apply(std::vector<std::string>{page}); }
    std::string apply(const std::vector<std::string>& pages)
    {
        std::vector<std::string> addresses(pages.size(), "http://127.0.0.1/");
        return rules::applyRules(m_entry, addresses, pages, pages, m_rules, m_vars);
    }

    rules::TemplateVars m_vars;
    rules::RulesFile m_rules;
    core::Entry m_entry{core::k_noDay};
};

} // namespace

TEST_F(ApplyRules, ReadsEveryFieldOfAStatusPage)
{
    EXPECT_EQ(apply(fullPage()), "");
    EXPECT_EQ(m_entry.SerNum, "75-123456");
    EXPECT_EQ(m_entry.RegNum, "2851234");
    EXPECT_EQ(m_entry.IntNum, "");
    EXPECT_EQ(m_entry.Trademark, "ACME");
    EXPECT_EQ(m_entry.StatusDate, "2004-05-18");
    EXPECT_EQ(m_entry.StatusText, "Registered.");
    EXPECT_EQ(m_entry.FilingDate, "2002-01-10");
    EXPECT_EQ(m_entry.RegDate, "2004-05-18");
    EXPECT_EQ(m_entry.PublishedDate, "2003-02-25");
    EXPECT_EQ(m_entry.LawOffice, "LAW OFFICE 101");
    EXPECT_EQ(m_entry.Owner, "Acme Corp.");
    EXPECT_EQ(m_entry.Attorney, "J. DOE|DOE LLP");
    EXPECT_EQ(m_entry.LastHistory, "2004-05-18 - Registered - Principal Register");
    EXPECT_EQ(m_entry.Location, "2004-05-20 - 830 - Post Registration");
    EXPECT_EQ(m_entry.Reference, "DOCKET-1");
    EXPECT_EQ(m_vars.current(), nullptr); // the entry is current only while the rules run
}

TEST_F(ApplyRules, ExtraStepsOnSerialNumberStatusAndHistory)
{
    struct Case {
        std::string serial, status, history;
        std::string serNum, statusDate, statusText, lastHistory;
    } cases[] = {
        {"75123456", "Registered. - Renewed", "x", "75-123456", "2004-05-18", "Registered. - Renewed", "x"},
        {"7", "Registered.", "(NOT AVAILABLE)", "7", "2004-05-18", "Registered.",
         "\?\?\?\?-\?\?-\?\? - Not found in the TARR database."},
        // an empty status leaves the trimmed separator on the date
        {"", "", "", "", "2004-05-18 -", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.serial + "|" + c.status + "|" + c.history);
        EXPECT_EQ(apply(fullPage(c.serial, c.status, c.history)), "");
        EXPECT_EQ(m_entry.SerNum, c.serNum);
        EXPECT_EQ(m_entry.StatusDate, c.statusDate);
        EXPECT_EQ(m_entry.StatusText, c.statusText);
        EXPECT_EQ(m_entry.LastHistory, c.lastHistory);
    }
}

TEST_F(ApplyRules, StatusWithoutSeparatorGoesWholeIntoTheDate)
{
    m_rules.useText("x\r\nfetch1:\r\n [Status]: S:[*]<br/>\r\n");
    m_entry.StatusText = "old";
    EXPECT_EQ(apply("S:Registered<br/>\r\n"), "");
    EXPECT_EQ(m_entry.StatusDate, "Registered");
    EXPECT_EQ(m_entry.StatusText, "");
    EXPECT_EQ(m_entry.Owner, ""); // fields without a pattern are emptied
}

TEST_F(ApplyRules, RefusedPagesLeaveTheEntryUnchanged)
{
    const std::string page = fullPage();
    const std::string noRecord = "PLEASE double check THE NUMBER and re-enter.";
    struct Case {
        const char* what;
        std::vector<std::string> pages;
        std::string message;
        bool noRecord;
    } cases[] = {
        {"no page at all", {}, rules::k_noDataMessage, false},
        {"empty page", {""}, rules::k_noDataMessage, false},
        {"no record, other capitals", {"<p>" + noRecord}, "", true},
        {"no record wins over a complete page", {page + noRecord}, "", true},
        {"without the required text",
         {page.substr(0, page.find("<center><b>PROSECUTION"))},
         rules::k_incompletePageMessage,
         false},
        {"required text in other capitals", {"<B>Prosecution History</B>"}, "", false},
        {"only the first page is read", {"", page}, rules::k_noDataMessage, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        m_entry.SerNum = "untouched";
        m_entry.Trademark = "untouched";
        rules::RulesOutcome outcome = rules::applyRulesWithOutcome(m_entry, {}, c.pages, c.pages, m_rules, m_vars);
        EXPECT_EQ(outcome.message, c.message);
        EXPECT_EQ(outcome.noRecord, c.noRecord);
        EXPECT_EQ(apply(c.pages), c.message);
        if (c.noRecord || !c.message.empty()) {
            EXPECT_EQ(m_entry.SerNum, "untouched");
            EXPECT_EQ(m_entry.Trademark, "untouched");
        }
    }
}

TEST_F(ApplyRules, EmptyNoneDisablesTheNoRecordTestAndEmptyRequiredPassesEveryPage)
{
    m_rules.useText("x\r\nfetch1:\r\n none: \r\n required: \r\n [Trademark]: T:[*]<br/>\r\n");
    rules::RulesOutcome outcome =
        rules::applyRulesWithOutcome(m_entry, {}, {"T:ACME<br/>\r\n"}, {"T:ACME<br/>\r\n"}, m_rules, m_vars);
    EXPECT_FALSE(outcome.noRecord);
    EXPECT_EQ(outcome.message, "");
    EXPECT_EQ(m_entry.Trademark, "ACME");
}

TEST_F(ApplyRules, PatternsSeeTheEntryBeingRead)
{
    // the registration number read earlier is a variable in a later pattern
    m_rules.useText("x\r\nfetch1:\r\n [RegNum]: R:[*]<br/>\r\n [Trademark]: [RegNum]:[*]<br/>\r\n");
    EXPECT_EQ(apply("R:42<br/>\r\n41:no<br/>\r\n42:yes<br/>\r\n"), "");
    EXPECT_EQ(m_entry.Trademark, "yes");
}

TEST(PageAddress, PrefersRegistrationThenApplicationThenInternational)
{
    rules::TemplateVars vars;
    rules::RulesFile rulesFile(vars);
    struct Case {
        const char* serNum;
        const char* regNum;
        const char* intNum;
        const char* ending;
    } cases[] = {
        {"75-123456", "1234567", "0812345", "regser=registration&entry=1234567"},
        {"75-123456", "", "0812345", "regser=serial&entry=75-123456"},
        {"", "", "0812345", "regser=internationalreg&entry=0812345"},
        {"", "", "", "regser=internationalreg&entry=-"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ending);
        core::Entry entry(core::k_noDay);
        entry.SerNum = c.serNum;
        entry.RegNum = c.regNum;
        entry.IntNum = c.intNum;
        std::vector<std::string> addresses{"first"};
        EXPECT_EQ(rules::addPageAddress(entry, addresses, rulesFile, vars), "");
        ASSERT_EQ(addresses.size(), 2u);
        EXPECT_TRUE(addresses[1].ends_with(c.ending)) << addresses[1];
        EXPECT_TRUE(addresses[1].starts_with("http://"));
    }
}

TEST(PageAddress, IsTheStatusUrlVariable)
{
    rules::TemplateVars vars;
    rules::RulesFile rulesFile(vars);
    rules::installStatusUrlProvider(rulesFile, vars);
    core::Entry entry(core::k_noDay);
    entry.RegNum = "1234567";
    core::Entry previous(core::k_noDay);
    previous.SerNum = "75-123456";
    rules::CurrentEntryScope scope(vars, &entry, &previous);
    EXPECT_TRUE(vars.lookup("StatusUrl").ends_with("entry=1234567"));
    EXPECT_TRUE(vars.lookup("StatusUrlOld").ends_with("entry=75-123456"));
    EXPECT_EQ(vars.current(), &entry);
    EXPECT_EQ(vars.previous(), &previous);

    // an address that names itself does not recurse without end
    rulesFile.useText("x\r\nfetch1:\r\n page[RegNum]: <[StatusUrl]>\r\n");
    EXPECT_EQ(vars.lookup("StatusUrl"), "<->");
    core::setStatusUrlProvider(nullptr);
}
