// The template expander on arbitrary templates and variable values. Input: the
// template, a NUL byte, then variable values separated by 0x01. The values fill
// a small table of names and the fields of a current and a previous entry.
#include "core/entry.h"
#include "notify/templates.h"
#include "rules/templatevars.h"

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
    // escaping adds bytes to values only; it never loses any
    if (escaped.size() < plain.size())
        std::abort();
    return 0;
}
