// The history reader on any bytes: it must not crash, and every record it reads must write out and read back as
// the same record.
#include "notify/history.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

using namespace tarnwick;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const notify::HistoryText history =
        notify::parseHistory(std::string_view(reinterpret_cast<const char*>(data), size));
    std::string text;
    for (const notify::ChangeRecord& r : history.records)
        notify::appendHistoryLine(text, r);
    const notify::HistoryText back = notify::parseHistory(text);
    if (back.damaged != 0 || back.records.size() != history.records.size())
        std::abort();
    for (size_t i = 0; i < back.records.size(); ++i) {
        const notify::ChangeRecord& a = back.records[i];
        const notify::ChangeRecord& b = history.records[i];
        if (a.date != b.date || a.number != b.number || a.reference != b.reference || a.field != b.field ||
            a.oldValue != b.oldValue || a.newValue != b.newValue)
            std::abort();
    }
    return 0;
}
