#include "docket/calendar.h"

#include "core/entry.h"
#include "docket/deadlines.h"
#include "platform/terminal.h"

#include <cstdio>
#include <set>

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

std::string uidOf(const core::Entry& entry, const Deadline& d)
{
    const char* kind = d.kind == DeadlineKind::DeclarationOfUse ? "declaration" : "renewal";
    return "reg" + entry.RegNum + "-" + kind + "-" + std::to_string(d.years) + "y@tarnwick";
}

std::string summaryOf(const core::Entry& entry, const Deadline& d)
{
    std::string out = entry.Reference.empty() ? "Reg. " : utf8(entry.Reference) + ", reg. ";
    return out + entry.RegNum + ": " + kindText(d);
}

std::string descriptionOf(const core::Entry& entry, const Deadline& d)
{
    std::string out = kindText(d) + " for registration " + entry.RegNum;
    if (!entry.Trademark.empty())
        out += ", trademark " + utf8(entry.Trademark);
    if (!entry.Reference.empty())
        out += ", reference " + utf8(entry.Reference);
    out += ".\nThe window opens on " + core::formatDay(d.opens) + " and closes on " + core::formatDay(d.closes) +
           "; the grace period ends on " + core::formatDay(d.graceEnds) + ".\nRegistered on " +
           core::formatDay(core::dayNumberOf(entry.RegDate)) + ".";
    return out;
}

void appendProperty(std::string& out, std::string_view name, std::string_view value)
{
    std::string line(name);
    line += ':';
    line += value;
    appendContentLine(out, line);
}

void appendEvent(std::string& out, const core::Entry& entry, const Deadline& d, const CalendarOptions& options,
                 const std::string& stamp)
{
    const std::string summary = escapeCalendarText(summaryOf(entry, d));
    appendProperty(out, "BEGIN", "VEVENT");
    appendProperty(out, "UID", uidOf(entry, d));
    appendProperty(out, "DTSTAMP", stamp);
    appendProperty(out, "DTSTART;VALUE=DATE", dateValue(d.closes));
    appendProperty(out, "DTEND;VALUE=DATE", dateValue(d.closes + 1));
    appendProperty(out, "SUMMARY", summary);
    appendProperty(out, "DESCRIPTION", escapeCalendarText(descriptionOf(entry, d)));
    appendProperty(out, "TRANSP", "TRANSPARENT");
    appendProperty(out, "BEGIN", "VALARM");
    appendProperty(out, "ACTION", "DISPLAY");
    appendProperty(out, "DESCRIPTION", summary);
    appendProperty(out, "TRIGGER", "-P" + std::to_string(options.reminderDays) + "D");
    appendProperty(out, "END", "VALARM");
    appendProperty(out, "END", "VEVENT");
}

} // namespace

std::string escapeCalendarText(std::string_view text)
{
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
    std::set<std::string> uids;
    for (const core::Entry& entry : entries) {
        for (const Deadline& d : pendingDeadlines(entry, options.today)) {
            if (!uids.insert(uidOf(entry, d)).second)
                continue;
            appendEvent(out, entry, d, options, stamp);
            ++cal.events;
        }
    }
    appendProperty(out, "END", "VCALENDAR");
    return cal;
}

} // namespace tarnwick::docket
