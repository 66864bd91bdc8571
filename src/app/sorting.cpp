#include "app/sorting.h"

#include "core/fieldtable.h"

namespace tarnwick::app {

namespace {

bool defaultDescending(int column)
{
    return core::fieldInfo(static_cast<core::FieldId>(column)).defaultDescending;
}

} // namespace

std::optional<SortOrder> sortRequest(SortOrder current, int column, SortKind kind)
{
    if (kind == SortKind::Reapply)
        return current;
    // the Error column has no Sort item and is never a sort column
    if (column < 0 || column >= core::k_fieldCount ||
        core::fieldInfo(static_cast<core::FieldId>(column)).menuCaption.empty())
        return std::nullopt;
    SortOrder next{column, false};
    switch (kind) {
    case SortKind::Reapply:
    case SortKind::Column:
        break;
    case SortKind::HeaderClick:
        next.reversed = column == current.column && !current.reversed;
        break;
    case SortKind::Ascending:
    case SortKind::Descending:
        next.column = current.column;
        next.reversed = defaultDescending(current.column) == (kind == SortKind::Ascending);
        break;
    }
    if (next == current)
        return std::nullopt;
    return next;
}

bool showsAscending(SortOrder order)
{
    return defaultDescending(order.column) == order.reversed;
}

} // namespace tarnwick::app
