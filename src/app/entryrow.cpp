#include "app/entryrow.h"

#include "core/entry.h"
#include "core/fieldtable.h"
#include "docket/deadlines.h"

namespace tarnwick::app {

RowMark rowMark(const core::Entry& entry)
{
    if (!entry.Error.empty())
        return RowMark::Failing;
    if (entry.LastUpdate == 0)
        return RowMark::NeverUpdated;
    if (entry.recentlyChanged())
        return RowMark::Changed;
    return entry.isUpToDate() ? RowMark::UpToDate : RowMark::Due;
}

std::string rowMarkText(const core::Entry& entry)
{
    switch (rowMark(entry)) {
    case RowMark::Failing:
        return "Last update failed: " + entry.Error;
    case RowMark::NeverUpdated:
        return "Never updated";
    case RowMark::Changed:
        return "Changed within the last week";
    case RowMark::UpToDate:
        return "Up to date";
    case RowMark::Due:
        break;
    }
    return "Update due";
}

std::string deadlineCellText(const core::Entry& entry, core::DayNumber day)
{
    return docket::deadlineText(docket::nextDeadline(entry, day));
}

std::string rowCellsText(const core::Entry& entry, core::DayNumber day)
{
    std::string cells = deadlineCellText(entry, day);
    for (const core::FieldInfo& f : core::fieldTable())
        cells.append("\n").append(entry.valueText(f.id, false));
    return cells;
}

} // namespace tarnwick::app
