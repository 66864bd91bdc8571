#pragma once

#include <string>
#include <string_view>

namespace tarnwick::rules {

// A fetched page in canonical form: no comments, no attributes, lower-case tags,
// no blank space around tags, CR LF lines, a line break before each block tag
// and after each line-break tag.
using PageText = std::string;

// `contentType` is the HTTP Content-Type the page came with, if any: with the page's own declarations it tells
// whether the byte 0xA0 is a no-break space (an 8-bit page) or part of a letter (UTF-8, where C2 A0 is one).
PageText normalisePage(std::string_view page, std::string_view contentType = {});
// The line-break step alone; applied to pattern literals too.
std::string insertLineBreaks(std::string_view text);
// Comments and tags out, "&nbsp;" to a blank, line starts trimmed, the five entities decoded.
std::string cleanValue(std::string_view text);
// Runs of blank, TAB, CR, LF and 0xA0 become one blank; none at either end. A 0xA0 inside a well-formed UTF-8
// letter is part of it.
std::string collapseSpaces(std::string_view text);
// Blanks off both ends; a lone "-" becomes the empty text.
std::string trimValue(std::string_view text);

} // namespace tarnwick::rules
