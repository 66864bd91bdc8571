#include "app/historylines.h"
#include "notify/history.h"
#include "platform/files.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace tarnwick;

// The details read the records of the selected numbers through the lines' places as one pass over the whole
// history reads them: the same records, the same counts left out, after appends and after the file is replaced.
TEST(HistoryLines, ReadAsTheWholeFileIsRead)
{
    auto line = [](const char* number, const char* day, const char* now) {
        std::string out;
        notify::appendHistoryLine(out, {std::string("2026-12-") + day, number, "R", "StatusText", "was", now});
        return out;
    };
    const std::string header(notify::historyHeader());
    const std::string a1 = line("75-000001", "01", "one"), a2 = line("75-000001", "02", "two\ttab"),
                      a3 = line("75-000001", "03", "three"), b1 = line("2824281", "01", "other");
    const std::string unchecked = "2026-11-30\t75000001\tR\tStatusText\tx\ty\r\n";
    std::string damaged = a3;
    damaged[12] = damaged[12] == '7' ? '8' : '7';
    const struct {
        const char* what;
        std::string first, then; // the file, and what is appended (or the file that replaces it) before the read
        bool replaced;
        notify::HistoryKeep keep;
    } cases[] = {
        {"newest of one number", header + a1 + b1 + a2 + a3, "", false, {{"75000001"}, 2}},
        {"numbers as typed", header + a1 + b1 + a2, "", false, {{"75 000001", "2,824,281"}, 5}},
        {"lines without their check", unchecked + a1, "", false, {{"75-000001"}, 1}},
        {"a damaged line", header + a1 + damaged + a2, "", false, {{"75000001"}, 5}},
        {"appended after the first read", header + a1, a2 + b1 + a3, false, {{"75000001", "2824281"}, 2}},
        {"a torn line completed", header + a1 + a2.substr(0, 20), a2.substr(20), false, {{"75000001"}, 5}},
        {"a torn line closed by the next", header + a1 + a2.substr(0, 20), a3, false, {{"75000001"}, 5}},
        {"replaced by a shorter file", header + a1 + a2 + a3 + b1, header + b1 + a1, true, {{"75000001"}, 5}},
        {"a number without records", header + a1, "", false, {{"123"}, 5}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempDir dir;
        const std::string path = dir.file(notify::k_historyFileName);
        ASSERT_TRUE(platform::writeFileAtomic(path, c.first));
        app::HistoryLines lines;
        (void)lines.read(dir.path(), c.keep);
        if (c.replaced) {
            ASSERT_TRUE(platform::writeFileAtomic(path, c.then));
        } else {
            std::ofstream(path, std::ios::app | std::ios::binary) << c.then;
        }
        const notify::HistoryText got = lines.read(dir.path(), c.keep);
        notify::HistoryReader whole(c.keep);
        whole.add(c.replaced ? c.then : c.first + c.then);
        const notify::HistoryText expected = whole.finish();
        EXPECT_EQ(got.records, expected.records);
        for (const std::string& number : c.keep.numbers) {
            const std::string digits = notify::numberDigits(number);
            EXPECT_EQ(got.leftOut.contains(digits) ? got.leftOut.at(digits) : 0,
                      expected.leftOut.contains(digits) ? expected.leftOut.at(digits) : 0)
                << digits;
        }
        EXPECT_TRUE(got.error.empty()) << got.error;
    }
}
