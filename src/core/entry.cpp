#include "core/entry.h"

#include "core/identifier.h"
#include "core/text.h"

#include <climits>
#include <cstdint>
#include <utility>

namespace tarnwick::core {

namespace {

StatusUrlProvider& statusUrlProvider()
{
    static StatusUrlProvider provider;
    return provider;
}

int signOf(std::int64_t v)
{
    return v < 0 ? -1 : (v > 0 ? 1 : 0);
}

// ASCII letters and digits, and the Latin-1 letters (0xC0..0xFF without the
// multiplication and division signs).
bool isLetterOrDigit(unsigned char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
           (c >= 0xC0 && c != 0xD7 && c != 0xF7);
}

// References compare as if every character but letters and digits were gone,
// in the same case-insensitive order as the other text columns.
int compareLettersAndDigits(std::string_view a, std::string_view b)
{
    size_t i = 0;
    size_t j = 0;
    for (;;) {
        while (i < a.size() && !isLetterOrDigit(static_cast<unsigned char>(a[i])))
            ++i;
        while (j < b.size() && !isLetterOrDigit(static_cast<unsigned char>(b[j])))
            ++j;
        if (i == a.size() || j == b.size())
            return i == a.size() ? (j == b.size() ? 0 : -1) : 1;
        int d = compareNoCase(a.substr(i, 1), b.substr(j, 1));
        if (d != 0)
            return d;
        ++i;
        ++j;
    }
}

// Empty texts sort after all others.
int compareTextsEmptyLast(const std::string& a, const std::string& b)
{
    if (a.empty() || b.empty())
        return a.empty() == b.empty() ? 0 : (a.empty() ? 1 : -1);
    return compareNoCase(a, b);
}

int clampToInt(long v)
{
    if (v > INT_MAX)
        return INT_MAX;
    if (v < INT_MIN)
        return INT_MIN;
    return static_cast<int>(v);
}

} // namespace

const char* frequencyWord(Frequency frequency)
{
    switch (frequency) {
    case Frequency::Daily:
        return "Daily";
    case Frequency::Weekly:
        return "Weekly";
    case Frequency::Monthly:
        return "Monthly";
    case Frequency::Yearly:
        return "Yearly";
    default:
        return "Never";
    }
}

std::optional<Frequency> frequencyNamed(std::string_view word)
{
    for (int i = 0; i <= static_cast<int>(Frequency::Never); ++i) {
        if (equalNoCase(word, frequencyWord(static_cast<Frequency>(i))))
            return static_cast<Frequency>(i);
    }
    return std::nullopt;
}

void setStatusUrlProvider(StatusUrlProvider provider)
{
    statusUrlProvider() = std::move(provider);
}

StatusUrlProviderScope::StatusUrlProviderScope() : m_previous(statusUrlProvider()) {}

StatusUrlProviderScope::~StatusUrlProviderScope()
{
    statusUrlProvider() = std::move(m_previous);
}

Entry::Entry() : Today(today()) {}

Entry::Entry(DayNumber today) : Today(today) {}

std::string* Entry::textField(FieldId id)
{
    return const_cast<std::string*>(std::as_const(*this).textField(id));
}

const std::string* Entry::textField(FieldId id) const
{
    switch (id) {
    case FieldId::Reference:
        return &Reference;
    case FieldId::SerNum:
        return &SerNum;
    case FieldId::RegNum:
        return &RegNum;
    case FieldId::IntNum:
        return &IntNum;
    case FieldId::Trademark:
        return &Trademark;
    case FieldId::StatusDate:
        return &StatusDate;
    case FieldId::StatusText:
        return &StatusText;
    case FieldId::LastHistory:
        return &LastHistory;
    case FieldId::FilingDate:
        return &FilingDate;
    case FieldId::RegDate:
        return &RegDate;
    case FieldId::PublishedDate:
        return &PublishedDate;
    case FieldId::LawOffice:
        return &LawOffice;
    case FieldId::Owner:
        return &Owner;
    case FieldId::Attorney:
        return &Attorney;
    case FieldId::Location:
        return &Location;
    case FieldId::Error:
        return &Error;
    default:
        return nullptr;
    }
}

std::string Entry::valueText(FieldId id, bool numeric) const
{
    switch (id) {
    case FieldId::Frequency:
        return numeric ? std::to_string(static_cast<int>(Frequency)) : std::string(frequencyWord(Frequency));
    case FieldId::LastUpdate:
        return numeric ? std::to_string(LastUpdate) : formatDay(LastUpdate);
    case FieldId::LastChange:
        return numeric ? std::to_string(LastChange) : formatDay(LastChange);
    default:
        break;
    }
    const std::string* text = textField(id);
    return text ? *text : std::string();
}

void Entry::setValueText(FieldId id, std::string_view text)
{
    switch (id) {
    case FieldId::Frequency:
        Frequency = static_cast<core::Frequency>(clampToInt(leadingInteger(text)));
        return;
    case FieldId::LastUpdate:
        LastUpdate = clampToInt(leadingInteger(text));
        return;
    case FieldId::LastChange:
        LastChange = clampToInt(leadingInteger(text));
        return;
    default:
        break;
    }
    if (std::string* field = textField(id))
        field->assign(text);
}

std::optional<std::string> Entry::lookupVariable(std::string_view name) const
{
    if (std::optional<FieldId> id = fieldByKey(name))
        return valueText(*id, false);
    if (equalNoCase(name, "RecentChange"))
        return std::string(recentlyChanged() ? "Yes" : "No");
    if (equalNoCase(name, "UpToDate"))
        return std::string(isUpToDate() ? "Yes" : "No");
    if (equalNoCase(name, "StatusUrl")) {
        const StatusUrlProvider& provider = statusUrlProvider();
        return provider ? provider(*this) : std::string();
    }
    if (equalNoCase(name, "Identifier"))
        return identifierText(*this);
    if (equalNoCase(name, "Status"))
        return statusText(*this);
    return std::nullopt;
}

std::string Entry::fieldListing() const
{
    std::string out;
    for (const FieldInfo& f : fieldTable()) {
        out += f.columnCaption;
        out += ":\t";
        out += valueText(f.id, false);
        out += "\r\n";
    }
    return out;
}

bool Entry::isUpToDate() const
{
    const DayNumber t = Today;
    const DayNumber u = LastUpdate;
    if (u == 0)
        return false;
    switch (Frequency) {
    case core::Frequency::Daily:
        return u == t;
    case core::Frequency::Weekly: {
        // weeks run Sunday to Saturday; day 1 was a Sunday
        auto week = [](DayNumber d) {
            const std::int64_t n = static_cast<std::int64_t>(d) - 1;
            return n >= 0 ? n / 7 : (n - 6) / 7;
        };
        return week(t) == week(u);
    }
    case core::Frequency::Monthly:
    case core::Frequency::Yearly: {
        int ty = 0, tm = 0, td = 0, uy = 0, um = 0, ud = 0;
        dateFromDay(t, ty, tm, td);
        dateFromDay(u, uy, um, ud);
        return ty == uy && (Frequency == core::Frequency::Yearly || tm == um);
    }
    default:
        return true;
    }
}

bool Entry::sameWatchedValues(const Entry& other) const
{
    for (FieldId id : k_watchedFields) {
        if (*textField(id) != *other.textField(id))
            return false;
    }
    return true;
}

int Entry::compareField(FieldId id, const Entry& other) const
{
    switch (id) {
    case FieldId::Frequency:
        return signOf(static_cast<std::int64_t>(Frequency) - static_cast<std::int64_t>(other.Frequency));
    case FieldId::LastUpdate:
        return signOf(static_cast<std::int64_t>(other.LastUpdate) - LastUpdate);
    case FieldId::LastChange:
        return signOf(static_cast<std::int64_t>(other.LastChange) - LastChange);
    case FieldId::Reference:
        return compareLettersAndDigits(Reference, other.Reference);
    case FieldId::SerNum:
    case FieldId::RegNum:
    case FieldId::IntNum:
    case FieldId::Trademark:
    case FieldId::StatusText:
    case FieldId::LastHistory:
    case FieldId::LawOffice:
    case FieldId::Owner:
    case FieldId::Attorney:
        return compareTextsEmptyLast(*textField(id), *other.textField(id));
    case FieldId::StatusDate:
    case FieldId::FilingDate:
    case FieldId::RegDate:
    case FieldId::PublishedDate:
    case FieldId::Location:
        // later year-month-day texts first
        return -signOf(textField(id)->compare(*other.textField(id)));
    default:
        return 0;
    }
}

int Entry::sortCompare(FieldId id, const Entry& other, bool reversed) const
{
    int c = compareField(id, other);
    if (c != 0)
        return reversed ? -c : c;
    for (FieldId tie : {FieldId::SerNum, FieldId::RegNum, FieldId::IntNum}) {
        if (tie == id)
            continue;
        c = compareField(tie, other);
        if (c != 0)
            return c;
    }
    return 0;
}

bool Entry::recentlyChanged() const
{
    // An update that finds a difference stamps LastChange with the day it stamps LastUpdate, so a later update
    // that finds none ends the change. A first reading takes the status date's day as its baseline (the day of the
    // update only when the page gives no status date). A number the office has no record of leaves the status
    // date empty, which every page read from the office fills, even after its Error is cleared.
    return LastUpdate != 0 && LastChange == LastUpdate && static_cast<std::int64_t>(Today) - LastChange <= 7 &&
           !StatusDate.empty() && !hasNoRecordError(*this);
}

int Entry::stateImage() const
{
    return (recentlyChanged() ? 1 : 0) | (isUpToDate() ? 2 : 0) | (Error.empty() ? 0 : 4);
}

void Entry::finishRecord()
{
    const DayNumber statusDay = normaliseLoadedEntry(*this);
    // an unknown status date gives no day to start from, just as an unreadable one
    if (LastChange == 0)
        LastChange = statusDay == k_noDay || statusDay == k_unknownDay ? Today : statusDay;
}

} // namespace tarnwick::core
