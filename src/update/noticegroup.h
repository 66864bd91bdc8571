#pragma once

#include "core/entry.h"
#include "notify/history.h"
#include "update/updatecontext.h"

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace tarnwick::update {

// The notices of a run's changed entries and their history records, committed as a group: a commit costs
// syncs, so the run makes one for the changes of a second, and one for the last group at its end. The history
// records of a group are written only once its notices are committed. When the context commits every notice as
// it is posted, there is no group and each change goes into the history at once.
class NoticeGroup {
public:
    explicit NoticeGroup(const UpdateContext& context);
    NoticeGroup(const NoticeGroup&) = delete;
    NoticeGroup& operator=(const NoticeGroup&) = delete;

    // A group waits at most this long before the run commits it.
    static constexpr std::chrono::milliseconds k_groupTime{1000};

    // The change of the entry at `position` (the run's `number`-th due entry), whose values before the update
    // were `previous`.
    void add(int position, int number, core::Entry previous, std::vector<notify::ChangeRecord> records);
    // Whether a waiting notice has waited the group time.
    bool due() const;
    // Forgets every waiting notice (a run starts).
    void clear() { m_noticed.clear(); }

    // Commits the waiting notices and adds their records to the history. When the commit fails, each entry of
    // the group goes back to its values before the update, so that the next run that can post finds its change
    // again, and `lost` is told of it with the error text. True when a group was committed.
    bool commit(const std::function<void(int position, int number, const std::string& error)>& lost);

private:
    // A change whose notice waits in the group.
    struct Noticed {
        int position = 0;
        int number = 0;
        core::Entry previous;
        std::vector<notify::ChangeRecord> records;
    };

    // Adds the records to the history; a file that cannot be written is told of once and stops nothing.
    void writeHistory(const std::vector<notify::ChangeRecord>& records);

    const UpdateContext& m_ctx;
    std::vector<Noticed> m_noticed;
    std::chrono::steady_clock::time_point m_groupStart;
};

} // namespace tarnwick::update
