#pragma once

#include <optional>

namespace tarnwick::app {

// The list's order: a column and whether it runs against the column's normal direction.
struct SortOrder {
    int column = 0;
    bool reversed = false;

    bool operator==(const SortOrder&) const = default;
};

// How a sort was asked for.
enum class SortKind : int {
    Reapply = 0,     // the current order again (after a change or an addition)
    Column = 1,      // a column in its normal direction (Sort > By ...)
    HeaderClick = 2, // the same column flips, another one sorts normally
    Ascending = 3,   // Sort > Ascending on the current column
    Descending = 4,  // Sort > Descending on the current column
};

// The order a request leads to; none when nothing is to be done (the order is
// unchanged and the request does not re-apply it, or the column cannot sort).
std::optional<SortOrder> sortRequest(SortOrder current, int column, SortKind kind);

// Whether the list shows the column ascending (the direction the Sort menu checks).
bool showsAscending(SortOrder order);

} // namespace tarnwick::app
