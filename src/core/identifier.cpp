#include "core/identifier.h"

#include "core/entry.h"

namespace tarnwick::core {

const char* const k_invalidNumberMessage =
    "Invalid Registration/Application/International Reg Number.\n"
    "Registration numbers must be of the form: nnnnnnn or nnnnnn\n"
    "Application numbers must be of the form: nn-nnnnnn, nn/nnn,nnn, nn/nnnnnnn or nnnnnnnn\n"
    "International registration numbers must be of the form: Innnnnnn";

bool checkMask(std::string_view text, std::string_view mask)
{
    size_t i = 0;
    for (; i < mask.size(); ++i) {
        const char m = mask[i];
        if (m == '*')
            return true;
        if (i >= text.size())
            return false;
        const char c = text[i];
        switch (m) {
        case '#':
            if (c < '0' || c > '9')
                return false;
            break;
        case 'x':
            if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')))
                return false;
            break;
        case '?':
            break;
        default:
            if (c != m)
                return false;
        }
    }
    return i == text.size();
}

namespace {

// The typed number in its stored form, or none when no mask fits.
std::optional<std::string> normalisedNumber(std::string_view typed)
{
    if (checkMask(typed, "######") || checkMask(typed, "#######") || checkMask(typed, "##-######"))
        return std::string(typed);
    if (checkMask(typed, "########"))
        return std::string(typed.substr(0, 2)) + "-" + std::string(typed.substr(2));
    if (checkMask(typed, "##/######"))
        return std::string(typed.substr(0, 2)) + "-" + std::string(typed.substr(3));
    if (checkMask(typed, "##/###,###"))
        return std::string(typed.substr(0, 2)) + "-" + std::string(typed.substr(3, 3)) + std::string(typed.substr(7));
    if (checkMask(typed, "I#######") || checkMask(typed, "i#######"))
        return std::string(typed);
    return std::nullopt;
}

} // namespace

std::optional<std::string> setIdentifier(Entry& entry, std::string_view typed)
{
    std::optional<std::string> number = typed.empty() ? std::nullopt : normalisedNumber(typed);
    if (!number)
        return std::string(k_invalidNumberMessage);
    if (number->size() == 9) {
        entry.SerNum = std::move(*number);
        entry.RegNum.clear();
        entry.IntNum.clear();
    } else if (number->size() == 8) {
        entry.IntNum = number->substr(1);
        entry.SerNum.clear();
        entry.RegNum.clear();
    } else {
        entry.RegNum = std::move(*number);
        entry.SerNum.clear();
        entry.IntNum.clear();
    }
    return std::nullopt;
}

bool isNumberSeparator(char c)
{
    return c == ' ' || c == '\t' || c == '-' || c == '/' || c == '.' || c == ',';
}

std::string typedNumber(std::string_view typed)
{
    std::string out;
    out.reserve(typed.size());
    for (char c : typed) {
        if (!isNumberSeparator(c))
            out += c;
    }
    return out;
}

std::string numberIdentity(FieldId kind, std::string_view number)
{
    std::string out;
    out.reserve(number.size());
    for (char c : number) {
        if (c >= '0' && c <= '9')
            out += c;
        else if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))
            out += static_cast<char>(c & ~0x20);
    }
    size_t from = 0;
    if (kind == FieldId::IntNum && out.starts_with('I'))
        from = 1;
    if (kind == FieldId::RegNum || kind == FieldId::IntNum) {
        // a number of zeros only is still the number 0
        while (from + 1 < out.size() && out[from] == '0')
            ++from;
    }
    return out.substr(from);
}

bool sameNumber(FieldId kind, std::string_view a, std::string_view b)
{
    const std::string identity = numberIdentity(kind, a);
    return !identity.empty() && identity == numberIdentity(kind, b);
}

std::string identifierText(const Entry& entry)
{
    std::string out;
    if (!entry.RegNum.empty()) {
        out = "registration ";
        out += entry.RegNum;
    } else if (!entry.SerNum.empty()) {
        out = "application ";
        out += entry.SerNum;
    } else {
        out = "international reg ";
        out += entry.IntNum;
    }
    if (!entry.Trademark.empty()) {
        out += ", trademark ";
        out += entry.Trademark;
    }
    return out;
}

namespace {
constexpr std::string_view k_noRecordStart = "The trademark office has no record of ";
}

std::string noRecordMessage(const Entry& entry)
{
    return std::string(k_noRecordStart) + identifierText(entry) + ".";
}

bool hasNoRecordError(const Entry& entry)
{
    return entry.Error.starts_with(k_noRecordStart);
}

std::string statusText(const Entry& entry)
{
    std::string out;
    out.reserve(entry.StatusDate.size() + 3 + entry.StatusText.size());
    out += entry.StatusDate;
    out += " - ";
    out += entry.StatusText;
    return out;
}

DayNumber normaliseLoadedEntry(Entry& entry)
{
    if (entry.SerNum.size() > 9)
        entry.SerNum.resize(9);
    const size_t nonDigit = entry.RegNum.find_first_not_of("0123456789");
    if (nonDigit != std::string::npos)
        entry.RegNum.resize(nonDigit);
    // records that kept date and status in one field are divided
    if (entry.StatusDate.empty() && !entry.StatusText.empty()) {
        const size_t dash = entry.StatusText.find(" - ");
        if (dash == std::string::npos) {
            entry.StatusDate.swap(entry.StatusText);
        } else {
            entry.StatusDate.assign(entry.StatusText, 0, dash);
            entry.StatusText.erase(0, dash + 3);
        }
    }
    if (entry.StatusDate == "0000-00-00")
        entry.StatusDate = k_unknownDayText;
    return dayNumberOf(entry.StatusDate);
}

} // namespace tarnwick::core
