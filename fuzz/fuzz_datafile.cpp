// The data file loader on any bytes: it must not crash, and what it loaded must
// write out as a file that loads back as the same number of entries (no field may
// carry a TAB or a line end into the file).
#include "core/datafile.h"
#include "core/entrystore.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

using namespace tarnwick;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const core::DayNumber today = core::dayFromDate(2003, 3, 3);
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    core::EntryStore store;
    std::string message = core::loadDataText(store, bytes, today);
    if (!message.empty()) {
        if (store.loadOk() || store.count() != 0)
            std::abort();
        return 0;
    }
    if (!store.loadOk())
        std::abort();
    const std::string text = core::dataFileText(store);
    core::EntryStore back;
    if (!core::loadDataText(back, text, today).empty() || back.count() != store.count())
        std::abort();
    // every record holds exactly the 19 columns of the current layout
    size_t tabs = 0;
    for (char c : text)
        tabs += c == '\t';
    if (tabs != static_cast<size_t>(store.count()) * 18)
        std::abort();
    return 0;
}
