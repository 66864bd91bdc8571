#pragma once

// Scans for one of a few byte values, sixteen bytes at a time where the
// processor has the vector instructions every x86-64 has, a byte at a time
// elsewhere. The page passes look for the next tag or line end with these.

#include <cstddef>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tarnwick::core {

// The first position in [from, to) whose byte is `a`, `b` or `c`; `to` when there is none.
inline size_t findFirstOf(const char* data, size_t from, size_t to, char a, char b, char c)
{
    size_t i = from;
#if defined(__SSE2__)
    const __m128i va = _mm_set1_epi8(a);
    const __m128i vb = _mm_set1_epi8(b);
    const __m128i vc = _mm_set1_epi8(c);
    for (; i + 16 <= to; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
        const __m128i hit =
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, va), _mm_cmpeq_epi8(v, vb)), _mm_cmpeq_epi8(v, vc));
        if (const int mask = _mm_movemask_epi8(hit); mask != 0)
            return i + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
    }
#endif
    for (; i < to; ++i) {
        if (data[i] == a || data[i] == b || data[i] == c)
            return i;
    }
    return to;
}

// The first position in [from, to) whose byte is none of `a`, `b` and `c`; `to` when there is none.
inline size_t findFirstNotOf(const char* data, size_t from, size_t to, char a, char b, char c)
{
    size_t i = from;
#if defined(__SSE2__)
    const __m128i va = _mm_set1_epi8(a);
    const __m128i vb = _mm_set1_epi8(b);
    const __m128i vc = _mm_set1_epi8(c);
    for (; i + 16 <= to; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
        const __m128i hit =
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, va), _mm_cmpeq_epi8(v, vb)), _mm_cmpeq_epi8(v, vc));
        if (const int mask = _mm_movemask_epi8(hit) ^ 0xFFFF; mask != 0)
            return i + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
    }
#endif
    for (; i < to; ++i) {
        if (data[i] != a && data[i] != b && data[i] != c)
            return i;
    }
    return to;
}

// The first position in [from, to) whose byte is `a`; `to` when there is none.
inline size_t findByte(const char* data, size_t from, size_t to, char a)
{
    size_t i = from;
#if defined(__SSE2__)
    const __m128i va = _mm_set1_epi8(a);
    for (; i + 16 <= to; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
        if (const int mask = _mm_movemask_epi8(_mm_cmpeq_epi8(v, va)); mask != 0)
            return i + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
    }
#endif
    for (; i < to; ++i) {
        if (data[i] == a)
            return i;
    }
    return to;
}

// The same for two byte values.
inline size_t findFirstOf(const char* data, size_t from, size_t to, char a, char b)
{
    return findFirstOf(data, from, to, a, b, b);
}

// How many bytes of data[0, n) are `c`.
inline size_t countByte(const char* data, size_t n, char c)
{
    size_t count = 0;
    size_t i = 0;
#if defined(__SSE2__)
    // each lane counts its matches (a match compares as -1) for up to 255 blocks, then the lanes are summed
    const __m128i vc = _mm_set1_epi8(c);
    while (i + 16 <= n) {
        __m128i lanes = _mm_setzero_si128();
        for (int blocks = 0; blocks < 255 && i + 16 <= n; ++blocks, i += 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
            lanes = _mm_sub_epi8(lanes, _mm_cmpeq_epi8(v, vc));
        }
        const __m128i sums = _mm_sad_epu8(lanes, _mm_setzero_si128());
        count += static_cast<size_t>(_mm_cvtsi128_si32(sums)) + static_cast<size_t>(_mm_extract_epi16(sums, 4));
    }
#endif
    for (; i < n; ++i)
        count += data[i] == c ? 1 : 0;
    return count;
}

// Copies from[0, n) to `to` with CR LF for each LF; returns the bytes written, n and one for each LF. Nothing is
// written past them.
inline size_t copyLfAsCrLf(char* to, const char* from, size_t n)
{
    size_t i = 0;
    size_t write = 0;
#if defined(__SSE2__)
    // a block is stored whole and the bytes after its first LF stored again from their new place; sixteen bytes
    // left to read make at least sixteen to write, so the store stays inside the copy
    const __m128i lineFeed = _mm_set1_epi8('\n');
    while (n - i >= 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + write), v);
        const int mask = _mm_movemask_epi8(_mm_cmpeq_epi8(v, lineFeed));
        if (mask == 0) {
            i += 16;
            write += 16;
            continue;
        }
        const auto k = static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
        write += k;
        to[write++] = '\r';
        to[write++] = '\n';
        i += k + 1;
    }
#endif
    for (; i < n; ++i) {
        if (from[i] == '\n')
            to[write++] = '\r';
        to[write++] = from[i];
    }
    return write;
}

// Copies from[0, n) to `to` with the ASCII capitals made small. Sixteen bytes go at a time while `from` has
// sixteen readable bytes left (`readable` in all), so up to fifteen bytes past n may be written.
inline void copyLowerAscii(char* to, const char* from, size_t n, size_t readable)
{
    size_t i = 0;
#if defined(__SSE2__)
    const __m128i beforeA = _mm_set1_epi8('A' - 1);
    const __m128i afterZ = _mm_set1_epi8('Z' + 1);
    const __m128i caseBit = _mm_set1_epi8(0x20);
    for (; i < n && readable - i >= 16; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i));
        const __m128i capital = _mm_and_si128(_mm_cmpgt_epi8(v, beforeA), _mm_cmplt_epi8(v, afterZ));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i), _mm_add_epi8(v, _mm_and_si128(capital, caseBit)));
    }
#endif
    for (; i < n; ++i)
        to[i] = from[i] >= 'A' && from[i] <= 'Z' ? static_cast<char>(from[i] + 0x20) : from[i];
}

} // namespace tarnwick::core
