// A docket of 100,000 registrations with realistic field lengths: the report written as `tarnwick-cli report`
// writes it (upcoming deadlines, HTML page and XML export), the spreadsheet out and the calendar. About one entry in
// a hundred changed in the last week and one in two hundred fails, as in a large docket watched every day. Each
// figure is printed beside the machine's load (/proc/loadavg) and the size of what was written.
#include "app/application.h"
#include "app/deadlinelist.h"
#include "benchdocket.h"
#include "core/reports.h"
#include "docket/calendar.h"
#include "docket/spreadsheet.h"
#include "notify/htmlreport.h"
#include "platform/files.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <sys/resource.h>

using namespace tarnwick;

namespace {

constexpr int k_entries = 100000;

using Fixture = bench::Docket;

Fixture& fixture()
{
    static Fixture f = [] {
        const core::DayNumber today = core::today();
        Fixture out = bench::makeDocket(k_entries, [today](core::Entry& e, int i) {
            e.RegDate = core::formatDay(core::dayFromDate(1990 + i % 36, 1 + i % 12, 1 + i % 28));
            e.LastChange = today - i % 700;
            if (i % 200 == 0)
                e.Error = "HttpGet: Operation timed out.";
        });
        return out;
    }();
    return f;
}

std::string loadAverage()
{
    std::ifstream in("/proc/loadavg");
    std::string line;
    std::getline(in, line);
    return line;
}

// The CPU time of the whole process (every thread), in seconds.
double processCpu()
{
    rusage use{};
    ::getrusage(RUSAGE_SELF, &use);
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(use.ru_utime) + seconds(use.ru_stime);
}

void printLoad(benchmark::State& state)
{
    // the load while the case ran, as a label beside its figure
    state.SetLabel("load " + loadAverage());
}

// With TARNWICK_BENCH_KEEP_DIR every output is kept there, so that two builds can be compared byte for byte.
void keepOutput(const std::string& name, const std::string& bytes)
{
    if (const char* dir = std::getenv("TARNWICK_BENCH_KEEP_DIR"))
        std::ofstream(std::string(dir) + "/" + name, std::ios::binary) << bytes;
}

void keepWritten(const std::string& folder, const std::string& name)
{
    if (std::getenv("TARNWICK_BENCH_KEEP_DIR") != nullptr)
        keepOutput(name, platform::readFile(folder + "/" + name).value_or(""));
}

void BM_Report(benchmark::State& state)
{
    Fixture& f = fixture();
    const std::string reportDir = f.dir + "/report";
    std::filesystem::create_directories(reportDir);
    const double cpuBefore = processCpu();
    for (auto _ : state) {
        notify::HtmlReportRenderer renderer(f.app->vars, &f.app->history(), &f.app->templates);
        app::setReportDeadlines(renderer, f.app->entries.entries(), core::today());
        const core::ReportsWritten written = core::WriteReports(f.app->entries, reportDir, renderer);
        if (!written.html || !written.xml)
            state.SkipWithError("not written");
    }
    printLoad(state);
    // the files are written on a second thread, which the CPU column leaves out
    state.counters["all_threads_cpu_s"] = (processCpu() - cpuBefore) / static_cast<double>(state.iterations());
    // the page kept for a browser to open (bench/report_first_paint.sh)
    if (const char* keep = std::getenv("TARNWICK_BENCH_KEEP_REPORT")) {
        std::error_code ec;
        std::filesystem::copy_file(reportDir + "/Tarnwick.html", keep,
                                   std::filesystem::copy_options::overwrite_existing, ec);
    }
    keepWritten(reportDir, "Tarnwick.html");
    keepWritten(reportDir, "Tarnwick.xml");
    state.counters["html_MB"] = static_cast<double>(platform::fileSize(reportDir + "/Tarnwick.html").value_or(0)) / 1e6;
    state.counters["xml_MB"] = static_cast<double>(platform::fileSize(reportDir + "/Tarnwick.xml").value_or(0)) / 1e6;
}
BENCHMARK(BM_Report)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_SpreadsheetOut(benchmark::State& state)
{
    std::string text;
    for (auto _ : state)
        text = docket::spreadsheetOf(fixture().app->entries.entries(), core::today());
    printLoad(state);
    keepOutput("Tarnwick.csv", text);
    const size_t bytes = text.size();
    state.counters["MB"] = static_cast<double>(bytes) / 1e6;
}
BENCHMARK(BM_SpreadsheetOut)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_Calendar(benchmark::State& state)
{
    docket::CalendarOptions options;
    options.today = core::today();
    options.stamp = 46000.5;
    docket::Calendar calendar;
    for (auto _ : state)
        calendar = docket::calendarOf(fixture().app->entries.entries(), options);
    printLoad(state);
    keepOutput("Tarnwick.ics", calendar.text);
    const size_t bytes = calendar.text.size();
    const int events = calendar.events;
    state.counters["MB"] = static_cast<double>(bytes) / 1e6;
    state.counters["events"] = events;
}
BENCHMARK(BM_Calendar)->Unit(benchmark::kMillisecond)->Iterations(2);

} // namespace

int main(int argc, char** argv)
{
    benchmark::AddCustomContext("loadavg", loadAverage());
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    fixture().app.reset();
    std::error_code ec;
    std::filesystem::remove_all(fixture().dir, ec);
    return 0;
}
