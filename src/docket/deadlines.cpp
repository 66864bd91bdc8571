#include "docket/deadlines.h"

#include "core/entry.h"
#include "core/text.h"
#include "docket/businessdays.h"
#include "docket/prosecution.h"

#include <algorithm>
#include <array>
#include <utility>

namespace tarnwick::docket {

namespace {

constexpr int k_graceMonths = 6;
constexpr int k_responseMonths = 3;
constexpr int k_longResponseMonths = 6;
constexpr int k_useMonths = 6;
constexpr int k_lastUseMonth = 36;
constexpr int k_lastUseExtension = 5;
constexpr int k_oppositionDays = 30;
constexpr int k_declarationYears = 6;
constexpr int k_renewalYears = 10;
// more days in a row than weekends and holidays ever close the office
constexpr int k_longestDaysOff = 14;
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

// A deadline due on `nominal`, moved to a business day.
Deadline dueOn(DeadlineKind kind, core::DayNumber nominal)
{
    Deadline d;
    d.kind = kind;
    d.nominal = nominal;
    d.closes = nextBusinessDay(nominal);
    return d;
}

Deadline window(DeadlineKind kind, core::DayNumber registered, int years)
{
    // both windows open a year before the anniversary they close on; the grace period counts from the anniversary
    Deadline d = dueOn(kind, addYears(registered, years));
    d.years = years;
    d.opens = addYears(registered, years - 1);
    d.graceEnds = nextBusinessDay(addMonths(d.nominal, k_graceMonths));
    return d;
}

core::DayNumber validDay(std::string_view text)
{
    const core::DayNumber day = core::dayNumberOf(text);
    return day == core::k_unknownDay ? core::k_noDay : day;
}

void addMaintenance(const core::Entry& entry, core::DayNumber today, std::vector<Deadline>& out)
{
    const core::DayNumber registered = validDay(entry.RegDate);
    if (entry.RegNum.empty() || registered == core::k_noDay)
        return;
    core::DayNumber metThrough = core::k_noDay;
    if (const core::DayNumber status = validDay(entry.StatusDate); status != core::k_noDay && saysFilingAccepted(entry))
        metThrough = status;
    const auto pending = [&](const Deadline& d) { return d.opens > metThrough && d.graceEnds >= today; };
    // a window met, or whose grace period ended longer ago than any run of days off, is passed over before its
    // days are moved to business days: that move costs more than the rest, and an old mark has many such windows
    const auto settled = [&](int years) {
        return addYears(registered, years - 1) <= metThrough ||
               addMonths(addYears(registered, years), k_graceMonths) + k_longestDaysOff < today;
    };
    const bool section71 = !entry.IntNum.empty();
    if (!settled(k_declarationYears)) {
        if (Deadline d = window(DeadlineKind::DeclarationOfUse, registered, k_declarationYears); pending(d)) {
            d.section71 = section71;
            out.push_back(d);
        }
    }
    for (int years = k_renewalYears; years <= k_lastAnniversary; years += k_renewalYears) {
        if (settled(years))
            continue;
        if (Deadline d = window(DeadlineKind::Renewal, registered, years); pending(d)) {
            d.section71 = section71;
            out.push_back(d);
            return;
        }
    }
}

// A status or history item with the day it is dated by.
struct Event {
    RecognizedEvent what;
    core::DayNumber day = 0;
    std::string_view text;

    ProsecutionEvent kind() const { return what.event; }
};

bool isAction(const Event& e)
{
    return e.kind() == ProsecutionEvent::OfficeAction || e.kind() == ProsecutionEvent::PostRegistrationAction;
}

bool isAllowance(const Event& e)
{
    return e.kind() == ProsecutionEvent::NoticeOfAllowance || e.kind() == ProsecutionEvent::UseExtension;
}

// The later of the two events of a family (the history item on the same day), unless the other one ends what it
// started: an event of another family after it (or the history item of the same day), other than `neutral` ones.
template <typename Family, typename Neutral>
const Event* openEvent(const Event& status, const Event& history, Family family, Neutral neutral)
{
    const bool s = status.day != 0 && family(status);
    const bool h = history.day != 0 && family(history);
    if (!s && !h)
        return nullptr;
    const Event& base = h && (!s || history.day >= status.day) ? history : status;
    const Event& other = &base == &history ? status : history;
    const bool later = other.day > base.day || (other.day == base.day && &other == &history);
    if (other.day != 0 && later && other.kind() != ProsecutionEvent::None && !family(other) && !neutral(other))
        return nullptr;
    return &base;
}

// The last day of the maintenance window that is open on `day`, or 0.
core::DayNumber maintenanceWindowEnd(const core::Entry& entry, core::DayNumber day)
{
    const core::DayNumber registered = validDay(entry.RegDate);
    if (registered == core::k_noDay)
        return 0;
    for (int years = k_declarationYears; years <= k_lastAnniversary;
         years = (years / k_renewalYears + 1) * k_renewalYears) {
        const core::DayNumber closes = addYears(registered, years);
        if (day <= closes)
            return day >= addYears(registered, years - 1) ? closes : 0;
    }
    return 0;
}

void addResponse(const core::Entry& entry, const Event& action, std::vector<Deadline>& out)
{
    static const core::DayNumber k_shortPeriodsFrom = core::dayFromDate(2022, 12, 3);
    Deadline d;
    if (action.kind() == ProsecutionEvent::PostRegistrationAction) {
        d = dueOn(DeadlineKind::OfficeActionResponse,
                  std::max(addMonths(action.day, k_longResponseMonths), maintenanceWindowEnd(entry, action.day)));
    } else if (!entry.IntNum.empty() || action.day < k_shortPeriodsFrom) {
        d = dueOn(DeadlineKind::OfficeActionResponse, addMonths(action.day, k_longResponseMonths));
    } else {
        d = dueOn(DeadlineKind::OfficeActionResponse, addMonths(action.day, k_responseMonths));
        d.graceEnds = nextBusinessDay(addMonths(action.day, k_longResponseMonths));
    }
    d.opens = action.day;
    d.source = std::string(action.text);
    out.push_back(d);
}

void addStatementOfUse(const Event& base, const Event& other, std::vector<Deadline>& out)
{
    core::DayNumber nominal = addMonths(base.day, k_useMonths);
    if (base.kind() == ProsecutionEvent::UseExtension && other.kind() == ProsecutionEvent::NoticeOfAllowance &&
        other.day != 0 && other.day <= base.day) {
        // with the notice's day the extension's period is known exactly
        const int extension = std::min(base.what.extension, k_lastUseExtension);
        nominal = addMonths(other.day, std::min(k_useMonths * (extension + 1), k_lastUseMonth));
    }
    // without it, six months from the grant: no later than the period the extension gives
    Deadline d = dueOn(DeadlineKind::StatementOfUse, nominal);
    d.opens = base.day;
    d.source = std::string(base.text);
    out.push_back(d);
}

void addOpposition(const core::Entry& entry, const Event& status, const Event& history, std::vector<Deadline>& out)
{
    core::DayNumber published = validDay(entry.PublishedDate);
    std::string_view source;
    for (const Event* e : {&status, &history}) {
        if (e->kind() != ProsecutionEvent::Published || e->day == 0)
            continue;
        if (published == core::k_noDay)
            published = e->day;
        if (published == e->day)
            source = e->text;
    }
    if (published == core::k_noDay)
        return;
    Deadline d = dueOn(DeadlineKind::OppositionPeriod, published + k_oppositionDays);
    d.opens = published;
    d.informational = true;
    d.source = std::string(source);
    out.push_back(d);
}

void addProsecution(const core::Entry& entry, std::vector<Deadline>& out)
{
    const HistoryItem item = splitHistoryItem(entry.LastHistory);
    const Event status{recognizeEvent(entry.StatusText), validDay(entry.StatusDate), entry.StatusText};
    const Event history{recognizeEvent(item.text), item.day, item.text};
    const auto asksForTime = [](const Event& e) { return e.kind() == ProsecutionEvent::ResponseTimeExtension; };
    const auto nothing = [](const Event&) { return false; };
    if (const Event* action = openEvent(status, history, isAction, asksForTime))
        addResponse(entry, *action, out);
    if (const Event* allowance = openEvent(status, history, isAllowance, nothing))
        addStatementOfUse(*allowance, allowance == &status ? history : status, out);
    addOpposition(entry, status, history, out);
}

} // namespace

std::string kindText(const Deadline& deadline)
{
    switch (deadline.kind) {
    case DeadlineKind::DeclarationOfUse:
        return deadline.section71 ? "Section 71 declaration" : "Declaration of use";
    case DeadlineKind::Renewal:
        return (deadline.section71 ? "Section 71 declaration at " : "Renewal at ") + std::to_string(deadline.years) +
               " years";
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
    if (isDeadStatus(entry.StatusText))
        return out;
    addMaintenance(entry, today, out);
    addProsecution(entry, out);
    std::erase_if(out, [today](const Deadline& d) { return std::max(d.closes, d.graceEnds) < today; });
    std::stable_sort(out.begin(), out.end(), [](const Deadline& a, const Deadline& b) { return a.closes < b.closes; });
    return out;
}

std::optional<Deadline> nextDeadline(const core::Entry& entry, core::DayNumber today)
{
    for (Deadline& d : pendingDeadlines(entry, today)) {
        if (!d.informational)
            return std::move(d);
    }
    return std::nullopt;
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

const std::string& deadlineNumber(const core::Entry& entry)
{
    return !entry.RegNum.empty() ? entry.RegNum : (!entry.SerNum.empty() ? entry.SerNum : entry.IntNum);
}

std::string deadlineText(const std::optional<Deadline>& deadline)
{
    if (!deadline)
        return {};
    std::string out = core::formatDay(deadline->closes) + " " + kindText(*deadline);
    if (deadline->graceEnds == 0)
        return out;
    const bool maintenance = deadline->years != 0;
    return out + (maintenance ? " (grace to " : " (extension to ") + core::formatDay(deadline->graceEnds) + ")";
}

std::string deadlineDetails(const std::optional<Deadline>& deadline)
{
    if (!deadline)
        return {};
    const Deadline& d = *deadline;
    const std::string moved = d.nominal != d.closes ? notBusinessDayReason(d.nominal) : std::string();
    if (d.years != 0) {
        return core::formatDay(d.closes) + " " + kindText(d) + " (opens " + core::formatDay(d.opens) + ", grace to " +
               core::formatDay(d.graceEnds) + (moved.empty() ? "" : "; " + moved) + ")";
    }
    std::string out;
    switch (d.kind) {
    case DeadlineKind::StatementOfUse:
        out = "Statement of use or extension request due ";
        break;
    case DeadlineKind::OppositionPeriod:
        out = "Opposition period ends ";
        break;
    default:
        out = "Response due ";
        break;
    }
    out += core::formatDay(d.closes);
    if (!moved.empty())
        out += " (" + moved + ")";
    if (d.graceEnds != 0)
        out += ", extension to " + core::formatDay(d.graceEnds);
    if (!d.source.empty())
        out += "; from " + core::formatDay(d.opens) + " " + d.source;
    return out;
}

namespace {

enum class DeadlinePart { Text, Date, Kind, Opens, Grace };

// The part of the next deadline a template variable names, if it names one.
std::optional<DeadlinePart> deadlinePartNamed(std::string_view name)
{
    static constexpr std::array<std::pair<std::string_view, DeadlinePart>, 5> k_names = {{
        {"NextDeadline", DeadlinePart::Text},
        {"NextDeadlineDate", DeadlinePart::Date},
        {"NextDeadlineKind", DeadlinePart::Kind},
        {"NextDeadlineOpens", DeadlinePart::Opens},
        {"NextDeadlineGrace", DeadlinePart::Grace},
    }};
    for (const auto& [known, part] : k_names) {
        if (core::equalNoCase(name, known))
            return part;
    }
    return std::nullopt;
}

std::string deadlinePart(const std::optional<Deadline>& d, DeadlinePart part)
{
    if (!d)
        return {};
    switch (part) {
    case DeadlinePart::Text:
        return deadlineText(d);
    case DeadlinePart::Date:
        return core::formatDay(d->closes);
    case DeadlinePart::Kind:
        return kindText(*d);
    case DeadlinePart::Opens:
        return core::formatDay(d->opens);
    case DeadlinePart::Grace:
        return core::formatDay(d->graceEnds);
    }
    return {};
}

} // namespace

std::optional<std::string> deadlineVariable(const core::Entry& entry, std::string_view name)
{
    // the deadlines are counted only for a name that asks for them
    const std::optional<DeadlinePart> part = deadlinePartNamed(name);
    if (!part)
        return std::nullopt;
    return deadlinePart(nextDeadline(entry, entry.Today), *part);
}

std::optional<std::string> deadlineVariable(const std::optional<Deadline>& next, std::string_view name)
{
    const std::optional<DeadlinePart> part = deadlinePartNamed(name);
    if (!part)
        return std::nullopt;
    return deadlinePart(next, *part);
}

std::string deadlineElement(const core::Entry& entry)
{
    return deadlineElement(nextDeadline(entry, entry.Today));
}

std::string deadlineElement(const std::optional<Deadline>& d)
{
    if (!d)
        return "  <NextDeadline></NextDeadline>\n";
    return "  <NextDeadline kind=\"" + core::escapeXml(kindText(*d)) + "\" opens=\"" + core::formatDay(d->opens) +
           "\" grace=\"" + core::formatDay(d->graceEnds) + "\">" + core::formatDay(d->closes) + "</NextDeadline>\n";
}

} // namespace tarnwick::docket
