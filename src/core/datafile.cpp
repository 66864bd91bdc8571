#include "core/datafile.h"

#include "core/entrystore.h"
#include "core/text.h"
#include "core/textfile.h"
#include "platform/files.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <span>
#include <utility>

namespace tarnwick::core {

const char* const k_dataFileName = "tradmark.dat";
const char* const k_dataFileUnsupported =
    "Application data file is no longer supported. Delete Log\\tradmark.dat and rerun Tarnwick.";
const char* const k_dataFileIncompatible = "Incompatible application data file.";
const char* const k_dataFileUnreadable = "Application data file cannot be read.";
const char* const k_dataFileTooLarge = "Not enough memory to load the application data file.";

namespace {

using F = FieldId;

// The columns of a record, by the version on the file's first line.
constexpr F k_layout8[] = {F::Frequency,   F::Reference,  F::SerNum,     F::RegNum,        F::IntNum,
                           F::Trademark,   F::FilingDate, F::RegDate,    F::PublishedDate, F::LawOffice,
                           F::Owner,       F::Attorney,   F::LastUpdate, F::StatusDate,    F::StatusText,
                           F::LastHistory, F::Location,   F::Error,      F::LastChange};
constexpr F k_layout7[] = {F::Frequency,  F::Reference,     F::SerNum,      F::RegNum,   F::Trademark, F::FilingDate,
                           F::RegDate,    F::PublishedDate, F::LawOffice,   F::Owner,    F::Attorney,  F::LastUpdate,
                           F::StatusDate, F::StatusText,    F::LastHistory, F::Location, F::Error,     F::LastChange};
constexpr F k_layout6[] = {F::Frequency,  F::Reference,     F::SerNum,    F::RegNum,    F::Trademark, F::FilingDate,
                           F::RegDate,    F::PublishedDate, F::LawOffice, F::Owner,     F::Attorney,  F::LastUpdate,
                           F::StatusText, F::LastHistory,   F::Error,     F::LastChange};
constexpr F k_layout4[] = {F::Frequency,  F::Reference,  F::SerNum,        F::RegNum,    F::Trademark,
                           F::FilingDate, F::RegDate,    F::PublishedDate, F::LawOffice, F::Owner,
                           F::Attorney,   F::LastUpdate, F::LastHistory,   F::Error,     F::LastChange};
constexpr F k_layout3[] = {F::Frequency,  F::Reference,   F::SerNum, F::RegNum,    F::Trademark,
                           F::LastUpdate, F::LastHistory, F::Error,  F::LastChange};
constexpr F k_layout2[] = {F::Reference, F::SerNum, F::RegNum, F::Trademark, F::LastUpdate, F::LastHistory, F::Error};
constexpr F k_layout0[] = {F::Reference, F::SerNum, F::RegNum};

std::span<const F> layoutOf(long version)
{
    switch (version) {
    case 0:
        return k_layout0;
    case 2:
        return k_layout2;
    case 3:
        return k_layout3;
    case 4:
        return k_layout4;
    case 5:
    case 6:
        return k_layout6;
    case 7:
        return k_layout7;
    default:
        return k_layout8;
    }
}

void fillFromLine(Entry& entry, std::string_view line, std::span<const F> layout)
{
    size_t pos = 0;
    for (F column : layout) {
        if (pos > line.size())
            break; // the pieces ran out: the fresh entry already holds empty texts and zeros
        size_t tab = line.find('\t', pos);
        size_t end = tab == std::string_view::npos ? line.size() : tab;
        entry.setValueText(column, line.substr(pos, end - pos));
        pos = end + 1;
    }
}

// Whether any text field has a value; a record without one (an empty line, a line of TABs) names no
// trademark and is not kept, so the memory of a load follows the entries that hold data.
bool holdsText(const Entry& entry)
{
    for (int id = 0; id < k_fieldCount; ++id) {
        const std::string* text = entry.textField(static_cast<F>(id));
        if (text != nullptr && !text->empty())
            return true;
    }
    return false;
}

// Whether any of the 8 bytes is below 14 (TAB 9, LF 10 and CR 13 are; so are a few
// other control bytes, which the exact test below lets through).
bool mayHoldLineBreak(std::uint64_t word)
{
    constexpr std::uint64_t ones = 0x0101010101010101ULL;
    constexpr std::uint64_t highs = 0x8080808080808080ULL;
    return ((word - ones * 14) & ~word & highs) != 0;
}

// A field must hold no TAB, CR or LF; such bytes are written as blanks.
void appendField(std::string& out, std::string_view text)
{
    const size_t start = out.size();
    out.append(text);
    char* p = out.data() + start;
    char* const end = out.data() + out.size();
    for (; end - p >= 8; p += 8) {
        std::uint64_t word;
        std::memcpy(&word, p, 8);
        if (!mayHoldLineBreak(word))
            continue;
        for (char* q = p; q != p + 8; ++q) {
            if (*q == '\t' || *q == '\r' || *q == '\n')
                *q = ' ';
        }
    }
    for (; p != end; ++p) {
        if (*p == '\t' || *p == '\r' || *p == '\n')
            *p = ' ';
    }
}

} // namespace

std::string dataFilePath(std::string_view logDir)
{
    return platform::joinPath(logDir, k_dataFileName);
}

std::string loadDataText(EntryStore& store, std::string_view bytes, DayNumber today)
{
    LineReader lines(bytes);
    std::string_view line;
    if (!lines.next(line)) {
        store.setLoadOk(true);
        return {};
    }
    long version = leadingInteger(line);
    if (version == 1) {
        store.setLoadOk(false);
        return k_dataFileUnsupported;
    }
    if (version >= 9) {
        store.setLoadOk(false);
        return k_dataFileIncompatible;
    }
    std::span<const F> layout = layoutOf(version);
    // room for records of a realistic length; a file of tiny lines grows the store as it goes
    constexpr size_t k_typicalRecordBytes = 128;
    store.reserve(static_cast<size_t>(store.count()) +
                  std::min(static_cast<size_t>(std::count(bytes.begin(), bytes.end(), '\n')) + 1,
                           bytes.size() / k_typicalRecordBytes + 1));
    const Entry fresh(today);
    while (lines.next(line)) {
        if (line.find_first_not_of('\t') == std::string_view::npos)
            continue;
        // the fresh entry is appended first and filled in place: no copy of its texts
        Entry& entry = store.at(store.appendEntry(fresh));
        fillFromLine(entry, line, layout);
        entry.finishRecord();
        if (!holdsText(entry)) {
            store.remove(store.count() - 1);
            continue;
        }
        if (version == 0) {
            entry.Frequency = Frequency::Daily;
            entry.LastChange = 0;
        }
    }
    store.setLoadOk(true);
    return {};
}

std::string loadDataFile(EntryStore& store, const std::string& logDir)
{
    if (logDir.empty()) {
        store.setLoadOk(true);
        return {};
    }
    const std::string path = dataFilePath(logDir);
    const int before = store.count();
    try {
        // read, not mapped: a file cut short by another process meanwhile is read as it was, never a SIGBUS;
        // a FIFO or a device is refused instead of blocking
        std::optional<std::string> bytes = platform::readFile(path, platform::FileKind::Regular);
        if (!bytes) {
            // a file that is there but cannot be read must not be replaced by an empty one at exit
            if (platform::fileExists(path)) {
                store.setLoadOk(false);
                return k_dataFileUnreadable;
            }
            store.setLoadOk(true);
            return {};
        }
        return loadDataText(store, *bytes, today());
    } catch (const std::bad_alloc&) {
        while (store.count() > before)
            store.remove(store.count() - 1);
        store.setLoadOk(false);
        return k_dataFileTooLarge;
    }
}

std::string dataFileText(const EntryStore& store)
{
    std::string out;
    size_t estimate = 4;
    for (const Entry& e : store.entries())
        estimate += 64 + e.Reference.size() + e.Trademark.size() + e.Owner.size() + e.Attorney.size() +
                    e.StatusText.size() + e.LastHistory.size() + e.Error.size() + e.LawOffice.size();
    out.reserve(estimate);
    out += std::to_string(k_dataFileVersion);
    out += "\r\n";
    for (const Entry& e : store.entries()) {
        bool first = true;
        for (F column : k_layout8) {
            if (!first)
                out += '\t';
            first = false;
            if (const std::string* text = e.textField(column))
                appendField(out, *text);
            else
                out += e.valueText(column, true);
        }
        out += "\r\n";
    }
    return out;
}

platform::Result saveDataFile(const EntryStore& store, const std::string& logDir)
{
    if (!store.loadOk())
        return platform::Result::failure("the data file was not read, so it is not written");
    if (logDir.empty())
        return platform::Result::failure("no logging directory is set");
    return platform::writeFileAtomic(dataFilePath(logDir), dataFileText(store));
}

} // namespace tarnwick::core
