#pragma once

#include "core/reports.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tarnwick::rules {
class TemplateVars;
}

namespace tarnwick::notify {

// The built-in templates by role.
namespace templateid {
constexpr int Activity = 1;
constexpr int EntryAdded = 2;
constexpr int EntryChanged = 3;
constexpr int EntryDeleted = 4;
constexpr int TestMail = 5;
constexpr int ReportHead = 6;
constexpr int ReportRow = 7;
constexpr int ReportTail = 8;
constexpr int StatusUpdate = 9;
constexpr int Welcome = 10;
constexpr int Upgrade = 12;
constexpr int Problem = 13;
} // namespace templateid

// The built-in text of template `id`; none when it is missing or empty (it then expands to nothing).
std::optional<std::string_view> loadTemplate(int id);

// "&", "<", ">", double quote and apostrophe as HTML character references.
std::string escapeHtml(std::string_view text);
void appendEscapedHtml(std::string& out, std::string_view text);

// Where the expander takes the values of its variables from.
using VariableLookup = std::function<std::string(std::string_view name)>;

struct ExpandOptions {
    // HTML-escape every variable value (the report templates); CourtesyHtml is markup and stays as it is.
    bool escapeValues = false;
};

// Appends the expansion of `text` to `out`. Plain items "[Name]" give the value of Name; conditional items
// "[Name=value?then|else]" or "[Name?then|else]" (the latter compares with NameOld) give the chosen text with
// "%Cur%" (and "%Old%") filled in. "[]]" and "[]" give "]", "[[]" gives "[", an unterminated "[" is copied.
void expandTemplate(std::string_view text, const VariableLookup& lookup, std::string& out, ExpandOptions options = {});
void expandTemplate(std::string_view text, const rules::TemplateVars& vars, std::string& out,
                    ExpandOptions options = {});
std::string expandTemplate(std::string_view text, const rules::TemplateVars& vars, ExpandOptions options = {});

// Loads template `id` and expands it; the empty text when the template is missing.
std::string expandTemplateId(int id, const rules::TemplateVars& vars, ExpandOptions options = {});

// The HTML report: the head template once, the row template per entry with that entry current, the tail
// template once; every variable value HTML-escaped.
class HtmlReportRenderer final : public core::ReportRenderer {
public:
    explicit HtmlReportRenderer(rules::TemplateVars& vars);

    std::string head() override;
    std::string row(const core::Entry& entry) override;
    std::string tail() override;
    // The entry's next deadline.
    std::string xmlElements(const core::Entry& entry) override;

private:
    rules::TemplateVars& m_vars;
    std::optional<std::string_view> m_head;
    std::optional<std::string_view> m_row;
    std::optional<std::string_view> m_tail;
};

} // namespace tarnwick::notify
