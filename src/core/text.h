#pragma once

#include <string>
#include <string_view>

namespace tarnwick::core {

// A count and its noun in the number it takes: "1 entry", "3 entries".
std::string counted(long long n, std::string_view one, std::string_view many);
// Replaces every occurrence of `from` by `to`, left to right, never searching
// inside inserted text. An empty `from` leaves the text unchanged.
std::string replaceAll(std::string_view text, std::string_view from, std::string_view to);
// The first occurrence of `needle` at or after `from`; linear in the text's length whatever the needle, where
// std::string::find can cost length times needle.
size_t findBytes(std::string_view text, std::string_view needle, size_t from = 0);

// The same with ASCII letters compared without regard to case: the first occurrence of the upper-cased needle
// in the upper-cased text, found without copying either. Linear in the text's length whatever the needle.
size_t findBytesNoCase(std::string_view text, std::string_view needle, size_t from = 0);

// ASCII upper-casing; other bytes unchanged.
std::string toUpperAscii(std::string_view text);

// Case-insensitive byte order that folds ASCII and Latin-1 letters (0xC0..0xDE
// except 0xD7 fold onto 0xE0..0xFE): negative, zero or positive.
int compareNoCase(std::string_view a, std::string_view b);
bool equalNoCase(std::string_view a, std::string_view b);

// The leading decimal integer of a text: leading blanks skipped, an optional
// sign, digits up to the first non-digit; 0 when there is none. Saturates
// instead of overflowing.
long leadingInteger(std::string_view text);

// "&", "<", ">", double quote and apostrophe as their XML entities.
std::string escapeXml(std::string_view text);
// Control bytes that XML 1.0 cannot carry (below 0x20 but TAB, LF and CR); escapeXml writes each as a blank.
bool isXmlForbidden(char c);

} // namespace tarnwick::core
