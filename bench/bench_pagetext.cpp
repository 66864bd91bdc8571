// Page normalisation speed on the sample status page and on a 5 MB page made of
// copies of it, printed as bytes per second: the two rates should be close, as
// the cost per byte must not grow with the page. Also the pattern matcher on hostile input.
#include "core/text.h"
#include "platform/files.h"
#include "rules/pagetext.h"
#include "rules/pattern.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>

using namespace tarnwick;

namespace {

const std::string& samplePage()
{
    static const std::string page = [] {
        std::optional<std::string> bytes = platform::readFile(TARNWICK_TEST_DATA "/status-registered.html");
        if (!bytes || bytes->empty()) {
            std::fprintf(stderr, "cannot read the sample page from %s\n", TARNWICK_TEST_DATA);
            std::exit(1);
        }
        return *bytes;
    }();
    return page;
}

const std::string& bigPage()
{
    static const std::string page = [] {
        std::string out;
        while (out.size() < 5u * 1000 * 1000)
            out += samplePage();
        return out;
    }();
    return page;
}

// The same page in UTF-8 without a declared charset: the normaliser must check the whole page to know whether its
// byte 0xA0 is a no-break space.
const std::string& bigUtf8Page()
{
    static const std::string page = [] {
        const std::string one =
            core::replaceAll(core::replaceAll(samplePage(), "; charset=iso-8859-1", ""), "\xA0", "\xC2\xA0");
        std::string out;
        while (out.size() < 5u * 1000 * 1000)
            out += one;
        return out;
    }();
    return page;
}

void runNormalise(benchmark::State& state, const std::string& page)
{
    for (auto _ : state) {
        rules::PageText text = rules::normalisePage(page);
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(page.size()));
}

void BM_NormaliseSamplePage(benchmark::State& state)
{
    runNormalise(state, samplePage());
}

void BM_NormaliseFiveMegabytePage(benchmark::State& state)
{
    runNormalise(state, bigPage());
}

void BM_NormaliseFiveMegabyteUtf8Page(benchmark::State& state)
{
    runNormalise(state, bigUtf8Page());
}

// A capture can span most of a page (a history block); its clean-up must stay linear too.
void BM_CleanValueFiveMegabytes(benchmark::State& state)
{
    const std::string& page = bigPage();
    for (auto _ : state) {
        std::string value = rules::collapseSpaces(rules::cleanValue(page));
        benchmark::DoNotOptimize(value.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(page.size()));
}

} // namespace

// Hostile patterns: a 100 KB literal that almost matches everywhere in 1 MB of "a", and a capture edited by
// 200,000 "#A=AA" operations. Both must stay in milliseconds.
void BM_LongLiteralOverRepeats(benchmark::State& state)
{
    const std::string page(1 << 20, 'a');
    // "b" then "a"s: every position matches all the way back to the "b"
    const std::string pattern = "b" + std::string(100 * 1024, 'a') + "[*]c";
    for (auto _ : state)
        benchmark::DoNotOptimize(rules::matchPattern(page, pattern));
}

void BM_HostileEditChain(benchmark::State& state)
{
    std::string pattern = "X[*";
    for (int i = 0; i < 200000; ++i)
        pattern += "#A=AA";
    pattern += "]Y";
    for (auto _ : state)
        benchmark::DoNotOptimize(rules::matchPattern("XAY", pattern));
}

BENCHMARK(BM_LongLiteralOverRepeats)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HostileEditChain)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NormaliseSamplePage)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_NormaliseFiveMegabytePage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NormaliseFiveMegabyteUtf8Page)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CleanValueFiveMegabytes)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
