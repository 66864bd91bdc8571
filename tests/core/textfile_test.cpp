#include "core/textfile.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tarnwick::core;

TEST(TextMode, ConvertsLineEndsBothWays)
{
    struct Case {
        std::string memory;
        std::string disk;
    };
    const Case cases[] = {
        {"", ""},
        {"a", "a"},
        {"a\n", "a\r\n"},
        {"\n\n", "\r\n\r\n"},
        {"a\nb\n", "a\r\nb\r\n"},
        {"lone\rcr", "lone\rcr"},
        {"100%\n", "100%\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.memory);
        EXPECT_EQ(toTextMode(c.memory), c.disk);
        EXPECT_EQ(fromTextMode(c.disk), c.memory);
    }
    // text mode writes a CR already before an LF as it is, and reads it back the same way
    EXPECT_EQ(toTextMode("a\r\n"), "a\r\r\n");
    EXPECT_EQ(fromTextMode("a\r\r\n"), "a\r\n");
}

TEST(LineReader, SplitsLinesOfAnyLength)
{
    const std::string longLine(100000, 'x');
    struct Case {
        std::string text;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"", {}},
        {"\r\n", {""}},
        {"\n", {""}},
        {"8", {"8"}},
        {"8\r\n", {"8"}},
        {"8\r\n\r\nx\r\n", {"8", "", "x"}},
        {"8\nlf only\nno end", {"8", "lf only", "no end"}},
        {"a\rb\r\n", {"a\rb"}},
        {"cr at end\r", {"cr at end\r"}},
        {longLine + "\r\nnext", {longLine, "next"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 40));
        LineReader reader(c.text);
        std::vector<std::string> got;
        std::string_view line;
        while (reader.next(line))
            got.emplace_back(line);
        EXPECT_EQ(got, c.lines);
        EXPECT_TRUE(reader.atEnd());
    }
}
