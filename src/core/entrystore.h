#pragma once

#include "core/entry.h"

#include <optional>
#include <string>
#include <vector>

namespace tarnwick::core {

// What the store asks of the application around it. The application fills it
// (log, message boxes, the e-mail queue, the list view); tests record the calls.
class EntryStoreHost {
public:
    virtual ~EntryStoreHost() = default;
    // Log "%s '%s'\n" with title and text, and show the text in an OK box titled `title`.
    virtual void reportError(const std::string& title, const std::string& text) = 0;
    // Queue a notification from template `templateId` with kind tag `kind` for
    // `entry`, with `previous` as the previous entry (or none). Returns the
    // posting's error text; empty on success.
    virtual std::string postNotification(const Entry& entry, int templateId, const std::string& kind,
                                         const Entry* previous) = 0;
    virtual void rowChanged(int /*position*/) {}
    // Deselect every row and select `position`.
    virtual void selectOnly(int /*position*/) {}
};

namespace addflags {
constexpr unsigned ShowReport = 0x01;
constexpr unsigned SkipDuplicateSearch = 0x10;
constexpr unsigned ReportDuplicate = 0x20;
constexpr unsigned SelectRow = 0x200;
constexpr unsigned NotifyAdded = 0x4000;
constexpr unsigned NotifyChanged = 0x8000; // ReplaceEntry: post "entry changed" when the Reference changed
// the Add command
constexpr unsigned AddCommand = 0xC221;
} // namespace addflags

extern const char* const k_duplicateEntryMessage; // "This entry already exists."

// The entries in the list's display order, which is also the order of the data
// file and of the reports.
class EntryStore {
public:
    explicit EntryStore(EntryStoreHost* host = nullptr) : m_host(host) {}

    void setHost(EntryStoreHost* host) { m_host = host; }
    int count() const { return static_cast<int>(m_entries.size()); }
    const Entry& at(int position) const { return m_entries.at(static_cast<size_t>(position)); }
    Entry& at(int position) { return m_entries.at(static_cast<size_t>(position)); }
    const std::vector<Entry>& entries() const { return m_entries; }

    std::optional<int> findDuplicate(const Entry& entry) const;
    std::string addEntry(const Entry& entry, unsigned flags);
    // The same, taking the entry over instead of copying it (loading many records).
    std::string addEntry(Entry&& entry, unsigned flags);
    std::string replaceEntry(int position, const Entry& entry, unsigned flags);
    void sort(FieldId id, bool reversed);
    void remove(int position);
    void clear() { m_entries.clear(); }
    void reserve(size_t n) { m_entries.reserve(n); }

    // Set once a load finished without a version message; only then may the data file be written.
    bool loadOk() const { return m_loadOk; }
    void setLoadOk(bool ok) { m_loadOk = ok; }

private:
    EntryStoreHost* m_host;
    std::vector<Entry> m_entries;
    bool m_loadOk = false;
};

} // namespace tarnwick::core
