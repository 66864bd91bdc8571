#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tarnwick::rules {

class RulesFile;

// The first occurrence of `literal` in `page` at or after `from`, or npos. Long
// literals are sought with a skip table, so anchors that nearly match all over
// a large page cost little more than one look per literal length.
size_t findInPage(std::string_view page, std::string_view literal, size_t from = 0);
// The same with ASCII letters compared without regard to case (as when page and
// literal are both upper-cased), without copying the page.
size_t findInPageNoCase(std::string_view page, std::string_view literal, size_t from = 0);

// Runs a field pattern over a normalised page: literal anchors in order, with
// "[*]" / "[*N...]" capturing into nine slots and other tokens skipping. Text
// after the first "[--]" is matched backwards from its last anchor. The slots
// are joined in slot order after their edits; empty when the pattern fails.
// "[||]" divides alternatives, tried in order: the first that matches counts.
std::string matchPattern(std::string_view page, std::string_view pattern);

// Whether the page holds one of the texts divided by "[||]", each sought exactly
// and then with page and text upper-cased.
bool containsAlternative(std::string_view page, std::string_view texts);

// One field's value: the pattern under `key` in `section` run over the page,
// cleaned into a value unless `raw` is set, then the office's "not available"
// wording (the key "none" + `key`) exchanged for its replacement.
std::string extractField(std::string_view page, const RulesFile& rules, std::string_view section, std::string_view key,
                         bool raw = false);

} // namespace tarnwick::rules
