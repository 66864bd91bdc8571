#include "core/text.h"
#include "rules/pagetext.h"
#include "rules/pattern.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

using namespace tarnwick;

// Input: the pattern, a NUL byte, then the page (no NUL: all pattern, empty page).
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string_view input(reinterpret_cast<const char*>(data), size);
    size_t nul = input.find('\0');
    std::string_view pattern = input.substr(0, nul);
    std::string_view page = nul == std::string_view::npos ? std::string_view() : input.substr(nul + 1);

    (void)rules::matchPattern(page, pattern);
    (void)rules::matchPattern(rules::normalisePage(page), pattern);
    (void)rules::containsAlternative(page, pattern);

    // A text without "[||]" is one alternative: found as the plain searches find it.
    if (pattern.find("[||]") == std::string_view::npos &&
        rules::containsAlternative(page, pattern) != (rules::findInPage(page, pattern) != std::string_view::npos ||
                                                      rules::findInPageNoCase(page, pattern) != std::string_view::npos))
        std::abort();

    // The linear searches agree with the plain ones.
    for (size_t from : {size_t{0}, page.size() / 2, page.size(), page.size() + 1}) {
        size_t plain = from > page.size() ? std::string_view::npos : page.find(pattern, from);
        if (rules::findInPage(page, pattern, from) != plain)
            std::abort();
        std::string upperPage = core::toUpperAscii(page);
        size_t folded = from > page.size() ? std::string_view::npos : upperPage.find(core::toUpperAscii(pattern), from);
        if (rules::findInPageNoCase(page, pattern, from) != folded)
            std::abort();
    }
    return 0;
}
