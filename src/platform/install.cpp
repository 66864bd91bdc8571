#include "platform/install.h"

#include "platform/files.h"

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

std::string writeProgramFile(const std::string& path, std::string_view bytes)
{
    std::string temp = path + ".XXXXXX";
    int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return "Cannot write beside " + path + ": " + reason(errno);
    int error = 0;
    if (::fchmod(fd, 0755) != 0)
        error = errno;
    for (std::string_view rest = bytes; error == 0 && !rest.empty();) {
        ssize_t n = ::write(fd, rest.data(), rest.size());
        if (n < 0 && errno != EINTR)
            error = errno;
        else if (n > 0)
            rest.remove_prefix(static_cast<std::size_t>(n));
    }
    if (error == 0 && ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && ::rename(temp.c_str(), path.c_str()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(temp.c_str());
        return "Cannot write " + path + ": " + reason(error);
    }
    if (int dir = ::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return {};
}

std::string replaceProgram(const std::string& source, const std::string& target, CopyAttempts tries, const Pause& pause)
{
    std::string error;
    for (int attempt = 1;; ++attempt) {
        if (ResultOf<std::string> bytes = readFile(source); !bytes)
            error = "Cannot read " + source + ": " + reason(bytes.code());
        else
            error = writeProgramFile(target, *bytes);
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
