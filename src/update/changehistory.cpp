#include "update/changehistory.h"

#include "core/daynumber.h"
#include "core/entry.h"
#include "core/fieldtable.h"
#include "platform/files.h"

namespace tarnwick::update {

std::vector<notify::ChangeRecord> changeRecords(const core::Entry& now, const core::Entry& was)
{
    std::vector<notify::ChangeRecord> records;
    const std::string date = core::formatDay(now.Today);
    for (core::FieldId id : core::k_watchedFields) {
        const std::string& after = *now.textField(id);
        const std::string& before = *was.textField(id);
        if (after != before)
            records.push_back(
                {date, notify::historyNumber(now), now.Reference, std::string(core::fieldInfo(id).key), before, after});
    }
    return records;
}

std::string appendHistory(const std::string& logDir, const std::vector<notify::ChangeRecord>& records)
{
    if (logDir.empty() || records.empty())
        return {};
    std::string lines;
    for (const notify::ChangeRecord& r : records)
        notify::appendHistoryLine(lines, r);
    const std::string path = platform::joinPath(logDir, notify::k_historyFileName);
    const platform::Result added = platform::appendRecordsDurably(path, lines, notify::historyHeader());
    if (added)
        return {};
    return "The changes found by this update could not be added to the history file '" + path +
           "': " + (added.notRegular() ? "it is no regular file" : added.systemText()) +
           ". The update goes on and its e-mail notices are queued; later changes are added once the file can be "
           "written.";
}

} // namespace tarnwick::update
