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
