#include "platform/lzexpand.h"

#include "platform/files.h"
#include "platform/install.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace tarnwick::platform {

namespace {

constexpr std::string_view k_magic("SZDD\x88\xF0\x27\x33", 8);
constexpr std::size_t k_headerSize = 14;
constexpr std::size_t k_window = 4096;
// the window starts filled with blanks and is first written 16 bytes before its end
constexpr std::size_t k_firstPosition = k_window - 16;
// one input byte yields at most 9 output bytes (a 2-byte code copies up to 18)
constexpr std::uint64_t k_maxGrowth = 9;

std::uint32_t littleEndian32(std::string_view bytes)
{
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | static_cast<unsigned char>(bytes[static_cast<std::size_t>(i)]);
    return v;
}

} // namespace

bool isLzCompressed(std::string_view data)
{
    return data.substr(0, k_magic.size()) == k_magic;
}

std::string lzExpand(std::string_view data, std::string& out)
{
    out.clear();
    if (!isLzCompressed(data)) {
        out.assign(data);
        return {};
    }
    if (data.size() < k_headerSize)
        return "The compressed file is truncated: its header is incomplete.";
    if (data[8] != 'A')
        return "The compressed file uses an unknown compression method.";
    const std::uint64_t length = littleEndian32(data.substr(10, 4));
    const auto* in = reinterpret_cast<const unsigned char*>(data.data()) + k_headerSize;
    const std::size_t inSize = data.size() - k_headerSize;

    // a header that claims more than the codes can hold fails below; memory follows the input
    const std::size_t capacity = static_cast<std::size_t>(std::min(length, k_maxGrowth * inSize));
    out.resize(capacity);
    auto* dst = reinterpret_cast<unsigned char*>(out.data());
    std::size_t produced = 0;

    std::array<unsigned char, k_window> window;
    window.fill(' ');
    std::size_t pos = k_firstPosition;
    std::size_t i = 0;
    while (i < inSize && produced < capacity) {
        const unsigned flags = in[i++];
        for (unsigned bit = 0; bit < 8 && produced < capacity; ++bit) {
            if (flags & (1u << bit)) {
                if (i >= inSize)
                    break;
                const unsigned char c = in[i++];
                dst[produced++] = c;
                window[pos] = c;
                pos = (pos + 1) & (k_window - 1);
                continue;
            }
            if (inSize - i < 2) {
                i = inSize;
                break;
            }
            std::size_t from = in[i] | (static_cast<std::size_t>(in[i + 1] & 0xF0) << 4);
            const std::size_t count = std::min<std::size_t>((in[i + 1] & 0x0F) + 3, capacity - produced);
            i += 2;
            for (std::size_t n = 0; n < count; ++n) {
                const unsigned char c = window[from];
                dst[produced++] = c;
                window[pos] = c;
                pos = (pos + 1) & (k_window - 1);
                from = (from + 1) & (k_window - 1);
            }
        }
    }
    if (produced < length) {
        out.clear();
        return "The compressed file is truncated: it holds " + std::to_string(produced) + " of the " +
               std::to_string(length) + " bytes its header gives.";
    }
    return {};
}

std::string lzExpandFile(const std::string& from, const std::string& to, long long& length)
{
    length = 0;
    std::optional<std::string> data = readFile(from);
    if (!data)
        return "Cannot read " + from + ".";
    std::string expanded;
    if (std::string error = lzExpand(*data, expanded); !error.empty())
        return error;
    data.reset();
    if (std::string error = writeProgramFile(to, expanded); !error.empty())
        return error;
    length = static_cast<long long>(expanded.size());
    return {};
}

} // namespace tarnwick::platform
