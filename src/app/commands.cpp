#include "app/commands.h"

#include "app/sorting.h"
#include "core/fieldtable.h"

#include <algorithm>

namespace tarnwick::app {

namespace {

const char* const k_frequencyTexts[] = {"&Daily", "&Weekly", "&Monthly", "&Yearly", "&Never"};

MenuItem item(int id)
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
    return {0, std::move(text), {}, std::move(children)};
}

std::string columnCaption(int column)
{
    return std::string(core::fieldInfo(static_cast<core::FieldId>(column)).columnCaption);
}

std::string menuCaption(int column)
{
    return std::string(core::fieldInfo(static_cast<core::FieldId>(column)).menuCaption);
}

bool isFrequencyItem(int id)
{
    return id >= cmd::FrequencyDaily && id <= cmd::FrequencyNever;
}

} // namespace

const std::vector<CommandInfo>& commandTable()
{
    static const std::vector<CommandInfo> table = {
        {cmd::SendEmail, "&Send E-Mail", ""},
        {cmd::DeleteEmail, "&Delete E-Mail", ""},
        {cmd::Exit, "E&xit", ""},
        {cmd::SelectAll, "&Select All\tCtrl+A", "Ctrl+A"},
        {cmd::FrequencyDaily, k_frequencyTexts[0], ""},
        {cmd::FrequencyDaily + 1, k_frequencyTexts[1], ""},
        {cmd::FrequencyDaily + 2, k_frequencyTexts[2], ""},
        {cmd::FrequencyDaily + 3, k_frequencyTexts[3], ""},
        {cmd::FrequencyNever, k_frequencyTexts[4], ""},
        {cmd::Add, "&Add...\tInsert", "Ins"},
        {cmd::Delete, "&Delete\tDel", "Del"},
        {cmd::ClearError, "Clear &Error", ""},
        {cmd::UpdateSelected, "&Selected\tF5", "F5"},
        {cmd::UpdateAll, "&All\tShift+F5", "Shift+F5"},
        {cmd::Cancel, "&Cancel\tEsc", "Esc"},
        {cmd::Ascending, "&Ascending", ""},
        {cmd::Descending, "&Descending", ""},
        {cmd::ViewWebpage, "&Webpage\tF9", "F9"},
        {cmd::ViewDetails, "&Details\tEnter", "Return"},
        {cmd::ViewReport, "&Report", ""},
        {cmd::ViewLogFile, "&Log File", ""},
        {cmd::ViewFlow, "&TCP/IP Flow", ""},
        {cmd::Configure, "&Configure...", ""},
        {cmd::Upgrade, "&Upgrade", ""},
        {cmd::TestReturnAddress, "Send E-Mail to &Return Address", ""},
        {cmd::TestNotifyAddresses, "Send E-Mail to &Notification Addresses", ""},
        {cmd::HelpContents, "&Contents...\tF1", "F1"},
        {cmd::WebSite, "&Web Site", ""},
        {cmd::ReportProblem, "&Report Problem...", ""},
        {cmd::About, "&About", ""},
        {cmd::ExportCalendar, "Export &Calendar...", ""},
        {cmd::ExportSpreadsheet, "&Export CSV...", ""},
        {cmd::ImportSpreadsheet, "&Import CSV...", ""},
    };
    return table;
}

std::optional<CommandInfo> commandInfo(int id)
{
    const auto& table = commandTable();
    auto it = std::find_if(table.begin(), table.end(), [id](const CommandInfo& c) { return c.id == id; });
    if (it != table.end())
        return *it;
    const int column = id % 100;
    if (column >= core::k_fieldCount)
        return std::nullopt;
    if (id - column == cmd::ChangeColumn && isChangeableColumn(column))
        return CommandInfo{id, "Change " + columnCaption(column), ""};
    if (id - column == cmd::SortColumn && !menuCaption(column).empty())
        return CommandInfo{id, "By " + menuCaption(column), ""};
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
    for (int id = cmd::FrequencyDaily; id <= cmd::FrequencyNever; ++id)
        items.push_back(item(id));
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
            change.push_back({cmd::ChangeColumn + column, menuCaption(column), {}, {}});
    }
    change.push_back(separator());
    change.push_back(item(cmd::ClearError));

    std::vector<MenuItem> sort = {item(cmd::Ascending), item(cmd::Descending), separator()};
    for (int column = 0; column < core::k_fieldCount; ++column) {
        if (!menuCaption(column).empty())
            sort.push_back(item(cmd::SortColumn + column));
    }

    return {
        subMenu("&File", {item(cmd::SendEmail), item(cmd::DeleteEmail), separator(), item(cmd::ImportSpreadsheet),
                          item(cmd::ExportSpreadsheet), item(cmd::ExportCalendar), separator(), item(cmd::Exit)}),
        subMenu("&Edit", {item(cmd::SelectAll), separator(), subMenu("&Change", std::move(change)), separator(),
                          item(cmd::Add), item(cmd::Delete)}),
        subMenu("&Update", {item(cmd::UpdateSelected), item(cmd::UpdateAll), separator(), item(cmd::Cancel)}),
        subMenu("&Sort", std::move(sort)),
        subMenu("&View", {item(cmd::ViewWebpage), item(cmd::ViewDetails), separator(), item(cmd::ViewReport),
                          item(cmd::ViewLogFile), item(cmd::ViewFlow)}),
        subMenu("&Options", {item(cmd::Configure), item(cmd::Upgrade)}),
        subMenu("&Test", {item(cmd::TestReturnAddress), item(cmd::TestNotifyAddresses)}),
        subMenu("&Help", {item(cmd::HelpContents), item(cmd::WebSite), separator(), item(cmd::ReportProblem),
                          separator(), item(cmd::About)}),
    };
}

std::vector<MenuItem> popupMenu(int column)
{
    std::vector<MenuItem> items = {item(cmd::UpdateSelected), item(cmd::UpdateAll),  item(cmd::Add),
                                   item(cmd::Delete),         item(cmd::ClearError), item(cmd::ViewWebpage),
                                   item(cmd::ViewDetails)};
    if (column >= 0 && column < core::k_fieldCount && isChangeableColumn(column)) {
        MenuItem change =
            column == static_cast<int>(core::FieldId::Frequency) ? frequencyMenu() : item(cmd::ChangeColumn + column);
        items.insert(items.begin() + 6, std::move(change));
    }
    return items;
}

bool isEnabled(int id, const CommandState& s)
{
    const int reference = static_cast<int>(core::FieldId::Reference);
    if (id == cmd::Cancel)
        return s.busy;
    if (s.busy)
        return id == cmd::Exit || id == cmd::ViewLogFile || id == cmd::ViewFlow || id == cmd::HelpContents ||
               id == cmd::WebSite || id == cmd::ReportProblem;
    if (id == cmd::SendEmail || id == cmd::DeleteEmail)
        return s.pendingEmail;
    if (id == cmd::ChangeColumn + reference || id == cmd::ViewWebpage)
        return s.selected == 1;
    if ((id >= cmd::ChangeColumn && id < cmd::ChangeColumn + core::k_fieldCount) || isFrequencyItem(id) ||
        id == cmd::Delete || id == cmd::ClearError || id == cmd::UpdateSelected || id == cmd::ViewDetails)
        return s.selected > 0;
    return true;
}

bool isChecked(int id, const CommandState& s)
{
    if (isFrequencyItem(id))
        return s.focusedFrequency >= 0 && std::min(s.focusedFrequency, 4) == id - cmd::FrequencyDaily;
    if (id >= cmd::SortColumn && id < cmd::SortColumn + core::k_fieldCount)
        return id - cmd::SortColumn == s.sortColumn;
    if (id == cmd::Ascending || id == cmd::Descending)
        return showsAscending({s.sortColumn, s.sortReversed}) == (id == cmd::Ascending);
    return false;
}

} // namespace tarnwick::app
