#pragma once

#include "notify/history.h"
#include "platform/files.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tarnwick::app {

// Where each number's lines lie in the history file, so that the window's details read the records of the
// selected entries alone: the file is looked through once, and after that only what was appended since. A file
// replaced or cut shorter is looked through anew.
class HistoryLines {
public:
    // The records that a notify::HistoryReader given `keep` (which names its numbers) keeps from the whole file,
    // with the same counts of the records it leaves out of those numbers.
    notify::HistoryText read(const std::string& logDir, const notify::HistoryKeep& keep);

    // The digits of the number a history line is kept under (its second column after the line's check); empty for
    // the header and for a line without one.
    static std::string lineNumber(std::string_view line);

private:
    struct Line {
        std::int64_t offset;
        std::uint32_t length; // with its LF
    };
    // Indexes the whole lines from m_indexed on; the reason when the file cannot be read.
    std::string catchUp(int fd, std::int64_t size);

    std::string m_path;
    platform::FileStamp m_stamp;
    std::int64_t m_indexed = 0; // the bytes up to the last LF looked through
    std::unordered_map<std::string, std::vector<Line>> m_lines;
};

} // namespace tarnwick::app
