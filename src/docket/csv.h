#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::docket {

// Appends one record (RFC 4180): fields joined by commas, a field quoted (its quotes doubled) when it holds a
// comma, a quote, CR or LF; CR LF after the record.
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
// line breaks and doubled quotes. A leading UTF-8 byte order mark is skipped. A quote inside an unquoted field,
// text after a closing quote and a quote left open are errors naming the line.
CsvTable parseCsv(std::string_view text, char separator = ',');

} // namespace tarnwick::docket
