#include "app/sorting.h"

#include "core/fieldtable.h"
#include "core/identifier.h"

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

RowFilter::RowFilter(std::string_view typed) : m_plain(folded(trimmed(typed), false))
{
    if (m_plain.find_first_of("0123456789") != std::string::npos)
        m_number = folded(m_plain, true);
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

} // namespace tarnwick::app
