// Feeds arbitrary bytes to the HTTP response check and the URL parser.
#include "net/httpget.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
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

    if (const auto target = parseHttpUrl(input)) {
        const std::string request = buildHttpRequest(*target, "Fuzz");
        if (target->requestTarget.find(' ') != std::string::npos || request.find("\r\n\r\n") == std::string::npos)
            std::abort();
    }
    (void)proxyRewrite(input, "proxy:8080");
    return 0;
}
