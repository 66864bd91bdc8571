#include "rules/pagetext.h"

#include "core/bytescan.h"
#include "core/text.h"
#include "rules/pagecharset.h"
#include "rules/tagsweep.h"

#include <algorithm>
#include <cstring>
#include <optional>

namespace tarnwick::rules {

// Every step below reads its input once and builds its output in one sweep.
// Where a step is a chain of replacements whose search texts can neither
// overlap one another nor be formed by an earlier replacement, the chain is
// done as one pass with the same result.

namespace {

constexpr size_t k_npos = std::string_view::npos;

// The first `c` in text[from, to), or k_npos.
size_t findIn(std::string_view text, char c, size_t from, size_t to)
{
    // tags and the text between them are mostly short: a few bytes are looked at
    // before the call
    const size_t near = std::min(to, from + 16);
    for (size_t i = from; i < near; ++i) {
        if (text[i] == c)
            return i;
    }
    if (near >= to)
        return k_npos;
    const void* hit = std::memchr(text.data() + near, c, to - near);
    return hit ? static_cast<size_t>(static_cast<const char*>(hit) - text.data()) : k_npos;
}

// The first `what` at or after `from`, or k_npos; the scan looks for the byte
// what[key], best the one that is rarest in a page.
size_t findText(std::string_view text, std::string_view what, size_t from, size_t key = 0)
{
    const size_t n = text.size();
    for (size_t at = findIn(text, what[key], from + key, n); at != k_npos; at = findIn(text, what[key], at + 1, n)) {
        const size_t start = at - key;
        if (n - start < what.size())
            return k_npos;
        size_t i = 0;
        while (i < what.size() && text[start + i] == what[i])
            ++i;
        if (i == what.size())
            return start;
    }
    return k_npos;
}

// Calls `line(from, to)` for each line of `text` without the blanks at its start;
// a line includes the run of CR and LF that ends it.
template <typename LineFn> void forEachTrimmedLine(std::string_view text, LineFn line)
{
    const size_t n = text.size();
    size_t nextCr = findIn(text, '\r', 0, n);
    size_t nextLf = findIn(text, '\n', 0, n);
    size_t pos = 0;
    while (pos < n) {
        while (pos < n && text[pos] == ' ')
            ++pos;
        if (nextCr < pos)
            nextCr = findIn(text, '\r', pos, n);
        if (nextLf < pos)
            nextLf = findIn(text, '\n', pos, n);
        size_t eol = std::min({nextCr, nextLf, n});
        while (eol < n && (text[eol] == '\r' || text[eol] == '\n'))
            ++eol;
        line(pos, eol);
        pos = eol;
    }
}

bool startsWithAt(std::string_view text, size_t at, std::string_view what)
{
    if (text.size() - at < what.size())
        return false;
    for (size_t i = 0; i < what.size(); ++i) {
        if (text[at + i] != what[i])
            return false;
    }
    return true;
}

// The steps that only ever shorten the text work in place: bytes are read at or
// after the read position and written at the write position, which never
// overtakes it, so what is still to be read is always the step's own input.
class InPlace {
public:
    explicit InPlace(std::string& text) : m_text(text), m_data(text.data()), m_view(text) {}
    InPlace(const InPlace&) = delete;
    InPlace& operator=(const InPlace&) = delete;

    std::string_view input() const { return m_view; }
    char* data() { return m_data; }
    // Keeps input[from, from + n) as the next output.
    void keep(size_t from, size_t n)
    {
        if (from != m_write && n > 0)
            std::memmove(m_data + m_write, m_data + from, n);
        m_write += n;
    }
    void put(char c) { m_data[m_write++] = c; }
    void finish() { m_text.resize(m_write); }

private:
    std::string& m_text;
    char* m_data;
    std::string_view m_view;
    size_t m_write = 0;
};

// Line ends and comments in one copy into `out`: a page without any CR LF gets
// CR LF for each LF (a page with one keeps its lone LFs), and "<!--" through
// the first "-->" at or after it goes. Neither "<!--" nor "-->" holds a line
// end, so the comments are the same whether looked for before or after the
// line ends change.
void copyWithoutComments(std::string_view in, std::string& out)
{
    const bool keepLineEnds = findText(in, "\r\n", 0) != k_npos;
    const size_t n = in.size();
    const size_t lineFeeds = keepLineEnds ? 0 : core::countByte(in.data(), n, '\n');
    out.resize(n + lineFeeds);
    char* data = out.data();
    size_t write = 0;
    auto copy = [&](size_t from, size_t to) {
        if (from == to)
            return;
        if (keepLineEnds || lineFeeds == 0) {
            std::memcpy(data + write, in.data() + from, to - from);
            write += to - from;
            return;
        }
        write += core::copyLfAsCrLf(data + write, in.data() + from, to - from);
    };
    size_t pos = 0;
    for (;;) {
        const size_t open = findText(in, "<!--", pos, 1);
        const size_t close = open == k_npos ? k_npos : findText(in, "-->", open);
        if (close == k_npos)
            break;
        copy(pos, open);
        pos = close + 3;
    }
    copy(pos, n);
    out.resize(write);
}

// "<!--" through the first "-->" at or after it goes ("<!-->" is a whole comment);
// the search goes on after the removed comment. An unterminated comment stays.
void removeComments(std::string& text)
{
    InPlace t(text);
    const std::string_view in = t.input();
    size_t pos = 0;
    for (;;) {
        const size_t open = findText(in, "<!--", pos, 1);
        const size_t close = open == k_npos ? k_npos : findText(in, "-->", open);
        if (close == k_npos)
            break;
        t.keep(pos, open - pos);
        pos = close + 3;
    }
    t.keep(pos, in.size() - pos);
    t.finish();
}

// "&nbsp;", "&#160;", the no-break space and TAB all become a blank. The no-break space is the byte 0xA0 in an
// 8-bit page and the pair C2 A0 in a UTF-8 page, where a lone 0xA0 is part of a letter; `encodingOfPage` is asked
// only when a page holds the byte at all.
template <typename EncodingFn> void unifyBlanks(std::string& text, EncodingFn encodingOfPage)
{
    InPlace t(text);
    const std::string_view in = t.input();
    const size_t n = in.size();
    std::optional<PageEncoding> encoding;
    size_t from = 0;
    for (size_t i = core::findFirstOf(in.data(), 0, n, '\t', '\xA0', '&'); i < n;
         i = core::findFirstOf(in.data(), i + 1, n, '\t', '\xA0', '&')) {
        if (in[i] == '\t') {
            t.data()[i] = ' ';
        } else if (in[i] == '\xA0') {
            if (!encoding)
                encoding = encodingOfPage();
            if (*encoding == PageEncoding::SingleByte) {
                t.data()[i] = ' ';
            } else if (*encoding == PageEncoding::Utf8 && i > from && in[i - 1] == '\xC2') {
                t.keep(from, i - 1 - from);
                t.put(' ');
                from = i + 1;
            }
        } else if (startsWithAt(in, i, "&nbsp;") || startsWithAt(in, i, "&#160;")) {
            t.keep(from, i - from);
            t.put(' ');
            from = i + 6;
            i += 5;
        }
    }
    t.keep(from, n - from);
    t.finish();
}

// Blanks at the start of the text and after every run of CR and LF go.
void trimLineStarts(std::string& text)
{
    InPlace t(text);
    forEachTrimmedLine(t.input(), [&t](size_t from, size_t to) { t.keep(from, to - from); });
    t.finish();
}

// Whole tags out of an extracted piece of page.
void removeTags(std::string& text)
{
    InPlace t(text);
    const std::string_view in = t.input();
    const size_t n = in.size();
    size_t pos = 0;
    for (;;) {
        const size_t lt = findIn(in, '<', pos, n);
        const size_t gt = lt == k_npos ? k_npos : findIn(in, '>', lt + 1, n);
        if (gt == k_npos)
            break;
        t.keep(pos, lt - pos);
        pos = gt + 1;
    }
    t.keep(pos, n - pos);
    t.finish();
}

// The line-break tag that starts at text[at] ("<" there): its length, and
// whether the line break goes before it; 0 when none starts there.
size_t lineBreakTagAt(std::string_view text, size_t at, bool& before)
{
    // the tags are three to seven bytes long and end at their first ">"
    const size_t gt = text.substr(0, at + 7).find('>', at + 2);
    if (gt == k_npos)
        return 0;
    const LineBreak kind = lineBreakOf(text.substr(at, gt + 1 - at));
    before = kind == LineBreak::Before;
    return kind == LineBreak::None ? 0 : gt + 1 - at;
}

// A line break goes before each "<p>", "<form>", "<input>", "<table>" and
// "<td>" and after each "<br>" and "<br/>". These tags cannot overlap and no
// inserted line break can form one, so one pass does what a replacement per
// tag would do. Calls `at(position)` for each place a line break goes, in order.
template <typename AtFn> void forEachLineBreak(std::string_view text, AtFn at)
{
    const size_t n = text.size();
    for (size_t lt = findIn(text, '<', 0, n); lt != k_npos; lt = findIn(text, '<', lt + 1, n)) {
        bool before = true;
        const size_t len = lineBreakTagAt(text, lt, before);
        if (len == 0)
            continue;
        at(before ? lt : lt + len);
        lt += len - 1;
    }
}

// Whether the byte at `at` is the second, third or fourth byte of a well-formed UTF-8 letter.
bool inUtf8Letter(std::string_view text, size_t at)
{
    for (size_t back = 1; back <= 3 && back <= at; ++back) {
        const auto c = static_cast<unsigned char>(text[at - back]);
        if ((c & 0xC0) == 0x80)
            continue;
        const size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        return back < length && isValidUtf8(text.substr(at - back, length));
    }
    return false;
}

} // namespace

std::string insertLineBreaks(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + text.size() / 16 + 16);
    size_t pos = 0;
    forEachLineBreak(text, [&](size_t at) {
        out.append(text, pos, at - pos);
        out += "\r\n";
        pos = at;
    });
    out.append(text, pos, k_npos);
    return out;
}

PageText normalisePage(std::string_view page, std::string_view contentType)
{
    // the text between the steps: kept from page to page, unless a page was huge
    thread_local std::string between;
    copyWithoutComments(page, between);
    unifyBlanks(between, [&] { return pageEncoding(page, contentType); });
    PageText text = sweepTags(between);
    if (between.capacity() > (size_t{8} << 20))
        std::string().swap(between);
    return text;
}

std::string cleanValue(std::string_view value)
{
    std::string text(value);
    removeComments(text);
    removeTags(text);
    text = core::replaceAll(text, "&nbsp;", " ");
    trimLineStarts(text);
    // "&amp;" last, so "&amp;lt;" gives "&lt;" and goes no further
    text = core::replaceAll(text, "&lt;", "<");
    text = core::replaceAll(text, "&gt;", ">");
    text = core::replaceAll(text, "&quot;", "\"");
    text = core::replaceAll(text, "&apos;", "'");
    return core::replaceAll(text, "&amp;", "&");
}

std::string collapseSpaces(std::string_view text)
{
    const size_t n = text.size();
    auto isSpace = [&text](size_t i) {
        const char c = text[i];
        return c == ' ' || c == '\t' || c == '\r' || c == '\n' || (c == '\xA0' && !inUtf8Letter(text, i));
    };
    std::string out;
    out.reserve(n);
    size_t i = 0;
    while (i < n) {
        size_t wordEnd = i;
        while (wordEnd < n && !isSpace(wordEnd))
            ++wordEnd;
        if (wordEnd > i) {
            if (!out.empty())
                out += ' ';
            out.append(text, i, wordEnd - i);
        }
        i = wordEnd;
        while (i < n && isSpace(i))
            ++i;
    }
    return out;
}

std::string trimValue(std::string_view text)
{
    const size_t first = text.find_first_not_of(' ');
    if (first == k_npos)
        return {};
    const std::string_view kept = text.substr(first, text.find_last_not_of(' ') - first + 1);
    return kept == "-" ? std::string() : std::string(kept);
}

} // namespace tarnwick::rules
