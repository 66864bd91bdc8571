#include "app/commandline.h"
#include "app/commands.h"
#include "app/entryrow.h"
#include "app/mainstate.h"
#include "app/mainwindowlogic.h"
#include "app/sorting.h"
#include "app/timeout.h"
#include "core/entrystore.h"
#include "core/fieldtable.h"
#include "support/runcli.h"
#include "tasks/errors.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <tuple>

using namespace tarnwick;
using namespace tarnwick::app;

TEST(CommandLine, SwitchesAnywhereAndRegistrationOnlyLast)
{
    using R = CommandLine::Registration;
    struct Case {
        const char* line;
        bool autoMode;
        R registration;
    };
    const Case cases[] = {
        {"tarnwick /AUTO", true, R::None},
        {"tarnwick -auto", true, R::None},
        {"tarnwick -automatic", false, R::None},
        {"tarnwick x-auto", false, R::None},
        {"tarnwick -RegServer -auto", true, R::None},
        {"tarnwick -auto /regserver", true, R::Register},
        {"tarnwick -UNREGSERVER", false, R::Unregister},
        {"tarnwick -RegServer2", false, R::None},
        {"\"/opt/my programs/-auto\" plain", false, R::None},
        {"/usr/bin/tarnwick", false, R::None},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const CommandLine parsed = parseCommandLine(c.line);
        EXPECT_EQ(parsed.autoMode, c.autoMode);
        EXPECT_EQ(parsed.registration, c.registration);
    }
    const CommandLine quoted = parseArguments({"/opt/my programs/tarnwick", "-auto", "--settings", "/s.ini"});
    EXPECT_EQ(quoted.programPath, "/opt/my programs/tarnwick");
    EXPECT_EQ(quoted.arguments, "-auto --settings /s.ini");
    EXPECT_TRUE(quoted.autoMode);
    EXPECT_EQ(quoted.settingsFile, "/s.ini");
}

TEST(CommandLine, HelpAndVersionInsteadOfAStart)
{
    EXPECT_EQ(programVersion(), TARNWICK_VERSION);
    struct Case {
        std::vector<std::string> argv;
        std::optional<std::string> starts; // none: the program starts
    };
    const Case cases[] = {
        {{"tarnwick", "--version"}, "tarnwick " TARNWICK_VERSION "\n"},
        {{"tarnwick", "-auto", "--help"}, "usage: tarnwick [--settings FILE] [-auto]\n"},
        {{"tarnwick", "-h"}, "usage: tarnwick [--settings FILE] [-auto]\n"},
        {{"tarnwick", "--settings", "--version"}, std::nullopt},
        {{"tarnwick", "-auto", "--versions"}, std::nullopt},
    };
    for (const Case& c : cases) {
        const std::optional<std::string> text = informationRequest(c.argv);
        EXPECT_EQ(text.has_value(), c.starts.has_value()) << c.argv.back();
        if (text && c.starts) {
            EXPECT_EQ(text->substr(0, c.starts->size()), *c.starts);
        }
    }
    const test::CliRun version = test::runCli({"--version"});
    EXPECT_EQ(version.exit, 0);
    EXPECT_EQ(version.out, "tarnwick-cli " TARNWICK_VERSION "\n");
    const test::CliRun help = test::runCli({"--help"});
    EXPECT_EQ(help.exit, 0);
    EXPECT_NE(help.out.find("\n  upgrade [--yes] "), std::string::npos) << help.out;
}

TEST(VersionText, TwoDigitBuild)
{
    EXPECT_EQ(versionText(2, 1, 7), "2.1.07");
    EXPECT_EQ(versionText(4, 12, 123), "4.12.123");
}

TEST(TimeoutChoices, EachChoiceIsStoredAsATextThatReadsBackAsIt)
{
    for (int ms : k_timeoutChoices)
        EXPECT_EQ(MainState::timeoutFromSetting(timeoutText(ms)), ms) << ms;
    EXPECT_EQ(timeoutText(600000), "10 minutes");
    EXPECT_EQ(timeoutText(59999), "59 seconds");
    EXPECT_EQ(timeoutText(60000), "1 minute");
}

TEST(SortRequest, KindsAndDirections)
{
    const int frequency = 0, reference = 3, statusDate = 8, error = 18;
    struct Case {
        SortOrder current;
        int column;
        SortKind kind;
        std::optional<SortOrder> expected;
    };
    const Case cases[] = {
        {{reference, false}, reference, SortKind::HeaderClick, SortOrder{reference, true}},
        {{reference, true}, reference, SortKind::HeaderClick, SortOrder{reference, false}},
        {{reference, true}, statusDate, SortKind::HeaderClick, SortOrder{statusDate, false}},
        {{frequency, true}, frequency, SortKind::Ascending, SortOrder{frequency, false}},
        {{frequency, false}, frequency, SortKind::Descending, SortOrder{frequency, true}},
        {{statusDate, false}, statusDate, SortKind::Ascending, SortOrder{statusDate, true}},
        {{reference, false}, reference, SortKind::Descending, SortOrder{reference, true}},
        {{reference, false}, reference, SortKind::Ascending, std::nullopt},
        {{reference, true}, statusDate, SortKind::Column, SortOrder{statusDate, false}},
        {{reference, false}, reference, SortKind::Column, std::nullopt},
        {{reference, true}, reference, SortKind::Reapply, SortOrder{reference, true}},
        {{reference, false}, error, SortKind::HeaderClick, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.current.column << "/" << c.current.reversed << " col " << c.column
                                        << " kind " << static_cast<int>(c.kind));
        EXPECT_EQ(sortRequest(c.current, c.column, c.kind), c.expected);
    }
}

// Ascending means A to Z, low to high, old to new, Daily to Never in every column.
TEST(SortDirection, AscendingMeansTheSameInEveryColumn)
{
    const int frequency = 0, lastUpdate = 1, reference = 3, serNum = 4, trademark = 7, filed = 11, location = 17;
    const struct {
        int column;
        bool notReversedIsAscending;
    } cases[] = {{frequency, true},   {reference, true}, {serNum, true},   {trademark, true},
                 {lastUpdate, false}, {filed, false},    {location, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.column);
        EXPECT_EQ(showsAscending({c.column, false}), c.notReversedIsAscending);
        EXPECT_EQ(showsAscending({c.column, true}), !c.notReversedIsAscending);
    }
}

TEST(RowFilter, NumbersWithOrWithoutSeparatorsAndAnyCase)
{
    const struct {
        const char* typed;
        const char* cell;
        bool shown;
    } cases[] = {
        {"", "anything", true},
        {"  ", "anything", true},
        {"75000005", "75-000005", true},
        {"75 000005", "75-000005", true},
        {"75/000005", "75-000005", true},
        {" 000005 ", "75-000005", true},
        {"2,824,281", "2824281", true},
        {"acme001", "ACME-001", true},
        {"75000006", "75-000005", false},
        {"night heron", "NIGHT HERON", true},
        {"nightheron", "NIGHT HERON", false}, // words keep their spaces
        {"\xC3\xA4pfel", "\xC3\x84PFEL GmbH", true},
        {"5/1", "75-000005", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.typed) + " / " + c.cell);
        EXPECT_EQ(RowFilter(c.typed).matches(c.cell), c.shown);
        EXPECT_EQ(RowFilter(c.typed).matches(RowFilter::fold(c.cell)), c.shown);
    }
}

// A text typed on looks only at the rows the earlier one showed: never when that could hide a row it should show.
TEST(RowFilter, NarrowsOnlyWhenEveryRowFoundWasShownBefore)
{
    const struct {
        const char* earlier;
        const char* typed;
        bool narrows;
    } cases[] = {
        {"", "k", true},        {"k", "ke", true},    {"es", "kes", true},    {"ke", "k", false},
        {"ke", "kx", false},    {"75", "75-0", true}, {"a b", "a b7", false}, // "ab7" is found without the space
        {"kes", "kes7", false}, {"7", "75000", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.earlier) + " -> " + c.typed);
        EXPECT_EQ(RowFilter(c.typed).narrows(RowFilter(c.earlier)), c.narrows);
    }
}

// The list's one sort puts the entries where the store's own sort does, for every column and both directions.
TEST(SortedPositions, AsTheStoreSortsByEveryColumn)
{
    core::EntryStore store;
    const char* const names[] = {"Kestrel", "", "kestrel", "Osprey", "\xC3\x84pfel"};
    for (int i = 0; i < 10; ++i) {
        core::Entry e;
        e.SerNum = i % 4 ? std::to_string(75000000 + (i * 7) % 10) : "";
        e.RegNum = i % 3 ? std::to_string(3000000 + i % 2) : "";
        e.Reference = i % 2 ? "R-" + std::to_string(i % 3) : "r" + std::to_string(i % 3);
        e.Trademark = names[i % 5];
        e.Frequency = static_cast<core::Frequency>(i % 3);
        e.LastUpdate = 40000 + i % 2;
        e.StatusDate = i % 2 ? "2001-02-0" + std::to_string(i % 3) : "";
        store.appendEntry(std::move(e));
    }
    for (int column = 0; column < core::k_fieldCount; ++column) {
        for (const bool reversed : {false, true}) {
            SCOPED_TRACE(std::to_string(column) + (reversed ? " reversed" : ""));
            core::EntryStore sorted = store;
            sorted.sort(static_cast<core::FieldId>(column), reversed);
            core::EntryStore moved = store;
            moveEntries(moved, sortedPositions(store.entries(), {column, reversed}));
            for (int i = 0; i < store.count(); ++i)
                EXPECT_EQ(moved.at(i).fieldListing(), sorted.at(i).fieldListing()) << i;
            // a list already in its order stays as it is
            const std::vector<size_t> again = sortedPositions(sorted.entries(), {column, reversed});
            EXPECT_TRUE(std::is_sorted(again.begin(), again.end()));
        }
    }
}

// A row's folded text is kept until its entry or the day could change it; a sort takes it along.
TEST(RowTexts, KeptUntilTheEntryOrTheDayChanges)
{
    enum class Step { Nothing, SameDay, NextDay, ForgetRow, ForgetOther, Sorted, Grown };
    const struct {
        Step step;
        bool kept;
    } cases[] = {
        {Step::Nothing, true},     {Step::SameDay, true}, {Step::NextDay, false}, {Step::ForgetRow, false},
        {Step::ForgetOther, true}, {Step::Sorted, true},  {Step::Grown, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.step));
        std::vector<core::Entry> entries(3);
        for (size_t i = 0; i < entries.size(); ++i)
            entries[i].Trademark = "OLD " + std::to_string(i);
        RowTexts texts;
        texts.setDay(40000);
        for (size_t i = 0; i < entries.size(); ++i)
            (void)texts.of(entries, i);
        EXPECT_EQ(texts.madeFromStart(), entries.size());
        size_t at = 1; // where the entry is afterwards
        entries[1].Trademark = "NEW";
        switch (c.step) {
        case Step::Nothing:
            break;
        case Step::SameDay:
            texts.setDay(40000);
            break;
        case Step::NextDay:
            texts.setDay(40001);
            break;
        case Step::ForgetRow:
            texts.forgetRow(1);
            break;
        case Step::ForgetOther:
            texts.forgetRow(2);
            break;
        case Step::Sorted:
            std::swap(entries[1], entries[2]);
            texts.reorder({0, 2, 1});
            at = 2;
            break;
        case Step::Grown:
            entries.emplace_back();
            break;
        }
        const std::string& text = texts.of(entries, at).plain;
        EXPECT_EQ(text.find("old 1") != std::string::npos, c.kept) << text;
        EXPECT_EQ(text.find("new") != std::string::npos, !c.kept) << text;
    }
}

TEST(ChangesNotification, OnlyForChangesWhileTheWindowIsNotInFront)
{
    const auto run = [](int changed, int failed) {
        update::RunSummary s;
        s.started = true;
        s.changed = changed;
        s.failed = failed;
        return s;
    };
    const struct {
        update::RunSummary summary;
        bool inFront;
        std::optional<std::string> text;
    } cases[] = {
        {run(3, 0), false, "3 marks changed at the office."},
        {run(1, 2), false, "1 mark changed at the office. 2 marks could not be updated."},
        {run(2, 1), false, "2 marks changed at the office. 1 mark could not be updated."},
        {run(3, 0), true, std::nullopt},
        {run(0, 4), false, std::nullopt},
        {update::RunSummary{}, false, std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(changesNotification(c.summary, c.inFront), c.text);
}

TEST(CommandEnabling, BySelectionBusyAndPendingMail)
{
    struct Case {
        Command id;
        bool idle0, idle1, idle2, busy1;
    };
    const Command changeReference = columnCommand(Command::ChangeColumn, 3);
    const Command changeLastUpdate = columnCommand(Command::ChangeColumn, 1);
    const Case cases[] = {
        {Command::SendEmail, true, true, true, false},
        {Command::SelectAll, true, true, true, false},
        {Command::Add, true, true, true, false},
        {Command::UpdateAll, true, true, true, false},
        {columnCommand(Command::SortColumn, 5), true, true, true, false},
        {Command::About, true, true, true, false},
        {Command::Delete, false, true, true, false},
        {Command::UpdateSelected, false, true, true, false},
        {Command::ViewDetails, false, true, true, false},
        {Command::FrequencyNever, false, true, true, false},
        {changeLastUpdate, false, true, true, false},
        {changeReference, false, true, false, false},
        {Command::ViewWebpage, false, true, false, false},
        {Command::Cancel, false, false, false, true},
        {Command::Exit, true, true, true, true},
        {Command::ViewFlow, true, true, true, true},
        {Command::ViewDeadlines, true, true, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.id));
        EXPECT_EQ(isEnabled(c.id, {false, 0, true}), c.idle0);
        EXPECT_EQ(isEnabled(c.id, {false, 1, true}), c.idle1);
        EXPECT_EQ(isEnabled(c.id, {false, 2, true}), c.idle2);
        EXPECT_EQ(isEnabled(c.id, {true, 1, true}), c.busy1);
    }
    EXPECT_FALSE(isEnabled(Command::DeleteEmail, {false, 1, false}));
}

// Undo starts only when an edit can be taken back and nothing runs, whatever the selection.
TEST(CommandEnabling, UndoByTheEditsKeptAndBusy)
{
    const std::tuple<bool, bool, bool> cases[] = {{false, false, false}, {false, true, true}, {true, true, false}};
    for (const auto& [busy, canUndo, enabled] : cases) {
        SCOPED_TRACE(testing::Message() << busy << canUndo);
        const CommandState state{busy, 0, false, canUndo};
        EXPECT_EQ(isEnabled(Command::Undo, state), enabled);
        EXPECT_EQ(commandAllowed(Command::Undo, state), enabled || !busy);
    }
}

// The row icon's words name the state it draws, the first that holds.
TEST(RowIcon, WordsForEachState)
{
    const std::tuple<const char*, core::DayNumber, core::DayNumber, const char*> cases[] = {
        {"", 0, 0, "Never updated"},
        {"Operation canceled", 40000, 30000, "Last update failed: Operation canceled"},
        {"", 40000, 30000, "Up to date"},
        {"", 39995, 39995, "Changed within the last week"},
        {"", 39000, 30000, "Update due"},
    };
    for (const auto& [error, lastUpdate, lastChange, text] : cases) {
        SCOPED_TRACE(text);
        core::Entry e(40000);
        e.Error = error;
        e.LastUpdate = lastUpdate;
        e.LastChange = lastChange;
        e.StatusDate = "2009-07-01";
        EXPECT_EQ(rowMarkText(e), text);
    }
}

TEST(CommandAdmission, WhileBusyOnlyWhatTheBusyWindowEnablesStarts)
{
    struct Case {
        Command id;
        bool idle1, idle0, busy1; // one row selected, none, one while an operation runs
    };
    const Case cases[] = {
        {Command::UpdateAll, true, true, false},
        {Command::Descending, true, true, false},
        {Command::ImportSpreadsheet, true, true, false},
        {Command::Configure, true, true, false},
        {Command::Upgrade, true, true, false},
        {Command::Delete, true, true, false}, // idle, the command itself finds nothing to delete
        {Command::Cancel, true, true, true},
        {Command::Exit, true, true, true},
        {Command::Close, true, true, true},
        {Command::ViewLogFile, true, true, true},
        {Command::HelpContents, true, true, true},
        {Command::ReportProblem, true, true, true},
        {columnCommand(Command::ChangeColumn, 3), true, false, false},
        {columnCommand(Command::SortColumn, 5), true, true, false},
        {columnCommand(Command::HeaderColumn, 5), true, true, false},
        {columnCommand(Command::HeaderColumn, 31), true, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.id));
        EXPECT_EQ(commandAllowed(c.id, {false, 1, true}), c.idle1);
        EXPECT_EQ(commandAllowed(c.id, {false, 0, true}), c.idle0);
        EXPECT_EQ(commandAllowed(c.id, {true, 1, true}), c.busy1);
    }
}

TEST(CommandChecks, FrequencySortColumnAndDirection)
{
    CommandState s;
    s.focusedFrequency = core::Frequency::Monthly;
    s.sortColumn = 0; // Frequency: not reversed runs Daily to Never, ascending
    EXPECT_TRUE(isChecked(frequencyCommand(core::Frequency::Monthly), s));
    EXPECT_FALSE(isChecked(Command::FrequencyDaily, s));
    EXPECT_TRUE(isChecked(Command::SortColumn, s));
    EXPECT_TRUE(isChecked(Command::Ascending, s));
    s.sortReversed = true;
    EXPECT_TRUE(isChecked(Command::Descending, s));
    s.sortColumn = 3; // Reference: reversed shows descending
    EXPECT_TRUE(isChecked(Command::Descending, s));
    EXPECT_FALSE(isChecked(Command::SortColumn, s));
}

TEST(Menus, GeneratedItemsAndPopup)
{
    const std::vector<MenuItem> bar = mainMenu();
    ASSERT_EQ(bar.size(), 8u);
    const std::vector<MenuItem>& sort = bar[3].children;
    EXPECT_EQ(sort.size(), 3u + 18u); // Ascending, Descending, separator, a column each but Error
    EXPECT_EQ(sort[3].id, Command::SortColumn);
    EXPECT_EQ(sort[3].text, "By &Frequency");
    EXPECT_EQ(sort.back().text, "By &Location");
    EXPECT_EQ(commandInfo(columnCommand(Command::ChangeColumn, 3))->text, "Change Reference");
    EXPECT_FALSE(commandInfo(columnCommand(Command::ChangeColumn, 7)));
    EXPECT_EQ(commandInfo(Command::Add)->text, "&Add...\tInsert");

    // a changeable column inserts its item before View Details
    const std::pair<int, std::string> cases[] = {
        {-1, ""}, {7, ""}, {3, "Change Reference"}, {1, "Change Last Update"}, {0, "&Frequency"}};
    for (const auto& [column, inserted] : cases) {
        SCOPED_TRACE(column);
        const std::vector<MenuItem> items = popupMenu(column);
        ASSERT_EQ(items.size(), inserted.empty() ? 7u : 8u);
        if (!inserted.empty()) {
            EXPECT_EQ(items[6].text, inserted);
        }
        EXPECT_EQ(items.back().id, Command::ViewDetails);
    }
    EXPECT_EQ(popupMenu(0)[6].children.size(), 5u);
    // outside the Update menu the items say what they update
    EXPECT_EQ(popupMenu(-1)[0].text, "Update &Selected\tF5");
    EXPECT_EQ(popupMenu(-1)[1].text, "Update &All\tShift+F5");
    EXPECT_EQ(popupMenu(-1)[6].text, "View &Details\tEnter");
    EXPECT_EQ(bar[1].children.front().text, "&Undo\tCtrl+Z");
}

TEST(WindowTexts, TitleColumnWidthAndUnhandledMessage)
{
    EXPECT_EQ(windowTitle("", ""), "Tarnwick\xAE");
    EXPECT_EQ(windowTitle("Acme", "4.10.01"), "Tarnwick\xAE - Acme (v4.10.01 available - use Options|Upgrade)");
    EXPECT_EQ(columnWidth("", 3, 60), 112);
    EXPECT_EQ(columnWidth("140px", 3, 60), 140);
    EXPECT_EQ(unhandledMessage(std::make_exception_ptr(tasks::CAppError("Bad thing."))), "Bad thing.");
    EXPECT_EQ(unhandledMessage(std::make_exception_ptr(std::out_of_range("range"))), "range");
    EXPECT_EQ(unhandledMessage(std::make_exception_ptr(42)), "Unknown exception.");
}
