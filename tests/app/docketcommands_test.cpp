#include "app/application.h"
#include "app/commands.h"
#include "app/docketcommands.h"
#include "app/mainstate.h"
#include "core/entry.h"
#include "net/flowlog.h"
#include "platform/files.h"
#include "support/mainstatefixture.h"
#include "support/runcli.h"
#include "support/scriptedfrontend.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

using namespace tarnwick;

namespace {

class DocketCommandsTest : public test::MainStateFixture<> {
protected:
    void SetUp() override
    {
        openInFolder();
        core::Entry e;
        e.RegNum = "2824281";
        e.RegDate = core::formatDay(core::today() - 100);
        m_app->entries.appendEntry(e);
    }
    std::string file(const std::string& name, const std::string& bytes) const
    {
        (void)platform::writeFileAtomic(m_dir.file(name), bytes);
        return m_dir.file(name);
    }
    std::string read(const std::string& name) const { return platform::readFile(m_dir.file(name)).value_or(""); }
};

} // namespace

TEST_F(DocketCommandsTest, ImportAddsNotifiesAndSavesOrImportsNothing)
{
    const std::string bad = file("bad.csv", "Number,Reference\n75123456,A\n12345,B\n");
    app::importSpreadsheetCommand(*m_state, bad);
    EXPECT_EQ(m_view.boxes.back().text, "Nothing was imported from " + bad +
                                            ":\nline 3: 12345: Invalid Registration/Application/International Reg "
                                            "Number.");
    app::importSpreadsheetCommand(*m_state, m_dir.file("missing.csv"));
    EXPECT_EQ(m_view.boxes.back().text, "Nothing was imported from " + m_dir.file("missing.csv") + ":\nCannot read " +
                                            m_dir.file("missing.csv") + ": No such file or directory.");
    EXPECT_EQ(m_app->entries.count(), 1);
    EXPECT_EQ(read("Tarnwick_pending.tmp"), "");
    EXPECT_EQ(read("tradmark.dat"), "");

    const std::string good = file("good.csv", "Number,Reference\n75123456,A\n2824281,dup\nI1234567,B\n");
    const app::ImportOutcome out = app::importSpreadsheetCommand(*m_state, good);
    EXPECT_EQ(m_view.boxes.back().text,
              "2 entries imported from " + good + ".\nSkipped:\nline 3: 2824281 already exists");
    EXPECT_EQ(m_view.boxes.back().caption, "Tarnwick\xAE - Import CSV");
    EXPECT_EQ(out.added, (std::vector<int>{1, 2}));
    EXPECT_EQ(m_state->selection(), out.added);
    // one notice for the import, named by its first entry
    EXPECT_EQ(read("Tarnwick_pending.tmp"), "Tarnwick_i75-123456.tmp\r\n");
    EXPECT_TRUE(read("Tarnwick_i75-123456.tmp").starts_with("Subject: 2 Trademark entries added\r\n"));
    EXPECT_NE(read("tradmark.dat").find("\tA\t75-123456\t"), std::string::npos);
}

TEST_F(DocketCommandsTest, ExportsReportOnTheStatusLineOrInABox)
{
    app::exportCalendarCommand(*m_state, m_dir.file("d.ics"));
    app::exportSpreadsheetCommand(*m_state, m_dir.file("e.csv"));
    EXPECT_EQ(m_view.statusLines, (std::vector<std::string>{"2 deadlines written to " + m_dir.file("d.ics") + ".",
                                                            "1 entry written to " + m_dir.file("e.csv") + "."}));
    EXPECT_TRUE(read("d.ics").starts_with("BEGIN:VCALENDAR\r\n"));
    EXPECT_NE(read("d.ics").find("TRIGGER:-P60D\r\n"), std::string::npos);
    EXPECT_TRUE(read("e.csv").starts_with("\xEF\xBB\xBFNumber,Reference,Frequency,"));

    app::exportCalendarCommand(*m_state, m_dir.file("no/d.ics"));
    EXPECT_EQ(m_view.boxes.back().text, "Cannot write " + m_dir.file("no/d.ics") + ": No such file or directory.");
    EXPECT_EQ(m_view.boxes.back().caption, "Tarnwick\xAE - Export Calendar");
}

TEST(DocketSettings, ReminderDaysMenuAndEnabling)
{
    test::TempDir dir;
    base::AppSettings settings(dir.file("settings.ini"));
    const std::pair<const char*, int> days[] = {{"", 60},  {"30", 30},      {"0", 0},
                                                {"-5", 0}, {"99999", 3650}, {"3, 90", 90}};
    for (const auto& [text, value] : days) {
        settings.setValue(base::setting::DeadlineReminderDays, text);
        EXPECT_EQ(app::reminderDays(settings), value) << text;
    }

    const std::vector<app::MenuItem> file = app::mainMenu().front().children;
    std::vector<std::string> texts;
    for (const app::MenuItem& item : file)
        texts.push_back(item.text);
    EXPECT_EQ(texts, (std::vector<std::string>{"&Send E-Mail", "&Delete E-Mail", "", "&Import CSV...", "&Export CSV...",
                                               "Export &Calendar...", "", "E&xit"}));
    for (app::Command id :
         {app::Command::ImportSpreadsheet, app::Command::ExportSpreadsheet, app::Command::ExportCalendar}) {
        EXPECT_TRUE(app::isEnabled(id, {false, 0, false})) << static_cast<int>(id);
        EXPECT_FALSE(app::isEnabled(id, {true, 0, false})) << static_cast<int>(id);
    }
}

TEST(DocketCli, ExportImportAndCalendar)
{
    test::TempDir a, b;
    const std::string regDate = core::formatDay(core::today() - 100);
    ASSERT_TRUE(platform::writeFileAtomic(a.file("tradmark.dat"), "8\r\n1\tACME-001\t76-123456\t2824281\t\tMARK\t\t" +
                                                                      regDate + "\r\n0\t\t\t1234567\r\n"));
    ASSERT_TRUE(platform::writeFileAtomic(b.file("tradmark.dat"), "8\r\n0\told\t\t1234567\r\n"));
    ASSERT_TRUE(platform::writeFileAtomic(b.file("bad.csv"), "Number\n7612345\n76123\n"));
    struct Step {
        const test::TempDir& dir;
        std::vector<std::string> args;
        int exit;
        std::string out;
        std::string err;
    };
    const Step steps[] = {
        {a, {"config", "set", "LogDir", a.path()}, 0, "", ""},
        {b, {"config", "set", "LogDir", b.path()}, 0, "", ""},
        {a, {"export", "--csv", a.file("marks.csv")}, 0, "2 entries written to " + a.file("marks.csv") + ".\n", ""},
        {a, {"calendar", "--out", a.file("d.ics")}, 0, "2 deadlines written to " + a.file("d.ics") + ".\n", ""},
        {b,
         {"import", a.file("marks.csv")},
         0,
         "line 3: 1234567 already exists, skipped\nadded ACME-001 76-123456\n",
         ""},
        {b,
         {"import", b.file("bad.csv")},
         1,
         "",
         "line 3: 76123: Invalid Registration/Application/International Reg Number.\nnothing was imported\n"},
        {b, {"export", b.file("x.csv")}, 1, "", "usage: tarnwick-cli [--settings FILE] export --csv FILE\n"},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.args.front());
        const test::CliRun run = test::runCli(s.args, s.dir.file("settings.ini"));
        EXPECT_EQ(run.exit, s.exit);
        EXPECT_EQ(run.out, s.out);
        EXPECT_EQ(run.err, s.err);
    }
    const std::string data = platform::readFile(b.file("tradmark.dat")).value_or("");
    EXPECT_NE(data.find("\r\n1\tACME-001\t76-123456\t"), std::string::npos) << data;
    EXPECT_EQ(data.find("7612345"), std::string::npos);
    EXPECT_NE(test::runCli({"calendar"}, a.file("settings.ini")).out.find("UID:reg2824281-declaration-6y@tarnwick\r\n"),
              std::string::npos);
}
