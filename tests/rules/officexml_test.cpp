#include "core/entry.h"
#include "core/text.h"
#include "platform/files.h"
#include "rules/applyrules.h"
#include "rules/dates.h"
#include "rules/pagetext.h"
#include "rules/pattern.h"
#include "rules/requestrules.h"
#include "rules/rulesfile.h"
#include "rules/templatevars.h"

#include <gtest/gtest.h>

using namespace tarnwick;

namespace {

const std::string k_unknown = "\?\?\?\?-\?\?-\?\?";

std::string record(const std::string& name)
{
    return platform::readFile(std::string(TARNWICK_TEST_DATA) + "/office-records/" + name).value_or("");
}

} // namespace

TEST(RulesExtension, YearFirstDateFormat)
{
    struct Case {
        const char* captured;
        const char* format;
        std::string expected;
    } cases[] = {
        {"2010-09-08-04:00", "yyyy?mm?dd", "2010-09-08"},
        {"2004-03-23", "YYYY?MM?DD", "2004-03-23"},
        {"2004-03-2", "yyyy?mm?dd", k_unknown},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.captured);
        EXPECT_EQ(rules::convertDate(c.captured, c.format), c.expected);
    }
}

TEST(RulesExtension, AlternativesTakeTheFirstThatMatches)
{
    struct Case {
        const char* what;
        std::string page;
        std::string pattern;
        std::string expected;
    } cases[] = {
        {"the first alternative that matches", "<b>B</b>", "<a>[*]<[||]<b>[*]<", "B"},
        {"an earlier match wins, even when empty", "<a></a><b>B</b>", "<a>[*]<[||]<b>[*]<", ""},
        {"none matches", "<c>C</c>", "<a>[*]<[||]<b>[*]<", ""},
        {"each alternative has its own tail", "<x>1<y>2<y>3<z>", "<q>[*]<[||]<x>[-][--]<y>[*]<z>", "3"},
        {"a failed alternative leaves no slots behind", "<a>A<b>B</b>", "<a>[*2]<b>[-]<q>[||]<b>[*]<", "B"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(rules::matchPattern(c.page, c.pattern), c.expected);
    }
    // the none and required texts are alternatives too
    EXPECT_TRUE(rules::containsAlternative("x</B>y", "</a>[||]</b>"));
    EXPECT_FALSE(rules::containsAlternative("x</c>y", "</a>[||]</b>"));
}

TEST(RulesExtension, JoinOperationJoinsTheTextsBetweenTags)
{
    struct Case {
        const char* what;
        std::string page;
        std::string pattern;
        std::string expected;
    } cases[] = {
        {"texts joined, empty elements and blank space dropped", "<c><n>A</n><e/>\r\n <s>B C</s></c>", "<c>[*#+|]</c>",
         "A|B C"},
        {"an unterminated tag at the end is dropped", "<c><n>A</n><s>B</s></x:c>", "<c>[*#+, ]c>", "A, B"},
        {"after the operations before it", "<c><n>A</n><s>B</s></c>", "<c>[*#A=<x>A#+/]</c>", "A/B"},
        {"a replacement stays a replacement", "<c>+1</c>", "<c>[*#+1=2]<", "2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(rules::matchPattern(c.page, c.pattern), c.expected);
    }
}

class OfficeXmlRules : public ::testing::Test {
protected:
    OfficeXmlRules() : m_rules(m_vars) { m_rules.useText(std::string(rules::RulesFile::officeXmlText())); }

    rules::RulesOutcome apply(core::Entry& entry, const std::string& raw)
    {
        std::vector<std::string> pages{rules::normalisePage(raw)};
        return rules::applyRulesWithOutcome(entry, {}, {raw}, pages, m_rules, m_vars);
    }

    rules::TemplateVars m_vars;
    rules::RulesFile m_rules;
};

TEST_F(OfficeXmlRules, ReadEveryFieldOfTheRealRecords)
{
    using Field = std::string core::Entry::*;
    const char* const files[] = {
        "001-tsdr-st66-sn76044902-python.xml",
        "002-tsdr-st96-sn76044902-python.xml",
        "003-tsdr-st96-sn73119597-red-onion-cancelled.xml",
        "004-tsdr-st66-sn87881347-burger-addict-pending.xml",
    };
    struct Row {
        int file;
        const char* name;
        Field field;
        std::string expected;
    } rows[] = {
        {0, "SerNum", &core::Entry::SerNum, "76-044902"},
        {0, "RegNum", &core::Entry::RegNum, "2824281"},
        {0, "IntNum", &core::Entry::IntNum, ""},
        {0, "Trademark", &core::Entry::Trademark, "PYTHON"},
        {0, "StatusDate", &core::Entry::StatusDate, "2010-09-08"},
        {0, "StatusText", &core::Entry::StatusText,
         "A Sections 8 and 15 combined declaration has been accepted and acknowledged."},
        {0, "FilingDate", &core::Entry::FilingDate, "2000-05-09"},
        {0, "RegDate", &core::Entry::RegDate, "2004-03-23"},
        {0, "PublishedDate", &core::Entry::PublishedDate, "2003-12-30"},
        {0, "LawOffice", &core::Entry::LawOffice, "LAW OFFICE 116"},
        {0, "Owner", &core::Entry::Owner, "PYTHON SOFTWARE FOUNDATION"},
        {0, "Attorney", &core::Entry::Attorney,
         "Leanne Stendell|HAYNES AND BOONE, LLP|SUITE 700|2323 VICTORY AVENUE|DALLAS|TEXAS|75219|US|UNITED STATES"},
        {0, "LastHistory", &core::Entry::LastHistory,
         "2010-09-08 - REGISTERED - SEC. 8 (6-YR) ACCEPTED & SEC. 15 ACK."},
        {0, "Location", &core::Entry::Location, "2010-09-08 - TMO LAW OFFICE 116"},

        {1, "SerNum", &core::Entry::SerNum, "76-044902"},
        {1, "RegNum", &core::Entry::RegNum, "2824281"},
        {1, "IntNum", &core::Entry::IntNum, ""},
        {1, "Trademark", &core::Entry::Trademark, "PYTHON"},
        {1, "StatusDate", &core::Entry::StatusDate, "2014-02-10"},
        {1, "StatusText", &core::Entry::StatusText, "The registration has been renewed."},
        {1, "FilingDate", &core::Entry::FilingDate, "2000-05-09"},
        {1, "RegDate", &core::Entry::RegDate, "2004-03-23"},
        {1, "PublishedDate", &core::Entry::PublishedDate, "2003-12-30"},
        {1, "LawOffice", &core::Entry::LawOffice, "LAW OFFICE 116"},
        {1, "Owner", &core::Entry::Owner, "PYTHON SOFTWARE FOUNDATION"},
        {1, "Attorney", &core::Entry::Attorney,
         "David A. Bell|HAYNES AND BOONE, LLP|SUITE 700|2323 VICTORY AVENUE|DALLAS|TEXAS|US|75219"},
        {1, "LastHistory", &core::Entry::LastHistory, "2014-02-10 - NOTICE OF ACCEPTANCE OF SEC. 8 & 9 - E-MAILED"},
        {1, "Location", &core::Entry::Location, "2014-02-10 - GENERIC WEB UPDATE"},

        {2, "SerNum", &core::Entry::SerNum, "73-119597"},
        {2, "RegNum", &core::Entry::RegNum, "1091135"},
        {2, "IntNum", &core::Entry::IntNum, ""},
        {2, "Trademark", &core::Entry::Trademark, "RED ONION MEXICAN RESTAURANT"},
        {2, "StatusDate", &core::Entry::StatusDate, "1985-08-16"},
        {2, "StatusText", &core::Entry::StatusText,
         "Registration cancelled because registrant did not file an acceptable declaration under Section 8. To view "
         "all documents in this file, click on the Trademark Document Retrieval link at the top of this page."},
        {2, "FilingDate", &core::Entry::FilingDate, "1977-03-21"},
        {2, "RegDate", &core::Entry::RegDate, "1978-05-09"},
        {2, "PublishedDate", &core::Entry::PublishedDate, ""},
        {2, "LawOffice", &core::Entry::LawOffice, ""},
        {2, "Owner", &core::Entry::Owner, "HOST INTERNATIONAL, INC."},
        {2, "Attorney", &core::Entry::Attorney, ""}, // the record's correspondent is a lone "?"
        {2, "LastHistory", &core::Entry::LastHistory, "1985-08-16 - CANCELLED SEC. 8 (6-YR)"},
        {2, "Location", &core::Entry::Location, "1994-03-20 - FILE DESTROYED"},

        {3, "SerNum", &core::Entry::SerNum, "87-881347"},
        {3, "RegNum", &core::Entry::RegNum, ""},
        {3, "IntNum", &core::Entry::IntNum, ""},
        {3, "Trademark", &core::Entry::Trademark, "BURGER ADDICT"},
        {3, "StatusDate", &core::Entry::StatusDate, "2018-08-27"},
        {3, "StatusText", &core::Entry::StatusText,
         "Approved by the examining attorney for publication but has not yet published for opposition. Although "
         "rare, withdrawal of approval prior to publication may occur after final review. The opposition period "
         "begins on the date of publication."},
        {3, "FilingDate", &core::Entry::FilingDate, "2018-04-17"},
        {3, "RegDate", &core::Entry::RegDate, ""},
        {3, "PublishedDate", &core::Entry::PublishedDate, ""},
        {3, "LawOffice", &core::Entry::LawOffice, "LAW OFFICE 112"},
        {3, "Owner", &core::Entry::Owner, "Burger Addict Renton LLC"},
        {3, "Attorney", &core::Entry::Attorney,
         "Stuart A. Heller|Law Office of Stuart A. Heller|6127 NE Keswick Drive|Seattle|WASHINGTON|98105|US|"
         "UNITED STATES"},
        {3, "LastHistory", &core::Entry::LastHistory, "2018-08-27 - APPROVED FOR PUB - PRINCIPAL REGISTER"},
        {3, "Location", &core::Entry::Location, "2018-08-27 - TMO LAW OFFICE 112 - EXAMINING ATTORNEY ASSIGNED"},
    };
    std::vector<core::Entry> entries;
    for (const char* file : files) {
        SCOPED_TRACE(file);
        const std::string raw = record(file);
        ASSERT_FALSE(raw.empty());
        entries.emplace_back(core::k_noDay);
        rules::RulesOutcome outcome = apply(entries.back(), raw);
        EXPECT_EQ(outcome.message, "");
        EXPECT_FALSE(outcome.noRecord);
    }
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(files[r.file]) + " " + r.name);
        EXPECT_EQ(entries[static_cast<size_t>(r.file)].*r.field, r.expected);
    }
}

// The records are UTF-8: a letter whose last byte is 0xA0 (à, Š, Р, †) reaches the owner and the attorney whole.
TEST_F(OfficeXmlRules, Utf8LettersEndingInA0StayWhole)
{
    const std::string letters = "CAF\xC3\x89 \xC3\xA0 LA \xC5\xA0KODA \xD0\xA0OSA \xE2\x80\xA0";
    std::string raw = record("001-tsdr-st66-sn76044902-python.xml");
    raw = core::replaceAll(raw, "PYTHON SOFTWARE FOUNDATION", letters + "\xC2\xA0");
    raw = core::replaceAll(raw, "HAYNES AND BOONE, LLP", letters);
    core::Entry entry(core::k_noDay);
    EXPECT_EQ(apply(entry, raw).message, "");
    EXPECT_EQ(entry.Owner, letters);
    EXPECT_EQ(entry.Attorney,
              "Leanne Stendell|" + letters + "|SUITE 700|2323 VICTORY AVENUE|DALLAS|TEXAS|75219|US|UNITED STATES");
}

TEST_F(OfficeXmlRules, TellANoRecordAnswerAndAnIncompleteRecord)
{
    const std::string st66 = record("004-tsdr-st66-sn87881347-burger-addict-pending.xml");
    const std::string st96 = record("003-tsdr-st96-sn73119597-red-onion-cancelled.xml");
    struct Case {
        const char* what;
        std::string raw;
        std::string message;
        bool noRecord;
    } cases[] = {
        {"ST.66 cut short", st66.substr(0, st66.size() - 20), rules::k_incompletePageMessage, false},
        {"ST.96 cut short", st96.substr(0, st96.size() - 20), rules::k_incompletePageMessage, false},
        {"ST.96 with another prefix", "<tmk:TrademarkTransaction><tmk:X/></tmk:TrademarkTransaction>", "", false},
        {"a transaction without a case",
         "<ns2:TrademarkTransaction x=\"1\"><ns2:TrademarkTransactionBody /></ns2:TrademarkTransaction>", "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        core::Entry entry(core::k_noDay);
        entry.Trademark = "untouched";
        rules::RulesOutcome outcome = apply(entry, c.raw);
        EXPECT_EQ(outcome.message, c.message);
        EXPECT_EQ(outcome.noRecord, c.noRecord);
        if (!c.message.empty() || c.noRecord) {
            EXPECT_EQ(entry.Trademark, "untouched");
        }
    }
}

TEST_F(OfficeXmlRules, AddressesTheCaseStatusServiceWithAnApiKeyAndAPace)
{
    struct Case {
        const char* serNum;
        const char* regNum;
        const char* intNum;
        const char* address;
    } cases[] = {
        {"87-881347", "", "", "https://tsdrapi.uspto.gov/ts/cd/casestatus/sn87881347/info.xml"},
        {"76-044902", "2824281", "", "https://tsdrapi.uspto.gov/ts/cd/casestatus/rn2824281/info.xml"},
        {"", "", "0823417", "https://tsdrapi.uspto.gov/ts/cd/casestatus/ir0823417/info.xml"},
    };
    for (const Case& c : cases) {
        core::Entry entry(core::k_noDay);
        entry.SerNum = c.serNum;
        entry.RegNum = c.regNum;
        entry.IntNum = c.intNum;
        EXPECT_EQ(rules::pageAddress(entry, m_rules, m_vars), c.address);
    }
    EXPECT_EQ(rules::requestHeaders(m_rules), std::vector<std::string>{"USPTO-API-KEY: [ApiKey]"});
    EXPECT_EQ(rules::requestIntervalMs(m_rules), 1100);
}

TEST(RequestRules, HeaderLinesAndIntervalAreRulesValues)
{
    rules::TemplateVars vars;
    rules::RulesFile rulesFile(vars);
    struct Case {
        const char* what;
        std::string text;
        std::vector<std::string> headers;
        int intervalMs;
    } cases[] = {
        {"the built-in rules ask for neither", std::string(rules::RulesFile::defaultText()), {}, 0},
        {"header lines in order, comments and other lines left out",
         "v\r\nheader:\r\n A: 1\r\n ;B: 2\r\n\r\n  C: 3\r\n D:4\r\n E: x\\r\\ny\r\n F G: 5\r\n H: \r\n I: 6\r\n"
         "fetch1:\r\n interval: 250\r\n",
         {"A: 1", "I: 6"},
         250},
        {"a variable in a value", "v\r\nheader:\r\n K: [RulesVersion]\r\nversion: 7\r\n", {"K: 7"}, 0},
        {"an interval that is no plain number", "v\r\nfetch1:\r\n interval: 1.5s\r\n", {}, 0},
        {"an interval past the most", "v\r\nfetch1:\r\n interval: 999999999\r\n", {}, rules::k_maxRequestIntervalMs},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        rulesFile.useText(c.text);
        EXPECT_EQ(rules::requestHeaders(rulesFile), c.headers);
        EXPECT_EQ(rules::requestIntervalMs(rulesFile), c.intervalMs);
    }
}

TEST(RequestRules, ApiKeyResolvesOnlyInTheRequestHeaders)
{
    rules::TemplateVars vars;
    rules::RulesFile rulesFile(vars);
    rulesFile.useText("v\r\nheader:\r\n USPTO-API-KEY: [ApiKey]\r\n X-Key: k=[ApiKey]\r\n Y: 1\r\n");
    struct Case {
        std::string key;
        bool overTls;
        std::vector<std::string> headers;
    };
    const Case cases[] = {
        {"k3y", true, {"USPTO-API-KEY: k3y", "X-Key: k=k3y", "Y: 1"}},
        {"", true, {"Y: 1"}},     // no key: no header that names it
        {"k3y", false, {"Y: 1"}}, // the key never goes in clear
    };
    for (const Case& c : cases)
        EXPECT_EQ(rules::requestHeaders(rulesFile, vars, c.key, c.overTls), c.headers) << c.key << c.overTls;
    // anywhere else the name is unknown
    EXPECT_EQ(vars.lookup("ApiKey"), "[ApiKey]");
    EXPECT_EQ(rulesFile.expandValue("[ApiKey]"), "[ApiKey]");
}
