#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tarnwick::app {

// The main window's command numbers; menus, pop-ups, keys and posted commands share them.
namespace cmd {
constexpr int SendEmail = 32768;
constexpr int DeleteEmail = 32769;
constexpr int Exit = 32770;
constexpr int SelectAll = 32771;
constexpr int FrequencyDaily = 32772; // .. FrequencyNever, one per frequency value
constexpr int FrequencyNever = 32776;
constexpr int Add = 32777;
constexpr int Delete = 32778;
constexpr int ClearError = 32779;
constexpr int UpdateSelected = 32780;
constexpr int UpdateAll = 32781;
constexpr int Cancel = 32782;
constexpr int Ascending = 32783;
constexpr int Descending = 32784;
constexpr int ViewWebpage = 32785;
constexpr int ViewDetails = 32786;
constexpr int ViewReport = 32787;
constexpr int ViewLogFile = 32788;
constexpr int ViewFlow = 32789;
constexpr int Configure = 32790;
constexpr int Upgrade = 32791;
constexpr int TestReturnAddress = 32792;
constexpr int TestNotifyAddresses = 32793;
constexpr int HelpContents = 32794;
constexpr int WebSite = 32795;
constexpr int ReportProblem = 32796;
constexpr int About = 32797;
constexpr int ExportCalendar = 32798;
constexpr int ExportSpreadsheet = 32799;
constexpr int ImportSpreadsheet = 32800;
constexpr int ChangeColumn = 10000; // + column: change that column of the selected entries
constexpr int SortColumn = 10100;   // + column: sort by that column
constexpr int HeaderColumn = 10200; // + column (0..31): a click on that column's header
constexpr int Close = 0xF060;       // the system close command
} // namespace cmd

// A command with its menu text ("&" marks the mnemonic) and its key, as Qt names keys.
struct CommandInfo {
    int id = 0;
    std::string text;
    std::string key;
};

// One item of a menu: a command, a separator (id 0, no children) or a sub-menu (children).
struct MenuItem {
    int id = 0;
    std::string text;
    std::string key;
    std::vector<MenuItem> children;

    bool isSeparator() const { return id == 0 && children.empty(); }
    bool isSubMenu() const { return !children.empty(); }
};

// The fixed commands with their texts and keys, in number order.
const std::vector<CommandInfo>& commandTable();
std::optional<CommandInfo> commandInfo(int id);

// The menu bar: File, Edit (with the Change sub-menu), Update, Sort, View, Options,
// Test, Help; the Change and Sort items come from the field table.
std::vector<MenuItem> mainMenu();
// The entry list's pop-up for a right click on `column` (-1: outside every column).
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
    int focusedFrequency = -1; // the focused entry's frequency; -1 when none
    int sortColumn = 0;
    bool sortReversed = false;
};

bool isEnabled(int id, const CommandState& state);
bool isChecked(int id, const CommandState& state);

} // namespace tarnwick::app
