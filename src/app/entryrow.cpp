#include "app/entryrow.h"

#include "core/entry.h"

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

} // namespace tarnwick::app
