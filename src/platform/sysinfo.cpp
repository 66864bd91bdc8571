#include "platform/sysinfo.h"

#include <climits>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

namespace tarnwick::platform {

std::optional<std::string> osDescription()
{
    struct utsname names {};
    if (::uname(&names) != 0)
        return std::nullopt;
    std::string out = names.sysname;
    out += ' ';
    out += names.release;
    out += " (";
    out += names.machine;
    out += ')';
    return out;
}

std::optional<std::string> programFolder()
{
    char buf[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return std::nullopt;
    std::string path(buf, static_cast<size_t>(n));
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return std::nullopt;
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::optional<std::int64_t> lastWriteMillis(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return std::nullopt;
    return static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
}

} // namespace tarnwick::platform
