// The history reader on any bytes: it must not crash, every record it reads must write out and read back as the
// same record, and a written line cut short and closed by a later append must read as that record or as none.
#include "notify/history.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

using namespace tarnwick;

namespace {

// Cuts `line` at every place; each cut, closed with CR LF as the next append closes it, gives the record or nothing.
void checkCuts(const std::string& line, const notify::ChangeRecord& record)
{
    for (size_t cut = 0; cut < line.size(); ++cut) {
        const notify::HistoryText h = notify::parseHistory(line.substr(0, cut) + "\r\n");
        if (h.records.size() > 1 || (h.records.size() == 1 && h.records[0] != record))
            std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const notify::HistoryText history = notify::parseHistory(bytes);
    std::string text;
    for (const notify::ChangeRecord& r : history.records)
        notify::appendHistoryLine(text, r);
    const notify::HistoryText back = notify::parseHistory(text);
    if (back.damaged != 0 || back.records != history.records)
        std::abort();

    // a record whose values are the input's bytes, cut at every place (the cuts cost the square of its length)
    const std::string_view values = bytes.substr(0, 256);
    const size_t part = values.size() / 3;
    notify::ChangeRecord record{"2026-12-08", "7", "", "StatusText", "", ""};
    record.number.append(values.substr(0, part));
    record.reference = values.substr(part, part);
    record.newValue = values.substr(2 * part);
    std::string line;
    notify::appendHistoryLine(line, record);
    checkCuts(line, record);
    return 0;
}
