#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tarnwick::net {

// Whether `text` is well-formed UTF-8 (no overlong forms, no surrogates, nothing past U+10FFFF).
bool isValidUtf8(std::string_view text);

// The charset a text is declared in: "UTF-8" when its bytes are valid UTF-8, else "windows-1252" when it holds a
// byte from 0x80 to 0x9F, else "ISO-8859-1".
const char* charsetOf(std::string_view text);

// `body` in quoted-printable: every output line ends in CR LF and holds at most 76 characters. A CR LF of
// the body is a line break; a lone CR or LF, "=", 8-bit and control bytes, blanks before a line break and a
// "." at the start of a line are written as "=XX". A body that does not end in CR LF ends in a soft break,
// so decoding gives back exactly the bytes given.
std::string quotedPrintable(std::string_view body);

// `text` as RFC 2047 encoded words ("=?charset?Q?...?="), each at most 66 characters, joined by CR LF and a
// blank so that the header line folds between them. A UTF-8 character is never split between words.
std::string encodedWords(std::string_view text);

// "<millis.random@domain>": unique per message when `random` is.
std::string messageId(std::int64_t utcMillis, std::uint64_t random, std::string_view domain);

// The domain of an address such as "a@example.test", "Name <a@example.test>" or "a@example.test (me)";
// empty when it has none made of letters, digits, "-" and ".".
std::string addressDomain(std::string_view address);

// The message as it goes after DATA, before dot-stuffing: `headerBlock` (Date ... X-Mailer, each line in
// CR LF), then the header lines that `messageText` begins with (each ends at a CR LF or a lone LF; a lone CR and
// every other control character but TAB is a blank in its line), each as written except that a Subject with
// 8-bit bytes (or too long for one line) becomes encoded words and a line over 998 characters is folded at
// its blanks; then Message-ID, MIME-Version, Content-Type with the body's charset and
// Content-Transfer-Encoding; an empty line; the body, as it is when 7bit carries it whole, otherwise in
// quoted-printable. Every line ends in CR LF and none is longer than 998 characters but for a header line
// without blanks.
std::string composeMessage(std::string_view headerBlock, std::string_view messageText, std::string_view messageId);

} // namespace tarnwick::net
