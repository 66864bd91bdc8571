#include "platform/install.h"

#include "platform/files.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <pwd.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace tarnwick::platform {

namespace {

std::string reason(int error)
{
    return std::generic_category().message(error);
}

// A string value of a desktop entry: backslash, line breaks and tabs escaped, and
// a leading blank kept (the reader drops blanks after "=").
std::string entryValue(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        case ' ':
            out += i == 0 ? "\\s" : " ";
            break;
        default:
            out += c;
        }
    }
    return out;
}

// One argument of an Exec line: quoted when it holds a reserved character, with
// the four characters that quoting does not protect escaped; "%" doubled, as a
// single one starts a field code.
std::string execArgument(std::string_view arg)
{
    constexpr std::string_view reserved = " \t\n\"'\\><~|&;$*?#()`";
    const bool quote = arg.empty() || arg.find_first_of(reserved) != std::string_view::npos;
    std::string out;
    if (quote)
        out += '"';
    for (char c : arg) {
        if (quote && (c == '"' || c == '`' || c == '$' || c == '\\'))
            out += '\\';
        out += c;
        if (c == '%')
            out += '%';
    }
    if (quote)
        out += '"';
    return out;
}

std::string writeEntry(const std::string& folder, std::string_view name, const std::string& text)
{
    if (name.empty() || name.find('/') != std::string_view::npos)
        return std::string("\"").append(name).append("\" cannot name a shortcut file.");
    const std::string path = joinPath(folder, std::string(name).append(".desktop"));
    if (!writeFileAtomic(path, text))
        return "Cannot write " + path + ".";
    return {};
}

// The base directory `variable` names, or `fallback` in the home directory; a relative value is invalid and
// ignored.
std::string baseDirectory(const char* variable, std::string_view fallback)
{
    if (const char* xdg = std::getenv(variable); xdg && xdg[0] == '/')
        return xdg;
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] == '\0') {
        const passwd* pw = ::getpwuid(::getuid());
        home = pw && pw->pw_dir ? pw->pw_dir : ".";
    }
    return joinPath(home, fallback);
}

} // namespace

std::string dataHome()
{
    return baseDirectory("XDG_DATA_HOME", ".local/share");
}

std::string cacheHome()
{
    return baseDirectory("XDG_CACHE_HOME", ".cache");
}

std::optional<std::string> runningProgramPath()
{
    std::string buf(256, '\0');
    for (;;) {
        ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
        if (n <= 0)
            return std::nullopt;
        if (static_cast<std::size_t>(n) < buf.size()) {
            buf.resize(static_cast<std::size_t>(n));
            break;
        }
        buf.resize(buf.size() * 2);
    }
    // a program file renamed over while it runs reads as "<path> (deleted)"
    constexpr std::string_view deleted = " (deleted)";
    if (buf.ends_with(deleted) && !fileExists(buf))
        buf.resize(buf.size() - deleted.size());
    return buf;
}

std::string installedProgramPath(std::string_view installDir, std::string_view programName)
{
    return joinPath(installDir, programName);
}

bool sameFile(const std::string& a, const std::string& b)
{
    if (a.empty() || b.empty())
        return false;
    // one path names one file, whether it is there yet or not
    if (std::filesystem::path(a).lexically_normal() == std::filesystem::path(b).lexically_normal())
        return true;
    std::error_code ec;
    return std::filesystem::equivalent(a, b, ec) && !ec;
}

bool systemFolder(const std::string& dir)
{
    std::error_code ec;
    const std::string resolved = std::filesystem::weakly_canonical(dir, ec).string();
    const std::string& path = ec ? dir : resolved;
    for (std::string_view top : {"/usr", "/opt", "/bin", "/sbin", "/lib", "/snap"}) {
        if (path == top || (path.starts_with(top) && path[top.size()] == '/'))
            return true;
    }
    return ::access(path.c_str(), W_OK) != 0;
}

std::string defaultShortcutFolder()
{
    return joinPath(dataHome(), "applications/Tarnwick");
}

std::string defaultInstallFolder()
{
    return joinPath(dataHome(), "Tarnwick");
}

ProgramFileWriter::ProgramFileWriter(std::string path) : m_path(std::move(path)), m_temp(m_path + ".XXXXXX")
{
    m_fd = ::mkstemp(m_temp.data());
    if (m_fd < 0) {
        m_error = "Cannot write beside " + m_path + ": " + reason(errno);
        m_temp.clear();
    } else if (::fchmod(m_fd, 0755) != 0) {
        fail(errno);
    }
}

ProgramFileWriter::~ProgramFileWriter()
{
    if (m_fd >= 0)
        ::close(m_fd);
    if (!m_temp.empty())
        ::unlink(m_temp.c_str());
}

void ProgramFileWriter::fail(int error)
{
    if (m_error.empty())
        m_error = "Cannot write " + m_path + ": " + reason(error);
}

bool ProgramFileWriter::write(std::string_view block)
{
    while (m_error.empty() && !block.empty()) {
        const ssize_t n = ::write(m_fd, block.data(), block.size());
        if (n < 0 && errno != EINTR)
            fail(errno);
        else if (n > 0)
            block.remove_prefix(static_cast<std::size_t>(n));
    }
    return m_error.empty();
}

bool ProgramFileWriter::commit()
{
    if (!m_error.empty())
        return false;
    if (::fsync(m_fd) != 0)
        fail(errno);
    const int closed = ::close(m_fd);
    m_fd = -1;
    if (closed != 0)
        fail(errno);
    if (m_error.empty() && ::rename(m_temp.c_str(), m_path.c_str()) != 0)
        fail(errno);
    if (!m_error.empty())
        return false;
    m_temp.clear();
    (void)syncFolder(folderOf(m_path));
    return true;
}

std::string writeProgramFile(const std::string& path, std::string_view bytes)
{
    ProgramFileWriter writer(path);
    return writer.write(bytes) && writer.commit() ? std::string() : writer.error();
}

// The record this program carries; kept by the linker though nothing reads it, and read by the next program.
extern const char k_versionRecord[];
[[gnu::used]] const char k_versionRecord[] = "Tarnwick program version record: " TARNWICK_VERSION "\n";

std::optional<std::string> programFileVersion(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    // blocks overlap by a mark and a version, so a record across two blocks is still whole in one
    constexpr std::size_t k_block = 1 << 16;
    constexpr std::size_t k_longestVersion = 32;
    const std::size_t keep = k_versionRecordMark.size() + k_longestVersion;
    std::string buffer;
    std::optional<std::string> version;
    for (;;) {
        const std::size_t had = buffer.size();
        buffer.resize(had + k_block);
        ssize_t n = 0;
        do
            n = ::read(fd, buffer.data() + had, k_block);
        while (n < 0 && errno == EINTR);
        buffer.resize(had + static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
        const bool end = n <= 0;
        for (std::size_t at = buffer.find(k_versionRecordMark); at != std::string::npos;
             at = buffer.find(k_versionRecordMark, at + 1)) {
            const std::size_t from = at + k_versionRecordMark.size();
            const std::size_t stop = buffer.find_first_not_of("0123456789.", from);
            if (stop == std::string::npos && !end)
                break; // the version may go on in the next block
            const std::size_t to = stop == std::string::npos ? buffer.size() : stop;
            if (to > from && to - from <= k_longestVersion) {
                version = buffer.substr(from, to - from);
                break;
            }
        }
        if (version || end)
            break;
        if (buffer.size() > keep)
            buffer.erase(0, buffer.size() - keep);
    }
    ::close(fd);
    return version;
}

namespace {

// writeProgramFile with the bytes of the file `source`, read a block at a time.
std::string copyProgramFile(const std::string& source, const std::string& target)
{
    const int fd = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return "Cannot read " + source + ": " + reason(errno);
    ProgramFileWriter writer(target);
    std::string block(1 << 16, '\0');
    int readError = 0;
    for (;;) {
        const ssize_t n = ::read(fd, block.data(), block.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            readError = errno;
        if (n <= 0 || !writer.write(std::string_view(block.data(), static_cast<std::size_t>(n))))
            break;
    }
    ::close(fd);
    if (readError != 0)
        return "Cannot read " + source + ": " + reason(readError);
    return writer.commit() ? std::string() : writer.error();
}

} // namespace

std::string replaceProgram(const std::string& source, const std::string& target, CopyAttempts tries, const Pause& pause)
{
    std::string error;
    for (int attempt = 1;; ++attempt) {
        error = copyProgramFile(source, target);
        if (error.empty() || attempt >= tries.attempts)
            return error;
        if (pause)
            pause(tries.pause);
        else
            std::this_thread::sleep_for(tries.pause);
    }
}

std::string applicationEntry(std::string_view name, std::string_view program, const std::vector<std::string>& arguments,
                             std::string_view icon)
{
    std::string exec = execArgument(program);
    for (const std::string& arg : arguments)
        exec += ' ' + execArgument(arg);
    std::string text = "[Desktop Entry]\nType=Application\n";
    text += "Name=" + entryValue(name) + "\n";
    text += "Exec=" + entryValue(exec) + "\n";
    text += "Icon=" + entryValue(icon) + "\n";
    text += "Terminal=false\n";
    text += "Categories=" + entryValue(k_menuCategories) + "\n";
    return text;
}

std::string linkEntry(std::string_view name, std::string_view url)
{
    std::string text = "[Desktop Entry]\nType=Link\n";
    text += "Name=" + entryValue(name) + "\n";
    text += "URL=" + entryValue(url) + "\n";
    text += "Icon=" + entryValue(k_linkIconName) + "\n";
    return text;
}

std::string writeShortcuts(const Shortcuts& shortcuts)
{
    std::error_code ec;
    std::filesystem::create_directories(shortcuts.folder, ec);
    if (ec)
        return "Cannot create " + shortcuts.folder + ": " + ec.message();
    // the icon goes with the entries that show it
    std::string icon(k_themeIconName);
    if (!shortcuts.icon.empty()) {
        icon = joinPath(shortcuts.folder, k_iconFileName);
        if (const Result written = writeFileAtomic(icon, shortcuts.icon); !written)
            return "Cannot write " + icon + ": " + written.error();
    }
    std::string error = writeEntry(shortcuts.folder, k_programShortcut,
                                   applicationEntry(k_programShortcut, shortcuts.program, {}, icon));
    if (error.empty())
        error = writeEntry(shortcuts.folder, k_autoShortcut,
                           applicationEntry(k_autoShortcut, shortcuts.program, {"-auto"}, icon));
    for (const WebLink& link : shortcuts.links) {
        if (!error.empty())
            break;
        error = writeEntry(shortcuts.folder, link.name, linkEntry(link.name, link.url));
    }
    (void)removeFile(joinPath(shortcuts.folder, std::string(k_staleHelpShortcut) + ".desktop"));
    return error;
}

} // namespace tarnwick::platform
