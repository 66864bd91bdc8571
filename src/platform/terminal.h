#pragma once

#include "platform/result.h"

#include <iosfwd>
#include <memory>
#include <optional>
#include <streambuf>
#include <string>
#include <string_view>

namespace tarnwick::platform {

// The system's texts are bytes in the Windows-1252 code page ("Tarnwick" followed by 0xAE or 0x99); every text
// the programs write out (standard output and error, the log) is UTF-8, converted at the edge.

// The character set of the user's locale (LC_CTYPE from the environment), e.g. "UTF-8" or "ISO-8859-1".
std::string localeCodeset();

// `text` in the character set `codeset`: for UTF-8, text that is valid UTF-8 already (a page fetched as
// UTF-8) is kept and any other is read as Windows-1252; other character sets go through iconv, characters
// they lack as approximations. A Windows-1252 or Latin-1 codeset, or one iconv does not know, keeps the bytes.
std::string toCodeset(std::string_view text, std::string_view codeset);

// `text` in UTF-8 whatever it mixes: every well-formed UTF-8 character is kept (a template's dash, a page fetched
// as UTF-8) and every other byte is read as Windows-1252 (the system's own texts, a value from a Latin-1 page).
std::string utf8Text(std::string_view text);

// A stream buffer that converts whole lines to `codeset` before handing them to `target`: to UTF-8 with utf8Text,
// to any other set with toCodeset; for a terminal (`terminal`) made terminalSafe as well.
class CodesetStreamBuf final : public std::streambuf {
public:
    CodesetStreamBuf(std::streambuf* target, std::string codeset, bool terminal = true)
        : m_target(target), m_codeset(std::move(codeset)), m_terminal(terminal)
    {
    }
    ~CodesetStreamBuf() override { sync(); }
    // After what is pending, `sequence` unchanged: the program's own terminal controls.
    bool writeRaw(std::string_view sequence);

protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* s, std::streamsize n) override;
    int sync() override;

private:
    bool flushLines(bool all);

    std::streambuf* m_target;
    std::string m_codeset;
    bool m_terminal;
    std::string m_pending;
    bool m_failed = false;
};

// One line read from `fd` without its line end (LF or CR LF). On a terminal `prompt` is written to standard
// error first and, with `hidden`, what is typed is not echoed. None when the input ends before any byte.
std::optional<std::string> readInputLine(int fd, std::string_view prompt, bool hidden);

// `text` as a terminal may show it: control bytes that could move the cursor, retitle the window or
// clear the screen (C0 and C1 controls, DEL; in UTF-8 also U+0080 to U+009F) become "^" and a letter
// ("^[" for ESC) or "?"; tab and line feed stay, and a CR only right before its LF.
std::string terminalSafe(std::string_view text, std::string_view codeset);

// Writes a control sequence of the program's own ("\r\033[K") to `os`, past the filter when `os` writes
// through a CodesetStreamBuf.
void writeControl(std::ostream& os, std::string_view sequence);

// `text` as it goes to the file descriptor `fd`: in UTF-8 (utf8Text), and on a terminal made terminalSafe.
std::string forOutput(int fd, std::string_view text);

// Standard input read to its end.
ResultOf<std::string> readStandardInput();
// `text` written whole to standard output at once (more writes only when the output takes it in parts), past the
// buffers of the streams.
Result writeStandardOutput(std::string_view text);
// Flushes std::cout and stdout: a command whose output could not be written (a full disk, a closed pipe) learns
// why.
Result flushStandardOutput();

// For its life, std::cout and std::cerr write their lines in UTF-8, redirected or not and whatever the locale;
// on a terminal they are made terminalSafe as well.
class TerminalStreams {
public:
    TerminalStreams();
    ~TerminalStreams();
    TerminalStreams(const TerminalStreams&) = delete;
    TerminalStreams& operator=(const TerminalStreams&) = delete;

private:
    std::unique_ptr<CodesetStreamBuf> m_out;
    std::unique_ptr<CodesetStreamBuf> m_err;
    std::streambuf* m_oldOut = nullptr;
    std::streambuf* m_oldErr = nullptr;
};

} // namespace tarnwick::platform
