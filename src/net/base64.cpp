#include "net/base64.h"

#include <array>
#include <cstdint>

namespace tarnwick::net {

namespace {

constexpr char k_alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<std::int8_t, 256> makeDecodeTable()
{
    std::array<std::int8_t, 256> t{};
    for (auto& v : t)
        v = -1;
    for (int i = 0; i < 64; ++i)
        t[static_cast<unsigned char>(k_alphabet[i])] = static_cast<std::int8_t>(i);
    return t;
}

constexpr auto k_decode = makeDecodeTable();

} // namespace

std::string base64Encode(std::string_view bytes)
{
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const std::uint32_t v = static_cast<unsigned char>(bytes[i]) << 16 |
                                static_cast<unsigned char>(bytes[i + 1]) << 8 |
                                static_cast<unsigned char>(bytes[i + 2]);
        out += k_alphabet[v >> 18 & 63];
        out += k_alphabet[v >> 12 & 63];
        out += k_alphabet[v >> 6 & 63];
        out += k_alphabet[v & 63];
    }
    const std::size_t rest = bytes.size() - i;
    if (rest > 0) {
        std::uint32_t v = static_cast<unsigned char>(bytes[i]) << 16;
        if (rest == 2)
            v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += k_alphabet[v >> 18 & 63];
        out += k_alphabet[v >> 12 & 63];
        out += rest == 2 ? k_alphabet[v >> 6 & 63] : '=';
        out += '=';
    }
    return out;
}

std::string base64Decode(std::string_view text)
{
    // padding may be missing, but where present it closes the last group
    std::size_t end = text.size();
    std::size_t pads = 0;
    while (end > 0 && text[end - 1] == '=' && pads < 2) {
        --end;
        ++pads;
    }
    if (pads > 0 && text.size() % 4 != 0)
        return {};
    if (end % 4 == 1)
        return {};

    std::string out;
    out.reserve(end / 4 * 3 + 2);
    std::uint32_t acc = 0;
    int bits = 0;
    for (std::size_t i = 0; i < end; ++i) {
        const std::int8_t v = k_decode[static_cast<unsigned char>(text[i])];
        if (v < 0)
            return {};
        acc = (acc << 6 | static_cast<std::uint32_t>(v)) & 0xFFFFFF;
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>(acc >> bits & 0xFF);
        }
    }
    return out;
}

} // namespace tarnwick::net
