#include "rules/tagsweep.h"

#include "core/bytescan.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tarnwick::rules {

namespace {

bool isLineSpace(char c)
{
    return c == ' ' || c == '\r' || c == '\n';
}

// The sweep writes the text the three steps one after the other would leave, and holds at every moment the text
// so far as they would leave it, so that the blank space before a "<" is taken back from its end. Nothing before
// `m_settled` is taken back: a line break put after "<br>" stands where the tag step's text ends with the ">".
class TagSweep {
public:
    explicit TagSweep(std::string_view in) : m_in(in.data()), m_n(in.size())
    {
        m_out.resize(m_n + m_n / 16 + k_slack);
        m_data = m_out.data();
    }

    std::string run()
    {
        size_t pos = 0;
        while (pos < m_n) {
            if (m_lineStart && m_in[pos] == ' ') {
                pos = core::findFirstNotOf(m_in, pos, m_n, ' ', ' ', ' ');
                if (pos == m_n)
                    break;
            }
            const size_t stop = m_in[pos] == '<' ? pos : core::findFirstOf(m_in, pos, m_n, '<', '\r', '\n');
            if (stop > pos) {
                put(pos, stop);
                m_lineStart = false;
            }
            pos = stop;
            if (pos == m_n)
                break;
            if (m_in[pos] != '<') {
                // a line end and the blank space after it: the CRs and LFs stay, the blanks start a line and go;
                // when a "<" follows, the tag step takes all of it back
                const size_t end = core::findFirstNotOf(m_in, pos, m_n, ' ', '\r', '\n');
                if (end == m_n || m_in[end] != '<') {
                    putLineEnds(pos, end);
                    m_lineStart = true;
                    pos = end;
                    continue;
                }
                pos = end;
            }
            dropTrailingLineSpace();
            const size_t next = tag(pos);
            if (next == m_n + 1) {
                // a "<" without a later ">" ends the tag step: the rest keeps its case and blanks
                putLines(pos);
                break;
            }
            pos = next;
        }
        m_out.resize(m_write);
        return std::move(m_out);
    }

private:
    // Room past every write: short copies move whole sixteen-byte blocks.
    static constexpr size_t k_slack = 64;

    void reserve(size_t more)
    {
        if (m_out.size() - m_write >= more + k_slack)
            return;
        m_out.resize(std::max(m_out.size() * 2, m_write + more + k_slack));
        m_data = m_out.data();
    }
    void put(size_t from, size_t to)
    {
        const size_t n = to - from;
        reserve(n);
        if (n <= 16 && m_n - from >= 16)
            std::memcpy(m_data + m_write, m_in + from, 16);
        else
            std::memcpy(m_data + m_write, m_in + from, n);
        m_write += n;
    }
    void putLineEnds(size_t from, size_t to)
    {
        reserve(to - from);
        for (size_t i = from; i < to; ++i) {
            if (m_in[i] != ' ')
                m_data[m_write++] = m_in[i];
        }
    }
    // The rest of the text from `from` as the line-start step leaves it, no tag step applied.
    void putLines(size_t from)
    {
        while (from < m_n) {
            if (m_lineStart) {
                while (from < m_n && m_in[from] == ' ')
                    ++from;
                if (from == m_n)
                    break;
            }
            const size_t eol = core::findFirstOf(m_in, from, m_n, '\r', '\n');
            size_t end = eol;
            while (end < m_n && (m_in[end] == '\r' || m_in[end] == '\n'))
                ++end;
            put(from, end);
            m_lineStart = end > eol;
            from = end;
        }
    }
    // lineBreakOf the part of the output from `lt` to its end, with the usual tags turned away at a glance
    LineBreak lineBreakAt(size_t lt) const
    {
        const size_t length = m_write - lt;
        const char first = length >= 3 && length <= 7 ? m_data[lt + 1] : '\0';
        if (first != 'p' && first != 't' && first != 'b' && first != 'f' && first != 'i')
            return LineBreak::None;
        return lineBreakOf(std::string_view(m_data + lt, length));
    }
    void dropTrailingLineSpace()
    {
        while (m_write > m_settled && isLineSpace(m_data[m_write - 1]))
            --m_write;
    }

    // The tag at `lt`, written in canonical form with its line break; returns where the sweep goes on, or
    // m_n + 1 when no ">" follows.
    size_t tag(size_t lt)
    {
#if defined(__SSE2__)
        // most tags have their name and its end, and often the ">" after the attributes, in the sixteen bytes
        // after the "<": those are looked at once and written lower-cased in one go
        if (m_n - (lt + 1) >= 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(m_in + lt + 1));
            const auto mask = [&v](char c) {
                return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8(c))));
            };
            const unsigned blanks = mask(' ');
            const unsigned gts = mask('>');
            const unsigned ends = blanks | gts | mask('<');
            const auto name = static_cast<size_t>(__builtin_ctz(ends | 0x10000u));
            if (name < 16 && (ends & ~(blanks | gts) & (1u << name)) == 0) {
                size_t gt = lt + 1 + name;
                bool closingSlash = false;
                if ((blanks & (1u << name)) != 0) {
                    // attributes run from the first blank to the ">"; a closing "/" survives
                    const unsigned later = gts & ~((2u << name) - 1);
                    gt = later != 0 ? lt + 1 + static_cast<size_t>(__builtin_ctz(later))
                                    : core::findByte(m_in, lt + 17, m_n, '>');
                    if (gt == m_n)
                        return m_n + 1;
                    closingSlash = m_in[gt - 1] == '/';
                }
                reserve(16 + 4);
                const size_t start = m_write;
                m_data[m_write++] = '<';
                const __m128i capital =
                    _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8('A' - 1)), _mm_cmplt_epi8(v, _mm_set1_epi8('Z' + 1)));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(m_data + m_write),
                                 _mm_add_epi8(v, _mm_and_si128(capital, _mm_set1_epi8(0x20))));
                m_write += name;
                return finishTag(start, gt, closingSlash);
            }
        }
#endif
        // the name runs to the first blank or ">"; a "<" inside it is kept as written
        size_t nameEnd = core::findFirstOf(m_in, lt + 1, m_n, ' ', '>', '<');
        size_t innerLt = lt;
        while (nameEnd < m_n && m_in[nameEnd] == '<') {
            innerLt = nameEnd;
            nameEnd = core::findFirstOf(m_in, nameEnd + 1, m_n, ' ', '>', '<');
        }
        if (nameEnd == m_n)
            return m_n + 1;
        size_t gt = nameEnd;
        bool closingSlash = false;
        if (m_in[nameEnd] == ' ') {
            gt = core::findByte(m_in, nameEnd, m_n, '>');
            if (gt == m_n)
                return m_n + 1;
            closingSlash = m_in[gt - 1] == '/';
        }
        const size_t name = nameEnd - lt - 1;
        reserve(name + 16 + 4);
        const size_t lastLt = m_write + (innerLt - lt);
        m_data[m_write++] = '<';
        core::copyLowerAscii(m_data + m_write, m_in + lt + 1, name, m_n - lt - 1);
        m_write += name;
        return finishTag(lastLt, gt, closingSlash);
    }

    // The end of a tag whose "<" and name are written, the part from its last "<" at `lastLt`: the ">" (at `gt`
    // in the input) with the line break the tag takes, and the blanks after it; returns where the sweep goes on.
    size_t finishTag(size_t lastLt, size_t gt, bool closingSlash)
    {
        if (closingSlash)
            m_data[m_write++] = '/';
        m_data[m_write++] = '>';
        m_lineStart = false;
        // a line-break tag can only be the part of the tag from its last "<"
        switch (lineBreakAt(lastLt)) {
        case LineBreak::Before:
            std::memmove(m_data + lastLt + 2, m_data + lastLt, m_write - lastLt);
            m_data[lastLt] = '\r';
            m_data[lastLt + 1] = '\n';
            m_write += 2;
            break;
        case LineBreak::After:
            m_data[m_write++] = '\r';
            m_data[m_write++] = '\n';
            m_settled = m_write;
            break;
        case LineBreak::None:
            break;
        }
        // blank space up to the next "<" goes: the blanks after the ">" and the rest before the "<"
        const size_t next = core::findFirstNotOf(m_in, gt + 1, m_n, ' ', '\r', '\n');
        if (next < m_n && m_in[next] == '<')
            return next;
        size_t text = gt + 1;
        while (text < m_n && m_in[text] == ' ')
            ++text;
        if (text == m_n) {
            // blanks that end the text stay
            put(gt + 1, m_n);
        }
        return text;
    }

    const char* m_in;
    size_t m_n;
    std::string m_out;
    char* m_data;
    size_t m_write = 0;
    size_t m_settled = 0;
    // the text so far is empty or ends a line: blanks here go
    bool m_lineStart = true;
};

} // namespace

std::string sweepTags(std::string_view text)
{
    return TagSweep(text).run();
}

} // namespace tarnwick::rules
