// Feeds arbitrary bytes, in arbitrary pieces, to the SMTP reply assembly, and
// to the text helpers of the mail client.
#include "net/base64.h"
#include "net/sendmail.h"
#include "net/socketconnection.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace tarnwick::net;

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
    for (const std::string& address : envelopeAddresses(input)) {
        if (address.empty())
            std::abort();
    }
    if (base64Decode(base64Encode(input)) != input)
        std::abort();
    (void)base64Decode(input);
    return 0;
}
