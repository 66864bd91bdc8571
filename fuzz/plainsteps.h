#pragma once

// Slow, literal renderings of the page-text steps that the normaliser and the
// value clean-up share (erase in a loop: obviously right, never fast). The
// fuzzers compare the real, linear steps against them.

#include <cstddef>
#include <string>

namespace tarnwick::fuzz {

// "<!--" through the next "-->" goes; the search resumes where the removal was.
inline void plainRemoveComments(std::string& s)
{
    for (size_t pos = 0;;) {
        const size_t open = s.find("<!--", pos);
        const size_t close = open == std::string::npos ? std::string::npos : s.find("-->", open);
        if (close == std::string::npos)
            break;
        s.erase(open, close + 3 - open);
        pos = open;
    }
}

// Blanks at the start of the text and after every run of CR and LF go.
inline void plainTrimLineStarts(std::string& s)
{
    for (size_t pos = 0;;) {
        size_t end = pos;
        while (end < s.size() && s[end] == ' ')
            ++end;
        s.erase(pos, end - pos);
        const size_t eol = s.find_first_of("\r\n", pos);
        if (eol == std::string::npos)
            break;
        size_t next = eol;
        while (next < s.size() && (s[next] == '\r' || s[next] == '\n'))
            ++next;
        if (next == s.size())
            break;
        pos = next;
    }
}

} // namespace tarnwick::fuzz
