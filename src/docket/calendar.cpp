#include "docket/calendar.h"

#include "core/entry.h"
#include "docket/businessdays.h"
#include "docket/deadlines.h"
#include "platform/terminal.h"

#include <algorithm>
#include <cstdio>
#include <unordered_set>

namespace tarnwick::docket {

namespace {

constexpr size_t k_lineOctets = 75;

#ifdef TARNWICK_VERSION
constexpr const char* k_version = TARNWICK_VERSION;
#else
constexpr const char* k_version = "?.?.??";
#endif

// A text of the data file as UTF-8: valid UTF-8 stays, anything else is read as Windows-1252.
std::string utf8(std::string_view text)
{
    return platform::toCodeset(text, "UTF-8");
}

// "YYYYMMDD" of a day.
std::string dateValue(core::DayNumber day)
{
    int y = 0, m = 0, d = 0;
    core::dateFromDay(day, y, m, d);
    if (y >= 0 && y <= 9999) {
        // two dates an event, written digit by digit
        std::string out(8, '0');
        for (auto [value, end] : {std::pair{y, 4}, std::pair{m, 6}, std::pair{d, 8}}) {
            for (int i = end - 1; value > 0; --i, value /= 10)
                out[static_cast<size_t>(i)] = static_cast<char>('0' + value % 10);
        }
        return out;
    }
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d", y, m, d);
    return buf;
}

// "YYYYMMDDTHHMMSSZ" of a UTC point in time.
std::string stampValue(core::PointInTime stamp)
{
    std::string out;
    for (char c : core::formatTime(stamp, true, false)) {
        if (c == ' ')
            out += 'T';
        else if (c != '-' && c != ':')
            out += c;
    }
    return out + "Z";
}

bool isMaintenance(const Deadline& d)
{
    return d.kind == DeadlineKind::DeclarationOfUse || d.kind == DeadlineKind::Renewal;
}

// The number a deadline is filed under and its label: the registration for the maintenance windows, the serial
// number (which the application keeps after registration) for the others, else the international registration.
std::pair<std::string, std::string> numberOf(const core::Entry& entry, const Deadline& d)
{
    if (!entry.RegNum.empty() && (isMaintenance(d) || entry.SerNum.empty()))
        return {"reg", entry.RegNum};
    if (!entry.SerNum.empty())
        return {"ser", entry.SerNum};
    return {"ir", entry.IntNum};
}

std::string uidOf(const core::Entry& entry, const Deadline& d)
{
    const auto [prefix, number] = numberOf(entry, d);
    return prefix + number + "-" + deadlineId(d) + "@tarnwick";
}

std::string summaryOf(const core::Entry& entry, const Deadline& d)
{
    const auto [prefix, number] = numberOf(entry, d);
    const bool alone = entry.Reference.empty();
    std::string label = prefix == "reg"   ? (alone ? "Reg. " : "reg. ")
                        : prefix == "ser" ? (alone ? "Ser. " : "ser. ")
                                          : "IR ";
    return (alone ? std::string() : utf8(entry.Reference) + ", ") + label + number + ": " + kindText(d);
}

std::string descriptionOf(const core::Entry& entry, const Deadline& d)
{
    const auto [prefix, number] = numberOf(entry, d);
    const char* what = prefix == "reg" ? " for registration " : prefix == "ser" ? " for application " : " for IR ";
    std::string out = kindText(d) + what + number;
    if (!entry.Trademark.empty())
        out += ", trademark " + utf8(entry.Trademark);
    if (!entry.Reference.empty())
        out += ", reference " + utf8(entry.Reference);
    if (!isMaintenance(d)) {
        const std::string details = utf8(deadlineDetails(d));
        return out + ".\n" + (d.informational ? "For information: " : "") + details +
               (details.ends_with('.') ? "" : ".");
    }
    const std::string moved = d.nominal != d.closes ? " (" + notBusinessDayReason(d.nominal) + ")" : "";
    out += ".\nThe window opens on " + core::formatDay(d.opens) + " and closes on " + core::formatDay(d.closes) +
           moved + "; the grace period ends on " + core::formatDay(d.graceEnds) + ".\nRegistered on " +
           core::formatDay(core::dayNumberOf(entry.RegDate)) + ".";
    return out;
}

// A relative trigger `days` after the event's start (before it when negative).
std::string triggerValue(int days)
{
    return (days < 0 ? "-P" : "P") + std::to_string(days < 0 ? -days : days) + "D";
}

void appendProperty(std::string& out, std::string_view name, std::string_view value)
{
    // most lines need no folding and go straight into the file
    if (name.size() + 1 + value.size() <= k_lineOctets) {
        out.append(name);
        out += ':';
        out.append(value);
        out += "\r\n";
        return;
    }
    std::string line(name);
    line += ':';
    line += value;
    appendContentLine(out, line);
}

void appendAlarm(std::string& out, const std::string& summary, int days)
{
    appendProperty(out, "BEGIN", "VALARM");
    appendProperty(out, "ACTION", "DISPLAY");
    appendProperty(out, "DESCRIPTION", summary);
    appendProperty(out, "TRIGGER", triggerValue(days));
    appendProperty(out, "END", "VALARM");
}

void appendEvent(std::string& out, const core::Entry& entry, const Deadline& d, const CalendarOptions& options,
                 const std::string& stamp, const std::string& uid)
{
    const std::string summary = escapeCalendarText(summaryOf(entry, d));
    appendProperty(out, "BEGIN", "VEVENT");
    appendProperty(out, "UID", uid);
    appendProperty(out, "DTSTAMP", stamp);
    appendProperty(out, "DTSTART;VALUE=DATE", dateValue(d.closes));
    appendProperty(out, "DTEND;VALUE=DATE", dateValue(d.closes + 1));
    appendProperty(out, "SUMMARY", summary);
    appendProperty(out, "DESCRIPTION", escapeCalendarText(descriptionOf(entry, d)));
    appendProperty(out, "TRANSP", "TRANSPARENT");
    // the owner is reminded of a due day, and of the day an extension reaches (in the same event, which moves when
    // the office's dates do); the end of the opposition period is for information only
    if (!d.informational)
        appendAlarm(out, summary, -options.reminderDays);
    if (!d.informational && !isMaintenance(d) && d.graceEnds != 0)
        appendAlarm(out, summary, d.graceEnds - d.closes - options.reminderDays);
    appendProperty(out, "END", "VEVENT");
}

} // namespace

std::string escapeCalendarText(std::string_view text)
{
    // most texts hold nothing to escape
    const bool plain = std::none_of(text.begin(), text.end(), [](char c) {
        return c == '\\' || c == ';' || c == ',' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
    });
    if (plain)
        return std::string(text);
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\\' || c == ';' || c == ',') {
            out += '\\';
            out += c;
        } else if (c == '\n' || (c == '\r' && (i + 1 == text.size() || text[i + 1] != '\n'))) {
            out += "\\n";
        } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            // a CR before LF goes with it; other control bytes cannot stand in a value
            if (c != '\r')
                out += ' ';
        } else {
            out += c;
        }
    }
    return out;
}

void appendContentLine(std::string& out, std::string_view line)
{
    size_t limit = k_lineOctets;
    while (line.size() > limit) {
        size_t cut = limit;
        while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80)
            --cut;
        out.append(line.substr(0, cut));
        out += "\r\n ";
        line.remove_prefix(cut);
        // the blank that starts a continuation line is one of its octets
        limit = k_lineOctets - 1;
    }
    out.append(line);
    out += "\r\n";
}

Calendar calendarOf(const std::vector<core::Entry>& entries, const CalendarOptions& options)
{
    Calendar cal;
    std::string& out = cal.text;
    appendProperty(out, "BEGIN", "VCALENDAR");
    appendProperty(out, "VERSION", "2.0");
    appendProperty(out, "PRODID", std::string("-//Velmora Systems//Tarnwick ") + k_version + "//EN");
    appendProperty(out, "CALSCALE", "GREGORIAN");
    appendProperty(out, "X-WR-CALNAME", "Trademark deadlines");
    const std::string stamp = stampValue(options.stamp);
    std::unordered_set<std::string> uids;
    uids.reserve(entries.size() * 2);
    // an entry gives some 700 bytes of events: the text is made once at about its size, not grown by copying it
    out.reserve(out.size() + entries.size() * 768);
    for (const core::Entry& entry : entries) {
        for (const Deadline& d : pendingDeadlines(entry, options.today)) {
            const auto [uid, added] = uids.insert(uidOf(entry, d));
            if (!added)
                continue;
            appendEvent(out, entry, d, options, stamp, *uid);
            ++cal.events;
        }
    }
    appendProperty(out, "END", "VCALENDAR");
    return cal;
}

} // namespace tarnwick::docket
