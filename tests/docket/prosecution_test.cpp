#include "core/entry.h"
#include "docket/deadlines.h"
#include "docket/prosecution.h"

#include <gtest/gtest.h>

using namespace tarnwick;
using docket::ProsecutionEvent;

TEST(Prosecution, StatusAndHistoryTextsNameTheirEvent)
{
    const std::pair<const char*, docket::RecognizedEvent> texts[] = {
        {"Non-final action e-mailed.", {ProsecutionEvent::OfficeAction}},
        {"NON-FINAL ACTION MAILED", {ProsecutionEvent::OfficeAction}},
        {"A non-final Office action has been sent (issued) to the applicant.", {ProsecutionEvent::OfficeAction}},
        {"Final Refusal E-Mailed", {ProsecutionEvent::OfficeAction}},
        {"Suspension inquiry e-mailed.", {ProsecutionEvent::OfficeAction}},
        {"An Office action suspending further action on the application has been sent (issued).", {}},
        {"Post Registration Action E-Mailed", {ProsecutionEvent::PostRegistrationAction}},
        {"Registered. The registration date is used to determine when post-registration maintenance documents are due.",
         {ProsecutionEvent::Registered}},
        {"Response received.", {ProsecutionEvent::ResponseFiled}},
        {"Teas Response To Office Action Received", {ProsecutionEvent::ResponseFiled}},
        {"Teas Request For Extension Of Time To File A Response Received", {ProsecutionEvent::ResponseTimeExtension}},
        {"Published For Opposition", {ProsecutionEvent::Published}},
        {"Notice of allowance issued.", {ProsecutionEvent::NoticeOfAllowance}},
        {"NOA E-MAILED - SOU REQUIRED FROM APPLICANT", {ProsecutionEvent::NoticeOfAllowance}},
        {"Extension 1 granted.", {ProsecutionEvent::UseExtension, 1}},
        {"SOU EXTENSION 3 GRANTED", {ProsecutionEvent::UseExtension, 3}},
        {"A request for an extension of time to file a Statement of Use has been granted.",
         {ProsecutionEvent::UseExtension, 1}},
        {"SOU extension request denied", {}},
        {"Extension of time to oppose received", {}},
        {"Teas Statement Of Use Received", {ProsecutionEvent::StatementOfUseFiled}},
        {"Statement Of Use - Accepted", {ProsecutionEvent::StatementOfUseAccepted}},
        {"SOU Accepted", {ProsecutionEvent::StatementOfUseAccepted}},
        {"Registered - Principal Register", {ProsecutionEvent::Registered}},
        {"Examiner's amendment e-mailed", {}},
        {"Response deadline extended.", {}},
    };
    for (const auto& [text, event] : texts) {
        SCOPED_TRACE(text);
        EXPECT_EQ(docket::recognizeEvent(text), event);
    }
}

// A word counts where it stands whole (no letter or digit either side), wherever it stood inside others before; a
// negatable one not right after "NOT ".
TEST(Prosecution, WordsStandWholeAndUnnegated)
{
    struct Case {
        const char* text;
        const char* word;
        bool negatable;
        bool found;
    };
    const Case cases[] = {
        {"ACTION", "ACTION", false, true},
        {"REACTION", "ACTION", false, false},
        {"ACTIONS", "ACTION", false, false},
        {"REACTION AND 2ACTION, THEN ACTION-E-MAILED", "ACTION", false, true},
        {"SEC. 8 ACCEPTED", "SEC. 8", false, true},
        {"SEC. 80 ACCEPTED", "SEC. 8", false, false},
        {"NOT ACCEPTED", "ACCEPTED", false, true},
        {"NOT ACCEPTED", "ACCEPTED", true, false},
        {"NOT ACCEPTED, LATER ACCEPTED", "ACCEPTED", true, true},
        {"AC", "ACTION", false, false},
        {"", "ACTION", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " / " + c.word);
        EXPECT_EQ(docket::hasWord(c.text, c.word, c.negatable), c.found);
    }
}

TEST(Prosecution, DeadlinesFromTheLatestStatusAndHistory)
{
    struct Case {
        const char* intNum;
        const char* regDate; // with a registration number
        const char* statusDate;
        const char* status;
        const char* history;
        const char* published;
        const char* today;
        std::string pending; // deadlineDetails of each, " | " between
        const char* next;    // deadlineText of the next deadline
    };
    const char* const none = "";
    const std::string renewal =
        " | 2030-05-20 Renewal at 10 years (opens 2029-05-18, grace to 2030-11-18; 2030-05-18 is a Saturday)";
    const Case cases[] = {
        // an action's answer: six months before 2022-12-03 and for a designation, else three and an extension
        {"", "", "2022-12-02", "Non-final action e-mailed.", "", "", "2023-01-01",
         "Response due 2023-06-02; from 2022-12-02 Non-final action e-mailed.", "2023-06-02 Response to office action"},
        {"", "", "2022-12-03", "Final refusal e-mailed.", "", "", "2023-01-01",
         "Response due 2023-03-03, extension to 2023-06-05; from 2022-12-03 Final refusal e-mailed.",
         "2023-03-03 Response to office action (extension to 2023-06-05)"},
        {"1234567", "", "2024-03-01", "Suspension inquiry e-mailed.", "", "", "2024-03-02",
         "Response due 2024-09-03 (2024-09-01 is a Sunday); from 2024-03-01 Suspension inquiry e-mailed.",
         "2024-09-03 Response to office action"},
        // three months from 30 November end on the last day of February; the history item counts with its day
        {"", "", "2026-11-02", "Under examination.", "2026-11-30 - Non-Final Action E-Mailed", "", "2026-12-10",
         "Response due 2027-03-01 (2027-02-28 is a Sunday), extension to 2027-06-01; from 2026-11-30 Non-Final "
         "Action E-Mailed",
         "2027-03-01 Response to office action (extension to 2027-06-01)"},
        // open until the extension's day, then gone; a response or a request for more time after it
        {"", "", "2023-01-10", "Non-final action e-mailed.", "", "", "2023-05-01",
         "Response due 2023-04-10, extension to 2023-07-10; from 2023-01-10 Non-final action e-mailed.",
         "2023-04-10 Response to office action (extension to 2023-07-10)"},
        {"", "", "2023-01-10", "Non-final action e-mailed.", "", "", "2023-07-11", none, none},
        {"", "", "2026-11-02", "Non-final action e-mailed.", "2026-12-01 - Teas Response To Office Action Received", "",
         "2026-12-10", none, none},
        {"", "", "2026-11-02", "Non-final action e-mailed.",
         "2027-01-05 - Teas Request For Extension Of Time To File A Response Received", "", "2027-01-10",
         "Response due 2027-02-02, extension to 2027-05-03; from 2026-11-02 Non-final action e-mailed.",
         "2027-02-02 Response to office action (extension to 2027-05-03)"},
        {"", "", "2026-10-01", "Response received.", "2026-11-02 - Final Refusal E-Mailed", "", "2026-12-10",
         "Response due 2027-02-02, extension to 2027-05-03; from 2026-11-02 Final Refusal E-Mailed",
         "2027-02-02 Response to office action (extension to 2027-05-03)"},
        {"", "", "", "Non-final action e-mailed.", "Non-Final Action E-Mailed", "", "2026-12-10", none, none},
        {"", "", "2026-11-02", "Abandoned - failure to respond.", "2026-11-02 - Non-Final Action E-Mailed", "",
         "2026-12-10", none, none},
        // after registration: six months, or the end of the window the action falls in
        {"", "2020-05-18", "2025-06-02", "Post registration action e-mailed.", "", "", "2025-07-01",
         "2026-05-18 Declaration of use (opens 2025-05-18, grace to 2026-11-18) | Response due 2026-05-18; from "
         "2025-06-02 Post registration action e-mailed." +
             renewal,
         "2026-05-18 Declaration of use (grace to 2026-11-18)"},
        {"", "2020-05-18", "2026-04-01", "Registered.", "2026-04-01 - Post Registration Action E-Mailed", "",
         "2026-07-01",
         "2026-05-18 Declaration of use (opens 2025-05-18, grace to 2026-11-18) | Response due 2026-10-01; from "
         "2026-04-01 Post Registration Action E-Mailed" +
             renewal,
         "2026-05-18 Declaration of use (grace to 2026-11-18)"},
        // a designation's declarations are the Section 71 ones
        {"1234567", "2020-05-18", "2020-05-18", "Registered.", "", "", "2025-07-01",
         "2026-05-18 Section 71 declaration (opens 2025-05-18, grace to 2026-11-18) | 2030-05-20 Section 71 "
         "declaration at 10 years (opens 2029-05-18, grace to 2030-11-18; 2030-05-18 is a Saturday)",
         "2026-05-18 Section 71 declaration (grace to 2026-11-18)"},
        // the statement of use: six months from the notice, six more for each extension, 36 at most
        {"", "", "2026-02-02", "Notice of allowance issued.", "", "", "2026-03-01",
         "Statement of use or extension request due 2026-08-03 (2026-08-02 is a Sunday); from 2026-02-02 Notice of "
         "allowance issued.",
         "2026-08-03 Statement of use"},
        {"", "", "2024-01-31", "Notice of allowance issued.", "2025-01-15 - Extension 2 Granted", "", "2025-03-01",
         "Statement of use or extension request due 2025-07-31; from 2025-01-15 Extension 2 Granted",
         "2025-07-31 Statement of use"},
        {"", "", "2024-01-31", "Notice of allowance issued.", "2026-07-01 - Extension 6 Granted", "", "2026-08-01",
         "Statement of use or extension request due 2027-02-01 (2027-01-31 is a Sunday); from 2026-07-01 Extension "
         "6 Granted",
         "2027-02-01 Statement of use"},
        // without the notice's day, six months from the grant: never later than the period it gives
        {"", "", "2026-03-10", "Extension 1 granted.", "2026-03-10 - Extension 1 Granted", "", "2026-04-01",
         "Statement of use or extension request due 2026-09-10; from 2026-03-10 Extension 1 Granted",
         "2026-09-10 Statement of use"},
        {"", "", "2026-02-02", "Notice of allowance issued.", "2026-05-04 - Teas Statement Of Use Received", "",
         "2026-06-01", none, none},
        {"", "", "2026-07-01", "Statement of use accepted.", "2026-02-02 - Notice Of Allowance - Issued", "",
         "2026-07-02", none, none},
        // the opposition period, for information: never the next deadline
        {"", "", "2026-10-27", "Published for opposition.", "", "2026-10-27", "2026-11-01",
         "Opposition period ends 2026-11-27 (2026-11-26 is Thanksgiving Day); from 2026-10-27 Published for "
         "opposition.",
         none},
        {"", "", "2026-10-27", "Published for opposition.", "", "2026-10-27", "2026-11-28", none, none},
        {"", "", "2026-11-02", "Non-final action e-mailed.", "", "2026-10-27", "2026-11-03",
         "Opposition period ends 2026-11-27 (2026-11-26 is Thanksgiving Day) | Response due 2027-02-02, extension to "
         "2027-05-03; from 2026-11-02 Non-final action e-mailed.",
         "2027-02-02 Response to office action (extension to 2027-05-03)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.statusDate) + " " + c.status + " / " + c.history + " on " + c.today);
        core::Entry e(core::dayNumberOf(c.today));
        e.SerNum = "90123456";
        e.IntNum = c.intNum;
        if (*c.regDate != '\0')
            e.RegNum = "1234567";
        e.RegDate = c.regDate;
        e.StatusDate = c.statusDate;
        e.StatusText = c.status;
        e.LastHistory = c.history;
        e.PublishedDate = c.published;
        std::string pending;
        for (const docket::Deadline& d : docket::pendingDeadlines(e, e.Today))
            pending += (pending.empty() ? "" : " | ") + docket::deadlineDetails(d);
        EXPECT_EQ(pending, c.pending);
        EXPECT_EQ(docket::deadlineText(docket::nextDeadline(e, e.Today)), c.next);
    }
}
