#include "notify/history.h"

#include "core/daynumber.h"
#include "core/entry.h"
#include "core/fieldtable.h"
#include "platform/files.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <optional>

namespace tarnwick::notify {

namespace {

constexpr std::string_view k_header = "Check\tDate\tNumber\tReference\tField\tOld\tNew\r\n";
// the first line of files whose lines carry no check
constexpr std::string_view k_uncheckedHeader = "Date\tNumber\tReference\tField\tOld\tNew";
constexpr size_t k_columns = 6;
constexpr size_t k_checkDigits = 8;

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

std::string unescaped(std::string_view value)
{
    if (value.find('\\') == std::string_view::npos)
        return std::string(value);
    std::string out;
    out.reserve(value.size());
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        const char next = value[++i];
        out += next == 't' ? '\t' : next == 'r' ? '\r' : next == 'n' ? '\n' : next;
    }
    return out;
}

// The record of one line; false for a line that is none or fails its check. A line without a check was written
// before lines carried one and is read as it was: it starts with its date. A checked line cut anywhere still starts
// with its check or a part of it, never with a date, so it is never taken for one of those.
bool parseLine(std::string_view line, ChangeRecord& record)
{
    if (const std::optional<uint32_t> check = lineCheck(line)) {
        line.remove_prefix(k_checkDigits + 1);
        if (crc32(line) != *check)
            return false;
    }
    std::string_view columns[k_columns];
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
    if (columns[0].size() != 10 || day == core::k_noDay || day == core::k_unknownDay)
        return false;
    record.date = columns[0];
    record.number = unescaped(columns[1]);
    record.reference = unescaped(columns[2]);
    record.field = unescaped(columns[3]);
    record.oldValue = unescaped(columns[4]);
    record.newValue = unescaped(columns[5]);
    return true;
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
    for (char c : number) {
        if (c >= '0' && c <= '9')
            digits += c;
    }
    return digits;
}

HistoryText parseHistory(std::string_view text)
{
    HistoryText out;
    out.records.reserve(text.size() / 96);
    size_t from = 0;
    ChangeRecord record;
    while (from < text.size()) {
        const size_t end = text.find('\n', from);
        if (end == std::string_view::npos)
            break; // torn by a crash in the middle of an append
        std::string_view line = text.substr(from, end - from);
        from = end + 1;
        // a line whose LF a crash cut off ends in CR before the CR LF of the append that closed it
        while (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty() || line == k_header.substr(0, k_header.size() - 2) || line == k_uncheckedHeader)
            continue;
        if (parseLine(line, record))
            out.records.push_back(std::move(record));
        else
            ++out.damaged;
    }
    return out;
}

HistoryIndex::HistoryIndex(const HistoryText& history)
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

const HistoryText& History::read(const std::string& logDir)
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
        return m_text;
    }
    if (path == m_path && *stamp == m_stamp)
        return m_text;
    platform::ResultOf<std::string> bytes = platform::readFile(path, platform::FileKind::Regular);
    if (bytes) {
        m_text = parseHistory(*bytes);
    } else {
        m_text = {};
        m_text.error = "Can't read the history file '" + path +
                       "': " + (bytes.notRegular() ? "not a regular file" : bytes.systemText());
    }
    m_path = path;
    m_stamp = *stamp;
    if (!bytes)
        m_stamp.size = -1; // read again next time
    return m_text;
}

} // namespace tarnwick::notify
