// Feeds arbitrary bytes, in arbitrary pieces, to the SMTP reply assembly, and
// to the text helpers of the mail client: dot-stuffing, addresses, Base64 and
// the message composition with its quoted-printable body.
#include "net/base64.h"
#include "net/mimetext.h"
#include "net/sendmail.h"
#include "net/socketconnection.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace tarnwick::net;

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Strict quoted-printable decoding of what quotedPrintable writes; aborts on anything else.
std::string decodeQuotedPrintable(std::string_view text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '=') {
            out += text[i];
            continue;
        }
        if (text.substr(i, 3) == "=\r\n") {
            i += 2;
            continue;
        }
        if (i + 2 >= text.size() || hexValue(text[i + 1]) < 0 || hexValue(text[i + 2]) < 0)
            std::abort();
        out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
        i += 2;
    }
    return out;
}

// Every line end is CR LF; no line is longer than `limit`; no line is a lone ".".
void checkLines(std::string_view text, std::size_t limit)
{
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
            std::abort();
        if (text[i] == '\r') {
            if (i + 1 >= text.size() || text[i + 1] != '\n')
                std::abort();
            if (i - start > limit || text.substr(start, i - start) == ".")
                std::abort();
            start = i + 2;
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    // the first byte chooses the size of the pieces the reply arrives in
    const std::size_t piece = data[0] % 16 + 1;
    const std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);

    std::size_t wholeStart = 0;
    const auto whole = findReplyEnd(input, wholeStart);

    std::string buffer;
    std::size_t lineStart = 0;
    std::optional<std::size_t> end;
    for (std::size_t at = 0; at < input.size() && !end; at += piece) {
        buffer.append(input.substr(at, piece));
        end = findReplyEnd(buffer, lineStart);
        if (lineStart > buffer.size())
            std::abort();
    }
    // reading in pieces finds the same end as one read of everything
    if (end != whole || (end && (*end > input.size() || input[*end - 1] != '\n')))
        std::abort();
    if (end)
        (void)replyHasCode(input.substr(0, *end), 250);

    const std::string stuffed = dotStuff(input);
    if (stuffed.size() < input.size())
        std::abort();
    checkLines(stuffed, std::string::npos);

    // the body comes back byte for byte, in lines of at most 76 characters
    const std::string encoded = quotedPrintable(input);
    checkLines(encoded, 76);
    if (decodeQuotedPrintable(encoded) != input)
        std::abort();
    const std::string message = dotStuff(composeMessage("Date: d\r\n", input, "<i@x>"));
    const std::size_t bodyAt = message.find("\r\n\r\n");
    if (bodyAt == std::string::npos)
        std::abort();
    checkLines(message.substr(bodyAt + 4), 998);
    for (const std::string& address : envelopeAddresses(input)) {
        if (address.empty())
            std::abort();
    }
    if (base64Decode(base64Encode(input)) != input)
        std::abort();
    (void)base64Decode(input);
    return 0;
}
