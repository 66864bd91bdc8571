// Loading and saving a data file of 100,000 entries with realistic field lengths,
// in milliseconds per run, and the peak resident size of the process after the
// loads (the file is generated in pieces, so the peak is the loaded store's).
#include "core/datafile.h"
#include "core/entrystore.h"
#include "platform/files.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

using namespace tarnwick;

namespace {

constexpr int k_entries = 100000;

double peakRssMb()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0; // kilobytes on Linux
}

std::string entryLine(int i)
{
    const std::string n = std::to_string(i);
    std::string line;
    line += std::to_string(i % 5) + "\tDKT-" + n + "/US\t" + std::to_string(75000000 + i) + "\t" +
            std::to_string(2000000 + i) + "\t\tVELMORA " + n + " EXPRESS\t1999-04-01\t2001-05-02\t2000-11-07\t" +
            "Law Office 105\tVelmora Systems International Holdings Ltd., 12 Harbour Road, Dublin " + n +
            "\tJohn A. Smith, Smith & Partners LLP\t" + std::to_string(37000 + i % 900) + "\t2003-01-0" +
            std::to_string(1 + i % 9) +
            "\tRegistered. The registration has been renewed for a further ten years.\t"
            "2003-01-02 Section 8 (6-year) accepted and Section 15 acknowledged\tPost Registration, Publication\t" +
            (i % 50 == 0 ? "Connection timed out." : "") + "\t" + std::to_string(36000 + i % 700) + "\r\n";
    return line;
}

const std::string& logDir()
{
    static const std::string dir = [] {
        std::string pattern = "/tmp/tarnwick-bench-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr)
            std::exit(1);
        std::string path = pattern + "/tradmark.dat";
        std::string chunk = "8\r\n";
        for (int i = 0; i < k_entries; ++i) {
            chunk += entryLine(i);
            if (chunk.size() > (1u << 20) || i + 1 == k_entries) {
                if (!platform::appendFile(path, chunk))
                    std::exit(1);
                chunk.clear();
            }
        }
        std::printf("data file: %d entries, %lld bytes, peak RSS before loading %.1f MB\n", k_entries,
                    platform::fileSize(path).value_or(0), peakRssMb());
        return pattern;
    }();
    return dir;
}

void BM_LoadDataFile(benchmark::State& state)
{
    const std::string& dir = logDir();
    for (auto _ : state) {
        auto store = std::make_unique<core::EntryStore>();
        std::string message = core::loadDataFile(*store, dir);
        if (!message.empty() || store->count() != k_entries)
            state.SkipWithError("load failed");
        benchmark::DoNotOptimize(store->count());
        // freeing the entries is not part of loading
        state.PauseTiming();
        store.reset();
        state.ResumeTiming();
    }
    state.counters["peak_rss_MB"] = peakRssMb();
}
BENCHMARK(BM_LoadDataFile)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_SaveDataFile(benchmark::State& state)
{
    const std::string& dir = logDir();
    core::EntryStore store;
    core::loadDataFile(store, dir);
    for (auto _ : state) {
        if (!core::saveDataFile(store, dir))
            state.SkipWithError("save failed");
    }
    state.counters["peak_rss_MB"] = peakRssMb();
}
BENCHMARK(BM_SaveDataFile)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::string dir = logDir();
    (void)platform::removeFile(dir + "/tradmark.dat");
    ::rmdir(dir.c_str());
    return 0;
}
