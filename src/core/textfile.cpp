#include "core/textfile.h"

#include <algorithm>

namespace tarnwick::core {

std::string toTextMode(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + static_cast<size_t>(std::count(text.begin(), text.end(), '\n')));
    size_t pos = 0;
    for (;;) {
        size_t lf = text.find('\n', pos);
        if (lf == std::string_view::npos)
            break;
        out.append(text, pos, lf - pos);
        out += "\r\n";
        pos = lf + 1;
    }
    out.append(text, pos, std::string_view::npos);
    return out;
}

std::string fromTextMode(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    size_t pos = 0;
    for (;;) {
        size_t crlf = text.find("\r\n", pos);
        if (crlf == std::string_view::npos)
            break;
        out.append(text, pos, crlf - pos);
        out += '\n';
        pos = crlf + 2;
    }
    out.append(text, pos, std::string_view::npos);
    return out;
}

bool LineReader::next(std::string_view& line)
{
    if (m_pos >= m_text.size())
        return false;
    size_t lf = m_text.find('\n', m_pos);
    size_t end = lf == std::string_view::npos ? m_text.size() : lf;
    size_t stop = end;
    if (lf != std::string_view::npos && stop > m_pos && m_text[stop - 1] == '\r')
        --stop;
    line = m_text.substr(m_pos, stop - m_pos);
    m_pos = lf == std::string_view::npos ? m_text.size() : lf + 1;
    return true;
}

} // namespace tarnwick::core
