#pragma once

#include "core/entry.h"

#include <optional>
#include <string>
#include <vector>

namespace tarnwick::core {

// What adding an entry came to: where it stands, or where the entry that already holds its number stands.
struct Added {
    int position = 0;
    bool added = false;
};

// The entries in the list's display order, which is also the order of the data
// file and of the reports. The store reports what an add or a replacement came to;
// what follows from it (a message, a notice, a selection, a redrawn row) is its
// caller's.
class EntryStore {
public:
    int count() const { return static_cast<int>(m_entries.size()); }
    const Entry& at(int position) const { return m_entries.at(static_cast<size_t>(position)); }
    Entry& at(int position) { return m_entries.at(static_cast<size_t>(position)); }
    const std::vector<Entry>& entries() const { return m_entries; }

    // The first entry whose number of the kind that names `entry` (its application, else registration, else
    // international number) identifies the same mark (sameNumber); none when `entry` has no number.
    std::optional<int> findDuplicate(const Entry& entry) const;
    // Appends `entry` unless an entry with its number is there (findDuplicate).
    Added addEntry(Entry entry);
    // Appends `entry` without looking for a duplicate (a file's records, entries
    // checked already); returns its position.
    int appendEntry(Entry entry);
    // Stores `entry` at `position` and gives back the values it replaced.
    Entry replaceEntry(int position, Entry entry);
    void sort(FieldId id, bool reversed);
    void remove(int position);
    void clear() { m_entries.clear(); }
    void reserve(size_t n) { m_entries.reserve(n); }

    // Set once a load finished without a version message; only then may the data file be written.
    bool loadOk() const { return m_loadOk; }
    void setLoadOk(bool ok) { m_loadOk = ok; }

private:
    std::vector<Entry> m_entries;
    bool m_loadOk = false;
};

} // namespace tarnwick::core
