#pragma once

#include <string>
#include <string_view>

namespace tarnwick::core {

// Text-mode files keep CR LF line ends on disk and LF in memory.

// Every LF becomes CR LF (a CR already before the LF is kept, as text mode does).
std::string toTextMode(std::string_view text);
// Every CR LF becomes LF; a lone CR stays.
std::string fromTextMode(std::string_view text);

// Walks the lines of a text-mode file held in memory, of any length. A line ends
// at LF; a CR just before that LF belongs to the line end. The last line needs no
// line end; an empty text has no lines, and a text ending in a line end has no
// empty line after it.
class LineReader {
public:
    explicit LineReader(std::string_view text) : m_text(text) {}

    // The next line without its line end; false when no line is left.
    bool next(std::string_view& line);
    bool atEnd() const { return m_pos >= m_text.size(); }

private:
    std::string_view m_text;
    size_t m_pos = 0;
};

} // namespace tarnwick::core
