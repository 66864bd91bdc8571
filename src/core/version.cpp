#include "core/version.h"

namespace tarnwick::core {

namespace {

// The next number of a well-formed version from `at` on, without its leading zeros; empty past the end.
std::string_view nextNumber(std::string_view version, size_t& at)
{
    if (at >= version.size())
        return {};
    size_t end = version.find('.', at);
    if (end == std::string_view::npos)
        end = version.size();
    std::string_view number = version.substr(at, end - at);
    at = end + 1;
    while (number.size() > 1 && number.front() == '0')
        number.remove_prefix(1);
    return number == "0" ? std::string_view() : number;
}

int compareBytes(std::string_view a, std::string_view b)
{
    const int r = a.compare(b); // std::string_view compares as unsigned char through char_traits<char>
    return (r > 0) - (r < 0);
}

} // namespace

bool wellFormedVersion(std::string_view version)
{
    bool digitBefore = false;
    for (char c : version) {
        if (c == '.' && digitBefore)
            digitBefore = false;
        else if (c >= '0' && c <= '9')
            digitBefore = true;
        else
            return false;
    }
    return digitBefore;
}

int compareVersions(std::string_view a, std::string_view b)
{
    const bool aWell = wellFormedVersion(a);
    const bool bWell = wellFormedVersion(b);
    if (aWell != bWell)
        return aWell ? 1 : -1;
    if (!aWell)
        return compareBytes(a, b);
    size_t ia = 0;
    size_t ib = 0;
    while (ia < a.size() || ib < b.size()) {
        const std::string_view x = nextNumber(a, ia);
        const std::string_view y = nextNumber(b, ib);
        // without leading zeros the longer number is the greater; equal lengths compare digit by digit
        if (x.size() != y.size())
            return x.size() < y.size() ? -1 : 1;
        if (const int r = compareBytes(x, y); r != 0)
            return r;
    }
    return 0;
}

std::string programVersionOf(std::string_view rulesVersion)
{
    if (!wellFormedVersion(rulesVersion))
        return {};
    size_t end = std::string_view::npos;
    for (size_t from = 0, numbers = 0; numbers < 3; ++numbers, from = end + 1) {
        end = rulesVersion.find('.', from);
        if (end == std::string_view::npos)
            break;
    }
    return std::string(rulesVersion.substr(0, end));
}

} // namespace tarnwick::core
