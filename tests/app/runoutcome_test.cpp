#include "app/runoutcome.h"
#include "update/updaterun.h"

#include <gtest/gtest.h>

#include <functional>

using namespace tarnwick;

TEST(RunOutcome, TheEndOfARunSaysWhatItCameTo)
{
    auto run = [](int due, int changed, int failed, std::function<void(update::RunSummary&)> more = {}) {
        update::RunSummary r;
        r.started = true;
        r.due = due;
        r.reached = due;
        r.changed = changed;
        r.failed = failed;
        if (failed > 0) {
            r.firstFailedFor = "ACME-1";
            r.firstFailure = "HttpGet: HTTP Get Failed. (500 Internal Server Error)";
        }
        if (more)
            more(r);
        return r;
    };
    struct Case {
        const char* name;
        update::RunSummary summary;
        int sent;
        std::string box;
        std::string status;
    };
    const Case cases[] = {
        {"all updated", run(22, 3, 0), 3,
         "All entries have been successfully updated.\n\n3 marks changed, 0 failed, 3 messages sent.",
         "Update Status (All): 3 marks changed, 0 failed, 3 messages sent."},
        {"two of 22 failed, the changes sent", run(22, 3, 2), 3,
         "2 of the 22 entries were not updated.\n\n3 marks changed, 2 failed, 3 messages sent.\n\nThe first, ACME-1: "
         "HttpGet: HTTP Get Failed. (500 Internal Server Error)\n\nThe Error column gives each entry's reason.",
         "Update Status (All): 3 marks changed, 2 failed, 3 messages sent."},
        {"canceled at the eleventh of 22", run(22, 0, 1, [](auto& r) { r.cancelled = true, r.reached = 11; }), 0,
         "The update was canceled after 11 of the 22 entries; the others were left as they were.\n\n0 marks "
         "changed, 1 failed, 0 messages sent.\n\nACME-1: HttpGet: HTTP Get Failed. (500 Internal Server Error)",
         "Update Status (All) canceled after 11 of 22: 0 marks changed, 1 failed, 0 messages sent."},
        {"no record, a number not taken", run(4, 0, 0, [](auto& r) { r.noRecord = 2, r.numbersNotTaken = 1; }), 0,
         "All entries have been successfully updated.\n\n0 marks changed, 0 failed, 0 messages sent.\n\nThe "
         "trademark office has no record of 2 entries; its Error column says which.\n\nThe office's page of 1 entry "
         "gives a number that was not taken; its Error column says why.",
         "Update Status (All): 0 marks changed, 0 failed, 0 messages sent."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(app::runClosingText(c.summary, c.sent), c.box);
        EXPECT_EQ(app::runStatusText(c.summary, c.sent), c.status);
    }
}
