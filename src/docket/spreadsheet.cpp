#include "docket/spreadsheet.h"

#include "core/entrystore.h"
#include "core/fieldtable.h"
#include "core/identifier.h"
#include "core/text.h"
#include "docket/csv.h"
#include "docket/deadlines.h"
#include "platform/terminal.h"

#include <cerrno>
#include <iconv.h>
#include <optional>
#include <unordered_set>
#include <utility>

namespace tarnwick::docket {

namespace {

constexpr std::string_view k_byteOrderMark = "\xEF\xBB\xBF";

std::string_view trimmed(std::string_view text)
{
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// A spreadsheet reads a cell that starts with one of these as a formula.
std::string cellOf(std::string_view officeText)
{
    std::string out = platform::toCodeset(officeText, "UTF-8");
    if (!out.empty() && (out[0] == '=' || out[0] == '+' || out[0] == '-' || out[0] == '@'))
        out.insert(out.begin(), '\'');
    return out;
}

// UTF-8 text in Windows-1252 when the code page holds all of it; none otherwise.
std::optional<std::string> utf8ToCp1252(std::string_view text)
{
    iconv_t cd = ::iconv_open("CP1252", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::nullopt;
    std::string in(text);
    std::string out(text.size(), '\0');
    char* inp = in.data();
    size_t inLeft = in.size();
    char* outp = out.data();
    size_t outLeft = out.size();
    const size_t r = ::iconv(cd, &inp, &inLeft, &outp, &outLeft);
    ::iconv_close(cd);
    if (r == static_cast<size_t>(-1) || inLeft != 0)
        return std::nullopt;
    out.resize(out.size() - outLeft);
    return out;
}

// A cell as a text of the data file: no TAB or line break, Windows-1252 where it can be.
std::string dataText(std::string_view cell)
{
    std::string text(cell);
    for (char& c : text) {
        if (c == '\t' || c == '\r' || c == '\n')
            c = ' ';
    }
    return utf8ToCp1252(text).value_or(text);
}

// An empty Frequency cell is Daily, as a new entry is.
std::optional<core::Frequency> frequencyOf(std::string_view word)
{
    return word.empty() ? core::Frequency::Daily : core::frequencyNamed(word);
}

// The numbers of the watched entries, each under its field, as the duplicate search compares them (the numbers of
// typed entries are ASCII).
class NumberIndex {
public:
    void add(const core::Entry& e)
    {
        for (const auto& [tag, number] : {std::pair{'S', &e.SerNum}, {'R', &e.RegNum}, {'I', &e.IntNum}}) {
            if (!number->empty())
                m_keys.insert(tag + core::toUpperAscii(*number));
        }
    }
    // Whether an entry holds the number that names `e`: its application, else registration, else international number.
    bool holds(const core::Entry& e) const
    {
        if (!e.SerNum.empty())
            return m_keys.contains('S' + core::toUpperAscii(e.SerNum));
        if (!e.RegNum.empty())
            return m_keys.contains('R' + core::toUpperAscii(e.RegNum));
        return !e.IntNum.empty() && m_keys.contains('I' + core::toUpperAscii(e.IntNum));
    }

private:
    std::unordered_set<std::string> m_keys;
};

std::string lineText(int line)
{
    return "line " + std::to_string(line) + ": ";
}

} // namespace

std::vector<std::string> spreadsheetHeader()
{
    std::vector<std::string> header = {"Number", "Reference", "Frequency"};
    for (core::FieldId id : core::k_watchedFields) {
        if (id != core::FieldId::Reference)
            header.emplace_back(core::fieldInfo(id).columnCaption);
    }
    for (const char* name : {"Next Deadline", "Deadline Kind", "Grace Ends"})
        header.emplace_back(name);
    return header;
}

std::string displayNumber(const core::Entry& entry)
{
    if (!entry.SerNum.empty())
        return entry.SerNum;
    if (!entry.RegNum.empty())
        return entry.RegNum;
    return entry.IntNum.empty() ? std::string() : "I" + entry.IntNum;
}

std::string spreadsheetOf(const std::vector<core::Entry>& entries, core::DayNumber today)
{
    std::string out(k_byteOrderMark);
    appendCsvRecord(out, spreadsheetHeader());
    for (const core::Entry& entry : entries) {
        std::vector<std::string> row = {displayNumber(entry), platform::toCodeset(entry.Reference, "UTF-8"),
                                        entry.valueText(core::FieldId::Frequency, false)};
        for (core::FieldId id : core::k_watchedFields) {
            if (id != core::FieldId::Reference)
                row.push_back(cellOf(entry.valueText(id, false)));
        }
        const std::optional<Deadline> next = nextDeadline(entry, today);
        row.push_back(next ? core::formatDay(next->closes) : std::string());
        row.push_back(next ? kindText(*next) : std::string());
        row.push_back(next ? core::formatDay(next->graceEnds) : std::string());
        appendCsvRecord(out, row);
    }
    return out;
}

ImportPlan planImport(std::string_view text, const core::EntryStore& store, core::DayNumber today)
{
    ImportPlan plan;
    const std::string_view headerLine = text.substr(0, text.find('\n'));
    const char separator =
        headerLine.find(',') == std::string_view::npos && headerLine.find(';') != std::string_view::npos ? ';' : ',';
    CsvTable table = parseCsv(text, separator);
    if (!table.error.empty()) {
        plan.errors.push_back(table.error);
        return plan;
    }
    if (table.records.empty()) {
        plan.errors.push_back("line 1: no header line naming the columns");
        return plan;
    }
    const CsvRecord& header = table.records.front();
    std::optional<size_t> numberColumn, referenceColumn, frequencyColumn;
    for (size_t i = 0; i < header.fields.size(); ++i) {
        const std::string_view name = trimmed(header.fields[i]);
        for (auto [wanted, column] : {std::pair{"Number", &numberColumn}, std::pair{"Reference", &referenceColumn},
                                      std::pair{"Frequency", &frequencyColumn}}) {
            if (!*column && core::equalNoCase(name, wanted))
                *column = i;
        }
    }
    if (!numberColumn) {
        plan.errors.push_back(lineText(header.line) + "no column is named Number");
        return plan;
    }

    NumberIndex watched, planned;
    for (const core::Entry& e : store.entries())
        watched.add(e);
    for (size_t r = 1; r < table.records.size(); ++r) {
        const CsvRecord& record = table.records[r];
        const auto cell = [&record](std::optional<size_t> column) {
            return column && *column < record.fields.size() ? std::string_view(record.fields[*column])
                                                            : std::string_view();
        };
        bool empty = true;
        for (const std::string& f : record.fields)
            empty = empty && trimmed(f).empty();
        if (empty)
            continue;

        const std::string_view number = trimmed(cell(numberColumn));
        core::Entry entry(today);
        if (number.empty()) {
            plan.errors.push_back(lineText(record.line) + "no number");
            continue;
        }
        if (std::optional<std::string> refusal = core::setIdentifier(entry, std::string(number))) {
            plan.errors.push_back(lineText(record.line) + std::string(number) + ": " +
                                  refusal->substr(0, refusal->find('\n')));
            continue;
        }
        const std::string_view word = trimmed(cell(frequencyColumn));
        const std::optional<core::Frequency> frequency = frequencyOf(word);
        if (!frequency) {
            plan.errors.push_back(lineText(record.line) + "unknown frequency '" + std::string(word) +
                                  "' (Daily, Weekly, Monthly, Yearly or Never)");
            continue;
        }
        entry.Frequency = *frequency;
        entry.Reference = dataText(cell(referenceColumn));
        if (watched.holds(entry)) {
            plan.duplicates.push_back(lineText(record.line) + displayNumber(entry) + " already exists");
        } else if (planned.holds(entry)) {
            plan.duplicates.push_back(lineText(record.line) + displayNumber(entry) + " repeats an earlier line");
        } else {
            planned.add(entry);
            plan.entries.push_back(std::move(entry));
        }
    }
    if (!plan.errors.empty())
        plan.entries.clear();
    return plan;
}

} // namespace tarnwick::docket
