#include "core/entrystore.h"

#include <algorithm>
#include <numeric>
#include <stdexcept>
#include <utility>

namespace tarnwick::core {

const char* const k_duplicateEntryMessage = "This entry already exists.";

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
    if (entry.textField(key)->empty())
        return std::nullopt;
    for (size_t i = 0; i < m_entries.size(); ++i) {
        if (m_entries[i].compareField(key, entry) == 0)
            return static_cast<int>(i);
    }
    return std::nullopt;
}

std::string EntryStore::addEntry(const Entry& entry, unsigned flags)
{
    return addEntry(Entry(entry), flags);
}

std::string EntryStore::addEntry(Entry&& entry, unsigned flags)
{
    std::string result;
    std::optional<int> position;
    if (!(flags & addflags::SkipDuplicateSearch))
        position = findDuplicate(entry);
    if (position) {
        if (flags & addflags::ReportDuplicate) {
            result = k_duplicateEntryMessage;
            if ((flags & addflags::ShowReport) && m_host)
                m_host->reportError("Duplicate Entry", result);
        }
    } else {
        m_entries.push_back(std::move(entry));
        position = count() - 1;
        if ((flags & addflags::NotifyAdded) && m_host)
            result = m_host->postNotification(m_entries.back(), 2, "a", nullptr);
    }
    if ((flags & addflags::SelectRow) && m_host)
        m_host->selectOnly(*position);
    return result;
}

std::string EntryStore::replaceEntry(int position, const Entry& entry, unsigned flags)
{
    Entry& stored = at(position);
    const bool notify = (flags & addflags::NotifyChanged) && m_host;
    // the previous values are only needed when a change may be announced
    std::optional<Entry> previous;
    if (notify)
        previous = stored;
    stored = entry;
    if (m_host)
        m_host->rowChanged(position);
    if (notify && previous->compareField(FieldId::Reference, stored) != 0)
        return m_host->postNotification(stored, 3, "c", &*previous);
    return {};
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
