#include "notify/history.h"

#include "core/daynumber.h"
#include "core/entry.h"
#include "core/fieldtable.h"
#include "platform/files.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>
#include <utility>

namespace tarnwick::notify {

namespace {

constexpr std::string_view k_header = "Check\tDate\tNumber\tReference\tField\tOld\tNew\r\n";
// the first line of files whose lines carry no check
constexpr std::string_view k_uncheckedHeader = "Date\tNumber\tReference\tField\tOld\tNew";
constexpr size_t k_columns = 6;
constexpr size_t k_checkDigits = 8;
// what a read of the file asks for at a time
constexpr size_t k_readBlock = 1 << 20;

// CRC-32 as zip and PNG compute it (reflected polynomial 0xEDB88320), eight bytes a step so that checking a history
// costs a fraction of parsing it: table k gives the CRC of a byte followed by k zero bytes.
constexpr std::array<std::array<uint32_t, 256>, 8> k_crcTables = [] {
    std::array<std::array<uint32_t, 256>, 8> tables{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int bit = 0; bit < 8; ++bit)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        tables[0][i] = c;
    }
    for (size_t k = 1; k < tables.size(); ++k) {
        for (uint32_t i = 0; i < 256; ++i)
            tables[k][i] = (tables[k - 1][i] >> 8) ^ tables[0][tables[k - 1][i] & 0xFF];
    }
    return tables;
}();

uint32_t crc32(std::string_view bytes)
{
    const auto& t = k_crcTables;
    uint32_t crc = 0xFFFFFFFFu;
    const char* p = bytes.data();
    size_t n = bytes.size();
    if constexpr (std::endian::native == std::endian::little) {
        for (; n >= 8; p += 8, n -= 8) {
            uint32_t lo = 0;
            uint32_t hi = 0;
            std::memcpy(&lo, p, 4);
            std::memcpy(&hi, p + 4, 4);
            lo ^= crc;
            crc = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
                  t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
        }
    }
    for (; n > 0; ++p, --n)
        crc = t[0][(crc ^ static_cast<unsigned char>(*p)) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

// The check at the start of a line: 8 hex digits and a TAB; none when the line starts otherwise.
std::optional<uint32_t> lineCheck(std::string_view line)
{
    if (line.size() <= k_checkDigits || line[k_checkDigits] != '\t')
        return std::nullopt;
    uint32_t value = 0;
    for (size_t i = 0; i < k_checkDigits; ++i) {
        const char c = line[i];
        const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (digit < 0)
            return std::nullopt;
        value = value << 4 | static_cast<uint32_t>(digit);
    }
    return value;
}

void appendEscaped(std::string& out, std::string_view value)
{
    size_t from = 0;
    for (size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        const char* escape = c == '\t' ? "\\t" : c == '\r' ? "\\r" : c == '\n' ? "\\n" : c == '\\' ? "\\\\" : nullptr;
        if (!escape)
            continue;
        out.append(value, from, i - from);
        out += escape;
        from = i + 1;
    }
    out.append(value, from);
}

// `value` with its escapes undone, into `out` (whose storage is reused).
void assignUnescaped(std::string& out, std::string_view value)
{
    if (value.find('\\') == std::string_view::npos) {
        out.assign(value);
        return;
    }
    out.clear();
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        const char next = value[++i];
        out += next == 't' ? '\t' : next == 'r' ? '\r' : next == 'n' ? '\n' : next;
    }
}

using Columns = std::array<std::string_view, k_columns>;

// The columns of one line, as written; false for a line that is no record or fails its check. A line without a
// check was written before lines carried one and is read as it was: it starts with its date. A checked line cut
// anywhere still starts with its check or a part of it, never with a date, so it is never taken for one of those.
bool splitLine(std::string_view line, Columns& columns)
{
    if (const std::optional<uint32_t> check = lineCheck(line)) {
        line.remove_prefix(k_checkDigits + 1);
        if (crc32(line) != *check)
            return false;
    }
    size_t count = 0;
    size_t from = 0;
    for (;;) {
        const size_t tab = line.find('\t', from);
        if (count == k_columns)
            return false;
        columns[count++] = line.substr(from, tab == std::string_view::npos ? std::string_view::npos : tab - from);
        if (tab == std::string_view::npos)
            break;
        from = tab + 1;
    }
    if (count != k_columns || columns[1].empty() || columns[3].empty())
        return false;
    const core::DayNumber day = core::dayNumberOf(columns[0]);
    return columns[0].size() == 10 && day != core::k_noDay && day != core::k_unknownDay;
}

enum class LineKind { Skipped, Damaged, Record };

// What one line between LFs is: a header or an empty line, a line that is no record, or a record split into columns.
LineKind readLine(std::string_view line, Columns& columns)
{
    // a line whose LF a crash cut off ends in CR before the CR LF of the append that closed it
    while (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    if (line.empty() || line == k_header.substr(0, k_header.size() - 2) || line == k_uncheckedHeader)
        return LineKind::Skipped;
    return splitLine(line, columns) ? LineKind::Record : LineKind::Damaged;
}

// The number column of a line as written, found without checking the line; none when the line is too short to have
// one (no record then, which only the check may tell). The number follows the date, which follows the check on a
// line that has one.
std::optional<std::string_view> numberColumn(std::string_view line)
{
    const size_t date = lineCheck(line) ? k_checkDigits + 1 : 0;
    const size_t from = line.find('\t', date);
    const size_t to = from == std::string_view::npos ? from : line.find('\t', from + 1);
    if (to == std::string_view::npos)
        return std::nullopt;
    return line.substr(from + 1, to - from - 1);
}

void assignRecord(ChangeRecord& record, const Columns& columns)
{
    record.date.assign(columns[0]);
    assignUnescaped(record.number, columns[1]);
    assignUnescaped(record.reference, columns[2]);
    assignUnescaped(record.field, columns[3]);
    assignUnescaped(record.oldValue, columns[4]);
    assignUnescaped(record.newValue, columns[5]);
}

void assignDigits(std::string& out, std::string_view number)
{
    out.clear();
    for (char c : number) {
        if (c >= '0' && c <= '9')
            out += c;
    }
}

struct FdCloser {
    explicit FdCloser(int fd) : fd(fd) {}
    FdCloser(const FdCloser&) = delete;
    FdCloser& operator=(const FdCloser&) = delete;
    ~FdCloser() { ::close(fd); }
    int fd;
};

// Reads the file at `path` a block at a time into `out`; why it could not be, else empty. Anything but a regular
// file (a FIFO, a device, a folder) is refused without blocking.
std::string readBlocks(const std::string& path, const HistoryKeep& keep, HistoryText& out)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return std::strerror(errno);
    const FdCloser closer{fd};
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return std::strerror(errno);
    if (!S_ISREG(info.st_mode))
        return "not a regular file";
    HistoryReader reader(keep);
    std::vector<char> block(k_readBlock);
    for (;;) {
        const ssize_t got = ::read(fd, block.data(), block.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return std::strerror(errno);
        if (got == 0)
            break;
        reader.add(std::string_view(block.data(), static_cast<size_t>(got)));
    }
    out = reader.finish();
    return {};
}

} // namespace

std::string_view historyHeader()
{
    return k_header;
}

void appendHistoryLine(std::string& out, const ChangeRecord& record)
{
    const size_t check = out.size();
    out.append(k_checkDigits, '0');
    out += '\t';
    const size_t from = out.size();
    out += record.date;
    for (const std::string* value :
         {&record.number, &record.reference, &record.field, &record.oldValue, &record.newValue}) {
        out += '\t';
        appendEscaped(out, *value);
    }
    uint32_t crc = crc32(std::string_view(out).substr(from));
    for (size_t i = k_checkDigits; i-- > 0; crc >>= 4)
        out[check + i] = "0123456789abcdef"[crc & 0xF];
    out += "\r\n";
}

const std::string& historyNumber(const core::Entry& entry)
{
    return !entry.SerNum.empty() ? entry.SerNum : (!entry.RegNum.empty() ? entry.RegNum : entry.IntNum);
}

std::string_view fieldCaption(std::string_view key)
{
    const std::optional<core::FieldId> id = core::fieldByKey(key);
    return id ? core::fieldInfo(*id).columnCaption : key;
}

std::string numberDigits(std::string_view number)
{
    std::string digits;
    assignDigits(digits, number);
    return digits;
}

HistoryReader::HistoryReader(HistoryKeep keep) : m_keep(std::move(keep))
{
    for (const std::string& number : m_keep.numbers) {
        if (std::string digits = numberDigits(number); !digits.empty())
            m_wanted.insert(std::move(digits));
    }
}

void HistoryReader::add(std::string_view bytes)
{
    if (!m_partial.empty()) {
        const size_t end = bytes.find('\n');
        if (end == std::string_view::npos) {
            m_partial.append(bytes);
            return;
        }
        m_partial.append(bytes.substr(0, end));
        line(m_partial);
        m_partial.clear();
        bytes.remove_prefix(end + 1);
    }
    for (;;) {
        const size_t end = bytes.find('\n');
        if (end == std::string_view::npos)
            break;
        line(bytes.substr(0, end));
        bytes.remove_prefix(end + 1);
    }
    m_partial.assign(bytes);
}

void HistoryReader::line(std::string_view line)
{
    // of named numbers, a line of another is counted under its number before its check, which costs most of a read
    if (!m_keep.numbers.empty()) {
        if (const std::optional<std::string_view> number = numberColumn(line)) {
            assignDigits(m_digits, *number);
            if (!m_wanted.contains(m_digits)) {
                if (!m_digits.empty())
                    ++m_text.leftOut[m_digits];
                return;
            }
        }
    }
    Columns columns;
    const LineKind kind = readLine(line, columns);
    if (kind == LineKind::Damaged)
        ++m_text.damaged;
    if (kind != LineKind::Record)
        return;
    const size_t place = m_read++;
    if (m_keep.numbers.empty() && m_keep.newest == 0) {
        assignRecord(m_text.records.emplace_back(), columns);
        return;
    }
    assignDigits(m_digits, columns[1]);
    if (m_keep.newest == 0) {
        assignRecord(m_text.records.emplace_back(), columns);
        return;
    }
    Recent& recent = m_recent[m_digits];
    if (recent.ring.size() < m_keep.newest) {
        recent.ring.emplace_back(place, ChangeRecord());
        assignRecord(recent.ring.back().second, columns);
        return;
    }
    // the oldest kept record gives way, its storage reused
    ++m_text.leftOut[m_digits];
    auto& slot = recent.ring[recent.next];
    recent.next = (recent.next + 1) % recent.ring.size();
    slot.first = place;
    assignRecord(slot.second, columns);
}

HistoryText HistoryReader::finish()
{
    // what follows the last LF is a line that a crash cut short
    m_partial.clear();
    if (!m_recent.empty()) {
        std::vector<std::pair<size_t, ChangeRecord>> kept;
        for (auto& [digits, recent] : m_recent) {
            for (auto& slot : recent.ring)
                kept.push_back(std::move(slot));
        }
        m_recent.clear();
        std::sort(kept.begin(), kept.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        m_text.records.reserve(kept.size());
        for (auto& slot : kept)
            m_text.records.push_back(std::move(slot.second));
    }
    m_read = 0;
    return std::move(m_text);
}

HistoryText parseHistory(std::string_view text)
{
    HistoryReader reader;
    reader.add(text);
    return reader.finish();
}

HistoryBackReader::HistoryBackReader(const std::vector<std::string>& numbers, Sink sink)
    : m_all(numbers.empty()), m_sink(std::move(sink))
{
    for (const std::string& number : numbers) {
        if (std::string digits = numberDigits(number); !digits.empty())
            m_wanted.insert(std::move(digits));
    }
}

void HistoryBackReader::addBefore(std::string_view bytes)
{
    size_t end = bytes.size();
    if (!m_endFound) {
        const void* lf = ::memrchr(bytes.data(), '\n', end);
        if (!lf)
            return;
        m_endFound = true;
        end = static_cast<size_t>(static_cast<const char*>(lf) - bytes.data());
    }
    while (end > 0) {
        const void* lf = ::memrchr(bytes.data(), '\n', end);
        if (!lf)
            break;
        const size_t start = static_cast<size_t>(static_cast<const char*>(lf) - bytes.data()) + 1;
        if (m_head.empty()) {
            line(bytes.substr(start, end - start));
        } else {
            m_head.insert(0, bytes.substr(start, end - start));
            line(m_head);
            m_head.clear();
        }
        end = start - 1;
    }
    // the start of the line that the piece's first LF ends (or of the one the last piece began) lies before it
    m_head.insert(0, bytes.substr(0, end));
}

void HistoryBackReader::line(std::string_view text)
{
    // a line of another number is passed over before its check, which costs most of a read
    if (!m_all) {
        if (const std::optional<std::string_view> number = numberColumn(text)) {
            assignDigits(m_digits, *number);
            if (!m_wanted.contains(m_digits))
                return;
        }
    }
    Columns columns;
    const LineKind kind = readLine(text, columns);
    if (kind == LineKind::Damaged)
        ++m_damaged;
    if (kind != LineKind::Record)
        return;
    assignRecord(m_record, columns);
    m_sink(m_record);
}

int HistoryBackReader::finish()
{
    // the first line has no LF before it
    if (m_endFound)
        line(m_head);
    m_head.clear();
    m_endFound = false;
    return std::exchange(m_damaged, 0);
}

HistoryScan readHistoryNewestFirst(const std::string& logDir, const std::vector<std::string>& numbers,
                                   HistoryBackReader::Sink sink)
{
    HistoryScan scan;
    if (logDir.empty())
        return scan;
    const std::string path = platform::joinPath(logDir, k_historyFileName);
    const auto failed = [&](const std::string& why) {
        scan.error = "Can't read the history file '" + path + "': " + why;
        return scan;
    };
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return errno == ENOENT ? scan : failed(std::strerror(errno));
    const FdCloser closer{fd};
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return failed(std::strerror(errno));
    if (!S_ISREG(info.st_mode))
        return failed("not a regular file");
    HistoryBackReader reader(numbers, std::move(sink));
    std::vector<char> block(k_readBlock);
    // the file as it was when opened: a record appended meanwhile is left for the next read
    auto end = static_cast<size_t>(info.st_size);
    while (end > 0) {
        const size_t size = std::min(end, block.size());
        const ssize_t got = ::pread(fd, block.data(), size, static_cast<off_t>(end - size));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return failed(std::strerror(errno));
        if (static_cast<size_t>(got) != size)
            return failed("the file became shorter while it was read");
        end -= size;
        reader.addBefore(std::string_view(block.data(), size));
    }
    scan.damaged = reader.finish();
    return scan;
}

HistoryIndex::HistoryIndex(const HistoryText& history) : m_leftOut(history.leftOut)
{
    for (size_t i = 0; i < history.records.size(); ++i)
        m_byNumber[numberDigits(history.records[i].number)].push_back(i);
}

std::vector<size_t> HistoryIndex::of(const std::vector<std::string>& numbers) const
{
    std::vector<size_t> out;
    size_t lists = 0;
    for (const std::string& number : numbers) {
        const std::string digits = numberDigits(number);
        if (digits.empty())
            continue;
        if (auto it = m_byNumber.find(digits); it != m_byNumber.end()) {
            out.insert(out.end(), it->second.begin(), it->second.end());
            ++lists;
        }
    }
    if (lists > 1) {
        std::sort(out.begin(), out.end());
        out.erase(std::unique(out.begin(), out.end()), out.end());
    }
    return out;
}

std::vector<size_t> HistoryIndex::of(const core::Entry& entry) const
{
    // an empty number is skipped, and records that two numbers share are listed once
    return of({entry.SerNum, entry.RegNum, entry.IntNum});
}

size_t HistoryIndex::count(const core::Entry& entry) const
{
    // a record has one number, so distinct digits never count one twice
    std::unordered_set<std::string> seen;
    size_t total = 0;
    for (const std::string* number : {&entry.SerNum, &entry.RegNum, &entry.IntNum}) {
        std::string digits = numberDigits(*number);
        if (digits.empty() || !seen.insert(digits).second)
            continue;
        if (auto it = m_byNumber.find(digits); it != m_byNumber.end())
            total += it->second.size();
        if (auto it = m_leftOut.find(digits); it != m_leftOut.end())
            total += it->second;
    }
    return total;
}

const HistoryText& History::read(const std::string& logDir, const HistoryKeep& keep)
{
    const std::string path = logDir.empty() ? std::string() : platform::joinPath(logDir, k_historyFileName);
    const platform::ResultOf<platform::FileStamp> stamp =
        path.empty() ? platform::ResultOf<platform::FileStamp>() : platform::fileStamp(path);
    if (!stamp) {
        m_text = {};
        if (!path.empty() && !stamp.missing())
            m_text.error = "Can't read the history file '" + path + "': " + stamp.systemText();
        m_path = path;
        m_stamp = {};
        m_keep = keep;
        return m_text;
    }
    if (path == m_path && *stamp == m_stamp && keep == m_keep)
        return m_text;
    m_text = {};
    const std::string why = readBlocks(path, keep, m_text);
    if (!why.empty()) {
        m_text = {};
        m_text.error = "Can't read the history file '" + path + "': " + why;
    }
    m_path = path;
    m_stamp = *stamp;
    m_keep = keep;
    if (!why.empty())
        m_stamp.size = -1; // read again next time
    return m_text;
}

} // namespace tarnwick::notify
