#include "app/sorting.h"

#include "app/entryrow.h"

#include "core/entrystore.h"
#include "core/fieldtable.h"
#include "core/identifier.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <numeric>

namespace tarnwick::app {

namespace {

// Whether a column's rows, not reversed, run in the ascending direction. The
// columns the field table sorts latest first (the dates, the Location) do not;
// Frequency's first order, Daily to Never, is ascending as the user reads it.
bool runsAscending(int column)
{
    if (column < 0 || column >= core::k_fieldCount)
        return true;
    const auto id = static_cast<core::FieldId>(column);
    return id == core::FieldId::Frequency || !core::fieldInfo(id).defaultDescending;
}

// Lower case for ASCII and for the Latin-1 capitals written as UTF-8 (C3 80..C3 9E but the sign x).
std::string folded(std::string_view text, bool dropSeparators)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (dropSeparators && core::isNumberSeparator(static_cast<char>(c)))
            continue;
        if (c >= 'A' && c <= 'Z') {
            out.push_back(static_cast<char>(c + 32));
        } else if (c == 0xC3 && i + 1 < text.size()) {
            const auto next = static_cast<unsigned char>(text[i + 1]);
            out.push_back(static_cast<char>(c));
            out.push_back(static_cast<char>(next >= 0x80 && next <= 0x9E && next != 0x97 ? next + 0x20 : next));
            ++i;
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out;
}

// Case folded as the store compares names: ASCII and the Latin-1 capitals, byte by byte.
unsigned char foldCase(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7) ? static_cast<unsigned char>(c + 32) : c;
}

// A cell as a key whose bytes order as the store orders the column (the date texts and the Location reversed
// apart): numbers big-endian, names folded with the empty ones last, references by their letters and digits.
std::string sortKey(const core::Entry& e, core::FieldId id)
{
    auto number = [](std::int64_t n) {
        std::string key(8, '\0');
        const auto u = static_cast<std::uint64_t>(n) ^ (std::uint64_t{1} << 63);
        for (int i = 0; i < 8; ++i)
            key[static_cast<size_t>(i)] = static_cast<char>(u >> (56 - 8 * i));
        return key;
    };
    switch (id) {
    case core::FieldId::Frequency:
        return number(static_cast<std::int64_t>(e.Frequency));
    case core::FieldId::LastUpdate:
        return number(-static_cast<std::int64_t>(e.LastUpdate));
    case core::FieldId::LastChange:
        return number(-static_cast<std::int64_t>(e.LastChange));
    case core::FieldId::Reference: {
        std::string key;
        for (const char c : e.Reference) {
            const auto u = static_cast<unsigned char>(c);
            if ((u >= '0' && u <= '9') || (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') ||
                (u >= 0xC0 && u != 0xD7 && u != 0xF7))
                key.push_back(static_cast<char>(foldCase(u)));
        }
        return key;
    }
    case core::FieldId::StatusDate:
    case core::FieldId::FilingDate:
    case core::FieldId::RegDate:
    case core::FieldId::PublishedDate:
    case core::FieldId::Location:
        return *e.textField(id);
    case core::FieldId::SerNum:
    case core::FieldId::RegNum:
    case core::FieldId::IntNum:
    case core::FieldId::Trademark:
    case core::FieldId::StatusText:
    case core::FieldId::LastHistory:
    case core::FieldId::LawOffice:
    case core::FieldId::Owner:
    case core::FieldId::Attorney: {
        const std::string& text = *e.textField(id);
        if (text.empty())
            return std::string(1, '\x01');
        std::string key(1, '\0');
        for (const char c : text)
            key.push_back(static_cast<char>(foldCase(static_cast<unsigned char>(c))));
        return key;
    }
    default:
        return {};
    }
}

// Whether the key runs latest first: the date texts and the Location.
bool reversedKey(core::FieldId id)
{
    return id == core::FieldId::StatusDate || id == core::FieldId::FilingDate || id == core::FieldId::RegDate ||
           id == core::FieldId::PublishedDate || id == core::FieldId::Location;
}

// The keys that break a tie of the column: the numbers.
std::array<std::string, 3> tieKeys(const core::Entry& e)
{
    return {sortKey(e, core::FieldId::SerNum), sortKey(e, core::FieldId::RegNum), sortKey(e, core::FieldId::IntNum)};
}

// Whether every entry stands where the sort by `id` puts it: each next one compared with the one before, the
// numbers made only where the column ties.
bool inOrder(const std::vector<core::Entry>& entries, core::FieldId id, bool against)
{
    if (entries.empty())
        return true;
    std::string before = sortKey(entries[0], id), column;
    std::array<std::string, 3> beforeTies, ties;
    bool tiesMade = false; // beforeTies are those of the entry before
    for (size_t i = 1; i < entries.size(); ++i) {
        column = sortKey(entries[i], id);
        const int c = column.compare(before);
        if (c != 0) {
            if (against ? c > 0 : c < 0)
                return false;
            tiesMade = false;
        } else {
            if (!tiesMade)
                beforeTies = tieKeys(entries[i - 1]);
            ties = tieKeys(entries[i]);
            if (ties < beforeTies)
                return false;
            beforeTies.swap(ties);
            tiesMade = true;
        }
        before.swap(column);
    }
    return true;
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
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
        next.reversed = runsAscending(current.column) != (kind == SortKind::Ascending);
        break;
    }
    if (next == current)
        return std::nullopt;
    return next;
}

bool showsAscending(SortOrder order)
{
    return runsAscending(order.column) != order.reversed;
}

std::vector<size_t> sortedPositions(const std::vector<core::Entry>& entries, SortOrder order)
{
    std::vector<size_t> positions(entries.size());
    std::iota(positions.begin(), positions.end(), size_t{0});
    if (order.column < 0 || order.column >= core::k_fieldCount)
        return positions;
    const auto id = static_cast<core::FieldId>(order.column);
    const bool against = reversedKey(id) != order.reversed;
    // a list saved in its order comes back in it: one look along it, no key held for the sort
    if (inOrder(entries, id, against))
        return positions;
    // each entry's keys made once, not at every comparison: the column's, then the numbers that break a tie
    struct Keys {
        std::string column;
        std::array<std::string, 3> ties;
    };
    std::vector<Keys> keys(entries.size());
    for (size_t i = 0; i < entries.size(); ++i)
        keys[i] = {sortKey(entries[i], id), tieKeys(entries[i])};
    std::stable_sort(positions.begin(), positions.end(), [&](size_t a, size_t b) {
        const int c = keys[a].column.compare(keys[b].column);
        if (c != 0)
            return against ? c > 0 : c < 0;
        return keys[a].ties < keys[b].ties;
    });
    return positions;
}

void moveEntries(core::EntryStore& store, const std::vector<size_t>& moves)
{
    // along each cycle of the permutation, one entry held aside: no second store's worth of memory to fault in,
    // and the entries that stay where they are cost nothing
    std::vector<char> placed(moves.size(), 0);
    for (size_t start = 0; start < moves.size(); ++start) {
        if (placed[start] || moves[start] == start)
            continue;
        core::Entry held = std::move(store.at(static_cast<int>(start)));
        size_t to = start;
        while (moves[to] != start) {
            // the entry after next is fetched while this one moves: the walk jumps about the store
            const core::Entry* ahead = &store.at(static_cast<int>(moves[moves[to]]));
            for (size_t line = 0; line < sizeof(core::Entry); line += 64)
                __builtin_prefetch(reinterpret_cast<const char*>(ahead) + line);
            store.at(static_cast<int>(to)) = std::move(store.at(static_cast<int>(moves[to])));
            placed[to] = 1;
            to = moves[to];
        }
        store.at(static_cast<int>(to)) = std::move(held);
        placed[to] = 1;
    }
}

RowFilter::RowFilter(std::string_view typed) : m_plain(folded(trimmed(typed), false))
{
    if (m_plain.find_first_of("0123456789") != std::string::npos)
        m_number = folded(m_plain, true);
}

RowFilter::Folded RowFilter::fold(std::string_view cells)
{
    Folded row{folded(cells, false), {}};
    row.number = folded(row.plain, true);
    return row;
}

bool RowFilter::matches(const Folded& row) const
{
    if (m_plain.empty() || row.plain.find(m_plain) != std::string::npos)
        return true;
    return !m_number.empty() && row.number.find(m_number) != std::string::npos;
}

bool RowFilter::narrows(const RowFilter& earlier) const
{
    // a number found without its separators may lack a separator of an earlier text that had no digit
    return earlier.empty() ||
           (m_plain.find(earlier.m_plain) != std::string::npos && (m_number.empty() || !earlier.m_number.empty()));
}

bool RowFilter::matches(std::string_view cell) const
{
    if (m_plain.empty())
        return true;
    const std::string text = folded(cell, false);
    if (text.find(m_plain) != std::string::npos)
        return true;
    return !m_number.empty() && folded(text, true).find(m_number) != std::string::npos;
}

void RowTexts::setDay(core::DayNumber day)
{
    if (day != m_day)
        forget();
    m_day = day;
}

const RowFilter::Folded& RowTexts::of(const std::vector<core::Entry>& entries, size_t at)
{
    if (m_rows.size() != entries.size())
        forget(), m_rows.resize(entries.size());
    std::optional<RowFilter::Folded>& row = m_rows[at];
    if (!row)
        row = RowFilter::fold(rowCellsText(entries[at], m_day));
    while (m_madeFromStart < m_rows.size() && m_rows[m_madeFromStart])
        ++m_madeFromStart;
    return *row;
}

void RowTexts::forget()
{
    m_rows.clear();
    m_madeFromStart = 0;
}

void RowTexts::forgetRow(size_t at)
{
    if (at < m_rows.size()) {
        m_rows[at].reset();
        m_madeFromStart = std::min(m_madeFromStart, at);
    }
}

void RowTexts::reorder(const std::vector<size_t>& moves)
{
    if (moves.empty())
        return;
    if (moves.size() != m_rows.size()) {
        forget();
        return;
    }
    std::vector<std::optional<RowFilter::Folded>> moved(moves.size());
    for (size_t to = 0; to < moves.size(); ++to)
        moved[to] = std::move(m_rows[moves[to]]);
    m_rows = std::move(moved);
    m_madeFromStart = 0;
    while (m_madeFromStart < m_rows.size() && m_rows[m_madeFromStart])
        ++m_madeFromStart;
}

} // namespace tarnwick::app
