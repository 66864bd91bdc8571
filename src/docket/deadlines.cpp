#include "docket/deadlines.h"

#include "core/entry.h"
#include "core/text.h"

#include <algorithm>
#include <array>
#include <utility>

namespace tarnwick::docket {

namespace {

constexpr int k_graceMonths = 6;
constexpr int k_renewalYears = 10;
// no registration lives longer than the day count runs
constexpr int k_lastAnniversary = 10000;

bool isLeapYear(int y)
{
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int daysInMonth(int y, int m)
{
    static constexpr int k_days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeapYear(y) ? 29 : k_days[m - 1];
}

bool isWordByte(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

// Where `word` stands in `text` as a whole word (no letter or digit either side) and not right after "NOT ".
bool hasWord(std::string_view text, std::string_view word, bool negatable = false)
{
    for (size_t at = core::findBytes(text, word); at != std::string_view::npos;
         at = core::findBytes(text, word, at + 1)) {
        const size_t end = at + word.size();
        if ((at > 0 && isWordByte(text[at - 1])) || (end < text.size() && isWordByte(text[end])))
            continue;
        if (negatable && text.substr(0, at).ends_with("NOT "))
            continue;
        return true;
    }
    return false;
}

bool acceptsFiling(std::string_view upper)
{
    static constexpr std::array<std::string_view, 10> k_filings = {
        "SECTION 8", "SEC. 8", "SEC 8", "SECTION 71", "SEC. 71", "SEC 71", "SECTION 9", "SEC. 9", "SEC 9", "RENEWAL",
    };
    if (hasWord(upper, "RENEWED", true))
        return true;
    if (!hasWord(upper, "ACCEPTED", true) && !hasWord(upper, "GRANTED", true))
        return false;
    for (std::string_view filing : k_filings) {
        if (hasWord(upper, filing))
            return true;
    }
    return false;
}

Deadline window(DeadlineKind kind, core::DayNumber registered, int years)
{
    // both windows open a year before the anniversary they close on
    Deadline d;
    d.kind = kind;
    d.years = years;
    d.opens = addYears(registered, years - 1);
    d.closes = addYears(registered, years);
    d.nominal = d.closes;
    d.graceEnds = addMonths(d.closes, k_graceMonths);
    return d;
}

} // namespace

std::string kindText(const Deadline& deadline)
{
    switch (deadline.kind) {
    case DeadlineKind::DeclarationOfUse:
        return "Declaration of use";
    case DeadlineKind::Renewal:
        return "Renewal at " + std::to_string(deadline.years) + " years";
    case DeadlineKind::OfficeActionResponse:
        return "Response to office action";
    case DeadlineKind::StatementOfUse:
        return "Statement of use";
    case DeadlineKind::OppositionPeriod:
        return "Opposition period ends";
    }
    return {};
}

core::DayNumber addYears(core::DayNumber day, int years)
{
    int y = 0, m = 0, d = 0;
    core::dateFromDay(day, y, m, d);
    y += years;
    if (m == 2 && d == 29 && !isLeapYear(y))
        d = 28;
    return core::dayFromDate(y, m, d);
}

core::DayNumber addMonths(core::DayNumber day, int months)
{
    int y = 0, m = 0, d = 0;
    core::dateFromDay(day, y, m, d);
    const int index = y * 12 + (m - 1) + months;
    y = index / 12;
    m = index % 12 + 1;
    return core::dayFromDate(y, m, std::min(d, daysInMonth(y, m)));
}

bool isDeadStatus(std::string_view statusText)
{
    const std::string upper = core::toUpperAscii(statusText);
    if (hasWord(upper, "PARTIAL") || hasWord(upper, "IN PART") || hasWord(upper, "PARTIALLY"))
        return false;
    for (std::string_view word : {"CANCELLED", "CANCELED", "EXPIRED", "ABANDONED", "DEAD"}) {
        if (hasWord(upper, word))
            return true;
    }
    return false;
}

bool saysFilingAccepted(const core::Entry& entry)
{
    return acceptsFiling(core::toUpperAscii(entry.StatusText)) || acceptsFiling(core::toUpperAscii(entry.LastHistory));
}

std::vector<Deadline> pendingDeadlines(const core::Entry& entry, core::DayNumber today)
{
    std::vector<Deadline> out;
    const core::DayNumber registered = core::dayNumberOf(entry.RegDate);
    if (entry.RegNum.empty() || registered == core::k_noDay || registered == core::k_unknownDay ||
        isDeadStatus(entry.StatusText))
        return out;
    core::DayNumber metThrough = core::k_noDay;
    if (const core::DayNumber status = core::dayNumberOf(entry.StatusDate);
        status != core::k_unknownDay && saysFilingAccepted(entry))
        metThrough = status;
    const auto pending = [&](const Deadline& d) { return d.opens > metThrough && d.graceEnds >= today; };

    if (Deadline d = window(DeadlineKind::DeclarationOfUse, registered, 6); pending(d))
        out.push_back(d);
    for (int years = k_renewalYears; years <= k_lastAnniversary; years += k_renewalYears) {
        if (Deadline d = window(DeadlineKind::Renewal, registered, years); pending(d)) {
            out.push_back(d);
            break;
        }
    }
    return out;
}

std::optional<Deadline> nextDeadline(const core::Entry& entry, core::DayNumber today)
{
    std::vector<Deadline> all = pendingDeadlines(entry, today);
    if (all.empty())
        return std::nullopt;
    return all.front();
}

std::string deadlineId(const Deadline& deadline)
{
    switch (deadline.kind) {
    case DeadlineKind::DeclarationOfUse:
        return "declaration-" + std::to_string(deadline.years) + "y";
    case DeadlineKind::Renewal:
        return "renewal-" + std::to_string(deadline.years) + "y";
    case DeadlineKind::OfficeActionResponse:
        return "response-" + core::formatDay(deadline.opens);
    case DeadlineKind::StatementOfUse:
        return "statement-of-use-" + core::formatDay(deadline.opens);
    case DeadlineKind::OppositionPeriod:
        return "opposition-" + core::formatDay(deadline.opens);
    }
    return {};
}

std::string deadlineText(const std::optional<Deadline>& deadline)
{
    if (!deadline)
        return {};
    return core::formatDay(deadline->closes) + " " + kindText(*deadline) + " (grace to " +
           core::formatDay(deadline->graceEnds) + ")";
}

std::string deadlineDetails(const std::optional<Deadline>& deadline)
{
    if (!deadline)
        return {};
    return core::formatDay(deadline->closes) + " " + kindText(*deadline) + " (opens " +
           core::formatDay(deadline->opens) + ", grace to " + core::formatDay(deadline->graceEnds) + ")";
}

std::optional<std::string> deadlineVariable(const core::Entry& entry, std::string_view name)
{
    enum Part { Text, Date, Kind, Opens, Grace };
    static constexpr std::array<std::pair<std::string_view, Part>, 5> k_names = {{
        {"NextDeadline", Text},
        {"NextDeadlineDate", Date},
        {"NextDeadlineKind", Kind},
        {"NextDeadlineOpens", Opens},
        {"NextDeadlineGrace", Grace},
    }};
    for (const auto& [known, part] : k_names) {
        if (!core::equalNoCase(name, known))
            continue;
        const std::optional<Deadline> d = nextDeadline(entry, entry.Today);
        if (!d)
            return std::string();
        switch (part) {
        case Text:
            return deadlineText(d);
        case Date:
            return core::formatDay(d->closes);
        case Kind:
            return kindText(*d);
        case Opens:
            return core::formatDay(d->opens);
        case Grace:
            return core::formatDay(d->graceEnds);
        }
    }
    return std::nullopt;
}

std::string deadlineElement(const core::Entry& entry)
{
    const std::optional<Deadline> d = nextDeadline(entry, entry.Today);
    if (!d)
        return "  <NextDeadline></NextDeadline>\n";
    return "  <NextDeadline kind=\"" + core::escapeXml(kindText(*d)) + "\" opens=\"" + core::formatDay(d->opens) +
           "\" grace=\"" + core::formatDay(d->graceEnds) + "\">" + core::formatDay(d->closes) + "</NextDeadline>\n";
}

} // namespace tarnwick::docket
