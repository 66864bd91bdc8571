#include "core/entrystore.h"

#include "core/identifier.h"

#include <algorithm>
#include <numeric>
#include <stdexcept>
#include <utility>

namespace tarnwick::core {

namespace {

FieldId duplicateKey(const Entry& entry)
{
    if (!entry.SerNum.empty())
        return FieldId::SerNum;
    if (!entry.RegNum.empty())
        return FieldId::RegNum;
    return FieldId::IntNum;
}

} // namespace

std::optional<int> EntryStore::findDuplicate(const Entry& entry) const
{
    const FieldId key = duplicateKey(entry);
    const std::string identity = numberIdentity(key, *entry.textField(key));
    if (identity.empty())
        return std::nullopt;
    for (size_t i = 0; i < m_entries.size(); ++i) {
        if (numberIdentity(key, *m_entries[i].textField(key)) == identity)
            return static_cast<int>(i);
    }
    return std::nullopt;
}

Added EntryStore::addEntry(Entry entry)
{
    if (const std::optional<int> duplicate = findDuplicate(entry))
        return {*duplicate, false};
    return {appendEntry(std::move(entry)), true};
}

int EntryStore::appendEntry(Entry entry)
{
    m_entries.push_back(std::move(entry));
    return count() - 1;
}

Entry EntryStore::replaceEntry(int position, Entry entry)
{
    return std::exchange(at(position), std::move(entry));
}

void EntryStore::sort(FieldId id, bool reversed)
{
    // order positions first and move every entry once: entries are large
    std::vector<size_t> order(m_entries.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return m_entries[a].sortCompare(id, m_entries[b], reversed) < 0; });
    std::vector<Entry> sorted;
    sorted.reserve(m_entries.size());
    for (size_t from : order)
        sorted.push_back(std::move(m_entries[from]));
    m_entries = std::move(sorted);
}

void EntryStore::remove(int position)
{
    if (position < 0 || position >= count())
        throw std::out_of_range("EntryStore::remove: no such position");
    m_entries.erase(m_entries.begin() + position);
}

} // namespace tarnwick::core
