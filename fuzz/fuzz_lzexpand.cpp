// The expander on any bytes: it must not crash or overrun, a success must give
// exactly the length the header claims (or the input itself when it is not
// compressed), and a failure must leave no output.
#include "platform/lzexpand.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace tarnwick;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::string out;
    const std::string error = platform::lzExpand(bytes, out);
    if (!error.empty()) {
        if (!out.empty() || !platform::isLzCompressed(bytes))
            std::abort();
        return 0;
    }
    if (!platform::isLzCompressed(bytes)) {
        if (out != bytes)
            std::abort();
        return 0;
    }
    std::uint32_t length = 0;
    for (int i = 3; i >= 0; --i)
        length = (length << 8) | data[10 + i];
    if (out.size() != length || out.size() > 9 * (size - 14))
        std::abort();
    return 0;
}
