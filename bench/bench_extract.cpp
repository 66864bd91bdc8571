#include "core/entry.h"
#include "platform/files.h"
#include "rules/applyrules.h"
#include "rules/pagetext.h"
#include "rules/pattern.h"
#include "rules/rulesfile.h"
#include "rules/templatevars.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace tarnwick;

namespace {

const std::string& samplePage()
{
    static const std::string page = [] {
        std::optional<std::string> bytes = platform::readFile(TARNWICK_TEST_DATA "/status-registered.html");
        if (!bytes) {
            std::fprintf(stderr, "cannot read the sample page\n");
            std::exit(1);
        }
        return *bytes;
    }();
    return page;
}

// About 5 MB of anchors that each miss by their last character, then the text
// every complete page carries, so that all thirteen fields are searched.
const std::string& nearMissPage()
{
    static const std::string page = [] {
        const std::string block = "<td><b>Serial Number:</b<br/>\r\n<td><b>Registration Number:</b<br/>\r\n"
                                  "<td><b>International Registration Number:</b<br/>\r\n<b>(words only):</b<br/>\r\n"
                                  "<b>Current Status:</b<br/>\r\n<b>Date of Status:</b<br/>\r\n<b>Filing Date:</b\r\n"
                                  "<b>Law Office Assigned:</b<br/>\r\n<b>LAST APPLICANT(S)/OWNER(S) OF RECORD</b\r\n"
                                  "<b>Correspondent</b<br/>\r\nnear the top of this page.</b><br/><br/></center\r\n"
                                  "<b>Current Location:</b<br/>\r\n<b>Date In Location:</b<br/>\r\n";
        std::string out;
        out.reserve(5'100'000);
        while (out.size() < 5'000'000)
            out += block;
        out += "<b>PROSECUTION HISTORY</b>";
        return out;
    }();
    return page;
}

struct Rules {
    rules::TemplateVars vars;
    rules::RulesFile file{vars};
};

// The address and page lists an update run hands over, built outside the timing.
struct Fetch {
    std::vector<std::string> addresses{"http://127.0.0.1/"};
    std::vector<std::string> rawPages;
    std::vector<std::string> pages;
};

void applyAll(Rules& r, const Fetch& fetch)
{
    core::Entry entry(core::k_noDay);
    entry.RegNum = "2824281";
    std::string message = rules::applyRules(entry, fetch.addresses, fetch.rawPages, fetch.pages, r.file, r.vars);
    benchmark::DoNotOptimize(message);
    benchmark::DoNotOptimize(entry.Location);
}

void BM_NormaliseAndApplySamplePage(benchmark::State& state)
{
    Rules r;
    Fetch fetch;
    fetch.rawPages = {samplePage()};
    fetch.pages = {""};
    for (auto _ : state) {
        fetch.pages[0] = rules::normalisePage(fetch.rawPages[0]);
        applyAll(r, fetch);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fetch.rawPages[0].size()));
}
BENCHMARK(BM_NormaliseAndApplySamplePage)->Unit(benchmark::kMillisecond);

void BM_ApplySamplePage(benchmark::State& state)
{
    Rules r;
    Fetch fetch;
    fetch.rawPages = {samplePage()};
    fetch.pages = {rules::normalisePage(samplePage())};
    for (auto _ : state)
        applyAll(r, fetch);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fetch.pages[0].size()));
}
BENCHMARK(BM_ApplySamplePage)->Unit(benchmark::kMillisecond);

void BM_ApplyNearMissPage5MB(benchmark::State& state)
{
    Rules r;
    Fetch fetch;
    fetch.rawPages = {nearMissPage()};
    fetch.pages = {nearMissPage()};
    for (auto _ : state)
        applyAll(r, fetch);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fetch.pages[0].size()));
}
BENCHMARK(BM_ApplyNearMissPage5MB)->Unit(benchmark::kMillisecond);

void BM_NormaliseAndApplyNearMissPage5MB(benchmark::State& state)
{
    Rules r;
    Fetch fetch;
    fetch.rawPages = {nearMissPage()};
    fetch.pages = {""};
    for (auto _ : state) {
        fetch.pages[0] = rules::normalisePage(fetch.rawPages[0]);
        applyAll(r, fetch);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fetch.rawPages[0].size()));
}
BENCHMARK(BM_NormaliseAndApplyNearMissPage5MB)->Unit(benchmark::kMillisecond);

// A backward tail over the whole near-miss page: the slice it reverses is the page.
void BM_TailAcrossNearMissPage5MB(benchmark::State& state)
{
    const std::string& page = nearMissPage();
    for (auto _ : state) {
        std::string v = rules::matchPattern(page, "<td>[--]<b>Current Location:</b[*]<b>PROSECUTION HISTORY</b>");
        benchmark::DoNotOptimize(v);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}
BENCHMARK(BM_TailAcrossNearMissPage5MB)->Unit(benchmark::kMillisecond);

// The office-xml rules over the four real XML records: arg 0..3 is the record,
// the second arg 1 includes the normalisation of the record.
void BM_OfficeXmlRecord(benchmark::State& state)
{
    static const char* const files[] = {
        "001-tsdr-st66-sn76044902-python.xml",
        "002-tsdr-st96-sn76044902-python.xml",
        "003-tsdr-st96-sn73119597-red-onion-cancelled.xml",
        "004-tsdr-st66-sn87881347-burger-addict-pending.xml",
    };
    const std::string path = std::string(TARNWICK_TEST_DATA "/office-records/") + files[state.range(0)];
    std::optional<std::string> raw = platform::readFile(path);
    if (!raw) {
        state.SkipWithError("cannot read the record");
        return;
    }
    Rules r;
    r.file.useText(std::string(rules::RulesFile::officeXmlText()));
    Fetch fetch;
    fetch.rawPages = {*raw};
    fetch.pages = {rules::normalisePage(*raw)};
    const bool normalise = state.range(1) != 0;
    for (auto _ : state) {
        if (normalise)
            fetch.pages[0] = rules::normalisePage(fetch.rawPages[0]);
        applyAll(r, fetch);
    }
    state.SetLabel(files[state.range(0)]);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * raw->size()));
}
BENCHMARK(BM_OfficeXmlRecord)->ArgsProduct({{0, 1, 2, 3}, {0, 1}})->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
