// Feeds arbitrary bytes to the HTTP response check, the response-end watch and
// the URL parser.
#include "net/httpget.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string_view>

using namespace tarnwick::net;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    const HttpResponseCheck check = checkHttpResponse(input);
    if (check.error.empty()) {
        // a good response has its end of headers right before the body
        if (check.bodyStart < 4 || check.bodyStart > input.size() || input.substr(check.bodyStart - 4, 4) != "\r\n\r\n")
            std::abort();
    } else if (check.error.size() > 254 || check.error.rfind("HttpGet: HTTP Get Failed.", 0) != 0) {
        std::abort();
    }

    // the length a response announces is the same whether its bytes arrive at once or one by one
    HttpResponseEnd whole;
    const auto total = whole.totalLength(input);
    HttpResponseEnd pieces;
    std::optional<std::size_t> seen;
    for (std::size_t n = 1; n <= input.size(); ++n)
        seen = pieces.totalLength(input.substr(0, n));
    if (seen != total || (total && (*total < 4 || input.find("\r\n\r\n") + 4 > *total)))
        std::abort();

    for (const bool viaProxy : {false, true}) {
        if (const auto target = parseHttpUrl(input, viaProxy)) {
            const std::string request = buildHttpRequest(*target, "Fuzz");
            // nothing from the address can end the request line or add a header
            const std::size_t lineEnd = request.find("\r\n");
            if (target->requestTarget.find(' ') != std::string::npos || request.find("\r\n\r\n") == std::string::npos ||
                request.find_first_of("\r\n") != lineEnd || request.substr(0, lineEnd).find('\0') != std::string::npos)
                std::abort();
        }
    }
    (void)proxyRewrite(input, "proxy:8080");
    return 0;
}
