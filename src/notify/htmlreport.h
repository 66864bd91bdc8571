#pragma once

#include "core/reports.h"
#include "docket/deadlines.h"
#include "notify/history.h"

#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

namespace tarnwick::rules {
class TemplateVars;
}

namespace tarnwick::notify {

class TemplateStore;

// A row of the report's "Upcoming deadlines", its texts as the list gives them.
struct ReportDeadline {
    std::string reference;
    std::string number;
    std::string mark;
    std::string kind;
    std::string due; // the due day, and why it was moved when it was
    std::string extension;
    bool overdue = false;
};

// The HTML report: the head template once, the row template per entry with that entry current, the tail
// template once; every variable value HTML-escaped in UTF-8. A row links to its entry's recorded changes, which
// the tail shows in one table (the newest k_changesShown of each entry, and how many more there are).
//
// A docket of more than k_fullTableUpTo entries would make one table a browser cannot lay out in reasonable time:
// there the table holds the entries that changed in the last week, fail or have no record, and every other entry
// becomes a compact row after it, in closed parts of k_rowsPerPart rows (a browser lays out only the part opened,
// and its find-in-page still searches them all). The compact rows stand before the recorded changes.
class HtmlReportRenderer final : public core::ReportRenderer {
public:
    // `history` and `templates` may be none: no recorded changes, the built-in templates.
    explicit HtmlReportRenderer(rules::TemplateVars& vars, const HistoryText* history = nullptr,
                                TemplateStore* templates = nullptr);

    std::string head() override;
    std::string row(const core::Entry& entry) override;
    std::string tail() override;
    // The entry's next deadline: counted once for the entry's row and its element when the element is asked for
    // right after the row, as the writing of both files does.
    std::string xmlElements(const core::Entry& entry) override;

    // The head's "Upcoming deadlines" (UpcomingDeadlinesHtml): `rows`, those of the next `days` days, or a line
    // saying there are none. Without it the head shows no such section.
    void setDeadlines(std::vector<ReportDeadline> rows, int days);

    static constexpr size_t k_changesShown = 3;
    static constexpr size_t k_fullTableUpTo = 1000;
    static constexpr size_t k_rowsPerPart = 1000;

private:
    struct Section {
        std::string id;
        std::string title; // markup
        std::string number;
        std::vector<size_t> records; // those the read kept, oldest first
        size_t total = 0;            // those the history holds
    };

    std::string expandPart(const std::optional<std::string>& text);
    const std::optional<docket::Deadline>& nextDeadlineOf(const core::Entry& entry);
    std::string historyHtml() const;
    std::string deadlinesHtml() const;
    bool compactRows();
    void appendCompactRow(const core::Entry& entry);
    void closePart();
    std::string otherEntriesHtml();

    rules::TemplateVars& m_vars;
    const HistoryText* m_history;
    std::optional<HistoryIndex> m_index;
    std::optional<std::string> m_head;
    std::optional<std::string> m_row;
    std::optional<std::string> m_tail;
    std::vector<Section> m_sections;
    std::unordered_set<std::string> m_ids;
    std::optional<std::vector<ReportDeadline>> m_deadlines;
    int m_deadlineDays = 0;
    std::optional<bool> m_compact; // whether rows of unremarkable entries are compact, decided at the first row
    std::string m_others;          // the closed parts of compact rows
    std::string m_part;            // the rows of the part being filled
    std::string m_partFirst;       // the reference or number of the part's first row
    std::string m_partLast;
    size_t m_partRows = 0;
    size_t m_otherCount = 0;
    const core::Entry* m_nextOf = nullptr; // the entry of the last row, whose next deadline m_next holds
    std::optional<docket::Deadline> m_next;
};

} // namespace tarnwick::notify
