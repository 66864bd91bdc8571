#include "base/frontend.h"

#include <gtest/gtest.h>

#include <optional>
#include <utility>

using namespace tarnwick;
using base::BoxIcon;
using base::Question;
using base::Severity;

// A failure shows the critical icon and a warning the warning icon, whether the box tells or asks; plain news
// shows the information icon, and a plain question the question mark.
TEST(MessageBoxIcon, SeverityFirstThenWhetherTheBoxAsks)
{
    struct Case {
        Question question;
        std::optional<Severity> severity; // none: the question's own
        BoxIcon icon;
    };
    const Case cases[] = {
        {Question::Message, std::nullopt, BoxIcon::Information},
        {Question::Message, Severity::Warning, BoxIcon::Warning},
        {Question::Message, Severity::Error, BoxIcon::Critical},
        {Question::DeleteEntries, std::nullopt, BoxIcon::Question},
        {Question::Disclaimer, std::nullopt, BoxIcon::Warning},
        {Question::ExitAfterFailedSend, std::nullopt, BoxIcon::Warning},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.question));
        base::MessageBox box = base::boxOf(c.question, "text");
        if (c.severity)
            box.severity = *c.severity;
        EXPECT_EQ(base::boxIcon(box), c.icon);
    }
}

// The status line is written as a label is: a doubled "&" is one; a lone one is kept as it is.
TEST(StatusLine, ADoubledAmpersandShowsOnce)
{
    const std::pair<const char*, const char*> cases[] = {
        {"Updating QUARRY && CO", "Updating QUARRY & CO"},
        {"Updating R&D", "Updating R&D"},
        {"A&&&&B&&", "A&&B&"},
        {"&&&", "&&"},
        {"", ""},
    };
    for (const auto& [label, shown] : cases) {
        SCOPED_TRACE(label);
        EXPECT_EQ(base::plainStatusText(label), shown);
    }
}
