// The template expander on arbitrary templates and variable values. Input: the
// template, a NUL byte, then variable values separated by 0x01. The values fill
// a small table of names and the fields of a current and a previous entry.
#include "core/entry.h"
#include "notify/templates.h"
#include "rules/templatevars.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

using namespace tarnwick;

namespace {

class FuzzNames final : public rules::TemplateVars::AppNames {
public:
    std::vector<std::string> values;
    std::optional<std::string> value(std::string_view name) const override
    {
        static constexpr std::string_view k_names[] = {"A", "AOld", "B", "CourtesyHtml"};
        for (size_t i = 0; i < std::size(k_names) && i < values.size(); ++i) {
            if (name == k_names[i])
                return values[i];
        }
        return std::nullopt;
    }
};

// Text that a report can show as it is: valid UTF-8 with no markup character, no control character but tab and
// line ends, no DEL, C1 control or non-character, and every "&" opening an entity.
bool plainHtmlText(std::string_view text)
{
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '<' || c == '>' || c == '"' || c == '\'' || c == 0x7F ||
            (c < 0x20 && c != '\t' && c != '\n' && c != '\r'))
            return false;
        if (c == '&') {
            const size_t semicolon = text.find(';', i);
            if (semicolon == std::string_view::npos || semicolon - i > 5)
                return false;
            i = semicolon + 1;
            continue;
        }
        if (c < 0x80) {
            ++i;
            continue;
        }
        const size_t length = c >= 0xF0 ? 4 : (c >= 0xE0 ? 3 : (c >= 0xC2 ? 2 : 0));
        if (length == 0 || c > 0xF4 || i + length > text.size())
            return false;
        char32_t cp = c & (0x7F >> length);
        for (size_t k = 1; k < length; ++k) {
            const auto follow = static_cast<unsigned char>(text[i + k]);
            if ((follow & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (follow & 0x3F);
        }
        const bool overlong = (length == 3 && cp < 0x800) || (length == 4 && cp < 0x10000);
        const bool nonCharacter = (cp >= 0xFDD0 && cp <= 0xFDEF) || (cp & 0xFFFE) == 0xFFFE;
        if (overlong || nonCharacter || cp <= 0x9F || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF)
            return false;
        i += length;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string_view input(reinterpret_cast<const char*>(data), size);
    size_t nul = input.find('\0');
    std::string_view text = input.substr(0, nul);
    FuzzNames names;
    if (nul != std::string_view::npos) {
        std::string_view rest = input.substr(nul + 1);
        for (;;) {
            size_t sep = rest.find('\x01');
            names.values.emplace_back(rest.substr(0, sep));
            if (sep == std::string_view::npos)
                break;
            rest.remove_prefix(sep + 1);
        }
    }
    auto field = [&names](size_t i) { return i + 4 < names.values.size() ? names.values[i + 4] : std::string(); };

    core::Entry current(45000);
    current.Reference = field(0);
    current.StatusText = field(1);
    current.Trademark = field(2);
    core::Entry previous(45000);
    previous.Reference = field(3);
    previous.StatusText = field(4);

    rules::TemplateVars vars;
    vars.setAppNames(&names);
    rules::CurrentEntryScope scope(vars, &current, &previous);

    std::string plain = notify::expandTemplate(text, vars);
    std::string escaped = notify::expandTemplate(text, vars, {.escapeValues = true});
    // without a "[" the template is copied unchanged
    if (text.find('[') == std::string_view::npos && (plain != text || escaped != text))
        std::abort();
    // an escaped value adds no markup: the template's own text is all of it, and the plain expansion holds
    // that too, together with whatever the values bring
    for (char markup : {'<', '>', '"', '\''}) {
        if (std::count(escaped.begin(), escaped.end(), markup) > std::count(plain.begin(), plain.end(), markup))
            std::abort();
    }
    // escaping gives each character of a value back as itself, an entity or a blank (a control character or
    // a non-character); the blank is the one way it gets shorter, and never by more than three bytes in four
    if (escaped.size() * 4 < plain.size())
        std::abort();
    for (const std::string& value : names.values) {
        const std::string html = notify::escapeHtml(value);
        if (!plainHtmlText(html))
            std::abort();
    }
    return 0;
}
