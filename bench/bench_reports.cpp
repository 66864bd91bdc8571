// The HTML report and the XML export of 10,000 entries with realistic field lengths, written into a folder, with
// and without a history of 100,000 recorded changes (ten per entry); and that history read as `tarnwick-cli
// history` reads it: the file, every record, the listing newest first (all of it, and one entry's).
#include "app/application.h"
#include "app/historylisting.h"
#include "benchdocket.h"
#include "core/reports.h"
#include "notify/history.h"
#include "notify/htmlreport.h"
#include "platform/files.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

using namespace tarnwick;

namespace {

constexpr int k_entries = 10000;
constexpr int k_records = 100000;

using Fixture = bench::Docket;

Fixture& fixture()
{
    static Fixture f = [] {
        const core::DayNumber today = core::today();
        Fixture out = bench::makeDocket(k_entries, [today](core::Entry& e, int i) {
            e.RegDate = "2001-05-02";
            e.LastChange = today - i % 30;
            if (i % 50 == 0)
                e.Error = "HttpGet: Operation timed out.";
        });
        std::string lines(notify::historyHeader());
        for (int r = 0; r < k_records; ++r) {
            const int i = r % k_entries;
            const std::string day = core::formatDay(today - (k_records - r) / 100);
            notify::appendHistoryLine(lines,
                                      {day, std::to_string(75000000 + i), "DKT-" + std::to_string(i) + "/US",
                                       "StatusText", "Published for opposition. Notice of publication issued.",
                                       "Registered. The registration has been renewed for a further ten years."});
        }
        if (!platform::writeFileAtomic(out.dir + "/" + notify::k_historyFileName, lines))
            std::exit(1);
        return out;
    }();
    return f;
}

void writeReports(benchmark::State& state, bool withHistory)
{
    Fixture& f = fixture();
    const notify::HistoryText history = withHistory ? f.app->history() : notify::HistoryText{};
    const std::string reportDir = f.dir + "/report";
    std::filesystem::create_directories(reportDir);
    for (auto _ : state) {
        notify::HtmlReportRenderer renderer(f.app->vars, &history, &f.app->templates);
        const core::ReportsWritten written = core::WriteReports(f.app->entries, reportDir, renderer);
        if (!written.html || !written.xml)
            state.SkipWithError("not written");
    }
    state.counters["html_MB"] = static_cast<double>(platform::fileSize(reportDir + "/Tarnwick.html").value_or(0)) / 1e6;
    state.counters["xml_MB"] = static_cast<double>(platform::fileSize(reportDir + "/Tarnwick.xml").value_or(0)) / 1e6;
}

void BM_WriteReports(benchmark::State& state)
{
    writeReports(state, false);
}
BENCHMARK(BM_WriteReports)->Unit(benchmark::kMillisecond);

void BM_WriteReportsWithHistory(benchmark::State& state)
{
    writeReports(state, true);
}
BENCHMARK(BM_WriteReportsWithHistory)->Unit(benchmark::kMillisecond);

void readHistory(benchmark::State& state, const std::vector<std::string>& numbers)
{
    Fixture& f = fixture();
    const std::string path = f.dir + "/" + notify::k_historyFileName;
    size_t bytes = 0;
    for (auto _ : state) {
        const notify::HistoryText history = notify::parseHistory(*platform::readFile(path));
        if (history.records.size() != k_records)
            state.SkipWithError("records lost");
        bytes = app::historyListing(history, numbers).size();
    }
    state.counters["file_MB"] = static_cast<double>(platform::fileSize(path).value_or(0)) / 1e6;
    state.counters["listing_MB"] = static_cast<double>(bytes) / 1e6;
}

void BM_HistoryAll(benchmark::State& state)
{
    readHistory(state, {});
}
BENCHMARK(BM_HistoryAll)->Unit(benchmark::kMillisecond);

void BM_HistoryOfOneEntry(benchmark::State& state)
{
    readHistory(state, {"75000042"});
}
BENCHMARK(BM_HistoryOfOneEntry)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    fixture().app.reset();
    std::error_code ec;
    std::filesystem::remove_all(fixture().dir, ec);
    return 0;
}
