#pragma once

#include "core/daynumber.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::core {
class EntryStore;
struct Entry;
} // namespace tarnwick::core

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

// Whether the list shows the column ascending: A to Z, low numbers first, old
// dates first, Daily before Never. The header's arrow, the Sort menu's check mark
// and its Ascending command mean this for every column.
bool showsAscending(SortOrder order);

// The entries in `order`, stable: each new position's old position. A column
// that cannot sort leaves them as they are.
std::vector<size_t> sortedPositions(const std::vector<core::Entry>& entries, SortOrder order);
// Moves the store's entries to the new positions `moves` gives (as sortedPositions
// returns them), each entry moved once.
void moveEntries(core::EntryStore& store, const std::vector<size_t>& moves);

// The filter box: a row is shown when any of its cells holds the typed text,
// ignoring case (ASCII and the Latin-1 letters in UTF-8) and the spaces round
// it. A text with a digit in it is a number as a user types one: spaces, "-",
// "/", "." and "," count for nothing on either side, so 75000005 finds 75-000005.
class RowFilter {
public:
    explicit RowFilter(std::string_view typed);
    // An empty filter shows every row.
    bool empty() const { return m_plain.empty(); }
    bool matches(std::string_view cell) const;

    // A row's text folded once, for every keystroke after.
    struct Folded {
        std::string plain;
        std::string number; // without separators
    };
    static Folded fold(std::string_view cells);
    bool matches(const Folded& row) const;
    // Whether every row this filter shows, `earlier` showed too (text typed on at the end or inside), so that
    // only the rows shown need a look.
    bool narrows(const RowFilter& earlier) const;

private:
    std::string m_plain;  // folded
    std::string m_number; // folded, without separators; empty when the text holds no digit
};

// The rows' folded texts for the filter, each made once and kept while its entry holds still: a sort moves them
// with their entries, a changed entry drops its own, and a new day drops them all (the next deadline of a row is
// counted from the day).
class RowTexts {
public:
    // The day the texts are made for; another than before forgets them.
    void setDay(core::DayNumber day);
    core::DayNumber day() const { return m_day; }
    // The folded text of `entries[at]`, made now when it is not kept; a store of another size forgets them all.
    const RowFilter::Folded& of(const std::vector<core::Entry>& entries, size_t at);
    // How many rows from the first, in a row, are made (so that an idle time makes the rest few at a time).
    size_t madeFromStart() const { return m_madeFromStart; }
    void forget();
    void forgetRow(size_t at);
    // The entries moved as moveEntries moves them; no moves: none moved.
    void reorder(const std::vector<size_t>& moves);

private:
    core::DayNumber m_day = 0;
    std::vector<std::optional<RowFilter::Folded>> m_rows;
    size_t m_madeFromStart = 0;
};

} // namespace tarnwick::app
