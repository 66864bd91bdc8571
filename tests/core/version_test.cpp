#include "core/version.h"

#include <gtest/gtest.h>

using namespace tarnwick;

TEST(Version, ComparesProgramVersionsNumberByNumber)
{
    struct Case {
        const char* a;
        const char* b;
        int sign;
    };
    const Case cases[] = {
        {"4.10.0", "4.9.9", 1},   {"5.0.00", "4.2.09", 1},
        {"4.2.09", "4.2.9", 0},   {"4.2.07-beta", "4.2.06", -1}, // not numbers and dots: older than any version that is
        {"?.?.??", "0.0.01", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
        const int r = core::compareVersions(c.a, c.b);
        EXPECT_EQ((r > 0) - (r < 0), c.sign);
    }
}

TEST(Version, TheRulesNameTheProgramInTheirFirstThreeNumbers)
{
    const std::pair<const char*, const char*> cases[] = {
        {"4.2.06.900", "4.2.06"}, {"4.10.01.3", "4.10.01"}, {"4.2.06", "4.2.06"}, {"9", "9"}, {"4.2.06 ", ""}, {"", ""},
    };
    for (const auto& [rules, program] : cases)
        EXPECT_EQ(core::programVersionOf(rules), program) << rules;
}
