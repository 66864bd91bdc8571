#include "notify/htmlreport.h"

#include "core/entry.h"
#include "core/identifier.h"
#include "core/text.h"
#include "docket/deadlines.h"
#include "notify/templates.h"
#include "notify/usertemplates.h"
#include "rules/templatevars.h"

#include <cstdlib>

namespace tarnwick::notify {

namespace {

std::string rowClass(const core::Entry& entry)
{
    std::string out;
    auto add = [&out](std::string_view name) {
        if (!out.empty())
            out += ' ';
        out += name;
    };
    if (entry.recentlyChanged())
        add("recent");
    if (core::hasNoRecordError(entry))
        add("norecord");
    else if (!entry.Error.empty())
        add("failing");
    return out;
}

// An id of the page for the entry's history: "h-" and its number in letters, digits and "-".
std::string sectionId(const core::Entry& entry)
{
    std::string id = "h-";
    for (char c : historyNumber(entry)) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
        id += plain ? c : '_';
    }
    return id;
}

void appendCell(std::string& out, std::string_view value)
{
    out += "<td>";
    if (value.empty())
        out += "<span class=\"none\">(nothing)</span>";
    else
        appendEscapedHtml(out, value);
    out += "</td>";
}

} // namespace

HtmlReportRenderer::HtmlReportRenderer(rules::TemplateVars& vars, const HistoryText* history, TemplateStore* templates)
    : m_vars(vars), m_history(history && !history->records.empty() ? history : nullptr),
      m_head(templateInUse(templates, templateid::ReportHead)), m_row(templateInUse(templates, templateid::ReportRow)),
      m_tail(templateInUse(templates, templateid::ReportTail))
{
    if (m_history)
        m_index.emplace(*m_history);
}

std::string HtmlReportRenderer::expandPart(const std::optional<std::string>& text)
{
    if (!text)
        return {};
    std::string out;
    expandTemplate(*text,
                   [this](std::string_view name) {
                       if (core::equalNoCase(name, extraname::UpcomingDeadlines))
                           return deadlinesHtml();
                       return core::equalNoCase(name, extraname::History) ? otherEntriesHtml() + historyHtml()
                                                                          : m_vars.lookup(name);
                   },
                   out, {.escapeValues = true});
    return out;
}

std::string HtmlReportRenderer::head()
{
    return expandPart(m_head);
}

const std::optional<docket::Deadline>& HtmlReportRenderer::nextDeadlineOf(const core::Entry& entry)
{
    if (m_nextOf != &entry) {
        m_next = docket::nextDeadline(entry, entry.Today);
        m_nextOf = &entry;
    }
    return m_next;
}

std::string HtmlReportRenderer::row(const core::Entry& entry)
{
    m_nextOf = nullptr;
    if (!m_row)
        return {};
    const std::string classes = rowClass(entry);
    if (classes.empty() && compactRows()) {
        appendCompactRow(entry);
        return {};
    }
    std::string link;
    if (m_index) {
        std::vector<size_t> records = m_index->of(entry);
        if (!records.empty()) {
            Section section;
            section.id = sectionId(entry);
            for (int n = 2; m_ids.contains(section.id); ++n)
                section.id = sectionId(entry) + "-" + std::to_string(n);
            m_ids.insert(section.id);
            if (!entry.Reference.empty()) {
                appendEscapedHtml(section.title, entry.Reference);
                section.title += " &middot; ";
            }
            section.title += "<span>";
            appendEscapedHtml(section.title, core::identifierText(entry));
            section.title += "</span>";
            section.number = historyNumber(entry);
            section.total = m_index->count(entry);
            link = "<a class=\"history\" href=\"#" + section.id + "\">" + std::to_string(section.total) +
                   (section.total == 1 ? " change" : " changes") + "</a>";
            section.records = std::move(records);
            m_sections.push_back(std::move(section));
        }
    }
    rules::CurrentEntryScope scope(m_vars, &entry, nullptr);
    std::string out;
    expandTemplate(*m_row,
                   [&](std::string_view name) {
                       if (core::equalNoCase(name, extraname::RowClass))
                           return classes;
                       if (core::equalNoCase(name, extraname::HistoryLink))
                           return link;
                       // the next deadline's names, from the deadline the row counted once (no other name
                       // answers them); empty reads "-" as for every name
                       if (std::optional<std::string> value = docket::deadlineVariable(nextDeadlineOf(entry), name))
                           return value->empty() ? std::string("-") : std::move(*value);
                       return m_vars.lookup(name);
                   },
                   out, {.escapeValues = true});
    return out;
}

std::string HtmlReportRenderer::tail()
{
    m_nextOf = nullptr;
    std::string out = expandPart(m_tail);
    // a tail of the user's own that leaves out the recorded changes still shows the other entries, before the
    // page's end
    if (std::string others = otherEntriesHtml(); !others.empty()) {
        const size_t end = out.rfind("</body>");
        out.insert(end == std::string::npos ? out.size() : end, others);
    }
    return out;
}

std::string HtmlReportRenderer::historyHtml() const
{
    if (m_sections.empty())
        return {};
    // one table, a row group per entry that the entry's row links to
    std::string out = "<section id=\"history\">\r\n<h2>Recorded changes</h2>\r\n<table class=\"changes\">\r\n"
                      "<thead><tr><th scope=\"col\">Found</th><th scope=\"col\">Field</th><th scope=\"col\">Was</th>"
                      "<th scope=\"col\">Now</th></tr></thead>\r\n";
    for (const Section& s : m_sections) {
        out += "<tbody id=\"" + s.id + "\"><tr><th colspan=\"4\" scope=\"rowgroup\">" + s.title + "</th></tr>\r\n";
        const size_t shown = std::min(s.records.size(), k_changesShown);
        for (size_t k = 0; k < shown; ++k) {
            const ChangeRecord& r = m_history->records[s.records[s.records.size() - 1 - k]];
            out += "<tr><td>" + r.date + "</td><td>";
            appendEscapedHtml(out, fieldCaption(r.field));
            out += "</td>";
            appendCell(out, r.oldValue);
            appendCell(out, r.newValue);
            out += "</tr>\r\n";
        }
        if (s.total > shown) {
            const size_t earlier = s.total - shown;
            out += "<tr class=\"more\"><td colspan=\"4\">" + std::to_string(earlier) +
                   (earlier == 1 ? " earlier change" : " earlier changes") + ": <code>tarnwick-cli history ";
            appendEscapedHtml(out, s.number);
            out += "</code></td></tr>\r\n";
        }
        out += "</tbody>\r\n";
    }
    out += "</table>\r\n<p class=\"back\"><a href=\"#entries\">Back to the list</a></p>\r\n</section>\r\n";
    return out;
}

bool HtmlReportRenderer::compactRows()
{
    if (!m_compact)
        m_compact = std::strtoull(m_vars.lookup("CountEntry").c_str(), nullptr, 10) > k_fullTableUpTo;
    return *m_compact;
}

void HtmlReportRenderer::appendCompactRow(const core::Entry& entry)
{
    if (m_partRows == k_rowsPerPart)
        closePart();
    std::string label = entry.Reference.empty() ? core::identifierText(entry) : entry.Reference;
    if (m_partRows == 0)
        m_partFirst = label;
    m_partLast = std::move(label);
    // the fields as the data file keeps them, read directly: a template lookup per cell would cost more than the row
    const std::string next = docket::deadlineText(nextDeadlineOf(entry));
    // a cell and a row end where the next begins: their end tags would be a quarter of the page
    m_part += "<tr>";
    for (const std::string* value :
         {&entry.Reference, &entry.SerNum, &entry.RegNum, &entry.IntNum, &entry.Trademark, &entry.StatusDate, &next}) {
        m_part += "<td>";
        appendEscapedHtml(m_part, *value);
    }
    m_part += "\r\n";
    ++m_partRows;
    ++m_otherCount;
}

void HtmlReportRenderer::closePart()
{
    if (m_partRows == 0)
        return;
    const size_t first = m_otherCount - m_partRows + 1;
    m_others += "<details><summary>" + std::to_string(first) + "&ndash;" + std::to_string(m_otherCount) + ": ";
    appendEscapedHtml(m_others, m_partFirst);
    m_others += " &hellip; ";
    appendEscapedHtml(m_others, m_partLast);
    m_others += "</summary>\r\n<table class=\"others\">\r\n<thead><tr><th scope=\"col\">Reference</th>"
                "<th scope=\"col\">Application #</th><th scope=\"col\">Reg #</th><th scope=\"col\">Int Reg #</th>"
                "<th scope=\"col\">Trademark</th><th scope=\"col\">Status Date</th>"
                "<th scope=\"col\">Next Deadline</th></tr></thead>\r\n<tbody>\r\n";
    m_others += m_part;
    m_others += "</tbody>\r\n</table>\r\n</details>\r\n";
    m_part.clear();
    m_partRows = 0;
}

std::string HtmlReportRenderer::otherEntriesHtml()
{
    closePart();
    if (m_others.empty())
        return {};
    std::string out = "<section id=\"others\">\r\n<h2>Other entries</h2>\r\n<p>" + std::to_string(m_otherCount) +
                      (m_otherCount == 1 ? " other entry" : " other entries") +
                      " (no change in the last week, no failure), in parts of " + std::to_string(k_rowsPerPart) +
                      " in the order of the list; open a part to see its entries.</p>\r\n";
    out += m_others;
    out += "</section>\r\n";
    m_others.clear();
    return out;
}

void HtmlReportRenderer::setDeadlines(std::vector<ReportDeadline> rows, int days)
{
    m_deadlines = std::move(rows);
    m_deadlineDays = days;
}

std::string HtmlReportRenderer::deadlinesHtml() const
{
    if (!m_deadlines)
        return {};
    std::string out = "<section id=\"deadlines\">\r\n<h2>Upcoming deadlines</h2>\r\n";
    if (m_deadlines->empty())
        return out + "<p>No deadlines in the next " + std::to_string(m_deadlineDays) + " days.</p>\r\n</section>\r\n";
    out += "<table class=\"deadlines\">\r\n<thead><tr><th scope=\"col\">Reference</th><th scope=\"col\">Number</th>"
           "<th scope=\"col\">Trademark</th><th scope=\"col\">Deadline</th><th scope=\"col\">Due</th>"
           "<th scope=\"col\">Extension/Grace</th></tr></thead>\r\n<tbody>\r\n";
    for (const ReportDeadline& d : *m_deadlines) {
        out += d.overdue ? "<tr class=\"overdue\">" : "<tr>";
        for (const std::string* cell : {&d.reference, &d.number, &d.mark, &d.kind, &d.due, &d.extension}) {
            out += "<td>";
            appendEscapedHtml(out, *cell);
            if (cell == &d.due && d.overdue)
                out += " <span class=\"badge overdue\">overdue</span>";
            out += "</td>";
        }
        out += "</tr>\r\n";
    }
    return out + "</tbody>\r\n</table>\r\n</section>\r\n";
}

std::string HtmlReportRenderer::xmlElements(const core::Entry& entry)
{
    if (m_nextOf != &entry)
        return docket::deadlineElement(entry);
    // the deadline of the row just written serves once: the entry may change before it is exported again
    m_nextOf = nullptr;
    return docket::deadlineElement(m_next);
}

} // namespace tarnwick::notify
