#include "rules/templatevars.h"

#include "core/entry.h"
#include "rules/rulesfile.h"

#include <gtest/gtest.h>

#include <map>

using namespace tarnwick;
using rules::TemplateVars;

namespace {

class FakeAppNames : public TemplateVars::AppNames {
public:
    std::optional<std::string> value(std::string_view name) const override
    {
        auto it = m_values.find(std::string(name));
        if (it == m_values.end())
            return std::nullopt;
        return it->second;
    }
    std::map<std::string, std::string> m_values;
};

core::Entry makeEntry(std::string regNum, std::string status, std::string reference)
{
    core::Entry e(core::k_noDay);
    e.RegNum = std::move(regNum);
    e.StatusText = std::move(status);
    e.Reference = std::move(reference);
    return e;
}

} // namespace

TEST(TemplateVarsLookup, FollowsLookupOrderAndMarksUnknownAndEmpty)
{
    FakeAppNames app;
    app.m_values = {{"AppName", "Tarnwick"}, {"Reference", "from the application"}, {"OrgName", ""}};
    core::Entry current = makeEntry("1234567", "Registered.", "");
    core::Entry previous = makeEntry("1234567", "Published.", "DOCKET-7");

    TemplateVars vars;
    vars.setAppNames(&app);
    rules::CurrentEntryScope scope(vars, &current, &previous);

    struct Case {
        const char* name;
        const char* expected;
    } cases[] = {
        {"AppName", "Tarnwick"},
        {"Reference", "from the application"}, // application names come first
        {"OrgName", "-"},                      // empty value
        {"regnum", "1234567"},                 // names compare without regard to case
        {"StatusText", "Registered."},
        {"StatusTextOld", "Published."},
        {"referenceOLD", "DOCKET-7"},
        {"NoSuchName", "[NoSuchName]"},
        {"NoSuchNameOld", "[NoSuchNameOld]"},
        {"Old", "[Old]"}, // three letters are never an Old-suffixed name
        {"", "[]"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(vars.lookup(c.name), c.expected);
    }
    EXPECT_FALSE(vars.find("NoSuchName").has_value());
    EXPECT_EQ(vars.find("OrgName"), std::string());
}

TEST(TemplateVarsLookup, OldNamesNeedAPreviousEntry)
{
    core::Entry current = makeEntry("1", "x", "");
    TemplateVars vars;
    vars.setCurrent(&current);
    EXPECT_EQ(vars.lookup("ReferenceOld"), "[ReferenceOld]");
    EXPECT_EQ(vars.lookup("AllChanges"), "[AllChanges]");
    vars.setCurrent(nullptr);
    EXPECT_EQ(vars.lookup("RegNum"), "[RegNum]");
}

TEST(TemplateVarsLookup, RulesVersionComesFromTheRulesUnlessTheApplicationAnswers)
{
    TemplateVars vars;
    EXPECT_EQ(vars.lookup("RulesVersion"), "[RulesVersion]");
    {
        rules::RulesFile rulesFile(vars);
        rulesFile.useText("version: 5.0.01.000\r\n");
        EXPECT_EQ(vars.lookup("rulesversion"), "5.0.01.000");
        FakeAppNames app;
        app.m_values = {{"RulesVersion", "from the application"}};
        vars.setAppNames(&app);
        EXPECT_EQ(vars.lookup("RulesVersion"), "from the application");
        vars.setAppNames(nullptr);
    }
    // the rules are gone with their holder
    EXPECT_EQ(vars.lookup("RulesVersion"), "[RulesVersion]");
}

TEST(TemplateVarsAllChanges, ListsEachDifferingWatchedFieldInOrder)
{
    core::Entry now = makeEntry("1234567", "Registered.", "A-1");
    core::Entry was = now;
    TemplateVars vars;
    rules::CurrentEntryScope scope(vars, &now, &was);
    EXPECT_EQ(vars.lookup("AllChanges"), "-");

    was.StatusText = "Published.";
    was.Reference = "A-0";
    was.IntNum = "0812345"; // not watched
    was.StatusDate = "2004-01-01";
    EXPECT_EQ(vars.lookup("allchanges"), "Reference (now): A-1\r\nReference (was): A-0\r\n\r\n"
                                         "Status (now): Registered.\r\nStatus (was): Published.");
}
