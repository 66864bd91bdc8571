#include "app/deadlinelist.h"

#include "core/entry.h"
#include "core/text.h"
#include "docket/deadlines.h"
#include "notify/htmlreport.h"
#include "platform/terminal.h"

#include <algorithm>
#include <array>
#include <map>
#include <utility>

namespace tarnwick::app {

namespace {

// Why a due day was moved: the weekday it fell on, or a holiday.
std::string movedNote(const docket::Deadline& d)
{
    if (d.nominal == 0 || d.nominal == d.closes)
        return {};
    const int weekday = core::weekdayOf(d.nominal);
    const char* why = weekday == 6 ? "a Saturday" : weekday == 0 ? "a Sunday" : "a federal holiday";
    return core::formatDay(d.nominal) + " is " + why;
}

DeadlineBand bandOf(const docket::Deadline& d, core::DayNumber today)
{
    if (d.informational)
        return DeadlineBand::Information;
    if (d.closes < today)
        return DeadlineBand::Overdue;
    return d.closes - today <= k_soonDays ? DeadlineBand::Soon : DeadlineBand::Later;
}

// The characters of a UTF-8 text: its width in a terminal's columns for the texts a docket holds.
size_t columnsOf(std::string_view text)
{
    return static_cast<size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

} // namespace

DeadlineRow deadlineRow(const core::Entry& entry, const docket::Deadline& deadline, core::DayNumber today)
{
    DeadlineRow row;
    row.reference = entry.Reference;
    row.number = docket::deadlineNumber(entry);
    row.mark = entry.Trademark;
    row.kind = docket::kindText(deadline);
    row.due = deadline.closes;
    row.extension = deadline.graceEnds;
    row.daysLeft = deadline.closes - today;
    row.band = bandOf(deadline, today);
    row.note = movedNote(deadline);
    return row;
}

std::vector<DeadlineRow> deadlineList(const std::vector<core::Entry>& entries, core::DayNumber today,
                                      std::optional<int> within)
{
    std::vector<DeadlineRow> rows;
    // a deadline is known by each number of its entry and its own id; another entry with one of those numbers
    // watches the same mark
    std::map<std::pair<std::string, std::string>, size_t> given;
    for (size_t position = 0; position < entries.size(); ++position) {
        const core::Entry& entry = entries[position];
        for (const docket::Deadline& d : docket::pendingDeadlines(entry, today)) {
            const std::string id = docket::deadlineId(d);
            std::optional<size_t> seen;
            for (const std::string* n : {&entry.SerNum, &entry.RegNum, &entry.IntNum}) {
                if (auto it = given.find({*n, id}); !n->empty() && it != given.end())
                    seen = it->second;
            }
            if (!seen) {
                seen = rows.size();
                rows.push_back(deadlineRow(entry, d, today));
            }
            rows[*seen].entries.push_back(static_cast<int>(position));
            for (const std::string* n : {&entry.SerNum, &entry.RegNum, &entry.IntNum}) {
                if (!n->empty())
                    given.emplace(std::make_pair(*n, id), *seen);
            }
        }
    }
    if (within) {
        std::erase_if(rows,
                      [&](const DeadlineRow& r) { return r.band != DeadlineBand::Overdue && r.daysLeft > *within; });
    }
    std::stable_sort(rows.begin(), rows.end(), [](const DeadlineRow& a, const DeadlineRow& b) {
        const bool aInfo = a.band == DeadlineBand::Information, bInfo = b.band == DeadlineBand::Information;
        return std::tie(aInfo, a.due, a.reference) < std::tie(bInfo, b.due, b.reference);
    });
    return rows;
}

std::string bandText(DeadlineBand band)
{
    switch (band) {
    case DeadlineBand::Overdue:
        return "Overdue";
    case DeadlineBand::Soon:
        return "Next " + std::to_string(k_soonDays) + " days";
    case DeadlineBand::Later:
        return "Later";
    case DeadlineBand::Information:
        return "Information";
    }
    return {};
}

std::string daysLeftText(const DeadlineRow& row)
{
    if (row.daysLeft == 0)
        return "today";
    if (row.daysLeft < 0)
        return core::counted(-static_cast<long long>(row.daysLeft), "day", "days") + " overdue";
    return core::counted(row.daysLeft, "day", "days");
}

std::string extensionText(const DeadlineRow& row)
{
    return row.extension == 0 ? std::string("none") : core::formatDay(row.extension);
}

std::vector<std::string> deadlineColumns()
{
    return {"Due", "Days Left", "Deadline", "Reference", "Number", "Trademark", "Extension/Grace", "Note"};
}

std::string deadlineCell(const DeadlineRow& row, int column)
{
    switch (column) {
    case 0:
        return core::formatDay(row.due);
    case 1:
        return daysLeftText(row);
    case 2:
        return row.kind;
    case 3:
        return row.reference;
    case 4:
        return row.number;
    case 5:
        return row.mark;
    case 6:
        return extensionText(row);
    case 7:
        return row.note;
    default:
        return {};
    }
}

std::vector<DeadlineLine> deadlineLines(const std::vector<DeadlineRow>& rows)
{
    if (rows.empty())
        return {{"No open deadlines.", -1}};
    std::vector<DeadlineLine> lines;
    for (size_t i = 0; i < rows.size(); ++i) {
        if (i == 0 || rows[i].band != rows[i - 1].band) {
            const auto count = std::count_if(rows.begin() + static_cast<long>(i), rows.end(),
                                             [&](const DeadlineRow& r) { return r.band == rows[i].band; });
            lines.push_back({bandText(rows[i].band) + " (" + std::to_string(count) + ")", -1});
        }
        lines.push_back({{}, static_cast<int>(i)});
    }
    return lines;
}

std::vector<int> chosenEntries(const std::vector<DeadlineRow>& rows, const std::vector<int>& chosen)
{
    std::vector<int> out;
    for (int i : chosen) {
        if (i >= 0 && i < static_cast<int>(rows.size()))
            out.insert(out.end(), rows[i].entries.begin(), rows[i].entries.end());
    }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

std::string deadlineTable(const std::vector<DeadlineRow>& rows, std::optional<int> within)
{
    if (rows.empty())
        return within ? "No deadlines in the next " + core::counted(*within, "day", "days") + ".\n"
                      : std::string("No open deadlines.\n");
    // the band first, then the window's columns
    std::vector<std::string> heading = deadlineColumns();
    heading.insert(heading.begin(), "Band");
    std::vector<std::vector<std::string>> lines{heading};
    for (const DeadlineRow& row : rows) {
        std::vector<std::string> cells{bandText(row.band)};
        for (int c = 0; c < static_cast<int>(heading.size()) - 1; ++c)
            cells.push_back(platform::utf8Text(deadlineCell(row, c)));
        lines.push_back(std::move(cells));
    }
    std::vector<size_t> widths(heading.size(), 0);
    for (const auto& cells : lines) {
        for (size_t c = 0; c < cells.size(); ++c)
            widths[c] = std::max(widths[c], columnsOf(cells[c]));
    }
    std::string out;
    for (const auto& cells : lines) {
        std::string line;
        for (size_t c = 0; c < cells.size(); ++c) {
            line += cells[c];
            if (c + 1 < cells.size())
                line.append(widths[c] - columnsOf(cells[c]) + 2, ' ');
        }
        // an empty last cell leaves no blanks behind
        while (!line.empty() && line.back() == ' ')
            line.pop_back();
        out += line + "\n";
    }
    return out;
}

void setReportDeadlines(notify::HtmlReportRenderer& renderer, const std::vector<core::Entry>& entries,
                        core::DayNumber today)
{
    std::vector<notify::ReportDeadline> shown;
    for (const DeadlineRow& row : deadlineList(entries, today, k_reportDays)) {
        std::string due = core::formatDay(row.due);
        if (!row.note.empty())
            due += " (" + row.note + ")";
        shown.push_back({row.reference, row.number, row.mark, row.kind, std::move(due), extensionText(row),
                         row.band == DeadlineBand::Overdue});
    }
    renderer.setDeadlines(std::move(shown), k_reportDays);
}

} // namespace tarnwick::app
