#include "base/log.h"

#include "base/frontend.h"
#include "base/settings.h"
#include "core/daynumber.h"
#include "core/textfile.h"
#include "platform/files.h"
#include "platform/terminal.h"

#include <cstdarg>
#include <cstdio>

namespace tarnwick::base {

namespace {

constexpr long long k_maxLogBytes = 100000;
constexpr size_t k_keptChars = 10000;
constexpr std::string_view k_discardedMarker = "--log discarded before here--\n";

std::string formatMessage(const char* format, va_list args)
{
    va_list again;
    va_copy(again, args);
    char small[512];
    int n = std::vsnprintf(small, sizeof small, format, args);
    std::string out;
    if (n < 0) {
        va_end(again);
        return out;
    }
    if (static_cast<size_t>(n) < sizeof small) {
        out.assign(small, static_cast<size_t>(n));
    } else {
        out.resize(static_cast<size_t>(n) + 1);
        std::vsnprintf(out.data(), out.size(), format, again);
        out.resize(static_cast<size_t>(n));
    }
    va_end(again);
    return out;
}

} // namespace

Log::Log(const AppSettings& settings) : m_settings(&settings) {}

Log::Log(std::string logDir) : m_logDir(std::move(logDir)) {}

std::string Log::logDir() const
{
    return m_settings ? m_settings->value(setting::LogDir) : m_logDir;
}

std::string Log::path() const
{
    std::string dir = logDir();
    return dir.empty() ? std::string() : platform::joinPath(dir, "Tarnwick.log");
}

void Log::write(const char* format, ...)
{
    if (logDir().empty())
        return;
    va_list args;
    va_start(args, format);
    std::string message = formatMessage(format, args);
    va_end(args);
    writeText(message);
}

void Log::writeText(std::string_view message)
{
    std::string file = path();
    if (file.empty())
        return;
    std::string record = core::formatTime(core::now(true), true, false);
    record += "> ";
    record += platform::utf8Text(message);
    if (m_checkedPath != file) {
        // a log that older versions wrote in Windows-1252 becomes UTF-8 whole before the first record joins it
        m_checkedPath = file;
        if (std::optional<std::string> old = platform::readFile(file)) {
            if (std::string utf8 = platform::utf8Text(*old); utf8 != *old)
                (void)platform::writeFileAtomic(file, utf8);
        }
    }

    std::optional<long long> size = platform::fileSize(file);
    if (size && *size > k_maxLogBytes) {
        // cut back to a marker line and the tail; the file is replaced in one step
        // so that a crash in between never loses the log. Only the tail is read: twice
        // the kept characters hold them even when every line end is CR LF.
        std::optional<std::string> bytes = platform::readFileTail(file, 2 * k_keptChars + 2);
        if (!bytes)
            return;
        std::string text = core::fromTextMode(*bytes);
        size_t from = text.size() > k_keptChars ? text.size() - k_keptChars : 0;
        // the tail starts with a whole character
        while (from < text.size() && (static_cast<unsigned char>(text[from]) & 0xC0) == 0x80)
            ++from;
        std::string kept(k_discardedMarker);
        kept.append(text, from, std::string::npos);
        kept += record;
        (void)platform::writeFileAtomic(file, core::toTextMode(kept));
        return;
    }
    (void)platform::appendFile(file, core::toTextMode(record));
}

void errorReport(Log& log, FrontEnd& frontEnd, std::string_view text, std::string_view title)
{
    if (!text.empty() && text.front() == '!')
        text.remove_prefix(1);
    std::string line(title);
    line += " '";
    line.append(text);
    line += "'\n";
    log.writeText(line);
    frontEnd.tell(std::string(text), title, Severity::Error);
}

} // namespace tarnwick::base
