#include "net/mimetext.h"

#include "platform/terminal.h"

#include <algorithm>
#include <cstdio>
#include <optional>

namespace tarnwick::net {

namespace {

constexpr std::size_t k_maxLine = 998; // characters of a line before its CR LF
constexpr std::size_t k_qpLine = 76;   // quoted-printable line, soft-break "=" included
constexpr std::size_t k_maxWord = 66;  // one encoded word, so "Subject: " and the first fit in 76
constexpr const char* k_hex = "0123456789ABCDEF";

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

unsigned char byteAt(std::string_view text, std::size_t i)
{
    return static_cast<unsigned char>(text[i]);
}

void appendHex(std::string& out, unsigned char c)
{
    out += '=';
    out += k_hex[c >> 4];
    out += k_hex[c & 0x0f];
}

// Bytes in a UTF-8 sequence that starts with `lead` (1 for anything that is not a lead byte).
std::size_t utf8Length(unsigned char lead)
{
    if (lead >= 0xf0)
        return 4;
    if (lead >= 0xe0)
        return 3;
    if (lead >= 0xc0)
        return 2;
    return 1;
}

bool hasEightBit(std::string_view text)
{
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return true;
    }
    return false;
}

// Whether 7bit carries `body` whole: ASCII without NUL, every line end a CR LF (the last line too), and no
// line longer than the limit once a leading "." has been doubled.
bool fitsSevenBit(std::string_view body)
{
    if (body.empty())
        return true;
    if (body.size() < 2 || body.substr(body.size() - 2) != "\r\n")
        return false;
    std::size_t lineStart = 0;
    for (std::size_t i = 0; i < body.size(); ++i) {
        const unsigned char c = byteAt(body, i);
        if (c == 0 || c >= 0x80)
            return false;
        if (c == '\n')
            return false; // a CR LF is stepped over below, so this one stands alone
        if (c != '\r')
            continue;
        if (i + 1 >= body.size() || body[i + 1] != '\n')
            return false;
        const std::size_t length = i - lineStart + (body[lineStart] == '.' ? 1 : 0);
        if (length > k_maxLine)
            return false;
        lineStart = i + 2;
        ++i;
    }
    return true;
}

bool isFieldLine(std::string_view line)
{
    const std::size_t colon = line.find(':');
    if (colon == 0 || colon == std::string_view::npos)
        return false;
    for (std::size_t i = 0; i < colon; ++i) {
        const unsigned char c = byteAt(line, i);
        if (c <= 32 || c >= 127)
            return false;
    }
    return true;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char a = text[i];
        char b = prefix[i];
        if (a >= 'A' && a <= 'Z')
            a = static_cast<char>(a - 'A' + 'a');
        if (b >= 'A' && b <= 'Z')
            b = static_cast<char>(b - 'A' + 'a');
        if (a != b)
            return false;
    }
    return true;
}

// A header line with its control characters (C0 but TAB, DEL, C1 in UTF-8) as blanks: whatever a value brought
// into it, it stays one line.
std::string withoutControls(std::string_view line)
{
    std::string out;
    out.reserve(line.size());
    for (std::size_t i = 0; i < line.size(); ++i) {
        const unsigned char c = byteAt(line, i);
        const bool c1 = c == 0xc2 && i + 1 < line.size() && byteAt(line, i + 1) >= 0x80 && byteAt(line, i + 1) <= 0x9f;
        if ((c < 0x20 && c != '\t') || c == 0x7f || c1) {
            out += ' ';
            i += c1 ? 1 : 0;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

// Where the line that starts at `pos` ends: at its CR LF or its lone LF; a lone CR ends no line.
std::size_t headerLineEnd(std::string_view text, std::size_t pos)
{
    const std::size_t lf = text.find('\n', pos);
    if (lf == std::string_view::npos)
        return text.size();
    return lf > pos && text[lf - 1] == '\r' ? lf - 1 : lf;
}

// Appends one physical header line and its CR LF; a line over the limit is folded before a blank.
void appendFoldedLine(std::string& out, std::string_view line)
{
    while (line.size() > k_maxLine) {
        std::size_t cut = line.find_last_of(" \t", k_maxLine);
        if (cut == 0 || cut == std::string_view::npos)
            cut = line.find_first_of(" \t", k_maxLine);
        if (cut == 0 || cut == std::string_view::npos)
            break; // no blank to fold at
        out.append(line.substr(0, cut));
        out += "\r\n";
        line.remove_prefix(cut);
    }
    out.append(line);
    out += "\r\n";
}

// Appends one header field (its lines joined by CR LF as collected).
void appendField(std::string& out, std::string_view field)
{
    if (startsWithNoCase(field, "subject:")) {
        bool longLine = false;
        for (std::size_t from = 0; from < field.size();) {
            std::size_t end = field.find("\r\n", from);
            if (end == std::string_view::npos)
                end = field.size();
            longLine = longLine || end - from > k_maxLine;
            from = end + 2;
        }
        if (hasEightBit(field) || longLine) {
            // the value unfolded, from its first non-blank
            std::string value;
            std::string_view rest = field.substr(8);
            while (!rest.empty() && isBlank(rest.front()))
                rest.remove_prefix(1);
            for (std::size_t from = 0; from < rest.size();) {
                const std::size_t end = rest.find("\r\n", from);
                value.append(rest.substr(from, end == std::string_view::npos ? std::string_view::npos : end - from));
                from = end == std::string_view::npos ? rest.size() : end + 2;
            }
            out += "Subject: ";
            out += encodedWords(value);
            out += "\r\n";
            return;
        }
    }
    for (std::size_t from = 0; from <= field.size();) {
        std::size_t end = field.find("\r\n", from);
        if (end == std::string_view::npos)
            end = field.size();
        appendFoldedLine(out, field.substr(from, end - from));
        from = end + 2;
    }
}

// The length of the well-formed UTF-8 character at `i` (1 for ASCII); 0 when none begins there.
std::size_t utf8SequenceAt(std::string_view text, std::size_t i)
{
    const unsigned char c = byteAt(text, i);
    if (c < 0x80)
        return 1;
    std::size_t n;
    unsigned int lowest;
    unsigned int cp;
    if (c >= 0xc2 && c <= 0xdf) {
        n = 2;
        lowest = 0x80;
        cp = c & 0x1f;
    } else if (c >= 0xe0 && c <= 0xef) {
        n = 3;
        lowest = 0x800;
        cp = c & 0x0f;
    } else if (c >= 0xf0 && c <= 0xf4) {
        n = 4;
        lowest = 0x10000;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (i + n > text.size())
        return 0;
    for (std::size_t k = 1; k < n; ++k) {
        const unsigned char t = byteAt(text, i + k);
        if ((t & 0xc0) != 0x80)
            return 0;
        cp = (cp << 6) | (t & 0x3f);
    }
    if (cp < lowest || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff))
        return 0;
    return n;
}

// A text whose template gives UTF-8 characters and whose values give Windows-1252 bytes, as UTF-8: each byte
// that begins no UTF-8 character is read as Windows-1252. None when the text holds no UTF-8 character beyond ASCII.
std::optional<std::string> mixedAsUtf8(std::string_view text)
{
    std::string out;
    bool multibyte = false;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = utf8SequenceAt(text, i);
        if (n == 0) {
            out += platform::toCodeset(text.substr(i++, 1), "UTF-8");
            continue;
        }
        multibyte = multibyte || n > 1;
        out.append(text.substr(i, n));
        i += n;
    }
    return multibyte ? std::optional<std::string>(std::move(out)) : std::nullopt;
}

} // namespace

bool isValidUtf8(std::string_view text)
{
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = utf8SequenceAt(text, i);
        if (n == 0)
            return false;
        i += n;
    }
    return true;
}

const char* charsetOf(std::string_view text)
{
    if (isValidUtf8(text))
        return "UTF-8";
    // bytes 0x80 to 0x9F are Windows-1252's own characters (0x99 a trade mark); in Latin-1 they would be controls
    const bool windows = std::any_of(text.begin(), text.end(), [](char c) {
        return static_cast<unsigned char>(c) >= 0x80 && static_cast<unsigned char>(c) <= 0x9f;
    });
    return windows ? "windows-1252" : "ISO-8859-1";
}

std::string quotedPrintable(std::string_view body)
{
    // at worst every byte takes three characters and every 25 bytes a soft break
    std::string out(3 * body.size() + 3 * (body.size() / 25) + 6, '\0');
    char* p = out.data();
    std::size_t lineLength = 0;
    for (std::size_t i = 0; i < body.size(); ++i) {
        const unsigned char c = byteAt(body, i);
        if (c == '\r' && i + 1 < body.size() && body[i + 1] == '\n') {
            *p++ = '\r';
            *p++ = '\n';
            lineLength = 0;
            ++i;
            continue;
        }
        bool literal = (c >= 33 && c <= 126 && c != '=') || c == ' ' || c == '\t';
        if (isBlank(static_cast<char>(c))) {
            // a blank at the end of a line would be lost by the transport
            const bool lineEnds =
                i + 1 == body.size() || (body[i + 1] == '\r' && i + 2 < body.size() && body[i + 2] == '\n');
            literal = !lineEnds;
        }
        if (lineLength + (literal ? 1 : 3) > k_qpLine - 1) {
            *p++ = '=';
            *p++ = '\r';
            *p++ = '\n';
            lineLength = 0;
        }
        if (c == '.' && lineLength == 0)
            literal = false; // nothing for the server to take for the end of the data
        if (literal) {
            *p++ = static_cast<char>(c);
            ++lineLength;
        } else {
            *p++ = '=';
            *p++ = k_hex[c >> 4];
            *p++ = k_hex[c & 0x0f];
            lineLength += 3;
        }
    }
    if (!body.empty() && body.substr(body.size() < 2 ? 0 : body.size() - 2) != "\r\n") {
        *p++ = '=';
        *p++ = '\r';
        *p++ = '\n';
    }
    out.resize(static_cast<std::size_t>(p - out.data()));
    return out;
}

std::string encodedWords(std::string_view text)
{
    if (!isValidUtf8(text)) {
        // one charset serves the whole subject: the UTF-8 of a template's dash is not read as Latin-1
        if (const std::optional<std::string> utf8 = mixedAsUtf8(text))
            return encodedWords(*utf8);
    }
    const char* charset = charsetOf(text);
    const bool utf8 = charset[0] == 'U';
    const std::string open = std::string("=?") + charset + "?Q?";
    const std::size_t room = k_maxWord - open.size() - 2;

    std::string out;
    std::string word;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = utf8 ? utf8Length(byteAt(text, i)) : 1;
        std::string unit;
        for (std::size_t k = i; k < i + n && k < text.size(); ++k) {
            const unsigned char c = byteAt(text, k);
            if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '!' || c == '*' ||
                c == '+' || c == '-' || c == '/')
                unit += static_cast<char>(c);
            else if (c == ' ')
                unit += '_';
            else
                appendHex(unit, c);
        }
        if (!word.empty() && word.size() + unit.size() > room) {
            out.append(out.empty() ? "" : "\r\n ").append(open).append(word).append("?=");
            word.clear();
        }
        word += unit;
        i += n;
    }
    if (!word.empty())
        out += (out.empty() ? "" : "\r\n ") + open + word + "?=";
    return out;
}

std::string messageId(std::int64_t utcMillis, std::uint64_t random, std::string_view domain)
{
    char id[64];
    std::snprintf(id, sizeof id, "<%lld.%016llx@", static_cast<long long>(utcMillis),
                  static_cast<unsigned long long>(random));
    std::string out = id;
    out.append(domain.empty() ? std::string_view("tarnwick.invalid") : domain);
    out += '>';
    return out;
}

std::string addressDomain(std::string_view address)
{
    if (const std::size_t open = address.find('<'); open != std::string_view::npos) {
        address.remove_prefix(open + 1);
        address = address.substr(0, address.find('>'));
    } else {
        address = address.substr(0, address.find_first_of(",("));
    }
    while (!address.empty() && isBlank(address.back()))
        address.remove_suffix(1);
    const std::size_t at = address.rfind('@');
    if (at == std::string_view::npos)
        return {};
    const std::string_view domain = address.substr(at + 1);
    if (domain.empty() || domain.front() == '.' || domain.back() == '.')
        return {};
    for (char c : domain) {
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.'))
            return {};
    }
    return std::string(domain);
}

std::string composeMessage(std::string_view headerBlock, std::string_view messageText, std::string_view messageId)
{
    std::string out;
    out.reserve(headerBlock.size() + messageText.size() + messageText.size() / 8 + 256);
    out.append(headerBlock);

    // the header lines the message begins with: up to an empty line (dropped) or to the first line that is
    // neither a field nor a field's continuation (the body's first line)
    std::string field;
    std::size_t pos = 0;
    std::size_t bodyStart = messageText.size();
    while (pos < messageText.size()) {
        const std::size_t end = headerLineEnd(messageText, pos);
        std::size_t next = end;
        if (next < messageText.size())
            next += messageText.compare(end, 2, "\r\n") == 0 ? 2 : 1;
        const std::string_view line = messageText.substr(pos, end - pos);
        if (line.empty()) {
            bodyStart = next;
            break;
        }
        if (isBlank(line.front()) && !field.empty()) {
            field += "\r\n";
            field.append(withoutControls(line));
        } else if (isFieldLine(line)) {
            if (!field.empty())
                appendField(out, field);
            field.assign(withoutControls(line));
        } else {
            bodyStart = pos;
            break;
        }
        pos = next;
    }
    if (!field.empty())
        appendField(out, field);

    const std::string_view body = messageText.substr(bodyStart);
    const bool sevenBit = fitsSevenBit(body);
    out += "Message-ID: ";
    out.append(messageId);
    out += "\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=";
    out += charsetOf(body);
    out += sevenBit ? "\r\nContent-Transfer-Encoding: 7bit\r\n\r\n"
                    : "\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n";
    if (sevenBit)
        out.append(body);
    else
        out += quotedPrintable(body);
    return out;
}

} // namespace tarnwick::net
