#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tarnwick::rules {

// The tags that a line break goes before ("<p>", "<form>", "<input>", "<table>", "<td>") or after ("<br>",
// "<br/>"), exactly so written.
enum class LineBreak { None, Before, After };
// For the complete tag `tag` (from "<" through the first ">").
inline LineBreak lineBreakOf(std::string_view tag)
{
    switch (tag.size()) {
    case 3:
        return tag == "<p>" ? LineBreak::Before : LineBreak::None;
    case 4:
        return tag == "<td>" ? LineBreak::Before : tag == "<br>" ? LineBreak::After : LineBreak::None;
    case 5:
        return tag == "<br/>" ? LineBreak::After : LineBreak::None;
    case 6:
        return tag == "<form>" ? LineBreak::Before : LineBreak::None;
    case 7:
        return tag == "<input>" || tag == "<table>" ? LineBreak::Before : LineBreak::None;
    default:
        return LineBreak::None;
    }
}

// The last steps of the page normaliser in one sweep over a text whose line ends, comments and blanks are done:
// tags lose their attributes, go lower case and lose the blank space around them; blanks at the start of a line
// go; the line-break tags get their line breaks.
std::string sweepTags(std::string_view text);

} // namespace tarnwick::rules
