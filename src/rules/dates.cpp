#include "rules/dates.h"

#include "core/daynumber.h"
#include "core/text.h"
#include "rules/pagetext.h"

#include <climits>
#include <cstdio>

namespace tarnwick::rules {

namespace {

// written with escapes: "??-" would otherwise read as a trigraph
constexpr std::string_view k_unknownDate = "\?\?\?\?-\?\?-\?\?";
constexpr size_t k_npos = std::string_view::npos;

constexpr std::string_view k_monthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                             "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The digits starting at `from` as a number (0 when there are none); saturates
// instead of overflowing.
int digitsAt(std::string_view text, size_t from)
{
    int value = 0;
    for (size_t i = from; i < text.size() && isDigit(text[i]); ++i) {
        const int digit = text[i] - '0';
        if (value > (INT_MAX - digit) / 10)
            return INT_MAX;
        value = value * 10 + digit;
    }
    return value;
}

// The start of the first word after the first blank at or after `from`.
size_t nextWord(std::string_view text, size_t from)
{
    const size_t blank = text.find(' ', from);
    return blank == k_npos ? k_npos : text.find_first_not_of(' ', blank);
}

std::string formatDate(int year, int month, int day)
{
    char buf[48];
    const int n = std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", year, month, day);
    return std::string(buf, static_cast<size_t>(n));
}

// Day first, month by name, year optional (the most recent such month when absent).
std::string convertDayMonthYear(std::string_view text)
{
    const std::string upper = core::toUpperAscii(text);
    int month = 0;
    size_t at = k_npos;
    for (size_t i = 0; i < std::size(k_monthNames) && at == k_npos; ++i) {
        at = text.find(k_monthNames[i]);
        if (at == k_npos)
            at = upper.find(core::toUpperAscii(k_monthNames[i]));
        month = static_cast<int>(i) + 1;
    }
    if (at == k_npos)
        return std::string(k_unknownDate);
    const int day = digitsAt(text, 0);
    const size_t yearAt = nextWord(text, at);
    int year = 0;
    if (yearAt != k_npos) {
        year = digitsAt(text, yearAt);
    } else {
        int thisMonth = 0;
        int thisDay = 0;
        core::dateFromDay(core::today(), year, thisMonth, thisDay);
        if (month > thisMonth)
            --year;
    }
    return formatDate(year, month, day);
}

// Month by name (exact case), then the day, then the first later word that
// begins with a digit as the year.
std::string convertMonthDayYear(std::string_view text)
{
    int month = 0;
    size_t at = k_npos;
    for (size_t i = 0; i < std::size(k_monthNames) && at == k_npos; ++i) {
        at = text.find(k_monthNames[i]);
        month = static_cast<int>(i) + 1;
    }
    if (at == k_npos)
        return std::string(k_unknownDate);
    const size_t dayAt = nextWord(text, at);
    if (dayAt == k_npos)
        return std::string(k_unknownDate);
    const int day = digitsAt(text, dayAt);
    for (size_t word = nextWord(text, dayAt); word != k_npos; word = nextWord(text, word)) {
        if (isDigit(text[word]))
            return formatDate(digitsAt(text, word), month, day);
    }
    return std::string(k_unknownDate);
}

// Fixed character positions: year from 6 on, the two-character day and month as given.
std::string convertFixed(std::string_view text, size_t monthAt, size_t dayAt)
{
    if (text.size() < 6)
        return std::string(k_unknownDate);
    std::string out(text.substr(6));
    out += '-';
    out.append(text.substr(monthAt, 2));
    out += '-';
    out.append(text.substr(dayAt, 2));
    return out;
}

// Year first, as in "2010-09-08" or "2010-09-08-04:00": characters 0 to 3, 5 and 6, 8 and 9; what follows
// (a time or a zone) is left out.
std::string convertYearFirst(std::string_view text)
{
    if (text.size() < 10)
        return std::string(k_unknownDate);
    std::string out(text.substr(0, 4));
    out += '-';
    out.append(text.substr(5, 2));
    out += '-';
    out.append(text.substr(8, 2));
    return out;
}

} // namespace

std::string convertDate(std::string_view captured, std::string_view format)
{
    const std::string text = trimValue(collapseSpaces(cleanValue(captured)));
    if (text.empty())
        return std::string(k_unknownDate);
    if (core::equalNoCase(format, "dmy"))
        return convertDayMonthYear(text);
    if (core::equalNoCase(format, "mdy"))
        return convertMonthDayYear(text);
    if (core::equalNoCase(format, "dd?mm?yyyy"))
        return convertFixed(text, 3, 0);
    if (core::equalNoCase(format, "mm?dd?yyyy"))
        return convertFixed(text, 0, 3);
    if (core::equalNoCase(format, "yyyy?mm?dd"))
        return convertYearFirst(text);
    return std::string(k_unknownDate);
}

} // namespace tarnwick::rules
