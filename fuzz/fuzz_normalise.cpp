// The page normaliser against a plain, step-by-step rendering of the same rules
// (slow, with erase and insert, but obviously right), plus the properties every
// normalised page has.
#include "core/text.h"
#include "plainsteps.h"
#include "rules/pagecharset.h"
#include "rules/pagetext.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>

using namespace tarnwick;

namespace {

constexpr size_t k_npos = std::string::npos;

bool isLineSpace(char c)
{
    return c == ' ' || c == '\r' || c == '\n';
}

// The no-break space is the byte 0xA0 in an 8-bit page, the pair C2 A0 in a UTF-8 page, and nothing in another
// multi-byte page.
std::string plainNormalise(std::string s, rules::PageEncoding encoding)
{
    if (s.find("\r\n") == k_npos)
        s = core::replaceAll(s, "\n", "\r\n");

    fuzz::plainRemoveComments(s);

    s = core::replaceAll(s, "&nbsp;", " ");
    s = core::replaceAll(s, "&#160;", " ");
    if (encoding == rules::PageEncoding::SingleByte)
        s = core::replaceAll(s, "\xA0", " ");
    else if (encoding == rules::PageEncoding::Utf8)
        s = core::replaceAll(s, "\xC2\xA0", " ");
    s = core::replaceAll(s, "\t", " ");

    for (size_t pos = 0;;) {
        size_t lt = s.find('<', pos);
        if (lt == k_npos)
            break;
        size_t from = lt;
        while (from > 0 && isLineSpace(s[from - 1]))
            --from;
        s.erase(from, lt - from);
        lt = from;
        size_t gt = s.find('>', lt + 1);
        if (gt == k_npos)
            break;
        const size_t blank = s.find(' ', lt + 1);
        if (blank < gt) {
            const bool slash = s[gt - 1] == '/';
            s.erase(blank, gt - blank);
            if (slash)
                s.insert(blank, "/");
            gt = s.find('>', lt + 1);
        }
        for (size_t i = lt; i <= gt; ++i) {
            if (s[i] >= 'A' && s[i] <= 'Z')
                s[i] = static_cast<char>(s[i] + 32);
        }
        size_t end = gt + 1;
        while (end < s.size() && s[end] == ' ')
            ++end;
        if (end == s.size())
            break;
        s.erase(gt + 1, end - gt - 1);
        pos = gt + 1;
    }

    fuzz::plainTrimLineStarts(s);

    return core::replaceAll(
        core::replaceAll(
            core::replaceAll(core::replaceAll(core::replaceAll(core::replaceAll(core::replaceAll(s, "<p>", "\r\n<p>"),
                                                                                "<form>", "\r\n<form>"),
                                                               "<input>", "\r\n<input>"),
                                              "<table>", "\r\n<table>"),
                             "<td>", "\r\n<td>"),
            "<br>", "<br>\r\n"),
        "<br/>", "<br/>\r\n");
}

std::string plainLineBreaks(const std::string& s)
{
    std::string out = s;
    for (const char* tag : {"<p>", "<form>", "<input>", "<table>", "<td>"})
        out = core::replaceAll(out, tag, std::string("\r\n") + tag);
    for (const char* tag : {"<br>", "<br/>"})
        out = core::replaceAll(out, tag, std::string(tag) + "\r\n");
    return out;
}

void check(bool ok)
{
    if (!ok)
        std::abort();
}

// Well-formed UTF-8, decoded letter by letter: no overlong form, no surrogate, nothing past U+10FFFF.
bool plainValidUtf8(std::string_view s)
{
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        const size_t length = c < 0x80                ? 1
                              : c >= 0xC0 && c < 0xE0 ? 2
                              : c >= 0xE0 && c < 0xF0 ? 3
                              : c >= 0xF0 && c < 0xF8 ? 4
                                                      : 0;
        if (length == 0 || s.size() - i < length)
            return false;
        unsigned long code = length == 1 ? c : c & (0x7Fu >> length);
        for (size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(s[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (next & 0x3Fu);
        }
        const unsigned long least = length == 1 ? 0 : length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
        if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string page(reinterpret_cast<const char*>(data), size);
    check(rules::isValidUtf8(page) == plainValidUtf8(page));
    const rules::PageEncoding encoding = rules::pageEncoding(page, {});
    const rules::PageText text = rules::normalisePage(page);
    check(text == plainNormalise(page, encoding));
    // the HTTP header's charset wins over what the page declares
    for (const auto& [contentType, declared] : {std::pair{"text/html; charset=UTF-8", rules::PageEncoding::Utf8},
                                                {"text/html;charset=\"windows-1252\"", rules::PageEncoding::SingleByte},
                                                {"text/html; charset=gbk", rules::PageEncoding::MultiByte}}) {
        const rules::PageEncoding given = page.starts_with("\xEF\xBB\xBF") ? rules::PageEncoding::Utf8 : declared;
        check(rules::pageEncoding(page, contentType) == given);
        check(rules::normalisePage(page, contentType) == plainNormalise(page, given));
    }
    check(rules::insertLineBreaks(page) == plainLineBreaks(page));

    // ("&nbsp;" can still appear: lower-casing a tag such as "<&NBSP;>" forms it)
    check(text.find('\t') == k_npos);
    check(encoding != rules::PageEncoding::SingleByte || text.find('\xA0') == k_npos);
    // a complete tag is lower case and has no attributes
    const size_t lastGt = text.rfind('>');
    for (size_t lt = text.find('<'); lt != k_npos && lastGt != k_npos && lt < lastGt; lt = text.find('<', lt + 1)) {
        const size_t gt = text.find('>', lt);
        for (size_t i = lt; i < gt; ++i)
            check(text[i] != ' ' && !(text[i] >= 'A' && text[i] <= 'Z'));
    }
    return 0;
}
