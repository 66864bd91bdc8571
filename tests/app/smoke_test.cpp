#include <gtest/gtest.h>

TEST(Layer, Builds)
{
    SUCCEED();
}
