#include "base/frontend.h"
#include "base/settings.h"
#include "core/entry.h"
#include "core/entrystore.h"
#include "notify/emailqueue.h"
#include "support/scriptedfrontend.h"
#include "support/tempdir.h"
#include "update/changes.h"
#include "update/updaterun.h"

#include <gtest/gtest.h>

using namespace tarnwick;

namespace {

// Records the notifications; answers each with `error`.
class RecordingHost : public notify::NoticeSink {
public:
    std::string postNotice(const core::Entry& entry, int templateId, std::string_view kind, const core::Entry*) override
    {
        posted.push_back(std::string(kind) + std::to_string(templateId) + ":" + entry.SerNum);
        return error;
    }
    std::vector<std::string> posted;
    std::string error;
};

core::Entry stored()
{
    core::Entry e(40000);
    e.SerNum = "75-000001";
    e.Trademark = "HARROW";
    e.Owner = "Kestrel GmbH";
    e.StatusDate = "2004-01-05";
    e.StatusText = "Registered.";
    e.LastHistory = "2004-01-05 - Registered";
    e.FilingDate = "2003-01-01";
    e.LawOffice = "LAW OFFICE 101";
    e.LastUpdate = 39990;
    e.LastChange = 39000;
    return e;
}

} // namespace

TEST(ApplyUpdate, ChangeIsJudgedOnWatchedFieldsOnly)
{
    struct Case {
        const char* name;
        std::function<void(core::Entry&)> edit; // applied to the new values
        bool fromBaseline;                      // the stored entry has values read before
        std::string postingError;
        bool changed;
        core::DayNumber lastChange;
        core::DayNumber lastUpdate;
    };
    const Case cases[] = {
        {"IntNum only", [](core::Entry& e) { e.IntNum = "0812345"; }, true, "", false, 39000, 40000},
        {"StatusDate only", [](core::Entry& e) { e.StatusDate = "2004-01-06"; }, true, "", false, 39000, 40000},
        {"Owner case", [](core::Entry& e) { e.Owner = "KESTREL GmbH"; }, true, "", true, 40000, 40000},
        {"first reading", [](core::Entry& e) { e.Owner = "Other"; }, false, "", false, 0, 40000},
        // a change that cannot be mailed is not taken in
        {"posting fails", [](core::Entry& e) { e.StatusText = "Cancelled."; }, true,
         "PostEmail: Can't create the pending e-mail file.", false, 39000, 39990},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        base::AppSettings settings(dir.file("settings.ini"));
        RecordingHost host;
        host.error = c.postingError;
        core::EntryStore store;
        core::Entry was = stored();
        if (!c.fromBaseline) {
            // added and saved before any update: a LastChange from loading, nothing read
            was = core::Entry(40000);
            was.SerNum = "75-000001";
            was.LastChange = 40000;
        }
        store.appendEntry(was);
        core::Entry now = c.fromBaseline ? was : stored();
        c.edit(now);
        if (!c.fromBaseline)
            now.LastChange = 0; // as the update run gives it to FinishRecord
        now.LastUpdate = now.Today;
        const update::ApplyResult r = update::ApplyUpdate(store, 0, now, host, settings);
        EXPECT_EQ(r.changed, c.changed);
        EXPECT_EQ(r.error, c.postingError);
        EXPECT_EQ(host.posted, c.changed || !c.postingError.empty() ? std::vector<std::string>{"s9:75-000001"}
                                                                    : std::vector<std::string>{});
        EXPECT_EQ(settings.value(base::setting::CountStatusChange), c.changed ? "1" : "");
        EXPECT_EQ(store.at(0).LastChange, c.lastChange);
        EXPECT_EQ(store.at(0).LastUpdate, c.lastUpdate);
        const core::Entry& kept = c.postingError.empty() ? now : was;
        EXPECT_EQ(store.at(0).Owner, kept.Owner);
        EXPECT_EQ(store.at(0).StatusText, kept.StatusText);
    }
}

TEST(CheckReverted, AsksForThreeFieldsWhileWarningsAreOn)
{
    struct Case {
        int emptied;
        bool warn;
        std::optional<base::Answer> answer; // none: no question expected
        bool accepted;
        bool warnAfter;
    };
    const Case cases[] = {
        {2, true, std::nullopt, true, true},     {3, true, base::Answer::Yes, true, false},
        {3, true, base::Answer::No, true, true}, {3, true, base::Answer::Cancel, false, true},
        {4, false, std::nullopt, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.emptied << " fields, answer " << (c.answer ? int(*c.answer) : -1));
        const core::Entry was = stored();
        core::Entry now = was;
        std::string* fields[] = {&now.Trademark, &now.Owner, &now.LawOffice, &now.FilingDate};
        for (int i = 0; i < c.emptied; ++i)
            fields[i]->clear();
        test::ScriptedFrontEnd fe;
        if (c.answer)
            fe.nextAnswer(*c.answer);
        bool warn = c.warn;
        EXPECT_EQ(update::CheckReverted(now, was, warn, fe), c.accepted);
        EXPECT_EQ(warn, c.warnAfter);
        ASSERT_EQ(fe.boxes.size(), c.answer ? 1u : 0u);
        if (c.answer) {
            EXPECT_EQ(fe.boxes[0].buttons, base::Buttons::YesNoCancel);
            EXPECT_EQ(fe.boxes[0].text,
                      "Three or more fields for application 75-000001, trademark HARROW reverted to nothing. This may "
                      "be an indication of problem extracting data from the webpage.\n\nIs this okay?\n\nYES - don't "
                      "warn me again\nNO - continue updating, but warn me if it happens again\nCANCEL - cancel the "
                      "updates\n" +
                          std::string(c.emptied == 3 ? "\nTrademark (was): HARROW\nLaw Office (was): LAW OFFICE 101"
                                                       "\nOwner (was): Kestrel GmbH"
                                                     : ""));
        }
    }
}

TEST(ChangeList, StatusAndLastHistory)
{
    core::Entry was = stored();
    core::Entry now = was;
    now.StatusText = "Cancelled.";
    now.LastHistory = "2005-01-01 - Cancelled";
    EXPECT_EQ(update::ChangeList(now, was), "Status (now): Cancelled.\r\nStatus (was): Registered.\r\n\r\n"
                                            "Last History (now): 2005-01-01 - Cancelled\r\n"
                                            "Last History (was): 2004-01-05 - Registered");
    EXPECT_EQ(update::ChangeList(was, was), "");
}

TEST(RulesDownload, AcceptsOnlyAWholeRulesText)
{
    const struct {
        const char* text;
        bool accepted;
    } cases[] = {
        {"version: 9\r\nfetch1:\r\n\r\nend-of-rules\r\n", true},
        {"\r\nversion: 9\r\n\r\nend-of-rules\r\n", false}, // a blank line first
        {"Version: 9\r\n\r\nend-of-rules\r\n", false},
        {"version: 9\r\n\r\nend-of-rules", false}, // the end marker's line end is missing
        {"version: 9\nend-of-rules\n", false},
        {"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(update::acceptableRulesText(c.text), c.accepted) << c.text;
}
