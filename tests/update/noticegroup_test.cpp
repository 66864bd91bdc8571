#include "app/application.h"
#include "notify/emailqueue.h"
#include "notify/history.h"
#include "platform/files.h"
#include "support/scriptedfrontend.h"
#include "support/tempdir.h"
#include "update/noticegroup.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>
#include <vector>

using namespace tarnwick;

namespace {

// Notices are counted by the group's committer, not posted here.
class NoSink : public notify::NoticeSink {
public:
    std::string postNotice(const core::Entry&, int, std::string_view, const core::Entry*) override { return {}; }
};

notify::ChangeRecord record(const std::string& number, const std::string& newValue)
{
    return {.date = "2026-12-09",
            .number = number,
            .reference = "",
            .field = "StatusText",
            .oldValue = "OLD",
            .newValue = newValue};
}

// A group's history is written once its notices are committed (at once when nothing groups them); a commit
// that fails puts each entry back as it was before its change and tells of it, in the order of the run.
TEST(NoticeGroup, HistoryFollowsTheCommitAndAFailedOneRestoresTheEntries)
{
    using Lost = std::tuple<int, int, std::string>;
    struct Case {
        const char* name;
        std::optional<std::string> commitError; // none: every notice is committed as it is posted
        int changes;
        bool committed;
        size_t historyBeforeCommit;
        size_t historyAfterCommit;
        std::vector<Lost> lost;
    };
    const Case cases[] = {
        {"nothing groups", std::nullopt, 2, false, 2, 2, {}},
        {"committed", "", 2, true, 0, 2, {}},
        {"empty group still commits", "", 0, true, 0, 0, {}},
        {"commit fails", "Disk full.", 2, false, 0, 0, {{1, 4, "Disk full."}, {0, 7, "Disk full."}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        app::AppContext app(dir.file("settings.ini"));
        app.settings.setValue(base::setting::LogDir, dir.path());
        test::ScriptedFrontEnd fe;
        NoSink sink;
        update::RunControl control;
        int commits = 0;
        update::UpdateContext context{.settings = app.settings,
                                      .log = app.log,
                                      .frontEnd = fe,
                                      .taskHost = fe,
                                      .notices = sink,
                                      .vars = app.vars,
                                      .rules = app.rules,
                                      .names = app.names,
                                      .entries = app.entries,
                                      .control = control};
        if (c.commitError)
            context.commitNotices = [&] {
                ++commits;
                return *c.commitError;
            };
        for (const char* mark : {"FIRST", "SECOND"}) {
            core::Entry e;
            e.Trademark = mark;
            e.StatusText = "NEW";
            app.entries.appendEntry(e);
        }
        const auto history = [&] {
            return notify::parseHistory(platform::readFile(dir.file(notify::k_historyFileName)).value_or(""))
                .records.size();
        };

        update::NoticeGroup group(context);
        // the run reaches the second entry first
        for (int i = 0; i < c.changes; ++i) {
            const int position = 1 - i;
            core::Entry previous = app.entries.at(position);
            previous.StatusText = "OLD";
            group.add(position, i == 0 ? 4 : 7, previous, {record(previous.Trademark, "NEW")});
        }
        EXPECT_EQ(history(), c.historyBeforeCommit);
        std::vector<Lost> lost;
        EXPECT_EQ(group.commit([&](int p, int n, const std::string& e) { lost.emplace_back(p, n, e); }), c.committed);
        EXPECT_EQ(commits, c.commitError ? 1 : 0);
        EXPECT_EQ(history(), c.historyAfterCommit);
        EXPECT_EQ(lost, c.lost);
        for (int p = 0; p < 2; ++p)
            EXPECT_EQ(app.entries.at(p).StatusText, c.lost.empty() ? "NEW" : "OLD") << p;
        // a committed group is gone: a second commit finds nothing to restore
        lost.clear();
        group.commit([&](int p, int n, const std::string& e) { lost.emplace_back(p, n, e); });
        EXPECT_TRUE(lost.empty());
    }
}

} // namespace
