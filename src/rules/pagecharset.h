#pragma once

#include <optional>
#include <string_view>

namespace tarnwick::rules {

// What the byte 0xA0 is in a page, which turns on the page's character set.
enum class PageEncoding {
    // an 8-bit set of the Latin-1 family: the byte 0xA0 is a no-break space
    SingleByte,
    // only the pair C2 A0 is a no-break space; a lone 0xA0 is part of a letter ("à" is C3 A0)
    Utf8,
    // another multi-byte set (Shift_JIS, GBK, UTF-16, ...): 0xA0 may be part of a letter and is left alone
    MultiByte,
};

// The name after "charset=" in `text` (a Content-Type value or a meta element), without quotes; empty when none.
std::string_view charsetParameter(std::string_view text);
// What a charset name means for 0xA0; none for an empty name.
std::optional<PageEncoding> encodingOfCharset(std::string_view name);
// The encoding a page declares: a UTF-8 byte order mark, else the charset of the HTTP Content-Type `contentType`,
// else an XML declaration (UTF-8 when it names no encoding), else a meta element near the start of the page, as
// browsers look for it; none when the page declares nothing.
std::optional<PageEncoding> declaredEncoding(std::string_view page, std::string_view contentType);
bool isValidUtf8(std::string_view text);
// The declared encoding, or for a page that declares none, UTF-8 when the page is valid UTF-8, else 8-bit.
PageEncoding pageEncoding(std::string_view page, std::string_view contentType);

} // namespace tarnwick::rules
