#include "notify/templates.h"

#include "core/text.h"
#include "platform/terminal.h"
#include "resources/resources.h"
#include "rules/templatevars.h"

#include <algorithm>

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
    const bool escape = options.escapeValues && !isMarkupName(name);
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

void appendEscapedHtml(std::string& out, std::string_view bytes)
{
    // the text is copied into UTF-8 only when it holds a byte beyond ASCII: a report escapes every value of every row
    std::string converted;
    std::string_view text = bytes;
    if (std::any_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; })) {
        converted = platform::toCodeset(bytes, "UTF-8");
        text = converted;
    }
    size_t from = 0;
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        size_t length = 1;
        std::string_view entity;
        if (c >= 0x80) {
            // a valid sequence: the conversion made it so
            length = c >= 0xF0 ? 4 : (c >= 0xE0 ? 3 : 2);
            char32_t cp = c & (0x7F >> length);
            for (size_t k = 1; k < length && i + k < text.size(); ++k)
                cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
            const bool c1 = cp <= 0x9F;
            const bool nonCharacter = (cp >= 0xFDD0 && cp <= 0xFDEF) || (cp & 0xFFFE) == 0xFFFE;
            if (!c1 && !nonCharacter) {
                i += length;
                continue;
            }
            entity = " ";
        } else if (c == '&') {
            entity = "&amp;";
        } else if (c == '<') {
            entity = "&lt;";
        } else if (c == '>') {
            entity = "&gt;";
        } else if (c == '"') {
            entity = "&quot;";
        } else if (c == '\'') {
            entity = "&#39;";
        } else if (core::isXmlForbidden(static_cast<char>(c)) || c == 0x7F) {
            // a control byte from a page is no character of the report: a blank
            entity = " ";
        } else {
            ++i;
            continue;
        }
        out.append(text, from, i - from);
        out.append(entity);
        i += length;
        from = i;
    }
    out.append(text, from);
}

bool isMarkupName(std::string_view name)
{
    constexpr std::string_view suffix = "Html";
    return name.size() > suffix.size() && core::equalNoCase(name.substr(name.size() - suffix.size()), suffix);
}

std::string escapeHtml(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    appendEscapedHtml(out, text);
    return out;
}

bool isMessageText(std::string_view text)
{
    for (std::string_view tag : {"Subject:", "To:", "Cc:"}) {
        if (text.size() >= tag.size() && core::equalNoCase(text.substr(0, tag.size()), tag))
            return true;
    }
    return false;
}

std::string headerSafe(std::string_view value)
{
    std::string out;
    out.reserve(value.size());
    for (size_t i = 0; i < value.size(); ++i) {
        const auto c = static_cast<unsigned char>(value[i]);
        const bool c1 = c == 0xC2 && i + 1 < value.size() && static_cast<unsigned char>(value[i + 1]) >= 0x80 &&
                        static_cast<unsigned char>(value[i + 1]) <= 0x9F;
        if ((c < 0x20 && c != '\t') || c == 0x7F || c1) {
            out += ' ';
            i += c1 ? 1 : 0;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

void expandTemplate(std::string_view text, const VariableLookup& lookup, std::string& out, ExpandOptions options)
{
    constexpr auto npos = std::string_view::npos;
    // in a message's header no value may end a line or start one of its own; the body keeps its line breaks
    size_t headerEnd = 0;
    if (isMessageText(text)) {
        const size_t blank = text.find("\r\n\r\n");
        headerEnd = blank == npos ? text.size() : blank;
    }
    const VariableLookup headerLookup = [&lookup](std::string_view name) { return headerSafe(lookup(name)); };

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
            expandItem(content, open < headerEnd ? headerLookup : lookup, out, options);
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

void expandMailTemplate(std::string_view text, const rules::TemplateVars& vars, std::string& out)
{
    expandTemplate(text, vars, out);
}

} // namespace tarnwick::notify
