#include "docket/csv.h"

namespace tarnwick::docket {

namespace {

constexpr std::string_view k_byteOrderMark = "\xEF\xBB\xBF";

// Whether `cell` is one text cell ="text", every quote inside it doubled.
bool isTextCell(std::string_view cell)
{
    if (cell.size() < 3 || !cell.starts_with("=\"") || !cell.ends_with('"'))
        return false;
    const std::string_view inner = cell.substr(2, cell.size() - 3);
    for (size_t i = inner.find('"'); i != std::string_view::npos; i = inner.find('"', i + 2)) {
        if (i + 1 >= inner.size() || inner[i + 1] != '"')
            return false;
    }
    return true;
}

} // namespace

void appendCsvRecord(std::string& out, const std::vector<std::string>& fields)
{
    bool first = true;
    for (const std::string& field : fields) {
        if (!first)
            out += ',';
        first = false;
        // a field that starts with a byte order mark is quoted, so that a reader does not take it for the file's;
        // a text cell is written unquoted, as spreadsheets write it, when it needs no quotes
        bool breaks = false, quotes = false;
        for (char c : field) {
            breaks = breaks || c == ',' || c == '\r' || c == '\n';
            quotes = quotes || c == '"';
        }
        const bool plain = !breaks && (!quotes || isTextCell(field));
        if (plain && !field.starts_with(k_byteOrderMark)) {
            out += field;
            continue;
        }
        out += '"';
        size_t from = 0;
        for (size_t at = field.find('"'); at != std::string::npos; at = field.find('"', at + 1)) {
            out.append(field, from, at + 1 - from);
            out += '"';
            from = at + 1;
        }
        out.append(field, from);
        out += '"';
    }
    out += "\r\n";
}

CsvTable parseCsv(std::string_view text, char separator)
{
    CsvTable table;
    if (text.starts_with(k_byteOrderMark))
        text.remove_prefix(k_byteOrderMark.size());
    const auto fail = [&table](int line, const char* reason) {
        table.records.clear();
        table.error = "line " + std::to_string(line) + ": " + reason;
        return table;
    };
    int line = 1;
    size_t i = 0;
    while (i < text.size()) {
        CsvRecord record{line, {}};
        bool recordEnds = false;
        while (!recordEnds) {
            std::string field;
            // a text cell as spreadsheets write it (="0912345") is read as a quoted field and kept whole
            const bool formula = text.substr(i).starts_with("=\"");
            if (formula || (i < text.size() && text[i] == '"')) {
                const int opened = line;
                const size_t start = i;
                i += formula ? 2 : 1;
                for (;;) {
                    if (i >= text.size())
                        return fail(opened, "a quoted field is not closed");
                    const char c = text[i++];
                    if (c == '"') {
                        if (i < text.size() && text[i] == '"') {
                            field += '"';
                            ++i;
                            continue;
                        }
                        break;
                    }
                    if (c == '\n')
                        ++line;
                    field += c;
                }
                if (formula)
                    field.assign(text.substr(start, i - start));
                if (i < text.size() && text[i] != separator && text[i] != '\r' && text[i] != '\n')
                    return fail(line, "text after a closing quote");
            } else {
                const size_t end = text.find_first_of(std::string{separator, '"', '\r', '\n'}, i);
                const size_t stop = end == std::string_view::npos ? text.size() : end;
                field.assign(text.substr(i, stop - i));
                i = stop;
                if (i < text.size() && text[i] == '"')
                    return fail(line, "a quote inside a field that does not start with one");
            }
            record.fields.push_back(std::move(field));
            if (i < text.size() && text[i] == separator) {
                ++i;
                continue;
            }
            // the record ends with the line (CR LF or LF) or with the text
            if (i < text.size() && text[i] == '\r')
                ++i;
            if (i < text.size() && text[i] == '\n')
                ++i;
            ++line;
            recordEnds = true;
        }
        table.records.push_back(std::move(record));
    }
    return table;
}

std::string textCell(std::string_view text)
{
    std::string out = "=\"";
    for (char c : text) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
    return out;
}

std::string cellText(std::string_view cell)
{
    // a lone quote inside ends the string: the formula is more than one text
    if (!isTextCell(cell))
        return std::string(cell);
    const std::string_view inner = cell.substr(2, cell.size() - 3);
    std::string out;
    out.reserve(inner.size());
    for (size_t i = 0; i < inner.size(); ++i) {
        out += inner[i];
        if (inner[i] == '"')
            ++i;
    }
    return out;
}

} // namespace tarnwick::docket
