#include "net/flowlog.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace tarnwick::net;

TEST(FlowLog, LineCarriesSecondsModuloThousandAndHundredths)
{
    EXPECT_EQ(FlowLog::formatLine(12345678, "HttpGet(0): ", "Sent"), "345.67 HttpGet(0): Sent\r\n");
    EXPECT_EQ(FlowLog::formatLine(5, "", "x"), "000.00 x\r\n");
    EXPECT_EQ(FlowLog::formatLine(999999, "L: ", ""), "999.99 L: \r\n");
}

TEST(FlowLog, ShownData)
{
    const std::string hundred = std::string(40, 'a') + std::string(20, 'm') + std::string(40, 'z');
    std::string escapedNewlines;
    for (int i = 0; i < 40; ++i)
        escapedNewlines += "\\n";
    struct Case {
        std::string data;
        std::string shown;
    };
    const Case cases[] = {
        {"a\tb\r\nc", "a\\0x09b\\r\\nc"},
        {"back\\slash", "back\\\\slash"},
        {std::string("nul\0", 4), "nul\\0x00"},
        {"\x1f\x7f\x80\xff", "\\0x1f\x7f\x80\xff"},
        {std::string(80, 'x'), std::string(80, 'x')},
        {hundred, std::string(40, 'a') + "..." + std::string(40, 'z')},
        // the cut comes first, then the escapes
        {std::string(40, '\n') + std::string(60, 'b'), escapedNewlines + "..." + std::string(40, 'b')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shown);
        EXPECT_EQ(FlowLog::shown(c.data), c.shown);
    }
}

TEST(FlowLog, SubscriberAndDisabledLog)
{
    FlowLog log;
    std::vector<std::pair<int, std::string>> seen;
    log.setSubscriber([&](int kind, const std::string& line) { seen.emplace_back(kind, line); });
    log.post(FlowLog::k_incoming, "one\r\n");
    log.log(FlowLog::k_outgoing, "L: ", "two");
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], (std::pair<int, std::string>{2, "one\r\n"}));
    EXPECT_EQ(seen[1].first, 1);
    EXPECT_EQ(seen[1].second.substr(7), "L: two\r\n");
    EXPECT_EQ(log.text(), "one\r\n" + seen[1].second);

    log.setEnabled(false);
    log.post(0, "three\r\n");
    log.log(0, "L: ", "four");
    EXPECT_EQ(seen.size(), 2u);
    log.clearText();
    EXPECT_TRUE(log.isEmpty());

    log.setEnabled(true);
    log.clearSubscriber();
    log.post(0, "five\r\n");
    EXPECT_EQ(seen.size(), 2u);
    EXPECT_EQ(log.text(), "five\r\n");
}

TEST(FlowLog, TextIsCutBackPastItsLimit)
{
    struct Case {
        std::size_t oldSize;
        std::size_t lineSize;
        std::size_t expectedSize;
        bool keepsOldTail;
    };
    const Case cases[] = {
        {19990, 9, 19999, true},      // exactly at the limit: kept whole
        {19990, 10, 10010, true},     // one past: last 10000 of the old text + the line
        {15000, 9000, 19000, true},   // the last 10000 of the old text stay in front of the line
        {10000, 10001, 10000, false}, // a line longer than 10000: its last 10000 alone
        {0, 25000, 10000, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.oldSize) + "+" + std::to_string(c.lineSize));
        FlowLog log;
        std::string old(c.oldSize, 'o');
        if (!old.empty())
            old.back() = 'O';
        std::string line(c.lineSize, 'n');
        line.back() = 'N';
        if (!old.empty())
            log.post(0, old);
        log.post(0, line);
        const std::string text = log.text();
        ASSERT_EQ(text.size(), std::min(c.expectedSize, c.oldSize + c.lineSize));
        EXPECT_EQ(text.back(), 'N');
        EXPECT_EQ(text.find('O') != std::string::npos, c.keepsOldTail && c.oldSize > 0);
    }
}

TEST(FlowLog, PostsFromManyThreads)
{
    FlowLog log;
    std::atomic<int> lines{0};
    log.setSubscriber([&](int, const std::string&) { ++lines; });
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 500; ++i)
                log.log(0, "T: ", "line");
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(lines.load(), 2000);
    EXPECT_LE(log.text().size(), FlowLog::k_textLimit);
}
