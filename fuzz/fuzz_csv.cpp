// The spreadsheet reader on any bytes: it must not crash; what it reads must write out and read back as the same
// records, and every field must come back whole from a text cell; an import plan holds entries only when no line
// was bad.
#include "core/entrystore.h"
#include "docket/csv.h"
#include "docket/spreadsheet.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

using namespace tarnwick;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const docket::CsvTable table = docket::parseCsv(bytes);
    if (!table.error.empty() && !table.records.empty())
        std::abort();
    std::string text;
    for (const docket::CsvRecord& r : table.records)
        docket::appendCsvRecord(text, r.fields);
    const docket::CsvTable back = docket::parseCsv(text);
    if (!back.error.empty() || back.records.size() != table.records.size())
        std::abort();
    for (size_t i = 0; i < back.records.size(); ++i) {
        if (back.records[i].fields != table.records[i].fields)
            std::abort();
        for (const std::string& field : back.records[i].fields) {
            if (docket::cellText(docket::textCell(field)) != field)
                std::abort();
        }
    }
    core::EntryStore store;
    const docket::ImportPlan plan = docket::planImport(bytes, store, 1);
    if (!plan.errors.empty() && !plan.entries.empty())
        std::abort();
    return 0;
}
