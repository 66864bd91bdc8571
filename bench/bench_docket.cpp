// The docket over 10,000 registrations with realistic field lengths: the next deadline of each, the calendar, the
// spreadsheet out, and the import plan of that spreadsheet read back (every number a duplicate of an entry).
#include "core/entrystore.h"
#include "docket/calendar.h"
#include "docket/deadlines.h"
#include "docket/spreadsheet.h"

#include <benchmark/benchmark.h>

#include <string>

using namespace tarnwick;

namespace {

constexpr int k_entries = 10000;
const core::DayNumber k_today = core::dayFromDate(2026, 6, 1);

const core::EntryStore& store()
{
    static const core::EntryStore entries = [] {
        core::EntryStore s;
        for (int i = 0; i < k_entries; ++i) {
            const std::string n = std::to_string(i);
            core::Entry e(k_today);
            e.Reference = "DKT-" + n + "/US";
            e.SerNum = std::to_string(75000000 + i).insert(2, "-");
            e.RegNum = std::to_string(2000000 + i);
            e.Trademark = "VELMORA " + n + " EXPRESS";
            e.RegDate = core::formatDay(core::dayFromDate(1990 + i % 36, 1 + i % 12, 1 + i % 28));
            e.StatusDate = "2016-01-02";
            e.StatusText = i % 3 ? "Registered." : "Registered. The registration has been renewed.";
            e.LastHistory = "2016-01-02 Section 8 (6-year) accepted and Section 15 acknowledged";
            e.Owner = "Velmora Systems International Holdings Ltd., 12 Harbour Road, Dublin " + n;
            s.appendEntry(std::move(e));
        }
        return s;
    }();
    return entries;
}

void BM_NextDeadlines(benchmark::State& state)
{
    for (auto _ : state) {
        for (const core::Entry& e : store().entries())
            benchmark::DoNotOptimize(docket::nextDeadline(e, k_today));
    }
    state.SetItemsProcessed(state.iterations() * k_entries);
}
BENCHMARK(BM_NextDeadlines)->Unit(benchmark::kMillisecond);

void BM_Calendar(benchmark::State& state)
{
    docket::CalendarOptions options;
    options.today = k_today;
    options.stamp = 46000.5;
    size_t bytes = 0;
    for (auto _ : state)
        bytes = docket::calendarOf(store().entries(), options).text.size();
    state.counters["MB"] = static_cast<double>(bytes) / 1e6;
}
BENCHMARK(BM_Calendar)->Unit(benchmark::kMillisecond);

void BM_SpreadsheetOut(benchmark::State& state)
{
    size_t bytes = 0;
    for (auto _ : state)
        bytes = docket::spreadsheetOf(store().entries(), k_today).size();
    state.counters["MB"] = static_cast<double>(bytes) / 1e6;
}
BENCHMARK(BM_SpreadsheetOut)->Unit(benchmark::kMillisecond);

void BM_ImportPlan(benchmark::State& state)
{
    const std::string text = docket::spreadsheetOf(store().entries(), k_today);
    for (auto _ : state)
        benchmark::DoNotOptimize(docket::planImport(text, store(), k_today));
}
BENCHMARK(BM_ImportPlan)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
