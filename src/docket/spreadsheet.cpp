#include "docket/spreadsheet.h"

#include "core/entrystore.h"
#include "core/fieldtable.h"
#include "core/identifier.h"
#include "core/text.h"
#include "docket/csv.h"
#include "docket/deadlines.h"
#include "platform/terminal.h"

#include <algorithm>
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

// The office's fields the table carries, after Number, Reference and Frequency: the watched ones, with the status
// date before the status.
constexpr core::FieldId k_officeFields[] = {
    core::FieldId::SerNum,   core::FieldId::RegNum,        core::FieldId::Trademark,  core::FieldId::FilingDate,
    core::FieldId::RegDate,  core::FieldId::PublishedDate, core::FieldId::LawOffice,  core::FieldId::Owner,
    core::FieldId::Attorney, core::FieldId::StatusDate,    core::FieldId::StatusText, core::FieldId::LastHistory,
    core::FieldId::Location,
};

// A spreadsheet reads a cell that starts with one of these as a formula; the apostrophe escapes them (and itself).
bool startsFormula(char c)
{
    return c == '=' || c == '+' || c == '-' || c == '@' || c == '\'';
}

// A spreadsheet reads a cell made of digits and the marks numbers and dates are written with as a number or a
// date, and writes it back without its leading zeros or in a form of its own.
bool readAsNumber(std::string_view text)
{
    return !text.empty() && text[0] >= '0' && text[0] <= '9' &&
           text.find_first_not_of("0123456789-/.,: ") == std::string_view::npos;
}

// A text of the data file as a cell that a spreadsheet shows as it is and writes back unchanged.
std::string cellOf(std::string_view dataText)
{
    std::string out = platform::toCodeset(dataText, "UTF-8");
    if (readAsNumber(out))
        return textCell(out);
    if (!out.empty() && startsFormula(out[0]))
        out.insert(out.begin(), '\'');
    return out;
}

// The text that cellOf wrote a cell for.
std::string textOfCell(std::string_view cell)
{
    if (cell.size() >= 2 && cell[0] == '\'' && startsFormula(cell[1]))
        return std::string(cell.substr(1));
    return cellText(cell);
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

// The numbers of the watched entries, each under its field, by what they identify (sameNumber).
class NumberIndex {
public:
    void add(const core::Entry& e)
    {
        for (core::FieldId kind : {core::FieldId::SerNum, core::FieldId::RegNum, core::FieldId::IntNum}) {
            if (std::string key = keyOf(kind, *e.textField(kind)); !key.empty())
                m_keys.insert(std::move(key));
        }
    }
    // Whether an entry holds one of the numbers of `e`, each compared with the numbers of its kind.
    bool holds(const core::Entry& e) const
    {
        for (core::FieldId kind : {core::FieldId::SerNum, core::FieldId::RegNum, core::FieldId::IntNum}) {
            if (const std::string key = keyOf(kind, *e.textField(kind)); !key.empty() && m_keys.contains(key))
                return true;
        }
        return false;
    }

private:
    static std::string keyOf(core::FieldId kind, std::string_view number)
    {
        std::string identity = core::numberIdentity(kind, number);
        return identity.empty() ? identity : std::to_string(static_cast<int>(kind)) + ":" + identity;
    }

    std::unordered_set<std::string> m_keys;
};

// The characters of a UTF-8 text (a byte that is no UTF-8 counts as one).
size_t characterCount(std::string_view text)
{
    return static_cast<size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

std::string lineText(int line)
{
    return "line " + std::to_string(line) + ": ";
}

} // namespace

std::vector<std::string> spreadsheetHeader()
{
    std::vector<std::string> header = {"Number", "Reference", "Frequency"};
    for (core::FieldId id : k_officeFields)
        header.emplace_back(core::fieldInfo(id).columnCaption);
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
        std::vector<std::string> row = {cellOf(displayNumber(entry)), cellOf(entry.Reference),
                                        entry.valueText(core::FieldId::Frequency, false)};
        for (core::FieldId id : k_officeFields)
            row.push_back(cellOf(*entry.textField(id)));
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
    std::optional<size_t> officeColumns[std::size(k_officeFields)];
    for (size_t i = 0; i < header.fields.size(); ++i) {
        const std::string_view name = trimmed(header.fields[i]);
        for (auto [wanted, column] : {std::pair{"Number", &numberColumn}, std::pair{"Reference", &referenceColumn},
                                      std::pair{"Frequency", &frequencyColumn}}) {
            if (!*column && core::equalNoCase(name, wanted))
                *column = i;
        }
        for (size_t k = 0; k < std::size(k_officeFields); ++k) {
            if (!officeColumns[k] && core::equalNoCase(name, core::fieldInfo(k_officeFields[k]).columnCaption))
                officeColumns[k] = i;
        }
    }
    if (!numberColumn) {
        plan.errors.push_back(lineText(header.line) + "no column is named Number");
        return plan;
    }

    // an entry is large: the list of them is made once at its size, not grown by doubling
    plan.entries.reserve(table.records.size() - 1);
    NumberIndex watched, planned;
    for (const core::Entry& e : store.entries())
        watched.add(e);
    // an entry that the list or an earlier line holds by any of its numbers is reported and skipped
    const auto duplicate = [&](const core::Entry& entry, int line) {
        if (watched.holds(entry))
            plan.duplicates.push_back(lineText(line) + displayNumber(entry) + " already exists");
        else if (planned.holds(entry))
            plan.duplicates.push_back(lineText(line) + displayNumber(entry) + " repeats an earlier line");
        else
            return false;
        return true;
    };
    for (size_t r = 1; r < table.records.size(); ++r) {
        const CsvRecord& record = table.records[r];
        const auto cell = [&record](std::optional<size_t> column) {
            return column && *column < record.fields.size() ? textOfCell(record.fields[*column]) : std::string();
        };
        bool empty = true;
        for (const std::string& f : record.fields)
            empty = empty && trimmed(f).empty();
        if (empty)
            continue;

        const std::string numberCell = cell(numberColumn);
        const std::string_view number = trimmed(numberCell);
        core::Entry entry(today);
        if (number.empty()) {
            plan.errors.push_back(lineText(record.line) + "no number");
            continue;
        }
        if (std::optional<std::string> refusal = core::setIdentifier(entry, number)) {
            // a registration number that a spreadsheet took for a number has lost its leading zeros, and may be
            // short of six digits: still the one watched
            entry.RegNum = number;
            if (number.size() < 6 && number.find_first_not_of("0123456789") == std::string_view::npos &&
                duplicate(entry, record.line))
                continue;
            plan.errors.push_back(lineText(record.line) + std::string(number) + ": " +
                                  refusal->substr(0, refusal->find('\n')));
            continue;
        }
        const std::string word(trimmed(cell(frequencyColumn)));
        const std::optional<core::Frequency> frequency = frequencyOf(word);
        if (!frequency) {
            plan.errors.push_back(lineText(record.line) + "unknown frequency '" + word +
                                  "' (Daily, Weekly, Monthly, Yearly or Never)");
            continue;
        }
        entry.Frequency = *frequency;
        const std::string reference = cell(referenceColumn);
        // a reference names a mark for people; a longer cell is a pasted document, not a reference
        if (const size_t length = characterCount(reference); length > k_maxReferenceLength) {
            plan.errors.push_back(lineText(record.line) + "the reference is " + std::to_string(length) +
                                  " characters long (at most " + std::to_string(k_maxReferenceLength) + ")");
            continue;
        }
        entry.Reference = dataText(reference);

        // The office's values the line carries become the entry's baseline, as if an update had read them, so that
        // the next update finds and mails what the office changed since the file was written. A line whose number
        // columns name another mark than its Number carries none.
        core::Entry office = entry;
        bool carried = false, sameMark = true;
        for (size_t k = 0; k < std::size(k_officeFields); ++k) {
            if (!officeColumns[k])
                continue;
            const core::FieldId id = k_officeFields[k];
            std::string value = dataText(cell(officeColumns[k]));
            std::string& field = *office.textField(id);
            if (value.empty())
                continue;
            if (!field.empty()) {
                // the number the line is named by, in the office's form when that is a typed one (the Number may
                // have lost its leading zeros); another number is another mark
                if (!core::sameNumber(id, value, field)) {
                    sameMark = false;
                    break;
                }
                core::Entry typed(today);
                if (!core::setIdentifier(typed, value) && !typed.textField(id)->empty())
                    field = *typed.textField(id);
                continue;
            }
            carried = carried || (id != core::FieldId::SerNum && id != core::FieldId::RegNum);
            field = std::move(value);
        }
        if (sameMark) {
            if (carried) {
                const core::DayNumber statusDay = core::dayNumberOf(office.StatusDate);
                office.LastChange = statusDay == core::k_noDay || statusDay == core::k_unknownDay ? today : statusDay;
            }
            entry = std::move(office);
        }
        if (duplicate(entry, record.line))
            continue;
        planned.add(entry);
        plan.entries.push_back(std::move(entry));
    }
    if (!plan.errors.empty())
        plan.entries.clear();
    return plan;
}

} // namespace tarnwick::docket
