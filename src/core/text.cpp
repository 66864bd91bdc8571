#include "core/text.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
// the searches sift 32 positions at a time where the processor has AVX2, found out when the program runs
#define TARNWICK_SIFT_AVX2 1
#include <immintrin.h>
#endif
#include <string.h>

namespace tarnwick::core {

namespace {

char upperAscii(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

size_t memmemFrom(std::string_view text, std::string_view needle, size_t from)
{
    const void* hit = ::memmem(text.data() + from, text.size() - from, needle.data(), needle.size());
    return hit == nullptr ? std::string_view::npos : static_cast<size_t>(static_cast<const char*>(hit) - text.data());
}

#if defined(TARNWICK_SIFT_AVX2)
bool hasAvx2()
{
    static const bool avx2 = __builtin_cpu_supports("avx2") != 0;
    return avx2;
}

// siftedFind's sifting 32 positions at a time, on processors that can: from position i on, while all 32 lie at
// or before `last`. Returns where it stopped; `over` is set when `candidate` ended the search.
template <char Bit, class Candidate>
__attribute__((target("avx2"))) size_t siftAvx2(const char* data, size_t i, size_t last, size_t near, size_t far,
                                                char first, char final, Candidate& candidate, bool& over)
{
    const __m256i vBit = _mm256_set1_epi8(Bit);
    const __m256i vFirst = _mm256_set1_epi8(first);
    const __m256i vFinal = _mm256_set1_epi8(final);
    for (; i <= last && last - i >= 31; i += 32) {
        const __m256i a = _mm256_or_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + i + near)), vBit);
        const __m256i b = _mm256_or_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + i + far)), vBit);
        auto mask = static_cast<unsigned>(
            _mm256_movemask_epi8(_mm256_and_si256(_mm256_cmpeq_epi8(a, vFirst), _mm256_cmpeq_epi8(b, vFinal))));
        for (; mask != 0; mask &= mask - 1) {
            if (candidate(i + static_cast<size_t>(__builtin_ctz(mask)))) {
                over = true;
                return i;
            }
        }
    }
    return i;
}
#endif

// How common a byte is in pages and their text, 0 (rare) to 5: blank space and tag marks the most, then the
// letters by how often they turn up in English, then figures and punctuation; capitals the least.
constexpr std::array<unsigned char, 256> k_commonness = [] {
    std::array<unsigned char, 256> table{};
    const std::string_view levels[] = {"-.0123456789vkxjqz", "=\":,;fpgwyb", "hldcum", "etaoinsr", " <>/\r\n"};
    for (unsigned char level = 1; level <= 5; ++level) {
        for (char c : levels[level - 1])
            table[static_cast<unsigned char>(c)] = level;
    }
    return table;
}();

int commonness(char c)
{
    return k_commonness[static_cast<unsigned char>(c)];
}

// The search behind findBytes and findBytesNoCase, for a needle that fits in text[from, end): a position is
// compared only when the text has there, at two offsets of the needle, the needle's bytes (sixteen positions
// are sifted at once). The two are the needle's rarest bytes, so that few positions pass. Without regard to
// case both sides carry the 0x20 bit, which makes a letter's two cases one byte; other bytes that meet by
// chance are sorted out by the comparison. The comparisons may pass over twice the text and a little more;
// past that the needle is hostile, and memmem goes on, linear whatever the needle (over an upper-cased copy
// when case does not count).
template <bool NoCase> size_t siftedFind(std::string_view text, std::string_view needle, size_t from)
{
    const size_t m = needle.size();
    const char* data = text.data();
    if (!NoCase && m == 1) {
        const void* hit = std::memchr(data + from, needle[0], text.size() - from);
        return hit == nullptr ? std::string_view::npos : static_cast<size_t>(static_cast<const char*>(hit) - data);
    }
    std::string upper;
    if constexpr (NoCase)
        upper = toUpperAscii(needle);
    const std::string_view want = NoCase ? std::string_view(upper) : needle;
    const char bit = NoCase ? 0x20 : 0;
    size_t near = 0;
    size_t far = m - 1;
    if (m > 2) {
        // the rarest byte, and of the bytes as rare as the rarest other one, the farthest from it: where each
        // level of commonness first and last stands tells both in one pass
        constexpr size_t k_levels = 6;
        std::array<size_t, k_levels> firstAt;
        std::array<size_t, k_levels> lastAt{};
        firstAt.fill(m);
        for (size_t k = 0; k < m; ++k) {
            const int level = commonness(static_cast<char>(want[k] | bit));
            if (firstAt[level] == m)
                firstAt[level] = k;
            lastAt[level] = k;
        }
        size_t level = 0;
        while (firstAt[level] == m)
            ++level;
        near = firstAt[level];
        far = lastAt[level];
        if (far == near) {
            do
                ++level;
            while (firstAt[level] == m);
            far = near - std::min(near, firstAt[level]) > lastAt[level] - std::min(lastAt[level], near) ? firstAt[level]
                                                                                                        : lastAt[level];
        }
        if (far < near)
            std::swap(near, far);
    }
    const auto first = static_cast<char>(want[near] | bit);
    const auto final = static_cast<char>(want[far] | bit);
    const size_t last = text.size() - m;
    size_t budget = 2 * (text.size() - from) + 4096;
    auto matchesAt = [&](size_t at) {
        if constexpr (!NoCase)
            return std::memcmp(data + at, want.data(), m) == 0;
        for (size_t k = 0; k < m; ++k) {
            if (upperAscii(data[at + k]) != want[k])
                return false;
        }
        return true;
    };
    auto hostile = [&](size_t at) {
        if constexpr (!NoCase)
            return memmemFrom(text, needle, at);
        const size_t hit = memmemFrom(toUpperAscii(text.substr(at)), want, 0);
        return hit == std::string_view::npos ? hit : hit + at;
    };
    // a position that passed the sifting: true when the search is over, with its outcome in `found`
    size_t found = std::string_view::npos;
    auto candidate = [&](size_t at) {
        if (budget < m) {
            found = hostile(at);
            return true;
        }
        budget -= m;
        if (!matchesAt(at))
            return false;
        found = at;
        return true;
    };
    size_t i = from;
#if defined(TARNWICK_SIFT_AVX2)
    if (hasAvx2()) {
        bool over = false;
        i = siftAvx2 < NoCase ? 0x20 : 0 > (data, i, last, near, far, first, final, candidate, over);
        if (over)
            return found;
    }
#endif
#if defined(__SSE2__)
    const __m128i vBit = _mm_set1_epi8(bit);
    const __m128i vFirst = _mm_set1_epi8(first);
    const __m128i vFinal = _mm_set1_epi8(final);
    for (; i <= last && last - i >= 15; i += 16) {
        const __m128i a = _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i + near)), vBit);
        const __m128i b = _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i + far)), vBit);
        auto mask = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, vFirst), _mm_cmpeq_epi8(b, vFinal))));
        for (; mask != 0; mask &= mask - 1) {
            if (candidate(i + static_cast<size_t>(__builtin_ctz(mask))))
                return found;
        }
    }
#endif
    for (; i <= last; ++i) {
        if (static_cast<char>(data[i + near] | bit) != first || static_cast<char>(data[i + far] | bit) != final)
            continue;
        if (candidate(i))
            return found;
    }
    return std::string_view::npos;
}

} // namespace

size_t findBytes(std::string_view text, std::string_view needle, size_t from)
{
    if (from > text.size())
        return std::string_view::npos;
    if (needle.empty())
        return from;
    if (text.size() - from < needle.size())
        return std::string_view::npos;
    return siftedFind<false>(text, needle, from);
}

size_t findBytesNoCase(std::string_view text, std::string_view needle, size_t from)
{
    if (from > text.size())
        return std::string_view::npos;
    if (needle.empty())
        return from;
    if (text.size() - from < needle.size())
        return std::string_view::npos;
    return siftedFind<true>(text, needle, from);
}

std::string counted(long long n, std::string_view one, std::string_view many)
{
    std::string text = std::to_string(n);
    text += ' ';
    text += n == 1 ? one : many;
    return text;
}

std::string replaceAll(std::string_view text, std::string_view from, std::string_view to)
{
    if (from.empty())
        return std::string(text);
    std::string out;
    out.reserve(text.size());
    size_t pos = 0;
    for (;;) {
        size_t hit = findBytes(text, from, pos);
        if (hit == std::string_view::npos)
            break;
        out.append(text, pos, hit - pos);
        out.append(to);
        pos = hit + from.size();
    }
    out.append(text, pos, std::string_view::npos);
    return out;
}

std::string toUpperAscii(std::string_view text)
{
    std::string out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return out;
}

namespace {
unsigned char foldCase(unsigned char c)
{
    if (c >= 'A' && c <= 'Z')
        return static_cast<unsigned char>(c + 32);
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7)
        return static_cast<unsigned char>(c + 32);
    return c;
}
} // namespace

int compareNoCase(std::string_view a, std::string_view b)
{
    size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        int d = foldCase(static_cast<unsigned char>(a[i])) - foldCase(static_cast<unsigned char>(b[i]));
        if (d != 0)
            return d;
    }
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

bool equalNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && compareNoCase(a, b) == 0;
}

long leadingInteger(std::string_view text)
{
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r' ||
                               text[i] == '\v' || text[i] == '\f'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        int digit = text[i] - '0';
        if (value > (LONG_MAX - digit) / 10)
            return negative ? LONG_MIN : LONG_MAX;
        value = value * 10 + digit;
    }
    return negative ? -value : value;
}

bool isXmlForbidden(char c)
{
    const auto b = static_cast<unsigned char>(c);
    return b < 0x20 && b != '\t' && b != '\n' && b != '\r';
}

std::string escapeXml(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&apos;";
            break;
        default:
            out += isXmlForbidden(c) ? ' ' : c;
        }
    }
    return out;
}

} // namespace tarnwick::core
