#include "net/base64.h"

#include <gtest/gtest.h>

using namespace tarnwick::net;

TEST(Base64, EncodesAndDecodesStandardVectors)
{
    struct Case {
        std::string bytes;
        std::string text;
    };
    const Case cases[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
        {"tester", "dGVzdGVy"},
        {std::string("\xE9t\xE9\xFF", 4), "6XTp/w=="}, // bytes of 0x80 and above are taken unsigned
        {std::string("\0\0\0", 3), "AAAA"},
        {"\xFB\xFF", "+/8="},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(base64Encode(c.bytes), c.text);
        EXPECT_EQ(base64Decode(c.text), c.bytes);
    }
}

TEST(Base64, DecodeAcceptsMissingPaddingAndRejectsTheRest)
{
    EXPECT_EQ(base64Decode("Zg"), "f");
    EXPECT_EQ(base64Decode("Zm8"), "fo");
    for (const char* bad : {"Zm9v\r\n", "Zm 9v", "Z", "Zg=", "Zg===", "Z=g=", "Zm9v!"}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(base64Decode(bad), "");
    }
}
