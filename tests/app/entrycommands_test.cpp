#include "app/application.h"
#include "app/docketcommands.h"
#include "app/entrycommands.h"
#include "app/historylisting.h"
#include "app/mainstate.h"
#include "core/entry.h"
#include "core/identifier.h"
#include "net/flowlog.h"
#include "notify/history.h"
#include "platform/files.h"
#include "support/mainstatefixture.h"
#include "support/scriptedfrontend.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

using namespace tarnwick;

namespace {

class EntryCommandsTest : public test::MainStateFixture<> {
protected:
    void SetUp() override { openInFolder(); }
    std::string pending() const { return platform::readFile(m_dir.file("Tarnwick_pending.tmp")).value_or(""); }
};

} // namespace

TEST_F(EntryCommandsTest, AddValidatesRefusesDuplicatesAndNotifies)
{
    struct Step {
        const char* typed;
        bool added;
        const char* message; // start of the refusal
    };
    const Step steps[] = {
        {"2824281", true, ""},
        {"2824281", false, "This entry already exists."},
        {"12345", false, "Invalid"},
        {"76/123,456", true, ""},
        // pasted as the filter takes it
        {"2824281 ", false, "This entry already exists."},
        {"76 123457", true, ""},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.typed);
        const app::AddOutcome out = app::addEntry(*m_state, s.typed, "R&D", core::Frequency::Weekly);
        EXPECT_EQ(out.position.has_value(), s.added);
        EXPECT_TRUE(out.message.starts_with(s.message)) << out.message;
    }
    EXPECT_EQ(pending(), "Tarnwick_a2824281.tmp\r\nTarnwick_a76-123456.tmp\r\nTarnwick_a76-123457.tmp\r\n");
    EXPECT_EQ(m_view.boxes.back().caption, "Tarnwick\xAE - Duplicate Entry");
    EXPECT_EQ(m_app->entries.at(1).Frequency, core::Frequency::Weekly);
    EXPECT_EQ(m_state->selection(), std::vector<int>{2});
}

TEST_F(EntryCommandsTest, DeleteAsksAndStopsNotifyingAtTheFirstFailure)
{
    for (const char* n : {"2824281", "2824282", "2824283"})
        app::addEntry(*m_state, n, "");
    for (const auto& [positions, question] : {std::pair{std::vector<int>{0, 2}, "Delete these 2 entries?"},
                                              {std::vector<int>{1}, "Delete registration 2824282?"}}) {
        m_view.nextAnswer(base::Answer::No);
        EXPECT_EQ(app::deleteEntries(*m_state, positions), 0);
        EXPECT_EQ(m_view.boxes.back().text, question);
    }
    m_view.nextAnswer(base::Answer::Yes);
    EXPECT_EQ(app::deleteEntries(*m_state, {2, 0}), 2);
    EXPECT_EQ(m_app->entries.count(), 1);
    EXPECT_EQ(m_app->entries.at(0).RegNum, "2824282");
    EXPECT_NE(pending().find("Tarnwick_d2824283.tmp\r\nTarnwick_d2824281.tmp\r\n"), std::string::npos);

    // a posting that fails ends the notices of this deletion, not the deletion (the pending list cannot be written)
    app::addEntry(*m_state, "2824284", "");
    (void)platform::removeFile(m_dir.file("Tarnwick_pending.tmp"));
    std::filesystem::create_directories(m_dir.file("Tarnwick_pending.tmp/x"));
    m_view.boxes.clear();
    m_view.nextAnswer(base::Answer::Yes);
    EXPECT_EQ(app::deleteEntries(*m_state, {0, 1}), 2);
    int failures = 0;
    for (const auto& b : m_view.boxes)
        failures += b.caption == "Tarnwick\xAE - E-Mail Creation Failed" ? 1 : 0;
    EXPECT_EQ(failures, 1);
}

TEST_F(EntryCommandsTest, ChangeReferenceNotifiesOnlyRealChanges)
{
    app::addEntry(*m_state, "2824281", "A");
    app::addEntry(*m_state, "2824282", "B");
    m_view.nextInput("B");
    EXPECT_TRUE(app::changeReferenceAsking(*m_state, {0, 1}));
    EXPECT_EQ(m_app->entries.at(0).Reference, "B");
    EXPECT_EQ(pending(), "Tarnwick_a2824281.tmp\r\nTarnwick_a2824282.tmp\r\nTarnwick_c2824281.tmp\r\n");

    app::changeColumn(*m_state, static_cast<int>(core::FieldId::Owner), {0});
    EXPECT_EQ(m_view.boxes.back().text, "This column cannot be edited.");
    m_app->entries.at(0).LastUpdate = 40000;
    m_view.nextAnswer(base::Answer::Yes);
    app::changeColumn(*m_state, static_cast<int>(core::FieldId::LastUpdate), {0});
    EXPECT_EQ(m_app->entries.at(0).LastUpdate, 0);
    EXPECT_EQ(m_view.boxes.back().caption, "Tarnwick\xAE - Clear Last Update");
}

// Every edit is on disk when its command returns: first the data file, then the edit's notice; a data file that
// cannot be written leaves the notice unqueued.
TEST(EntryEdits, EachIsKeptAtOnceAndNoticedOnlyOnceKept)
{
    using Run = std::function<void(app::MainState&)>;
    struct Edit {
        const char* name;
        Run run;
        const char* line;   // the data file's piece that shows the edit
        bool holds;         // whether the data file holds that piece afterwards
        const char* notice; // the message the edit queues last; empty for none
    };
    const Edit edits[] = {
        {"add", [](app::MainState& s) { app::addEntry(s, "2824281", "A"); }, "0\tA\t\t2824281\t", true,
         "Tarnwick_a2824281.tmp"},
        {"frequency", [](app::MainState& s) { app::setFrequency(s, {0}, core::Frequency::Yearly); }, "3\tA\t", true,
         ""},
        {"reference", [](app::MainState& s) { (void)app::changeReference(s, {0}, "B"); }, "3\tB\t", true,
         "Tarnwick_c2824281.tmp"},
        {"import",
         [](app::MainState& s) {
             app::importSpreadsheet(s, s.app().settings.value(base::setting::LogDir) + "/in.csv");
         },
         "\tIMP\t75-123456\t", true, "Tarnwick_a75-123456.tmp"},
        {"delete", [](app::MainState& s) { app::deleteEntries(s, {0}); }, "2824281", false, "Tarnwick_d2824281.tmp"},
    };
    for (const bool blocked : {false, true}) {
        test::TempDir dir;
        app::AppContext app(dir.file("settings.ini"));
        app.settings.setValue(base::setting::LogDir, dir.path());
        app.entries.setLoadOk(true);
        test::ScriptedFrontEnd view;
        view.answerFor(base::Question::DeleteEntries, base::Answer::Yes);
        net::FlowLog flowLog;
        app::MainState state(app, view, flowLog);
        ASSERT_TRUE(platform::writeFileAtomic(dir.file("in.csv"), "Number,Reference\n75123456,IMP\n"));
        // a folder where the data file goes: its write fails, whoever runs the test
        if (blocked)
            std::filesystem::create_directories(dir.file("tradmark.dat/x"));
        for (const Edit& e : edits) {
            SCOPED_TRACE(std::string(e.name) + (blocked ? " blocked" : ""));
            view.boxes.clear();
            e.run(state);
            const std::string pending = platform::readFile(dir.file("Tarnwick_pending.tmp")).value_or("");
            if (blocked) {
                EXPECT_EQ(pending, "");
                // the edit's notices were written before the data file and go with it
                for (const auto& f : std::filesystem::directory_iterator(dir.path()))
                    EXPECT_FALSE(f.path().filename().string().starts_with("Tarnwick_")) << f.path();
                ASSERT_FALSE(view.boxes.empty());
                EXPECT_EQ(view.boxes.back().caption, "Tarnwick\xAE - Data File Not Written");
                continue;
            }
            const std::string data = platform::readFile(dir.file("tradmark.dat")).value_or("");
            EXPECT_EQ(data.find(e.line) != std::string::npos, e.holds) << data;
            if (*e.notice) {
                EXPECT_TRUE(pending.ends_with(std::string(e.notice) + "\r\n")) << pending;
            }
            // no failure was shown: the one box is the question of the delete
            for (const base::MessageBox& box : view.boxes)
                EXPECT_EQ(box.caption, "Tarnwick\xAE");
        }
    }
}

// The window's edits without a notice are written off its thread: the newest edit is what the file holds once the
// writes end, the next save made at once never lands under an older one, and a failed write is told once it ends.
TEST(EntryEdits, WrittenInTheBackgroundTheNewestWins)
{
    for (const bool blocked : {false, true}) {
        SCOPED_TRACE(blocked ? "blocked" : "written");
        test::TempDir dir;
        app::AppContext app(dir.file("settings.ini"));
        app.settings.setValue(base::setting::LogDir, dir.path());
        app.entries.setLoadOk(true);
        core::Entry e;
        core::setIdentifier(e, "2824281");
        e.Reference = "A";
        app.entries.appendEntry(e);
        test::ScriptedFrontEnd view;
        net::FlowLog flowLog;
        app::MainState state(app, view, flowLog);
        state.setBackgroundSave({});
        if (blocked)
            std::filesystem::create_directories(dir.file("tradmark.dat/x"));
        app::setFrequency(state, {0}, core::Frequency::Yearly);
        app::setFrequency(state, {0}, core::Frequency::Weekly);
        state.finishBackgroundSave();
        const std::string data = platform::readFile(dir.file("tradmark.dat")).value_or("");
        const std::string weekly = std::to_string(static_cast<int>(core::Frequency::Weekly)) + "\tA\t";
        EXPECT_EQ(data.find(weekly) != std::string::npos, !blocked) << data;
        state.reportBackgroundSave();
        state.reportBackgroundSave();
        EXPECT_EQ(view.boxes.size(), blocked ? 1u : 0u);
        EXPECT_EQ(bool(state.lastEdit().dataFile), !blocked);
    }
}

// A crash between an edit's data file and its list leaves notices on no list: those the data file agrees with are
// listed by the next use of the queue, every other one is removed.
TEST(EntryEdits, ACrashBeforeTheListKeepsTheNoticesOfASavedEdit)
{
    struct Case {
        const char* name;
        bool listed; // else removed
    };
    const Case cases[] = {
        {"Tarnwick_a2824281.tmp", true},  {"Tarnwick_a2824281_2.tmp", true}, {"Tarnwick_d1111111.tmp", true},
        {"Tarnwick_a1111111.tmp", false}, {"Tarnwick_d2824281.tmp", false},  {"Tarnwick_s2824281.tmp", false},
        {"Tarnwick_c2824281.tmp", false},
    };
    test::TempDir dir;
    app::AppContext app(dir.file("settings.ini"));
    app.settings.setValue(base::setting::LogDir, dir.path());
    app.entries.setLoadOk(true);
    test::ScriptedFrontEnd view;
    net::FlowLog flowLog;
    app::MainState state(app, view, flowLog);
    app::addEntry(state, "2824281", "A");
    std::filesystem::remove(dir.file("Tarnwick_pending.tmp"));
    std::filesystem::remove(dir.file("Tarnwick_a2824281.tmp"));
    app::MainState later(app, view, flowLog); // the next start
    for (const Case& c : cases)
        ASSERT_TRUE(platform::writeFileAtomic(dir.file(c.name), "Subject: s\r\n\r\nbody\r\n"));
    app::addEntry(later, "3000004", "B");
    const std::string pending = platform::readFile(dir.file("Tarnwick_pending.tmp")).value_or("");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(pending.find(std::string(c.name) + "\r\n") != std::string::npos, c.listed) << pending;
        EXPECT_EQ(std::filesystem::exists(dir.file(c.name)), c.listed);
    }
    EXPECT_TRUE(pending.ends_with("Tarnwick_a3000004.tmp\r\n")) << pending;
}

TEST_F(EntryCommandsTest, DetailsText)
{
    core::Entry e(40000);
    e.RegNum = "2824281";
    e.RegDate = "2004-03-01";
    e.Frequency = core::Frequency::Weekly;
    e.LastChange = 40000;
    e.LastUpdate = 40000;
    e.StatusDate = "2004-03-01";
    m_app->entries.appendEntry(e);
    const std::string one = app::detailsText(m_app->entries, {0});
    EXPECT_TRUE(one.starts_with("Changed within the last week: Yes\r\nWeekly update needed: No\r\n\r\nFrequency:\t"
                                "Weekly\r\n"))
        << one;
    EXPECT_TRUE(one.ends_with(
        "Error:\t\r\nNext Deadline:\t2010-03-01 Declaration of use (opens 2009-03-01, grace to 2010-09-01)\r\n"))
        << one;

    // a value in parts shows one part per line
    m_app->entries.at(0).Attorney = "MARGARET T. ELLWOOD | ELLWOOD & PRATT LLP|";
    EXPECT_NE(app::detailsText(m_app->entries, {0})
                  .find("\r\nAttorney:\tMARGARET T. ELLWOOD\r\n\tELLWOOD & PRATT LLP\r\n\t\r\nLocation:"),
              std::string::npos);

    m_app->entries.at(0).LastChange = 39992;
    m_app->entries.at(0).Owner.assign(30000, 'x');
    m_app->entries.appendEntry(e);
    const std::string two = app::detailsText(m_app->entries, {1, 0});
    EXPECT_TRUE(two.starts_with("Changed within the last week: No\r\n"));
    EXPECT_TRUE(two.ends_with("\r\n---\r\n\r\ntruncated...")) << two.substr(two.size() - 40);
}

TEST_F(EntryCommandsTest, DetailsAndHistoryShowTheRecordedChangesNewestFirst)
{
    for (const char* number : {"2824281", "76123456"}) {
        core::Entry e(40000);
        ASSERT_FALSE(core::setIdentifier(e, number));
        m_app->entries.appendEntry(e);
    }
    std::string lines(notify::historyHeader());
    for (int day = 1; day <= 7; ++day) {
        const std::string date = "2026-12-0" + std::to_string(day);
        lines +=
            date + "\t2824281\tACME\tStatusText\tS" + std::to_string(day - 1) + "\tS" + std::to_string(day) + "\r\n";
    }
    lines += "2026-12-07\t2824281\tACME\tOwner\t\tNew Owner\r\n";
    lines += "2026-12-08\t75-999999\t\tLocation\ta\tb\r\n";
    ASSERT_TRUE(platform::writeFileAtomic(m_dir.file("Tarnwick_history.txt"), lines));

    const std::string details = app::detailsText(*m_app, {0, 1});
    EXPECT_NE(details.find("\r\nLast changes:\r\n2026-12-07\tOwner (now): New Owner\r\n\tOwner (was): \r\n"
                           "2026-12-07\tStatus (now): S7\r\n\tStatus (was): S6\r\n"),
              std::string::npos)
        << details;
    EXPECT_NE(details.find("2026-12-04\tStatus (now): S4\r\n\tStatus (was): S3\r\n3 earlier: tarnwick-cli history "
                           "2824281\r\n"),
              std::string::npos);
    EXPECT_TRUE(details.ends_with("Last changes:\tnone recorded\r\n"));

    struct Case {
        const char* typed;
        const char* expected; // the start of the listing
    };
    const Case cases[] = {
        {"2824281", "2026-12-07  2824281  ACME\n  Status (now): S7\n  Status (was): S6\n  Owner (now): New Owner\n"
                    "  Owner (was): \n2026-12-06  2824281  ACME\n"},
        {"76123456", ""},
        // an entry no longer in the list
        {"75999999", "2026-12-08  75-999999\n  Location (now): b\n  Location (was): a\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        std::string refusal;
        const std::string listing =
            app::historyListing(m_app->history(), app::historyNumbers(m_app->entries, c.typed, refusal));
        EXPECT_EQ(refusal, "");
        EXPECT_TRUE(listing.starts_with(c.expected)) << listing;
        EXPECT_EQ(listing.empty(), std::string(c.expected).empty());
    }
    EXPECT_TRUE(app::historyListing(m_app->history()).starts_with("2026-12-08  75-999999\n"));
}

TEST(MainState, TimeoutSettingIsReadWithAThirtySecondFloor)
{
    const std::pair<const char*, int> cases[] = {
        {"10 minutes", 600000}, {"5", 30000}, {"", 60000}, {"45 seconds", 45000}, {"2 minutes", 120000},
    };
    for (const auto& [text, ms] : cases)
        EXPECT_EQ(app::MainState::timeoutFromSetting(text), ms) << text;
}
