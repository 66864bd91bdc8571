#pragma once

#include "core/entry.h"

#include <optional>
#include <string>
#include <vector>

namespace tarnwick::app {

// The main window's commands by their numbers; menus, pop-ups, keys and posted commands share them.
enum class Command : int {
    SendEmail = 32768,
    DeleteEmail = 32769,
    Exit = 32770,
    SelectAll = 32771,
    FrequencyDaily = 32772, // .. FrequencyNever, one per frequency
    FrequencyNever = 32776,
    Add = 32777,
    Delete = 32778,
    ClearError = 32779,
    UpdateSelected = 32780,
    UpdateAll = 32781,
    Cancel = 32782,
    Ascending = 32783,
    Descending = 32784,
    ViewWebpage = 32785,
    ViewDetails = 32786,
    ViewReport = 32787,
    ViewLogFile = 32788,
    ViewFlow = 32789,
    Configure = 32790,
    Upgrade = 32791,
    TestReturnAddress = 32792,
    TestNotifyAddresses = 32793,
    HelpContents = 32794,
    WebSite = 32795,
    ReportProblem = 32796,
    About = 32797,
    ExportCalendar = 32798,
    ExportSpreadsheet = 32799,
    ImportSpreadsheet = 32800,
    Undo = 32801,
    ViewDeadlines = 32802,
    ChangeColumn = 10000, // + column: change that column of the selected entries
    SortColumn = 10100,   // + column: sort by that column
    HeaderColumn = 10200, // + column (0..31): a click on that column's header
    Close = 0xF060,       // the system close command
};

// The command of a column: ChangeColumn, SortColumn or HeaderColumn + `column`.
constexpr Command columnCommand(Command first, int column)
{
    return static_cast<Command>(static_cast<int>(first) + column);
}
// The column of a command made by columnCommand(first, column); none for any other command.
std::optional<int> commandColumn(Command id, Command first);
// The Frequency item of `frequency`, and the frequency an item sets (none for another command).
Command frequencyCommand(core::Frequency frequency);
std::optional<core::Frequency> commandFrequency(Command id);

// A command with its menu text ("&" marks the mnemonic) and its key, as Qt names keys.
struct CommandInfo {
    Command id{};
    std::string text;
    std::string key;
};

// One item of a menu: a command, a separator (no command, no children) or a sub-menu (children).
struct MenuItem {
    Command id{};
    std::string text;
    std::string key;
    std::vector<MenuItem> children;

    bool isSeparator() const { return id == Command{} && children.empty(); }
    bool isSubMenu() const { return !children.empty(); }
};

// The fixed commands with their texts and keys, in number order.
const std::vector<CommandInfo>& commandTable();
std::optional<CommandInfo> commandInfo(Command id);

// The menu bar: File, Edit (with the Change sub-menu), Update, Sort, View, Options,
// Test, Help; the Change and Sort items come from the field table.
std::vector<MenuItem> mainMenu();
// The entry list's pop-up for a right click on `column` (-1: outside every column). Away from the Update and View
// menus their items say what they do ("Update &Selected", "View &Details").
std::vector<MenuItem> popupMenu(int column);
// The Frequency sub-menu, Daily to Never.
MenuItem frequencyMenu();

// Whether the user may change `column` from the list.
bool isChangeableColumn(int column);

// What enabling and check marks look at.
struct CommandState {
    bool busy = false;
    int selected = 0; // rows selected
    bool pendingEmail = false;
    bool canUndo = false;                              // an edit of this session can be taken back
    std::optional<core::Frequency> focusedFrequency{}; // the focused entry's; none when no row has the focus
    int sortColumn = 0;
    bool sortReversed = false;
};

bool isEnabled(Command id, const CommandState& state);
bool isChecked(Command id, const CommandState& state);

} // namespace tarnwick::app
