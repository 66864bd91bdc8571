#pragma once

#include <string>
#include <string_view>

namespace tarnwick::net {

// Standard Base64 (RFC 4648 alphabet, "=" padding, no line breaks) of the bytes.
std::string base64Encode(std::string_view bytes);

// The bytes of a Base64 text; missing "=" padding is accepted. Any character
// outside the alphabet (or misplaced padding) makes the result empty.
std::string base64Decode(std::string_view text);

} // namespace tarnwick::net
