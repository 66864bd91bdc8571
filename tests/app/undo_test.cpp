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

// Each edit comes back whole: the data file is as before it. A notice still queued is withdrawn (the queue is as
// before the edit); one that went out is followed by a notice of the undo, so the mail tells what the list holds.
TEST_F(UndoTest, EachEditComesBackWholeAndTheMailFollows)
{
    struct Case {
        const char* name;
        Edit edit;
        bool sent;          // the edit's notice went out before the undo
        const char* notice; // unsent: the edit's notice, gone after the undo; sent: the undo's own, queued
        const char* status;
    };
    const Edit deleteOne = [](app::MainState& s) { app::deleteEntries(s, {1}); };
    const Edit reference = [](app::MainState& s) { (void)app::changeReference(s, {1}, "X"); };
    const Case cases[] = {
        {"delete one", deleteOne, false, "Tarnwick_d3000005.tmp", "Restored B, registration 3000005."},
        {"delete two",
         [](app::MainState& s) {
             app::deleteEntries(s, {0, 2});
         },
         false, "Tarnwick_d3000006.tmp", "Restored 2 entries."},
        {"frequency",
         [](app::MainState& s) {
             app::setFrequency(s, {0, 1}, core::Frequency::Never);
         },
         false, "", "Frequency restored for 2 entries."},
        {"reference", reference, false, "Tarnwick_c3000005.tmp", "Reference restored for B, registration 3000005."},
        {"delete, sent", deleteOne, true, "Tarnwick_a3000005.tmp",
         "Restored B, registration 3000005. Its deletion notice had gone out, so an \"entry added\" notice is queued."},
        {"reference, sent", reference, true, "Tarnwick_c3000005.tmp",
         "Reference restored for B, registration 3000005."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string data = dataFile();
        const std::string queued = pending();
        c.edit(*m_state);
        ASSERT_NE(dataFile(), data);
        if (c.sent)
            sendAll();
        const app::UndoOutcome out = app::undoLastEdit(*m_state);
        EXPECT_TRUE(out.undone);
        EXPECT_EQ(out.message, c.status);
        EXPECT_EQ(dataFile(), data);
        EXPECT_EQ(pending(), c.sent ? c.notice + std::string("\r\n") : queued);
        if (*c.notice) {
            EXPECT_EQ(platform::fileExists(m_dir.file(c.notice)), c.sent);
        }
        EXPECT_TRUE(m_state->undo().empty());
        if (c.sent)
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
    EXPECT_EQ(app::undoLastEdit(*m_state).message, "Nothing was restored; 1 deleted entry is in the list again.");
    EXPECT_EQ(m_app->entries.count(), 3);
}
