// The page normaliser against a plain, step-by-step rendering of the same rules
// (slow, with erase and insert, but obviously right), plus the properties every
// normalised page has.
#include "core/text.h"
#include "plainsteps.h"
#include "rules/pagetext.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace tarnwick;

namespace {

constexpr size_t k_npos = std::string::npos;

bool isLineSpace(char c)
{
    return c == ' ' || c == '\r' || c == '\n';
}

std::string plainNormalise(std::string s)
{
    if (s.find("\r\n") == k_npos)
        s = core::replaceAll(s, "\n", "\r\n");

    fuzz::plainRemoveComments(s);

    s = core::replaceAll(s, "&nbsp;", " ");
    s = core::replaceAll(s, "&#160;", " ");
    s = core::replaceAll(s, "\xA0", " ");
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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string page(reinterpret_cast<const char*>(data), size);
    const rules::PageText text = rules::normalisePage(page);
    check(text == plainNormalise(page));
    check(rules::insertLineBreaks(page) == plainLineBreaks(page));

    // ("&nbsp;" can still appear: lower-casing a tag such as "<&NBSP;>" forms it)
    check(text.find('\t') == k_npos && text.find('\xA0') == k_npos);
    // a complete tag is lower case and has no attributes
    const size_t lastGt = text.rfind('>');
    for (size_t lt = text.find('<'); lt != k_npos && lastGt != k_npos && lt < lastGt; lt = text.find('<', lt + 1)) {
        const size_t gt = text.find('>', lt);
        for (size_t i = lt; i < gt; ++i)
            check(text[i] != ' ' && !(text[i] >= 'A' && text[i] <= 'Z'));
    }
    return 0;
}
