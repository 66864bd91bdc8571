// Value clean-up and date conversion on any captured text: the clean-up against
// a plain, step-by-step rendering of the same rules, and the shape of what the
// later steps return.
#include "core/text.h"
#include "plainsteps.h"
#include "rules/dates.h"
#include "rules/pagetext.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace tarnwick;

namespace {

constexpr size_t k_npos = std::string::npos;

void check(bool ok)
{
    if (!ok)
        std::abort();
}

// (0xA0 too, unless it is part of a UTF-8 letter)
bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string plainClean(std::string s)
{
    fuzz::plainRemoveComments(s);
    for (size_t pos = 0;;) {
        const size_t lt = s.find('<', pos);
        const size_t gt = lt == k_npos ? k_npos : s.find('>', lt + 1);
        if (gt == k_npos)
            break;
        s.erase(lt, gt + 1 - lt);
        pos = lt;
    }
    s = core::replaceAll(s, "&nbsp;", " ");
    fuzz::plainTrimLineStarts(s);
    s = core::replaceAll(s, "&lt;", "<");
    s = core::replaceAll(s, "&gt;", ">");
    s = core::replaceAll(s, "&quot;", "\"");
    s = core::replaceAll(s, "&apos;", "'");
    return core::replaceAll(s, "&amp;", "&");
}

bool isDigits(std::string_view s)
{
    if (s.empty())
        return false;
    for (char c : s) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

// "%04d-%02d-%02d" of non-negative numbers
bool isDateText(const std::string& s)
{
    const size_t a = s.find('-');
    const size_t b = a == k_npos ? k_npos : s.find('-', a + 1);
    if (b == k_npos)
        return false;
    return a >= 4 && b - a - 1 >= 2 && s.size() - b - 1 >= 2 && isDigits(std::string_view(s).substr(0, a)) &&
           isDigits(std::string_view(s).substr(a + 1, b - a - 1)) && isDigits(std::string_view(s).substr(b + 1));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string cleaned = rules::cleanValue(text);
    check(cleaned == plainClean(text));

    const std::string collapsed = rules::collapseSpaces(cleaned);
    check(collapsed.empty() || (!isSpace(collapsed.front()) && !isSpace(collapsed.back())));
    check(collapsed.find("  ") == k_npos);
    for (char c : collapsed)
        check(c == ' ' || !isSpace(c));
    // a 0xA0 that stays is part of a letter, and stays a second time
    check(rules::collapseSpaces(collapsed) == collapsed);

    const std::string value = rules::trimValue(text);
    check(value != "-" && (value.empty() || (value.front() != ' ' && value.back() != ' ')));

    const std::string unknown = "\?\?\?\?-\?\?-\?\?";
    for (const char* format : {"dmy", "MDY"}) {
        const std::string date = rules::convertDate(text, format);
        check(date == unknown || isDateText(date));
    }
    for (const char* format : {"dd?mm?yyyy", "mm?dd?yyyy", "ymd"})
        (void)rules::convertDate(text, format);
    return 0;
}
