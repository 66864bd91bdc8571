#include "platform/terminal.h"

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <iconv.h>
#include <iostream>
#include <langinfo.h>
#include <termios.h>
#include <unistd.h>

namespace tarnwick::platform {

namespace {

// The code points of bytes 0x80 to 0x9F in Windows-1252; 0 where the code page has none.
constexpr char32_t k_cp1252High[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                       0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                       0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                       0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char upper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// The codeset's name in capitals without "-" or "_": "utf-8" and "UTF8" are both "UTF8".
std::string plainName(std::string_view codeset)
{
    std::string out;
    for (char c : codeset) {
        if (c != '-' && c != '_')
            out += upper(c);
    }
    return out;
}

bool validUtf8(std::string_view text)
{
    size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        size_t more = 0;
        char32_t cp = 0;
        if (c < 0x80) {
            ++i;
            continue;
        }
        if (c >= 0xC2 && c <= 0xDF) {
            more = 1;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            more = 2;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            more = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (text.size() - i <= more)
            return false;
        for (size_t k = 1; k <= more; ++k) {
            const auto b = static_cast<unsigned char>(text[i + k]);
            if ((b & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (b & 0x3F);
        }
        // no overlong forms, no surrogates, nothing past U+10FFFF
        if ((more == 2 && cp < 0x800) || (more == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += more + 1;
    }
    return true;
}

void appendUtf8(std::string& out, char32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string cp1252ToUtf8(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + text.size() / 4);
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        char32_t cp = c;
        if (c >= 0x80 && c <= 0x9F)
            cp = k_cp1252High[c - 0x80] != 0 ? k_cp1252High[c - 0x80] : U'?';
        appendUtf8(out, cp);
    }
    return out;
}

std::string throughIconv(std::string_view text, std::string_view codeset)
{
    const std::string to = std::string(codeset) + "//TRANSLIT";
    iconv_t cd = ::iconv_open(to.c_str(), "CP1252");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::string(text);
    std::string out;
    std::string in(text);
    char* inp = in.data();
    size_t inLeft = in.size();
    char buf[4096];
    while (inLeft > 0) {
        char* outp = buf;
        size_t outLeft = sizeof buf;
        const size_t r = ::iconv(cd, &inp, &inLeft, &outp, &outLeft);
        out.append(buf, static_cast<size_t>(outp - buf));
        if (r == static_cast<size_t>(-1) && errno != E2BIG) {
            // a byte the conversion cannot take is shown as "?"
            out += '?';
            ++inp;
            --inLeft;
        }
    }
    ::iconv_close(cd);
    return out;
}

} // namespace

std::string localeCodeset()
{
    const char* old = std::setlocale(LC_CTYPE, nullptr);
    const std::string saved = old ? old : "C";
    std::string codeset;
    if (std::setlocale(LC_CTYPE, "") != nullptr)
        codeset = ::nl_langinfo(CODESET);
    std::setlocale(LC_CTYPE, saved.c_str());
    return codeset;
}

std::string toCodeset(std::string_view text, std::string_view codeset)
{
    const std::string name = plainName(codeset);
    bool ascii = true;
    for (char c : text)
        ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii || name.empty() || name == "CP1252" || name == "WINDOWS1252" || name == "ISO88591" || name == "LATIN1")
        return std::string(text);
    if (name == "UTF8")
        return validUtf8(text) ? std::string(text) : cp1252ToUtf8(text);
    return throughIconv(text, codeset);
}

std::string utf8Text(std::string_view text)
{
    if (validUtf8(text))
        return std::string(text);
    std::string out;
    out.reserve(text.size() + text.size() / 4);
    for (size_t i = 0; i < text.size();) {
        if (static_cast<unsigned char>(text[i]) < 0x80) {
            out += text[i++];
            continue;
        }
        // the well-formed sequence that starts here, if any
        size_t n = 0;
        for (size_t k = 2; k <= 4 && n == 0 && i + k <= text.size(); ++k) {
            if (validUtf8(text.substr(i, k)) && static_cast<unsigned char>(text[i]) >= 0xC2)
                n = k;
        }
        if (n == 0) {
            out += cp1252ToUtf8(text.substr(i, 1));
            ++i;
        } else {
            out.append(text, i, n);
            i += n;
        }
    }
    return out;
}

std::string terminalSafe(std::string_view text, std::string_view codeset)
{
    const std::string name = plainName(codeset);
    const bool utf8 = name == "UTF8";
    // in the ISO 8859 sets (and ASCII) bytes 0x80 to 0x9F are the C1 controls; Windows-1252 prints them
    const bool c1Bytes = !utf8 && name != "CP1252" && name != "WINDOWS1252";
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const bool lineEnd = c == '\r' && i + 1 < text.size() && text[i + 1] == '\n';
        // NOLINTNEXTLINE(bugprone-branch-clone): tab and line ends are kept as every printable byte is
        if (c == '\t' || c == '\n' || lineEnd) {
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            out += '^';
            out += c == 0x7F ? '?' : static_cast<char>(c + 0x40);
        } else if (utf8 && c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            out += '?';
            ++i;
        } else if (c1Bytes && c >= 0x80 && c <= 0x9F) {
            out += '?';
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string forOutput(int fd, std::string_view text)
{
    std::string utf8 = utf8Text(text);
    return ::isatty(fd) == 1 ? terminalSafe(utf8, "UTF-8") : utf8;
}

std::optional<std::string> readInputLine(int fd, std::string_view prompt, bool hidden)
{
    termios saved{};
    const bool terminal = ::tcgetattr(fd, &saved) == 0;
    if (terminal) {
        // the echo goes off before the prompt asks for anything
        if (hidden) {
            termios quiet = saved;
            quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
            ::tcsetattr(fd, TCSAFLUSH, &quiet);
        }
        std::cerr << prompt << std::flush;
    }
    std::string line;
    bool any = false;
    for (;;) {
        char c = 0;
        const ssize_t n = ::read(fd, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || c == '\n') {
            any = any || n > 0;
            break;
        }
        any = true;
        line += c;
    }
    if (terminal && hidden) {
        ::tcsetattr(fd, TCSAFLUSH, &saved);
        std::cerr << '\n' << std::flush; // the Enter that was not echoed
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    if (!any)
        return std::nullopt;
    return line;
}

bool CodesetStreamBuf::flushLines(bool all)
{
    size_t end = m_pending.size();
    if (!all) {
        const size_t lf = m_pending.rfind('\n');
        end = lf == std::string::npos ? 0 : lf + 1;
    }
    if (end == 0)
        return !m_failed;
    const std::string_view lines = std::string_view(m_pending).substr(0, end);
    std::string converted = plainName(m_codeset) == "UTF8" ? utf8Text(lines) : toCodeset(lines, m_codeset);
    if (m_terminal)
        converted = terminalSafe(converted, m_codeset);
    m_pending.erase(0, end);
    const auto n = static_cast<std::streamsize>(converted.size());
    if (m_target->sputn(converted.data(), n) != n)
        m_failed = true;
    return !m_failed;
}

CodesetStreamBuf::int_type CodesetStreamBuf::overflow(int_type c)
{
    if (traits_type::eq_int_type(c, traits_type::eof()))
        return traits_type::not_eof(c);
    m_pending += traits_type::to_char_type(c);
    if (c == '\n' && !flushLines(false))
        return traits_type::eof();
    return c;
}

std::streamsize CodesetStreamBuf::xsputn(const char* s, std::streamsize n)
{
    m_pending.append(s, static_cast<size_t>(n));
    if (m_pending.find('\n', m_pending.size() - static_cast<size_t>(n)) != std::string::npos && !flushLines(false))
        return 0;
    return n;
}

bool CodesetStreamBuf::writeRaw(std::string_view sequence)
{
    const auto n = static_cast<std::streamsize>(sequence.size());
    if (!flushLines(true) || m_target->sputn(sequence.data(), n) != n)
        m_failed = true;
    return !m_failed;
}

void writeControl(std::ostream& os, std::string_view sequence)
{
    if (auto* filtered = dynamic_cast<CodesetStreamBuf*>(os.rdbuf()))
        filtered->writeRaw(sequence);
    else
        os << sequence;
}

int CodesetStreamBuf::sync()
{
    if (!flushLines(true))
        return -1;
    return m_target->pubsync() == 0 && !m_failed ? 0 : -1;
}

TerminalStreams::TerminalStreams()
{
    m_out = std::make_unique<CodesetStreamBuf>(std::cout.rdbuf(), "UTF-8", ::isatty(STDOUT_FILENO) == 1);
    m_oldOut = std::cout.rdbuf(m_out.get());
    m_err = std::make_unique<CodesetStreamBuf>(std::cerr.rdbuf(), "UTF-8", ::isatty(STDERR_FILENO) == 1);
    m_oldErr = std::cerr.rdbuf(m_err.get());
}

TerminalStreams::~TerminalStreams()
{
    if (m_out) {
        std::cout.flush();
        std::cout.rdbuf(m_oldOut);
    }
    if (m_err) {
        std::cerr.flush();
        std::cerr.rdbuf(m_oldErr);
    }
}

ResultOf<std::string> readStandardInput()
{
    std::string out;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return Result::systemFailure(errno);
        }
        if (n == 0)
            return out;
        out.append(buf, static_cast<size_t>(n));
    }
}

Result writeStandardOutput(std::string_view text)
{
    while (!text.empty()) {
        const ssize_t n = ::write(STDOUT_FILENO, text.data(), text.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return Result::systemFailure(n < 0 ? errno : EIO);
        text.remove_prefix(static_cast<size_t>(n));
    }
    return {};
}

Result flushStandardOutput()
{
    std::cout.flush();
    if (!std::cout || std::fflush(stdout) != 0 || std::ferror(stdout))
        return Result::systemFailure(errno);
    return {};
}

} // namespace tarnwick::platform
