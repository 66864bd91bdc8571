#include "notify/usertemplates.h"

#include "base/settings.h"
#include "notify/appnames.h"
#include "notify/templates.h"
#include "platform/files.h"
#include "rules/templatevars.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace tarnwick;
namespace id = notify::templateid;

namespace {

class UserTemplates : public ::testing::Test {
protected:
    UserTemplates() : settings(dir.file("settings.ini")), names(settings), store(settings, vars)
    {
        settings.setValue(base::setting::LogDir, dir.path());
        vars.setAppNames(&names);
        store.setReporter([this](const std::string& message) { reports.push_back(message); });
        std::filesystem::create_directories(notify::userTemplateDir(dir.path()));
    }
    void writeTemplate(const std::string& name, const std::string& text)
    {
        ASSERT_TRUE(platform::writeFileAtomic(platform::joinPath(notify::userTemplateDir(dir.path()), name), text));
    }
    std::string problems(int templateId, const std::string& text)
    {
        std::string out;
        for (const notify::TemplateProblem& p : notify::checkTemplate(templateId, text, vars))
            out += std::to_string(p.line) + ": " + p.message + "\n";
        return out;
    }

    test::TempDir dir;
    base::AppSettings settings;
    rules::TemplateVars vars;
    notify::ApplicationNames names;
    notify::TemplateStore store;
    std::vector<std::string> reports;
};

TEST_F(UserTemplates, CheckNamesEachProblemByLine)
{
    struct Case {
        int id;
        const char* text;
        const char* expected;
    };
    const Case cases[] = {
        {id::StatusUpdate, "Subject: [Reference] [StatusText]\r\n\r\n[AllChanges]\r\n[StatusTextOld]\r\n", ""},
        {id::StatusUpdate, "To: a@b.test\r\nCc: c@d.test\r\nSubject: s\r\nReply-To: e@f.test\r\n\r\nx", ""},
        {id::StatusUpdate, "Subject: [Refrence]\r\n\r\nbody\r\n[Owner] [Refrence]\r\n",
         "1: [Refrence] is no variable of this template\n4: [Refrence] is no variable of this template\n"},
        // an entry added has no previous entry to compare with
        {id::EntryAdded, "Subject: s\r\n\r\n[StatusText?same|%Old%]\r\n",
         "3: [StatusTextOld] is no variable of this template\n"},
        {id::TestMail, "Subject: [AppName]\r\n\r\n[Trademark]", "3: [Trademark] is no variable of this template\n"},
        {id::StatusUpdate, "Hello\r\n\r\nbody", "1: an e-mail template begins with its \"Subject: \" line\n"},
        {id::StatusUpdate, "Subject: s\r\nbody",
         "1: no empty line ends the header that the \"Subject: \" line starts\n"},
        {id::StatusUpdate, "Subject: s\r\n\r\n[[] ok []]\r\n[unterminated",
         "4: a \"[\" without its \"]\" (write [[] for a bracket of its own)\n"},
        // names that only some templates know
        {id::Digest, "Subject: [DigestCount] [DigestCount=1?mark|marks]\r\n\r\n[DigestChanges]", ""},
        {id::StatusUpdate, "Subject: [DigestCount]\r\n\r\n", "1: [DigestCount] is no variable of this template\n"},
        {id::DigestEntry, "[DigestNumber]. [Reference] [AllChanges]", ""},
        {id::ReportRow, "<tr class=\"[RowClass]\"><td>[HistoryLinkHtml]</td></tr>", ""},
        {id::ReportHead, "<p>[CountRecentChange] [CountFailing] [CountNoRecord] [RowClass]</p>",
         "1: [RowClass] is no variable of this template\n"},
        {id::ReportTail, "[HistoryHtml][CourtesyHtml]", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(problems(c.id, c.text), c.expected);
    }
    EXPECT_EQ(problems(id::StatusUpdate, std::string("Subject: s\r\n\r\na\0b", 16)),
              "3: a NUL byte, which no template may hold\n");
}

TEST_F(UserTemplates, EveryBuiltInTemplatePassesTheCheck)
{
    for (const notify::TemplateName& t : notify::replaceableTemplates()) {
        SCOPED_TRACE(t.fileName);
        EXPECT_EQ(problems(t.id, std::string(*notify::loadTemplate(t.id))), "");
    }
}

TEST_F(UserTemplates, AUsableFileReplacesTheBuiltInOneAndABadOneIsReportedOnce)
{
    const std::string builtIn(*notify::loadTemplate(id::StatusUpdate));
    EXPECT_EQ(store.text(id::StatusUpdate), builtIn);

    // line feeds alone, as an editor may save them
    writeTemplate("status-update.txt", "Subject: [Reference] status\n\n[AllChanges]\n");
    EXPECT_EQ(store.text(id::StatusUpdate), "Subject: [Reference] status\r\n\r\n[AllChanges]\r\n");

    writeTemplate("status-update.txt", "Subject: [Refrence]\r\n\r\n[AllChanges]\r\n[Ownr]\r\n");
    EXPECT_EQ(store.text(id::StatusUpdate), builtIn);
    EXPECT_EQ(store.text(id::StatusUpdate), builtIn);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find("/Tarnwick/templates/status-update.txt is not used (line 1: [Refrence] is no variable "
                              "of this template, and 1 more); the built-in template is used instead."),
              std::string::npos)
        << reports[0];

    // one that cannot be read at all
    std::filesystem::remove(platform::joinPath(notify::userTemplateDir(dir.path()), "status-update.txt"));
    std::filesystem::create_directory(platform::joinPath(notify::userTemplateDir(dir.path()), "status-update.txt"));
    EXPECT_EQ(store.text(id::StatusUpdate), builtIn);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_NE(reports[1].find("(not a regular file)"), std::string::npos) << reports[1];

    // the service reports are not the user's to replace
    writeTemplate("activity.txt", "Subject: x\r\n\r\ny\r\n");
    EXPECT_EQ(store.text(id::Activity), std::string(*notify::loadTemplate(id::Activity)));
}

TEST_F(UserTemplates, ExportWritesTheBuiltInTextsAndKeepsTheUsersFiles)
{
    const std::string target = dir.file("start/here");
    std::filesystem::create_directories(target);
    ASSERT_TRUE(platform::writeFileAtomic(target + "/digest.txt", "mine"));
    const notify::ExportResult result = notify::exportTemplates(target);
    EXPECT_EQ(result.error, "");
    EXPECT_EQ(result.written.size(), notify::replaceableTemplates().size() - 1);
    EXPECT_EQ(result.kept, std::vector<std::string>{target + "/digest.txt"});
    EXPECT_EQ(platform::readFile(target + "/digest.txt"), "mine");
    EXPECT_EQ(platform::readFile(target + "/report-row.html"), std::string(*notify::loadTemplate(id::ReportRow)));
}

} // namespace

// A variable in an attribute value without quotes is warned about (a blank in its value would start another
// attribute); a quoted value, an item that gives a whole attribute, text between tags and a mail are not.
TEST(TemplateWarnings, VariableInAnUnquotedAttribute)
{
    struct Case {
        int id;
        std::string text;
        std::string expected; // "line: name" of each warning
    };
    const Case cases[] = {
        {id::ReportRow, "<a href=[StatusUrl]>x</a>", "1: StatusUrl"},
        {id::ReportRow, "<tr>\r\n<td title = x-[Trademark=a?b|c]>", "2: Trademark"},
        {id::ReportHead, "<a href=\"[StatusUrl]\" title='[Trademark]'>[Trademark]</a>", ""},
        {id::ReportRow, "<td [StatusText?class=\"same\"|class=x]>", ""},
        {id::ReportRow, "<p title=[[]>[]]</p><!-- <a href=[StatusUrl]> -->", ""},
        {id::ReportTail, "<a href=[StatusUrl] title=[Reference]>", "1: StatusUrl\n1: Reference"},
        {id::StatusUpdate, "Subject: s\r\n\r\n<a href=[StatusUrl]>\r\n", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::string got;
        for (const notify::TemplateProblem& w : notify::templateWarnings(c.id, c.text)) {
            const size_t open = w.message.find('[');
            got += (got.empty() ? "" : "\n") + std::to_string(w.line) + ": " +
                   w.message.substr(open + 1, w.message.find(']') - open - 1);
        }
        EXPECT_EQ(got, c.expected);
    }
    for (int template_ : {id::ReportHead, id::ReportRow, id::ReportTail}) {
        SCOPED_TRACE(template_);
        EXPECT_TRUE(notify::templateWarnings(template_, *notify::loadTemplate(template_)).empty());
    }
}
