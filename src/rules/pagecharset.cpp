#include "rules/pagecharset.h"

#include "core/text.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

namespace tarnwick::rules {

namespace {

constexpr size_t k_npos = std::string_view::npos;
// browsers look for a declaration in the first 1024 bytes of a page
constexpr size_t k_headBytes = 1024;

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f';
}

bool endsName(char c)
{
    return isBlank(c) || c == ';' || c == ',' || c == '"' || c == '\'' || c == '>' || c == '/' || c == '?';
}

// The value of the first `key` = value in `text` (blanks around "=" and quotes around the value allowed); empty
// when none.
std::string_view valueOf(std::string_view text, std::string_view key)
{
    for (size_t at = core::findBytesNoCase(text, key); at != k_npos;
         at = core::findBytesNoCase(text, key, at + key.size())) {
        size_t i = at + key.size();
        while (i < text.size() && isBlank(text[i]))
            ++i;
        if (i == text.size() || text[i] != '=')
            continue;
        ++i;
        while (i < text.size() && isBlank(text[i]))
            ++i;
        if (i < text.size() && (text[i] == '"' || text[i] == '\''))
            ++i;
        const size_t start = i;
        while (i < text.size() && !endsName(text[i]))
            ++i;
        if (i > start)
            return text.substr(start, i - start);
    }
    return {};
}

// The encoding named by a meta element in the head of the page; comments there are skipped.
std::optional<PageEncoding> metaEncoding(std::string_view page)
{
    const std::string_view head = page.substr(0, k_headBytes);
    for (size_t lt = head.find('<'); lt != k_npos; lt = head.find('<', lt + 1)) {
        const std::string_view rest = page.substr(lt);
        if (rest.starts_with("<!--")) {
            const size_t close = head.find("-->", lt + 4);
            if (close == k_npos)
                return std::nullopt;
            lt = close + 2;
            continue;
        }
        if (rest.size() < 6 || !core::equalNoCase(rest.substr(0, 5), "<meta") || !(isBlank(rest[5]) || rest[5] == '/'))
            continue;
        // an element that starts in the head counts whole
        const std::string_view element = rest.substr(0, rest.substr(0, k_headBytes).find('>'));
        if (const auto encoding = encodingOfCharset(charsetParameter(element)))
            return encoding;
    }
    return std::nullopt;
}

} // namespace

std::string_view charsetParameter(std::string_view text)
{
    return valueOf(text, "charset");
}

std::optional<PageEncoding> encodingOfCharset(std::string_view name)
{
    if (name.empty())
        return std::nullopt;
    std::string lower(name.substr(0, 64));
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + 32);
    }
    if (lower == "utf-8" || lower == "utf8" || lower == "unicode-1-1-utf-8")
        return PageEncoding::Utf8;
    // the sets in which 0xA0 can be one byte of a longer character
    static constexpr std::string_view k_multiByte[] = {
        "utf-16",   "utf-32",      "ucs-",   "unicode",     "shift_jis",   "shift-jis",  "sjis",
        "ms_kanji", "windows-31j", "cp932",  "euc-",        "x-euc",       "gb2312",     "gbk",
        "gb18030",  "cp936",       "big5",   "cp950",       "cp949",       "ks_c_5601-", "iso-2022-",
        "hz-gb-",   "csshiftjis",  "x-sjis", "windows-936", "windows-949",
    };
    for (std::string_view prefix : k_multiByte) {
        if (lower.starts_with(prefix))
            return PageEncoding::MultiByte;
    }
    return PageEncoding::SingleByte;
}

std::optional<PageEncoding> declaredEncoding(std::string_view page, std::string_view contentType)
{
    if (page.starts_with("\xEF\xBB\xBF"))
        return PageEncoding::Utf8;
    if (const auto encoding = encodingOfCharset(charsetParameter(contentType)))
        return encoding;
    size_t start = 0;
    while (start < page.size() && start < k_headBytes && isBlank(page[start]))
        ++start;
    if (page.substr(start).starts_with("<?xml") && page.size() > start + 5 && isBlank(page[start + 5])) {
        const std::string_view declaration = page.substr(start, page.substr(0, k_headBytes).find("?>", start));
        // an XML document that names no encoding is in UTF-8
        return encodingOfCharset(valueOf(declaration, "encoding")).value_or(PageEncoding::Utf8);
    }
    return metaEncoding(page);
}

bool isValidUtf8(std::string_view text)
{
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        // pages are mostly ASCII: it is passed over 64 bytes at a time, and a block that is not is read letter by
        // letter
        if (n - i >= 64) {
            std::uint64_t words[8];
            std::memcpy(words, p + i, 64);
            std::uint64_t high = 0;
            for (std::uint64_t w : words)
                high |= w;
            if ((high & 0x8080808080808080ull) == 0) {
                i += 64;
                continue;
            }
        }
        for (const size_t stop = std::min(n, i + 64); i < stop;) {
            const unsigned c = p[i];
            if (c < 0x80) {
                ++i;
                continue;
            }
            // the second byte's range rules out overlong forms, surrogates and code points past U+10FFFF
            size_t length = 0;
            unsigned low = 0x80;
            unsigned high = 0xBF;
            if (c >= 0xC2 && c <= 0xDF) {
                length = 2;
            } else if (c >= 0xE0 && c <= 0xEF) {
                length = 3;
                low = c == 0xE0 ? 0xA0 : low;
                high = c == 0xED ? 0x9F : high;
            } else if (c >= 0xF0 && c <= 0xF4) {
                length = 4;
                low = c == 0xF0 ? 0x90 : low;
                high = c == 0xF4 ? 0x8F : high;
            } else {
                return false;
            }
            if (n - i < length || p[i + 1] < low || p[i + 1] > high)
                return false;
            for (size_t k = 2; k < length; ++k) {
                if ((p[i + k] & 0xC0) != 0x80)
                    return false;
            }
            i += length;
        }
    }
    return true;
}

PageEncoding pageEncoding(std::string_view page, std::string_view contentType)
{
    if (const auto declared = declaredEncoding(page, contentType))
        return *declared;
    return isValidUtf8(page) ? PageEncoding::Utf8 : PageEncoding::SingleByte;
}

} // namespace tarnwick::rules
