#include "notify/digesttext.h"

#include <gtest/gtest.h>

using namespace tarnwick;
using notify::DigestEdit;

namespace {

std::vector<DigestEdit> edits(std::string_view kinds)
{
    std::vector<DigestEdit> out;
    for (char kind : kinds)
        out.push_back({kind, std::string("Trademark entry ") + kind});
    return out;
}

} // namespace

TEST(DigestText, SummaryCountsWhatTheDigestHolds)
{
    struct Case {
        size_t changed;
        const char* kinds;
        const char* summary;
    };
    const Case cases[] = {
        {1, "", "1 mark changed"},
        {3, "", "3 marks changed"},
        {0, "aa", "2 entries added"},
        {2, "adca", "2 marks changed, 2 entries added, 1 entry deleted, 1 reference changed"},
        {0, "cc", "2 references changed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.summary);
        EXPECT_EQ(notify::digestSummary(c.changed, edits(c.kinds)), c.summary);
    }
}

TEST(DigestText, EachPartOnlyWhenItHoldsSomething)
{
    struct Case {
        size_t changed;
        const char* kinds;
        const char* text;
    };
    const Case cases[] = {
        {1, "", "The most recent information reported on the TARR web site has changed for 1 mark:\r\n\r\n1. X"},
        {0, "ad",
         "Entries added, deleted or changed in the Tarnwick database:\r\nTrademark entry a\r\nTrademark entry d"},
        {2, "c",
         "The most recent information reported on the TARR web site has changed for 2 marks:\r\n\r\n1. X\r\n\r\n"
         "Entries added, deleted or changed in the Tarnwick database:\r\nTrademark entry c"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(notify::digestText(c.changed, "1. X", "TARR", "Tarnwick", edits(c.kinds)), c.text);
    }
}

// Only a notice that goes to the notification addresses and has a subject can be a line of a digest.
TEST(DigestText, LineIsTheSubjectOfANoticeWithoutOwnRecipients)
{
    const std::pair<const char*, std::optional<std::string>> cases[] = {
        {"Subject: Trademark entry added, registration 1\r\n\r\nbody\r\n", "Trademark entry added, registration 1"},
        {"subject: low\r\n\r\n", "low"},
        {"To: x@example.test\r\nSubject: mine\r\n\r\n", std::nullopt},
        {"Cc: x@example.test\r\nSubject: mine\r\n\r\n", std::nullopt},
        {"Subject: torn", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [message, line] : cases) {
        SCOPED_TRACE(message);
        EXPECT_EQ(notify::digestLine(message), line);
    }
}
