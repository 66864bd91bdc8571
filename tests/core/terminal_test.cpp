#include "platform/terminal.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace tarnwick;

TEST(TerminalText, SystemTextsReachTheLocalesCharacterSet)
{
    struct Case {
        const char* codeset;
        std::string text;
        std::string expected;
    };
    const Case cases[] = {
        {"UTF-8", "Tarnwick\xAE", "Tarnwick\xC2\xAE"},
        {"utf8", "Tarnwick\x99 caf\xE9", "Tarnwick\xE2\x84\xA2 caf\xC3\xA9"},
        {"UTF-8", "caf\xC3\xA9 \xE2\x84\xA2", "caf\xC3\xA9 \xE2\x84\xA2"}, // already UTF-8: kept
        {"UTF-8", "\x81\xC3", "?\xC3\x83"},                                // no character in the code page: "?"
        {"ISO-8859-1", "Tarnwick\xAE", "Tarnwick\xAE"},
        {"ANSI_X3.4-1968", "Tarnwick\xAE", "Tarnwick(R)"},
        {"ISO-8859-15", "\x80", "\xA4"},
        {"no such codeset", "Tarnwick\xAE", "Tarnwick\xAE"},
        {"", "plain", "plain"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.codeset);
        EXPECT_EQ(platform::toCodeset(c.text, c.codeset), c.expected);
    }
}

TEST(TerminalText, StreamConvertsWholeLines)
{
    std::ostringstream sink;
    {
        platform::CodesetStreamBuf buf(sink.rdbuf(), "UTF-8");
        std::ostream out(&buf);
        out << "Tarnwick" << '\xAE' << ": caf"
            << "\xE9\n"
            << "rest";
        EXPECT_EQ(sink.str(), "Tarnwick\xC2\xAE: caf\xC3\xA9\n");
        out.flush();
        EXPECT_TRUE(out.good());
    }
    EXPECT_EQ(sink.str(), "Tarnwick\xC2\xAE: caf\xC3\xA9\nrest");
}
