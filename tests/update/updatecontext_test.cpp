#include "update/updatecontext.h"

#include <gtest/gtest.h>

using namespace tarnwick;

namespace {

// The time-out a worker task waits with is the one the operation runs under, read afresh on each look.
TEST(LiveTimeout, ReadsTheOperationsTimeOutAsItIsNow)
{
    struct Case {
        const char* name;
        int fixedMs;     // the operation's own time-out when it has one
        int windowLater; // the window's choice made while the task waits
        int fixedLater;  // and the operation's own, changed meanwhile
        int expected;
    };
    const Case cases[] = {
        {"the window's choice takes effect at once", 0, 90000, 0, 90000},
        {"an operation's own time-out ignores the window", 30000, 90000, 30000, 30000},
        {"and is followed when it changes", 30000, 90000, 45000, 45000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        update::RunControl control;
        control.fixedTimeoutMs = c.fixedMs;
        const update::LiveTimeout timeout(control);
        const update::LiveTimeout copy = timeout;
        EXPECT_EQ(timeout.ms(), c.fixedMs > 0 ? c.fixedMs : 60000);
        control.timeoutMs = c.windowLater;
        control.fixedTimeoutMs = c.fixedLater;
        EXPECT_EQ(timeout.ms(), c.expected);
        EXPECT_EQ(copy.ms(), c.expected);
        EXPECT_EQ(&copy.source(), &timeout.source());
    }
}

} // namespace
