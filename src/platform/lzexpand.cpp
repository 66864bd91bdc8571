#include "platform/lzexpand.h"

#include "platform/install.h"
#include "platform/signature.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <limits>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace tarnwick::platform {

namespace {

constexpr std::string_view k_magic("SZDD\x88\xF0\x27\x33", 8);
constexpr std::size_t k_headerSize = 14;
constexpr std::size_t k_window = 4096;
// the window starts filled with blanks and is first written 16 bytes before its end
constexpr std::size_t k_firstPosition = k_window - 16;
// one input byte yields at most 9 output bytes (a 2-byte code copies up to 18)
constexpr std::uint64_t k_maxGrowth = 9;
// what is read or written at a time
constexpr std::size_t k_block = 1 << 16;

std::uint32_t littleEndian32(std::string_view bytes)
{
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | static_cast<unsigned char>(bytes[static_cast<std::size_t>(i)]);
    return v;
}

// The input: a block in memory, or a file read a block at a time.
class Source {
public:
    explicit Source(std::string_view whole) : m_at(bytes(whole.data())), m_end(m_at + whole.size()) {}
    explicit Source(int fd) : m_fd(fd), m_buffer(k_block) {}

    // The next byte, or -1 at the end (or where reading failed: readError()).
    int next()
    {
        if (m_at == m_end && !refill())
            return -1;
        return *m_at++;
    }
    // Up to `n` bytes from here on, consumed; fewer at the end.
    std::string_view take(std::size_t n)
    {
        if (m_at == m_end)
            (void)refill();
        const std::size_t got = std::min(n, static_cast<std::size_t>(m_end - m_at));
        const std::string_view out(reinterpret_cast<const char*>(m_at), got);
        m_at += got;
        return out;
    }
    // Before anything is taken: the input's first bytes, a block of them (all of a shorter input), not taken.
    std::string_view peek()
    {
        if (m_fd >= 0 && m_at == nullptr)
            (void)refill();
        return {reinterpret_cast<const char*>(m_at), static_cast<std::size_t>(m_end - m_at)};
    }
    int readError() const { return m_error; }

private:
    static const unsigned char* bytes(const char* p) { return reinterpret_cast<const unsigned char*>(p); }
    // Reads the next block; false when nothing more came.
    bool refill()
    {
        if (m_fd < 0 || m_error != 0)
            return false;
        auto* base = reinterpret_cast<char*>(m_buffer.data());
        std::size_t have = 0;
        while (have < m_buffer.size()) {
            const ssize_t n = ::read(m_fd, base + have, m_buffer.size() - have);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                m_error = errno;
            if (n <= 0)
                break;
            have += static_cast<std::size_t>(n);
        }
        m_at = m_buffer.data();
        m_end = m_at + have;
        return have > 0;
    }

    const unsigned char* m_at = nullptr;
    const unsigned char* m_end = nullptr;
    int m_fd = -1;
    int m_error = 0;
    std::vector<unsigned char> m_buffer;
};

// The output: gathered into blocks for `deliver`, and never more than `maxLength` bytes. A byte past that
// ends the output, as does a delivery that fails.
class Output {
public:
    using Deliver = std::function<bool(std::string_view)>;
    Output(std::uint64_t maxLength, Deliver deliver) : m_max(maxLength), m_deliver(std::move(deliver))
    {
        m_block.reserve(k_block);
    }

    bool ended() const { return m_past || m_failed; }
    bool past() const { return m_past; }
    bool failed() const { return m_failed; }
    std::uint64_t length() const { return m_length; }

    void put(unsigned char c)
    {
        if (m_length == m_max) {
            m_past = true;
            return;
        }
        m_block.push_back(static_cast<char>(c));
        ++m_length;
        if (m_block.size() == k_block)
            flush();
    }
    void put(std::string_view bytes)
    {
        const std::uint64_t room = m_max - m_length;
        if (bytes.size() > room) {
            bytes = bytes.substr(0, static_cast<std::size_t>(room));
            m_past = true;
        }
        flush();
        m_length += bytes.size();
        if (!m_failed && !bytes.empty() && !m_deliver(bytes))
            m_failed = true;
    }
    void flush()
    {
        if (!m_failed && !m_block.empty() && !m_deliver(m_block))
            m_failed = true;
        m_block.clear();
    }

private:
    std::uint64_t m_max;
    Deliver m_deliver;
    std::string m_block;
    std::uint64_t m_length = 0;
    bool m_past = false;
    bool m_failed = false;
};

// Expands what `in` holds into `out`; returns what is wrong with the compressed data, empty when nothing is.
// Output past its maximum or a failed delivery end the expansion without a text of their own.
std::string expand(Source& in, Output& out)
{
    const std::string_view head = in.peek();
    if (head.substr(0, k_magic.size()) != k_magic) {
        for (std::string_view block = in.take(k_block); !block.empty() && !out.ended(); block = in.take(k_block))
            out.put(block);
        out.flush();
        return {};
    }
    if (head.size() < k_headerSize)
        return "The compressed file is truncated: its header is incomplete.";
    if (head[8] != 'A')
        return "The compressed file uses an unknown compression method.";
    const std::uint64_t length = littleEndian32(head.substr(10, 4));
    (void)in.take(k_headerSize);

    std::array<unsigned char, k_window> window;
    window.fill(' ');
    std::size_t pos = k_firstPosition;
    std::uint64_t produced = 0;
    auto emit = [&](unsigned char c) {
        out.put(c);
        window[pos] = c;
        pos = (pos + 1) & (k_window - 1);
        ++produced;
    };
    bool more = true;
    while (more && produced < length && !out.ended()) {
        const int flags = in.next();
        if (flags < 0)
            break;
        for (unsigned bit = 0; bit < 8 && produced < length && !out.ended(); ++bit) {
            if (flags & (1u << bit)) {
                const int c = in.next();
                if (c < 0) {
                    more = false;
                    break;
                }
                emit(static_cast<unsigned char>(c));
                continue;
            }
            const int lo = in.next();
            const int hi = lo < 0 ? -1 : in.next();
            if (hi < 0) {
                more = false;
                break;
            }
            std::size_t from = static_cast<std::size_t>(lo) | (static_cast<std::size_t>(hi & 0xF0) << 4);
            const std::uint64_t count = std::min<std::uint64_t>((hi & 0x0F) + 3, length - produced);
            for (std::uint64_t n = 0; n < count && !out.ended(); ++n) {
                emit(window[from]);
                from = (from + 1) & (k_window - 1);
            }
        }
    }
    out.flush();
    if (!out.ended() && produced < length)
        return "The compressed file is truncated: it holds " + std::to_string(produced) + " of the " +
               std::to_string(length) + " bytes its header gives.";
    return {};
}

} // namespace

bool isLzCompressed(std::string_view data)
{
    return data.substr(0, k_magic.size()) == k_magic;
}

std::string lzExpand(std::string_view data, std::string& out)
{
    out.clear();
    if (isLzCompressed(data) && data.size() >= k_headerSize) {
        // a header that claims more than the codes can hold fails; memory follows the input
        const std::uint64_t claimed = littleEndian32(data.substr(10, 4));
        out.reserve(static_cast<std::size_t>(std::min(claimed, k_maxGrowth * (data.size() - k_headerSize))));
    }
    Source in(data);
    Output sink(std::numeric_limits<std::uint64_t>::max(), [&out](std::string_view block) {
        out.append(block);
        return true;
    });
    std::string error = expand(in, sink);
    if (!error.empty())
        out.clear();
    return error;
}

std::string lzExpandFile(const std::string& from, const std::string& to, std::uint64_t maxLength,
                         ExpandedFile& expanded)
{
    expanded = {};
    const int fd = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return "Cannot read " + from + ": " + std::generic_category().message(errno) + ".";
    ProgramFileWriter writer(to);
    Sha256 digest;
    Source in(fd);
    Output out(maxLength, [&](std::string_view block) {
        digest.add(block);
        return writer.write(block);
    });
    std::string error = expand(in, out);
    ::close(fd);
    if (error.empty() && in.readError() != 0)
        error = "Cannot read " + from + ": " + std::generic_category().message(in.readError()) + ".";
    if (error.empty() && out.past()) {
        expanded.past = true;
        error = "The expanded file would be longer than " + std::to_string(maxLength) + " bytes.";
    }
    if (error.empty() && (out.failed() || !writer.commit()))
        error = writer.error();
    if (!error.empty())
        return error;
    expanded.length = out.length();
    expanded.sha256 = digest.hex();
    return {};
}

} // namespace tarnwick::platform
