#pragma once
// A docket for the report benchmarks: registrations with realistic field lengths in a folder of their own, which
// the benchmark keeps for its whole run.
#include "app/application.h"
#include "base/settingkeys.h"
#include "core/entry.h"

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

namespace tarnwick::bench {

struct Docket {
    std::string dir;
    std::unique_ptr<app::AppContext> app;
};

// `count` entries, each given its own touch by `vary` (the entry and its place).
inline Docket makeDocket(int count, const std::function<void(core::Entry&, int)>& vary)
{
    Docket out;
    std::string pattern = "/tmp/tarnwick-bench-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
        std::exit(1);
    out.dir = pattern;
    out.app = std::make_unique<app::AppContext>(out.dir + "/settings.ini");
    out.app->settings.setValue(base::setting::LogDir, out.dir);
    out.app->settings.setValue(base::setting::OrgName, "Velmora Systems");
    const core::DayNumber today = core::today();
    for (int i = 0; i < count; ++i) {
        const std::string n = std::to_string(i);
        core::Entry e(today);
        e.Reference = "DKT-" + n + "/US";
        e.SerNum = std::to_string(75000000 + i);
        e.RegNum = std::to_string(2000000 + i);
        e.Trademark = "VELMORA " + n + " EXPRESS";
        e.StatusDate = "2016-01-02";
        e.StatusText = "Registered. The registration has been renewed for a further ten years.";
        e.LastHistory = "2016-01-02 Section 8 (6-year) accepted and Section 15 acknowledged";
        e.Owner = "Velmora Systems International Holdings Ltd., 12 Harbour Road, Dublin " + n;
        e.LastUpdate = today;
        vary(e, i);
        out.app->entries.appendEntry(std::move(e));
    }
    return out;
}

} // namespace tarnwick::bench
