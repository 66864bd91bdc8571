#include "notify/templates.h"

#include "core/text.h"
#include "docket/deadlines.h"
#include "resources/resources.h"
#include "rules/templatevars.h"

namespace tarnwick::notify {

namespace {

constexpr std::string_view k_cur = "%Cur%";
constexpr std::string_view k_old = "%Old%";

void appendValue(std::string& out, std::string_view value, bool escape)
{
    if (escape)
        appendEscapedHtml(out, value);
    else
        out.append(value);
}

// The chosen text of a conditional item with %Cur% (and, when `old` is given, %Old%) filled in, in one
// left-to-right sweep that never looks into what it inserted.
void appendChosen(std::string& out, std::string_view chosen, std::string_view cur, const std::string* old, bool escape)
{
    size_t from = 0;
    for (size_t pos = chosen.find('%'); pos != std::string_view::npos; pos = chosen.find('%', pos)) {
        std::string_view rest = chosen.substr(pos);
        std::string_view value;
        if (rest.starts_with(k_cur)) {
            value = cur;
        } else if (old != nullptr && rest.starts_with(k_old)) {
            value = *old;
        } else {
            ++pos;
            continue;
        }
        out.append(chosen, from, pos - from);
        appendValue(out, value, escape);
        pos += k_cur.size();
        from = pos;
    }
    out.append(chosen, from);
}

void expandItem(std::string_view content, const VariableLookup& lookup, std::string& out, ExpandOptions options)
{
    constexpr auto npos = std::string_view::npos;
    const size_t eq = content.find('=');
    const size_t afterEq = eq == npos ? 0 : eq + 1;
    const size_t q = content.find('?', afterEq);
    const size_t bar = content.find('|', q == npos ? afterEq : q + 1);

    const size_t nameEnd = eq != npos ? eq : (q != npos ? q : bar);
    std::string_view name = content.substr(0, nameEnd);
    const bool escape = options.escapeValues && !core::equalNoCase(name, "CourtesyHtml");
    const std::string cur = lookup(name);
    if (nameEnd == npos) {
        appendValue(out, cur, escape);
        return;
    }

    bool holds;
    std::string old;
    if (eq != npos) {
        size_t compareEnd = q != npos ? q : bar;
        std::string_view compare =
            compareEnd == npos ? content.substr(afterEq) : content.substr(afterEq, compareEnd - afterEq);
        holds = core::equalNoCase(cur, compare);
    } else {
        std::string oldName(name);
        oldName += "Old";
        old = lookup(oldName);
        holds = cur == old;
    }

    std::string_view chosen;
    if (holds) {
        if (q != npos)
            chosen = bar == npos ? content.substr(q + 1) : content.substr(q + 1, bar - q - 1);
    } else if (bar != npos) {
        chosen = content.substr(bar + 1);
    }
    appendChosen(out, chosen, cur, eq == npos ? &old : nullptr, escape);
}

} // namespace

std::optional<std::string_view> loadTemplate(int id)
{
    return resources::templateText(id);
}

void appendEscapedHtml(std::string& out, std::string_view text)
{
    size_t from = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        std::string_view entity;
        switch (text[i]) {
        case '&':
            entity = "&amp;";
            break;
        case '<':
            entity = "&lt;";
            break;
        case '>':
            entity = "&gt;";
            break;
        case '"':
            entity = "&quot;";
            break;
        case '\'':
            entity = "&#39;";
            break;
        default:
            // a control byte from a page is no character of the report: a blank
            if (!core::isXmlForbidden(text[i]))
                continue;
            entity = " ";
        }
        out.append(text, from, i - from);
        out.append(entity);
        from = i + 1;
    }
    out.append(text, from);
}

std::string escapeHtml(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    appendEscapedHtml(out, text);
    return out;
}

void expandTemplate(std::string_view text, const VariableLookup& lookup, std::string& out, ExpandOptions options)
{
    constexpr auto npos = std::string_view::npos;
    out.reserve(out.size() + text.size());
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t open = text.find('[', pos);
        if (open == npos)
            break;
        out.append(text, pos, open - pos);
        const size_t close = text.find(']', open + 1);
        if (close == npos) {
            pos = open;
            break;
        }
        if (close + 1 < text.size() && text[close + 1] == ']') {
            out += ']';
            pos = close + 2;
            continue;
        }
        std::string_view content = text.substr(open + 1, close - open - 1);
        if (content.empty() || content.front() == '[')
            out += text[open + 1];
        else
            expandItem(content, lookup, out, options);
        pos = close + 1;
    }
    if (pos < text.size())
        out.append(text, pos);
}

void expandTemplate(std::string_view text, const rules::TemplateVars& vars, std::string& out, ExpandOptions options)
{
    expandTemplate(
        text, [&vars](std::string_view name) { return vars.lookup(name); }, out, options);
}

std::string expandTemplate(std::string_view text, const rules::TemplateVars& vars, ExpandOptions options)
{
    std::string out;
    expandTemplate(text, vars, out, options);
    return out;
}

std::string expandTemplateId(int id, const rules::TemplateVars& vars, ExpandOptions options)
{
    std::optional<std::string_view> text = loadTemplate(id);
    return text ? expandTemplate(*text, vars, options) : std::string();
}

HtmlReportRenderer::HtmlReportRenderer(rules::TemplateVars& vars)
    : m_vars(vars), m_head(loadTemplate(templateid::ReportHead)), m_row(loadTemplate(templateid::ReportRow)),
      m_tail(loadTemplate(templateid::ReportTail))
{
}

std::string HtmlReportRenderer::head()
{
    return m_head ? expandTemplate(*m_head, m_vars, {.escapeValues = true}) : std::string();
}

std::string HtmlReportRenderer::row(const core::Entry& entry)
{
    if (!m_row)
        return {};
    rules::CurrentEntryScope scope(m_vars, &entry, nullptr);
    return expandTemplate(*m_row, m_vars, {.escapeValues = true});
}

std::string HtmlReportRenderer::tail()
{
    return m_tail ? expandTemplate(*m_tail, m_vars, {.escapeValues = true}) : std::string();
}

std::string HtmlReportRenderer::xmlElements(const core::Entry& entry)
{
    return docket::deadlineElement(entry);
}

} // namespace tarnwick::notify
