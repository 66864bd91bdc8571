#include "app/application.h"
#include "app/entrycommands.h"
#include "app/mainstate.h"
#include "app/undo.h"
#include "core/datafile.h"
#include "platform/files.h"
#include "support/mainstatefixture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

using namespace tarnwick;

namespace {

class UndoTest : public test::MainStateFixture<> {
protected:
    void SetUp() override
    {
        openInFolder();
        for (const auto& [number, reference] : {std::pair{"3000004", "KESTREL-EU"}, {"3000005", "B"}, {"3000006", "C"}})
            app::addEntry(*m_state, number, reference);
        // values an update gave the entry, which a deletion must not lose
        core::Entry& e = m_app->entries.at(1);
        e.Trademark = "TIMBERLINE CRAFT";
        e.StatusText = "Cancelled - Section 8";
        e.LastUpdate = 40000;
        e.LastChange = 39990;
        e.Error = "Operation canceled";
        e.Frequency = core::Frequency::Weekly;
        (void)m_state->saveEntries();
        m_view.answerFor(base::Question::DeleteEntries, base::Answer::Yes);
    }
    std::string file(const char* name) const { return platform::readFile(m_dir.file(name)).value_or("(none)"); }
    std::string dataFile() const { return file(core::k_dataFileName); }
    std::string pending() const { return file("Tarnwick_pending.tmp"); }
    // What a sending leaves: no list, and none of the messages it named.
    void sendAll()
    {
        for (const auto& f : std::filesystem::directory_iterator(m_dir.path())) {
            if (f.path().extension() == ".tmp")
                std::filesystem::remove(f.path());
        }
    }
};

using Edit = std::function<void(app::MainState&)>;

} // namespace

// Each edit comes back whole (the data file and the queue are as before it), its unsent notice withdrawn, and the
// status line says what came back.
TEST_F(UndoTest, EachEditComesBackWholeAndItsUnsentNoticeIsWithdrawn)
{
    struct Case {
        const char* name;
        Edit edit;
        const char* notice; // the message file the edit queued and the undo removes; empty for none
        const char* status;
    };
    const Case cases[] = {
        {"delete one", [](app::MainState& s) { app::deleteEntries(s, {1}); }, "Tarnwick_d3000005.tmp",
         "Restored B, registration 3000005."},
        {"delete the first and the last",
         [](app::MainState& s) {
             app::deleteEntries(s, {0, 2});
         },
         "Tarnwick_d3000006.tmp", "Restored 2 entries."},
        {"frequency",
         [](app::MainState& s) {
             app::setFrequency(s, {0, 1}, core::Frequency::Never);
         },
         "", "Frequency restored for 2 entries."},
        {"reference", [](app::MainState& s) { (void)app::changeReference(s, {0}, "X"); }, "Tarnwick_c3000004.tmp",
         "Reference restored for KESTREL-EU, registration 3000004."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string data = dataFile();
        const std::string queued = pending();
        c.edit(*m_state);
        ASSERT_NE(dataFile(), data);
        ASSERT_FALSE(m_state->undo().empty());
        const app::UndoOutcome out = app::undoLastEdit(*m_state);
        EXPECT_TRUE(out.undone);
        EXPECT_EQ(dataFile(), data);
        EXPECT_EQ(pending(), queued);
        if (*c.notice) {
            EXPECT_FALSE(platform::fileExists(m_dir.file(c.notice)));
        }
        EXPECT_EQ(m_view.statusLines.back(), c.status);
        EXPECT_TRUE(m_state->undo().empty());
    }
}

// A notice that has gone out cannot be taken back: the undo is announced instead, so that the mail tells what the
// list holds.
TEST_F(UndoTest, ANoticeThatWentOutIsFollowedByOneOfTheUndo)
{
    struct Case {
        const char* name;
        Edit edit;
        const char* announced; // the undo's own notice
        const char* said;      // what the status line adds
    };
    const Case cases[] = {
        {"delete", [](app::MainState& s) { app::deleteEntries(s, {1}); }, "Tarnwick_a3000005.tmp\r\n",
         "Restored B, registration 3000005. Its deletion notice had gone out, so an \"entry added\" notice is queued."},
        {"reference", [](app::MainState& s) { (void)app::changeReference(s, {1}, "X"); }, "Tarnwick_c3000005.tmp\r\n",
         "Reference restored for B, registration 3000005."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.edit(*m_state);
        sendAll();
        EXPECT_EQ(app::undoLastEdit(*m_state).message, c.said);
        EXPECT_EQ(pending(), c.announced);
        EXPECT_EQ(m_app->entries.at(1).Reference, "B");
        sendAll();
    }
}

// Undo does nothing while busy or with nothing to take back, and never lists a mark twice.
TEST_F(UndoTest, NothingWhileBusyOrEmptyAndNoMarkTwice)
{
    EXPECT_FALSE(app::undoLastEdit(*m_state).undone);

    app::deleteEntries(*m_state, {1});
    {
        const app::MainState::Operation busy(*m_state);
        EXPECT_FALSE(app::undoLastEdit(*m_state).undone);
    }
    app::addEntry(*m_state, "3000005", "again");
    const app::UndoOutcome out = app::undoLastEdit(*m_state);
    EXPECT_TRUE(out.undone);
    EXPECT_EQ(m_app->entries.count(), 3);
    EXPECT_EQ(m_view.statusLines.back(), "Nothing was restored; 1 deleted entry is in the list again.");

    for (int i = 0; i < static_cast<int>(app::UndoStack::k_steps) + 3; ++i)
        app::setFrequency(*m_state, {0}, i % 2 ? core::Frequency::Daily : core::Frequency::Monthly);
    EXPECT_EQ(m_state->undo().size(), app::UndoStack::k_steps);
}
