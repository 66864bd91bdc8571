#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::docket {

// Appends one record (RFC 4180): fields joined by commas, a field quoted (its quotes doubled) when it holds a
// comma, a quote, CR or LF, except a text cell (="0912345", see textCell) without comma or line break, which is
// written as spreadsheets write it; CR LF after the record.
void appendCsvRecord(std::string& out, const std::vector<std::string>& fields);

struct CsvRecord {
    int line = 0; // the file's line on which the record starts, from 1
    std::vector<std::string> fields;
};

struct CsvTable {
    std::vector<CsvRecord> records;
    std::string error; // empty when the whole text was read; else "line N: reason" and no records
};

// Reads RFC 4180 records divided by `separator`. Lines end in CR LF or LF; a quoted field may hold separators,
// line breaks and doubled quotes. An unquoted field that starts with =" is read up to its closing quote (how
// spreadsheets write a text cell, ="0912345") and kept as it is. A leading UTF-8 byte order mark is skipped. Any
// other quote inside an unquoted field, text after a closing quote and a quote left open are errors naming the line.
CsvTable parseCsv(std::string_view text, char separator = ',');

// A cell that spreadsheet programs keep as the text it shows: the formula ="text" (its quotes doubled), whose value
// is the text, so that a number keeps its leading zeros and a date its form.
std::string textCell(std::string_view text);
// The text of a cell: a formula ="text" gives the text inside; any other cell is its own text.
std::string cellText(std::string_view cell);

} // namespace tarnwick::docket
