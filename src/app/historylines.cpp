#include "app/historylines.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnwick::app {

namespace {

constexpr size_t k_block = size_t{1} << 20;

bool isHex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

// The whole of `length` bytes at `offset`, retried over short reads; why not.
std::string readAt(int fd, std::int64_t offset, size_t length, char* into)
{
    size_t done = 0;
    while (done < length) {
        const ssize_t got =
            ::pread(fd, into + done, length - done, static_cast<off_t>(offset + static_cast<std::int64_t>(done)));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return std::strerror(errno);
        if (got == 0)
            return "the file became shorter";
        done += static_cast<size_t>(got);
    }
    return {};
}

} // namespace

std::string HistoryLines::lineNumber(std::string_view line)
{
    // a line's check is eight lowercase hex digits and a TAB; older lines start with their date
    if (line.size() > 9 && line[8] == '\t' && std::all_of(line.begin(), line.begin() + 8, isHex))
        line.remove_prefix(9);
    const size_t dateEnd = line.find('\t');
    if (dateEnd == std::string_view::npos)
        return {};
    line.remove_prefix(dateEnd + 1);
    std::string digits;
    for (const char c : line.substr(0, line.find('\t'))) {
        if (c >= '0' && c <= '9')
            digits += c;
    }
    return digits;
}

std::string HistoryLines::catchUp(int fd, std::int64_t size)
{
    std::vector<char> block(k_block);
    std::string partial; // a line the block cut
    while (m_indexed + static_cast<std::int64_t>(partial.size()) < size) {
        const std::int64_t from = m_indexed + static_cast<std::int64_t>(partial.size());
        const size_t want =
            static_cast<size_t>(std::min<std::int64_t>(size - from, static_cast<std::int64_t>(k_block)));
        if (std::string why = readAt(fd, from, want, block.data()); !why.empty())
            return why;
        std::string_view bytes(block.data(), want);
        for (size_t end; (end = bytes.find('\n')) != std::string_view::npos; bytes.remove_prefix(end + 1)) {
            std::string_view line = bytes.substr(0, end);
            if (!partial.empty())
                partial.append(line), line = partial;
            const std::string number = lineNumber(line);
            const auto length = static_cast<std::uint32_t>(line.size() + 1);
            if (!number.empty())
                m_lines[number].push_back({m_indexed, length});
            m_indexed += length;
            partial.clear();
        }
        partial.append(bytes);
    }
    return {};
}

notify::HistoryText HistoryLines::read(const std::string& logDir, const notify::HistoryKeep& keep)
{
    notify::HistoryText none;
    const std::string path = logDir.empty() ? std::string() : platform::joinPath(logDir, notify::k_historyFileName);
    const platform::ResultOf<platform::FileStamp> stamp =
        path.empty() ? platform::ResultOf<platform::FileStamp>() : platform::fileStamp(path);
    if (!stamp) {
        if (!path.empty() && !stamp.missing())
            none.error = "Can't read the history file '" + path + "': " + stamp.systemText();
        return none;
    }
    // another file, or one cut shorter: what is known of the old one holds no more
    if (path != m_path || stamp->inode != m_stamp.inode || stamp->size < m_indexed) {
        m_lines.clear();
        m_indexed = 0;
    }
    m_path = path;
    m_stamp = *stamp;

    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat info {};
    std::string why;
    if (fd < 0 || ::fstat(fd, &info) != 0)
        why = std::strerror(errno);
    else if (!S_ISREG(info.st_mode))
        why = "not a regular file";
    else
        why = catchUp(fd, static_cast<std::int64_t>(info.st_size));

    // the lines of the numbers asked for, in file order, through the reader that checks them
    std::vector<Line> wanted;
    for (const std::string& number : keep.numbers) {
        const auto found = m_lines.find(notify::numberDigits(number));
        if (found != m_lines.end())
            wanted.insert(wanted.end(), found->second.begin(), found->second.end());
    }
    std::sort(wanted.begin(), wanted.end(), [](const Line& a, const Line& b) { return a.offset < b.offset; });
    wanted.erase(
        std::unique(wanted.begin(), wanted.end(), [](const Line& a, const Line& b) { return a.offset == b.offset; }),
        wanted.end());
    notify::HistoryReader reader(keep);
    std::string line;
    for (const Line& l : wanted) {
        if (!why.empty())
            break;
        line.resize(l.length);
        why = readAt(fd, l.offset, l.length, line.data());
        if (why.empty())
            reader.add(line);
    }
    if (fd >= 0)
        ::close(fd);
    if (!why.empty()) {
        m_lines.clear();
        m_indexed = 0;
        none.error = "Can't read the history file '" + path + "': " + why;
        return none;
    }
    return reader.finish();
}

} // namespace tarnwick::app
