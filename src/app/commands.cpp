#include "app/commands.h"

#include "app/sorting.h"
#include "core/fieldtable.h"

#include <algorithm>

namespace tarnwick::app {

namespace {

const char* const k_frequencyTexts[] = {"&Daily", "&Weekly", "&Monthly", "&Yearly", "&Never"};

MenuItem item(Command id)
{
    const std::optional<CommandInfo> info = commandInfo(id);
    return {id, info->text, info->key, {}};
}

MenuItem separator()
{
    return {};
}

MenuItem subMenu(std::string text, std::vector<MenuItem> children)
{
    return {Command{}, std::move(text), {}, std::move(children)};
}

std::string columnCaption(int column)
{
    return std::string(core::fieldInfo(static_cast<core::FieldId>(column)).columnCaption);
}

std::string menuCaption(int column)
{
    return std::string(core::fieldInfo(static_cast<core::FieldId>(column)).menuCaption);
}

bool isFrequencyItem(Command id)
{
    return commandFrequency(id).has_value();
}

} // namespace

const std::vector<CommandInfo>& commandTable()
{
    static const std::vector<CommandInfo> table = {
        {Command::SendEmail, "&Send E-Mail", ""},
        {Command::DeleteEmail, "&Delete E-Mail", ""},
        {Command::Exit, "E&xit", ""},
        {Command::SelectAll, "&Select All\tCtrl+A", "Ctrl+A"},
        {Command::FrequencyDaily, k_frequencyTexts[0], ""},
        {columnCommand(Command::FrequencyDaily, 1), k_frequencyTexts[1], ""},
        {columnCommand(Command::FrequencyDaily, 2), k_frequencyTexts[2], ""},
        {columnCommand(Command::FrequencyDaily, 3), k_frequencyTexts[3], ""},
        {Command::FrequencyNever, k_frequencyTexts[4], ""},
        {Command::Add, "&Add...\tInsert", "Ins"},
        {Command::Delete, "&Delete\tDel", "Del"},
        {Command::ClearError, "Clear &Error", ""},
        {Command::UpdateSelected, "&Selected\tF5", "F5"},
        {Command::UpdateAll, "&All\tShift+F5", "Shift+F5"},
        {Command::Cancel, "&Cancel\tEsc", "Esc"},
        {Command::Ascending, "&Ascending", ""},
        {Command::Descending, "&Descending", ""},
        {Command::ViewWebpage, "&Webpage\tF9", "F9"},
        {Command::ViewDetails, "&Details\tEnter", "Return"},
        {Command::ViewReport, "&Report", ""},
        {Command::ViewLogFile, "&Log File", ""},
        {Command::ViewFlow, "&TCP/IP Flow", ""},
        {Command::Configure, "&Configure...", ""},
        {Command::Upgrade, "&Upgrade", ""},
        {Command::TestReturnAddress, "Send E-Mail to &Return Address", ""},
        {Command::TestNotifyAddresses, "Send E-Mail to &Notification Addresses", ""},
        {Command::HelpContents, "&Contents...\tF1", "F1"},
        {Command::WebSite, "&Web Site", ""},
        {Command::ReportProblem, "&Report Problem...", ""},
        {Command::About, "&About", ""},
        {Command::ExportCalendar, "Export &Calendar...", ""},
        {Command::ExportSpreadsheet, "&Export CSV...", ""},
        {Command::ImportSpreadsheet, "&Import CSV...", ""},
        {Command::Undo, "&Undo\tCtrl+Z", "Ctrl+Z"},
        {Command::ViewDeadlines, "D&eadlines\tCtrl+D", "Ctrl+D"},
    };
    return table;
}

std::optional<int> commandColumn(Command id, Command first)
{
    const int column = static_cast<int>(id) - static_cast<int>(first);
    const int columns = first == Command::HeaderColumn ? 32 : core::k_fieldCount;
    const bool generated =
        first == Command::ChangeColumn || first == Command::SortColumn || first == Command::HeaderColumn;
    if (!generated || column < 0 || column >= columns)
        return std::nullopt;
    return column;
}

Command frequencyCommand(core::Frequency frequency)
{
    const int value = static_cast<int>(frequency);
    return columnCommand(Command::FrequencyDaily, value >= 0 && value <= 3 ? value : 4);
}

std::optional<core::Frequency> commandFrequency(Command id)
{
    if (id < Command::FrequencyDaily || id > Command::FrequencyNever)
        return std::nullopt;
    return static_cast<core::Frequency>(static_cast<int>(id) - static_cast<int>(Command::FrequencyDaily));
}

std::optional<CommandInfo> commandInfo(Command id)
{
    const auto& table = commandTable();
    auto it = std::find_if(table.begin(), table.end(), [id](const CommandInfo& c) { return c.id == id; });
    if (it != table.end())
        return *it;
    if (const std::optional<int> column = commandColumn(id, Command::ChangeColumn);
        column && isChangeableColumn(*column))
        return CommandInfo{id, "Change " + columnCaption(*column), ""};
    if (const std::optional<int> column = commandColumn(id, Command::SortColumn);
        column && !menuCaption(*column).empty())
        return CommandInfo{id, "By " + menuCaption(*column), ""};
    return std::nullopt;
}

bool isChangeableColumn(int column)
{
    using core::FieldId;
    const auto id = static_cast<FieldId>(column);
    return id == FieldId::Frequency || id == FieldId::LastUpdate || id == FieldId::Reference;
}

MenuItem frequencyMenu()
{
    std::vector<MenuItem> items;
    for (int f = 0; f <= static_cast<int>(core::Frequency::Never); ++f)
        items.push_back(item(frequencyCommand(static_cast<core::Frequency>(f))));
    return subMenu(menuCaption(0), std::move(items));
}

std::vector<MenuItem> mainMenu()
{
    // Edit > Change: the Frequency sub-menu, one item per other changeable field, Clear Error
    std::vector<MenuItem> change;
    for (int column = 0; column < core::k_fieldCount; ++column) {
        if (!isChangeableColumn(column))
            continue;
        if (column == static_cast<int>(core::FieldId::Frequency))
            change.push_back(frequencyMenu());
        else
            change.push_back({columnCommand(Command::ChangeColumn, column), menuCaption(column), {}, {}});
    }
    change.push_back(separator());
    change.push_back(item(Command::ClearError));

    std::vector<MenuItem> sort = {item(Command::Ascending), item(Command::Descending), separator()};
    for (int column = 0; column < core::k_fieldCount; ++column) {
        if (!menuCaption(column).empty())
            sort.push_back(item(columnCommand(Command::SortColumn, column)));
    }

    return {
        subMenu("&File",
                {item(Command::SendEmail), item(Command::DeleteEmail), separator(), item(Command::ImportSpreadsheet),
                 item(Command::ExportSpreadsheet), item(Command::ExportCalendar), separator(), item(Command::Exit)}),
        subMenu("&Edit",
                {item(Command::Undo), separator(), item(Command::SelectAll), separator(),
                 subMenu("&Change", std::move(change)), separator(), item(Command::Add), item(Command::Delete)}),
        subMenu("&Update",
                {item(Command::UpdateSelected), item(Command::UpdateAll), separator(), item(Command::Cancel)}),
        subMenu("&Sort", std::move(sort)),
        subMenu("&View",
                {item(Command::ViewWebpage), item(Command::ViewDetails), separator(), item(Command::ViewReport),
                 item(Command::ViewLogFile), item(Command::ViewFlow), item(Command::ViewDeadlines)}),
        subMenu("&Options", {item(Command::Configure), item(Command::Upgrade)}),
        subMenu("&Test", {item(Command::TestReturnAddress), item(Command::TestNotifyAddresses)}),
        subMenu("&Help", {item(Command::HelpContents), item(Command::WebSite), separator(),
                          item(Command::ReportProblem), separator(), item(Command::About)}),
    };
}

std::vector<MenuItem> popupMenu(int column)
{
    // away from its menu an item names its menu's verb as well
    auto named = [](Command id, const char* text) {
        MenuItem m = item(id);
        m.text = text;
        return m;
    };
    std::vector<MenuItem> items = {named(Command::UpdateSelected, "Update &Selected\tF5"),
                                   named(Command::UpdateAll, "Update &All\tShift+F5"),
                                   item(Command::Add),
                                   item(Command::Delete),
                                   item(Command::ClearError),
                                   named(Command::ViewWebpage, "View &Webpage\tF9"),
                                   named(Command::ViewDetails, "View &Details\tEnter")};
    if (column >= 0 && column < core::k_fieldCount && isChangeableColumn(column)) {
        MenuItem change = column == static_cast<int>(core::FieldId::Frequency)
                              ? frequencyMenu()
                              : item(columnCommand(Command::ChangeColumn, column));
        items.insert(items.begin() + 6, std::move(change));
    }
    return items;
}

bool isEnabled(Command id, const CommandState& s)
{
    const int reference = static_cast<int>(core::FieldId::Reference);
    if (id == Command::Cancel)
        return s.busy;
    if (s.busy)
        return id == Command::Exit || id == Command::ViewLogFile || id == Command::ViewFlow ||
               id == Command::ViewDeadlines || id == Command::HelpContents || id == Command::WebSite ||
               id == Command::ReportProblem;
    if (id == Command::SendEmail || id == Command::DeleteEmail)
        return s.pendingEmail;
    if (id == Command::Undo)
        return s.canUndo;
    if (id == columnCommand(Command::ChangeColumn, reference) || id == Command::ViewWebpage)
        return s.selected == 1;
    if (commandColumn(id, Command::ChangeColumn) || isFrequencyItem(id) || id == Command::Delete ||
        id == Command::ClearError || id == Command::UpdateSelected || id == Command::ViewDetails)
        return s.selected > 0;
    return true;
}

bool isChecked(Command id, const CommandState& s)
{
    if (isFrequencyItem(id))
        return s.focusedFrequency && frequencyCommand(*s.focusedFrequency) == id;
    if (const std::optional<int> column = commandColumn(id, Command::SortColumn))
        return *column == s.sortColumn;
    if (id == Command::Ascending || id == Command::Descending)
        return showsAscending({s.sortColumn, s.sortReversed}) == (id == Command::Ascending);
    return false;
}

} // namespace tarnwick::app
