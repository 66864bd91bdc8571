#include "platform/files.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnwick::platform {

namespace {

bool writeAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

std::string folderOf(const std::string& path)
{
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A save killed between mkstemp and rename leaves "<name>.XXXXXX" behind; the
// next save of the same file removes such leftovers once they are a minute old
// (younger ones may belong to a save in progress).
void removeStaleTemporaries(const std::string& path)
{
    const std::string folder = folderOf(path);
    const auto slash = path.find_last_of('/');
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr)
        return;
    const time_t cutoff = ::time(nullptr) - 60;
    while (const dirent* e = ::readdir(dir)) {
        std::string_view name(e->d_name);
        if (name.size() != base.size() + 7 || name.compare(0, base.size(), base) != 0 || name[base.size()] != '.')
            continue;
        bool mkstempSuffix = true;
        for (char c : name.substr(base.size() + 1))
            mkstempSuffix = mkstempSuffix && std::isalnum(static_cast<unsigned char>(c));
        if (!mkstempSuffix)
            continue;
        const std::string full = joinPath(folder, name);
        struct stat st {};
        if (::lstat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_mtime < cutoff)
            ::unlink(full.c_str());
    }
    ::closedir(dir);
}

void syncFolder(const std::string& path)
{
    int fd = ::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

std::string joinPath(std::string_view dir, std::string_view name)
{
    std::string out(dir);
    if (!out.empty() && out.back() != '/')
        out += '/';
    out += name;
    return out;
}

std::optional<std::string> readFile(const std::string& path)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::string out;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
        out.reserve(static_cast<size_t>(st.st_size));
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0)
            break;
        out.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    return out;
}

bool writeFileAtomic(const std::string& path, std::string_view bytes)
{
    std::string temp = path + ".XXXXXX";
    int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return false;
    struct stat old {};
    // a replaced file keeps the permissions of the one it replaces
    ::fchmod(fd, ::stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644);
    bool ok = writeAll(fd, bytes) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (!ok || ::rename(temp.c_str(), path.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    syncFolder(path);
    removeStaleTemporaries(path);
    return true;
}

bool appendFileSynced(const std::string& path, std::string_view bytes)
{
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    bool ok = writeAll(fd, bytes) && ::fsync(fd) == 0;
    return (::close(fd) == 0) && ok;
}

bool fileExists(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

bool removeFile(const std::string& path)
{
    return ::unlink(path.c_str()) == 0;
}

std::optional<long long> fileSize(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return std::nullopt;
    return static_cast<long long>(st.st_size);
}

} // namespace tarnwick::platform
