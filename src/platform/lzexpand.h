#pragma once

#include <string>
#include <string_view>

namespace tarnwick::platform {

// The compressed program file is in the "SZDD" format of the LZ expansion
// library (what Debian's mscompress writes and msexpand reads): a 14-byte header
// (8 magic bytes, the method 'A', the file name's last character, the expanded
// length as 32-bit little-endian) and then LZSS codes over a 4096-byte window.

// True when `data` starts with the format's magic bytes.
bool isLzCompressed(std::string_view data);

// Expands `data` into `out`: compressed data is expanded to exactly the length its
// header gives; anything else is copied unchanged. Returns an empty text on
// success, else what is wrong with the compressed data (and `out` is empty).
// Linear in the input; never trusts the header's length for memory.
std::string lzExpand(std::string_view data, std::string& out);

// Expands the file `from` into the file `to`, which is written beside its final
// name, flushed, made executable (it is a program to be started) and renamed into
// place. Returns an empty text on success, else the reason; `length` receives the
// expanded length.
std::string lzExpandFile(const std::string& from, const std::string& to, long long& length);

} // namespace tarnwick::platform
