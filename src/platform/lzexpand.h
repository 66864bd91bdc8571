#pragma once

#include <cstdint>
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

// What lzExpandFile wrote.
struct ExpandedFile {
    std::uint64_t length = 0;
    std::string sha256; // of the bytes written, as sha256Hex gives it
    bool past = false;  // the expansion stopped at the first byte past the maximum
};

// Expands the file `from` into the file `to` as lzExpand does, a block at a time: neither file is ever whole
// in memory. The output is hashed as it is written and must stay within `maxLength` bytes: the expansion
// stops at the first byte past it and fails. `to` is written beside its final name, flushed, made executable
// (it is a program to be started) and renamed into place only when everything succeeded; otherwise it is
// left as it was. Returns an empty text on success, else the reason.
std::string lzExpandFile(const std::string& from, const std::string& to, std::uint64_t maxLength,
                         ExpandedFile& expanded);

} // namespace tarnwick::platform
