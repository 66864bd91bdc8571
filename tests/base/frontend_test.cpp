#include "base/frontend.h"

#include <gtest/gtest.h>

#include <tuple>
#include <utility>

using namespace tarnwick;
using base::BoxIcon;
using base::Question;
using base::Severity;

// A failure shows the critical icon and a warning the warning icon, whether the box tells or asks; plain news
// shows the information icon, a plain question the question mark.
TEST(MessageBoxIcon, SeverityFirstThenWhetherTheBoxAsks)
{
    const std::tuple<Question, Severity, BoxIcon> cases[] = {
        {Question::Message, Severity::Information, BoxIcon::Information},
        {Question::Message, Severity::Warning, BoxIcon::Warning},
        {Question::Message, Severity::Error, BoxIcon::Critical},
        {Question::DeleteEntries, Severity::Information, BoxIcon::Question},
        {Question::DeleteEntries, Severity::Error, BoxIcon::Critical},
    };
    for (const auto& [question, severity, icon] : cases) {
        base::MessageBox box = base::boxOf(question, "text");
        box.severity = severity;
        EXPECT_EQ(base::boxIcon(box), icon) << static_cast<int>(question) << static_cast<int>(severity);
    }
    // the disclaimer warns of its own accord
    EXPECT_EQ(base::boxIcon(base::boxOf(Question::Disclaimer, "text")), BoxIcon::Warning);
}

// The status line is written as a label is: a doubled "&" is one; a lone one is kept as it is.
TEST(StatusLine, ADoubledAmpersandShowsOnce)
{
    const std::pair<const char*, const char*> cases[] = {
        {"Updating QUARRY && CO", "Updating QUARRY & CO"},
        {"R&D", "R&D"},
        {"A&&&&B&&", "A&&B&"},
        {"&&&", "&&"},
        {"", ""},
    };
    for (const auto& [label, shown] : cases)
        EXPECT_EQ(base::plainStatusText(label), shown) << label;
}
