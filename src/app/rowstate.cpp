#include "app/rowstate.h"

namespace tarnwick::app {

RowState rowState(const core::Entry& entry)
{
    const int state = entry.stateImage();
    if (state & 4)
        return RowState::Error;
    if (entry.LastUpdate == 0)
        return RowState::Never;
    if (state & 1)
        return RowState::Recent;
    return (state & 2) ? RowState::UpToDate : RowState::Due;
}

std::string rowStateText(const core::Entry& entry)
{
    switch (rowState(entry)) {
    case RowState::Error:
        return "Last update failed: " + entry.Error;
    case RowState::Never:
        return "Never updated";
    case RowState::Recent:
        return "Changed within the last week";
    case RowState::UpToDate:
        return "Up to date";
    case RowState::Due:
        break;
    }
    return "Update due";
}

} // namespace tarnwick::app
