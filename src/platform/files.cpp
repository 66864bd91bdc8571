#include "platform/files.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <mutex>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <unordered_map>

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

// Writes all of `bytes` and closes `fd`: the error number of the first step that failed, 0 when none did. A
// failed close counts: some file systems report a lost write only there.
int writeAndClose(int fd, std::string_view bytes)
{
    int err = writeAll(fd, bytes) ? 0 : errno;
    if (::close(fd) != 0 && err == 0)
        err = errno;
    return err;
}

// The permissions a new file gets from open(2): 0666 less the process's umask. It is read from
// /proc/self/status, as umask(2) could only tell by changing it for every thread; 022 where that line is missing.
mode_t newFileMode()
{
    mode_t mask = 022;
    if (FILE* f = std::fopen("/proc/self/status", "re")) {
        char line[256];
        while (std::fgets(line, sizeof line, f))
            if (std::strncmp(line, "Umask:", 6) == 0) {
                mask = static_cast<mode_t>(std::strtoul(line + 6, nullptr, 8)) & 0777;
                break;
            }
        std::fclose(f);
    }
    return static_cast<mode_t>(0666 & ~mask);
}

constexpr std::string_view k_tempMarker = ".tarnwick-";

// ".<name>.tarnwick-": built by appending, as GCC 12 at -O3 takes '"." + name' for an overlapping copy
std::string temporaryPrefix(const std::string& path)
{
    std::string prefix = ".";
    prefix += fileNameOf(path);
    prefix += k_tempMarker;
    return prefix;
}

// A save killed between mkstemp and rename leaves ".<name>.tarnwick-XXXXXX"
// behind, a name no user picks; a later save of the same file removes such
// leftovers once they are a minute old (younger ones may belong to a save in
// progress). Nothing else in the folder is ever touched. An empty `prefix`
// takes the leftovers of every name. Gives the time at which the youngest
// leftover kept becomes old enough to go, 0 when none was kept.
time_t removeStaleTemporaries(const std::string& folder, const std::string& prefix)
{
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr)
        return 0;
    const time_t now = ::time(nullptr);
    const time_t cutoff = now - 60;
    time_t kept = 0;
    while (const dirent* e = ::readdir(dir)) {
        std::string_view name(e->d_name);
        if (prefix.empty()) {
            if (name.size() < k_tempMarker.size() + 8 || name.front() != '.' ||
                name.substr(name.size() - 6 - k_tempMarker.size(), k_tempMarker.size()) != k_tempMarker)
                continue;
        } else if (name.size() != prefix.size() + 6 || !name.starts_with(prefix)) {
            continue;
        }
        const std::string full = joinPath(folder, name);
        struct stat st {};
        if (::lstat(full.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        if (st.st_mtime < cutoff)
            ::unlink(full.c_str());
        else
            kept = std::max(kept, std::min(st.st_mtime, now) + 61);
    }
    ::closedir(dir);
    return kept;
}

// Leftovers are only made by a process that was killed, which this one is not while it saves: a folder is swept
// at the first save of a name in the process, and again only when that sweep kept a leftover too young to go;
// what another process killed meanwhile leaves goes at the next start. A save in a folder of many files (one
// per queued message) then costs the same however many there are.
class Sweeps {
public:
    void sweep(const std::string& folder, const std::string& prefix)
    {
        struct stat st {};
        if (::stat(folder.c_str(), &st) != 0)
            return;
        // a folder removed and made again under the same name is another folder
        std::string key = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino) + ":" + folder + "/" + prefix;
        {
            std::lock_guard lock(m_mutex);
            const auto done = m_again.find(key);
            if (done != m_again.end() && (done->second == 0 || ::time(nullptr) < done->second))
                return;
        }
        const time_t again = removeStaleTemporaries(folder, prefix);
        std::lock_guard lock(m_mutex);
        m_again[std::move(key)] = again;
    }

private:
    std::mutex m_mutex;
    // when each folder and name is swept again: 0 never
    std::unordered_map<std::string, time_t> m_again;
};

void sweepTemporaries(const std::string& folder, const std::string& prefix)
{
    // never destroyed: a worker thread may save while the process ends
    static Sweeps& sweeps = *new Sweeps;
    sweeps.sweep(folder, prefix);
}

FileStamp stampOf(const struct stat& st)
{
    return FileStamp{static_cast<std::int64_t>(st.st_size),
                     static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec, st.st_ino};
}

// The file a path finally names: symbolic links are followed (a dangling one
// to the file it would name), so that a save replaces the target, not the link.
std::string followLinks(std::string path)
{
    constexpr int k_maxHops = 40;
    for (int hop = 0; hop < k_maxHops; ++hop) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            break;
        std::string target(4096, '\0');
        const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
        if (n <= 0 || static_cast<size_t>(n) >= target.size())
            break;
        target.resize(static_cast<size_t>(n));
        path = target.starts_with('/') ? target : joinPath(folderOf(path), target);
    }
    return path;
}

// fsync of a file written and closed before, or of a folder; false with errno telling why.
bool syncPath(const std::string& path, int flags)
{
    int fd = ::open(path.c_str(), flags | O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    const int err = errno;
    ::close(fd);
    errno = err;
    return ok;
}

// fsync of every path at once: a journalling file system commits syncs that wait together in one journal
// commit, and a FUSE daemon serves them side by side. False with errno telling why when any failed.
bool syncPaths(const std::vector<std::string>& paths)
{
    // a sync waits for the disk, not the processor: more threads than cores keep the disk's queue full
    constexpr size_t k_maxThreads = 16;
    const size_t threads = std::min(paths.size(), k_maxThreads);
    if (threads <= 1)
        return std::all_of(paths.begin(), paths.end(), [](const std::string& p) { return syncPath(p, 0); });
    std::atomic<size_t> next{0};
    std::atomic<int> failure{0};
    auto work = [&] {
        for (size_t i = next++; i < paths.size(); i = next++) {
            if (!syncPath(paths[i], 0)) {
                int expected = 0;
                failure.compare_exchange_strong(expected, errno != 0 ? errno : EIO);
            }
        }
    };
    std::vector<std::thread> pool;
    pool.reserve(threads - 1);
    try {
        for (size_t t = 1; t < threads; ++t)
            pool.emplace_back(work);
    } catch (const std::system_error&) {
        // no thread to spare: the calling thread syncs what is left
    }
    work();
    for (std::thread& t : pool)
        t.join();
    if (failure != 0) {
        errno = failure;
        return false;
    }
    return true;
}

// Whether one sync of the file system that holds `folder` makes every file written there durable and costs
// less than a sync per file: ext4 (ext2 and ext3 share its number), whose syncfs() commits the journal and
// flushes the disk. A FUSE file system does not pass syncfs() to its daemon (encrypted folders, sshfs, rclone),
// and a network file system may not write through either; other local ones were not measured.
bool fileSystemSyncIsDurable(const std::string& folder)
{
    struct statfs st {};
    return ::statfs(folder.c_str(), &st) == 0 && static_cast<unsigned long>(st.f_type) == EXT4_SUPER_MAGIC;
}

// Writes out everything of the file system that holds `folder`; false with errno telling why.
bool syncFileSystem(const std::string& folder)
{
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::syncfs(fd) == 0;
    const int err = errno;
    ::close(fd);
    errno = err;
    return ok;
}

// Moves `from` to `to` unless `to` exists (EEXIST then).
bool renameNoReplace(const std::string& from, const std::string& to)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // a file system without the flag: the caller holds the folder's single-instance lock
    struct stat st {};
    if (::lstat(to.c_str(), &st) == 0) {
        errno = EEXIST;
        return false;
    }
    return ::rename(from.c_str(), to.c_str()) == 0;
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

ResultOf<std::string> readFile(const std::string& path, FileKind kind)
{
    const int flags = kind == FileKind::Any ? 0 : kind == FileKind::Regular ? O_NONBLOCK : O_NONBLOCK | O_NOFOLLOW;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | flags);
    if (fd < 0)
        return Result::systemFailure(errno);
    std::string out;
    struct stat st {};
    const bool examined = ::fstat(fd, &st) == 0;
    if (!examined || (kind != FileKind::Any && !S_ISREG(st.st_mode))) {
        const int err = examined ? EINVAL : errno;
        ::close(fd);
        return Result::systemFailure(err);
    }
    // a regular file is read with one read into a buffer of its size; a file
    // that grows meanwhile, or a pipe, goes on in further reads
    size_t capacity = S_ISREG(st.st_mode) && st.st_size > 0 ? static_cast<size_t>(st.st_size) + 1 : 65536;
    size_t used = 0;
    for (;;) {
        out.resize(capacity);
        ssize_t n = ::read(fd, out.data() + used, capacity - used);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int err = errno;
            ::close(fd);
            return Result::systemFailure(err);
        }
        if (n == 0)
            break;
        used += static_cast<size_t>(n);
        if (used == capacity)
            capacity *= 2;
    }
    ::close(fd);
    out.resize(used);
    return out;
}

ResultOf<std::string> readFileTail(const std::string& path, size_t maxBytes)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return Result::systemFailure(errno);
    struct stat st {};
    const bool examined = ::fstat(fd, &st) == 0;
    if (!examined || !S_ISREG(st.st_mode)) {
        const int err = examined ? EINVAL : errno;
        ::close(fd);
        return Result::systemFailure(err);
    }
    const auto size = static_cast<size_t>(st.st_size);
    const size_t length = std::min(size, maxBytes);
    std::string out(length, '\0');
    size_t used = 0;
    while (used < length) {
        ssize_t n = ::pread(fd, out.data() + used, length - used, static_cast<off_t>(size - length + used));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break; // cut short meanwhile: what was read is the tail
        used += static_cast<size_t>(n);
    }
    ::close(fd);
    out.resize(used);
    return out;
}

Result writeFileAtomic(const std::string& linkOrPath, std::string_view bytes, FileAccess access, FileLinks links,
                       FileStamp* written)
{
    if (links == FileLinks::Refuse) {
        // the rename below would replace a link, never write through it; refusing tells the user what is there
        struct stat st {};
        if (::lstat(linkOrPath.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
            return Result::systemFailure(ELOOP);
    }
    const std::string path = links == FileLinks::Follow ? followLinks(linkOrPath) : linkOrPath;
    const std::string folder = folderOf(path);
    std::string temp = joinPath(folder, temporaryPrefix(path) + "XXXXXX");
    int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return Result::systemFailure(errno);
    struct stat old {};
    // a replaced file keeps the permissions of the one it replaces
    const bool existed = ::stat(path.c_str(), &old) == 0;
    if (access == FileAccess::OwnerOnly)
        ::fchmod(fd, existed ? (old.st_mode & 0700) : 0600);
    else
        ::fchmod(fd, existed ? (old.st_mode & 07777) : newFileMode());
    // a failed close counts: some file systems report a lost write only there
    int err = writeAll(fd, bytes) && ::fsync(fd) == 0 ? 0 : errno;
    struct stat st {};
    if (err == 0 && written != nullptr && ::fstat(fd, &st) == 0)
        *written = stampOf(st);
    if (::close(fd) != 0 && err == 0)
        err = errno;
    bool ok = err == 0;
    if (ok && ::rename(temp.c_str(), path.c_str()) != 0) {
        err = errno;
        ok = false;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        return Result::systemFailure(err);
    }
    // until the folder is synced the rename may be undone by a power cut, and the caller must not build on it
    Result synced = syncFolder(path);
    sweepTemporaries(folder, temporaryPrefix(path));
    return synced;
}

std::string fileErrorText(int error)
{
    if (error == ELOOP)
        return "it is a symbolic link, and Tarnwick opens its own files only under their own names";
    return std::strerror(error);
}

Result FileGroup::add(const std::string& path, std::string_view bytes)
{
    std::string temp = joinPath(folderOf(path), temporaryPrefix(path) + "XXXXXX");
    int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return Result::systemFailure(errno);
    if (const int err = writeAndClose(fd, bytes); err != 0) {
        ::unlink(temp.c_str());
        return Result::systemFailure(err);
    }
    m_files.push_back({std::move(temp), path});
    return {};
}

Result FileGroup::commit(std::vector<std::string>& committed,
                         const std::function<std::string(const std::string& taken)>& rename)
{
    committed.clear();
    std::vector<std::string> folders;
    std::vector<std::string> temporaries;
    temporaries.reserve(m_files.size());
    for (const File& f : m_files) {
        std::string folder = folderOf(f.path);
        if (std::find(folders.begin(), folders.end(), folder) == folders.end())
            folders.push_back(std::move(folder));
        temporaries.push_back(f.temporary);
    }
    // every file's bytes are on the disk before any name can point at them. On ext4 one sync of the file
    // system measured cheaper than a sync per file for a group of hundreds (one journal commit against many),
    // though it writes out other programs' data too; a few files are synced each on their own.
    constexpr size_t k_filesSyncedOneByOne = 4;
    const bool wholeFileSystem =
        m_files.size() > k_filesSyncedOneByOne && std::all_of(folders.begin(), folders.end(), fileSystemSyncIsDurable);
    bool ok = wholeFileSystem ? std::all_of(folders.begin(), folders.end(), syncFileSystem) : syncPaths(temporaries);
    size_t moved = 0;
    while (ok && moved < m_files.size()) {
        File& f = m_files[moved];
        while (ok && !renameNoReplace(f.temporary, f.path)) {
            const int err = errno;
            const std::string other = err == EEXIST && rename ? rename(f.path) : std::string();
            if (other.empty()) {
                errno = err;
                ok = false;
            }
            f.path = other.empty() ? f.path : other;
        }
        moved += ok ? 1 : 0;
    }
    for (const std::string& folder : folders)
        ok = syncPath(folder, O_DIRECTORY) && ok;
    if (ok) {
        for (const std::string& folder : folders)
            sweepTemporaries(folder, {});
        for (File& f : m_files)
            committed.push_back(std::move(f.path));
        m_files.clear();
        return {};
    }
    const int err = errno;
    // nothing of a failed group stays under a name that a list could come to hold
    for (size_t i = 0; i < moved; ++i)
        ::unlink(m_files[i].path.c_str());
    discard();
    return Result::systemFailure(err);
}

void FileGroup::discard()
{
    for (const File& f : m_files)
        ::unlink(f.temporary.c_str());
    m_files.clear();
}

Result appendFile(const std::string& path, std::string_view bytes)
{
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0)
        return Result::systemFailure(errno);
    const int err = writeAndClose(fd, bytes);
    return err == 0 ? Result() : Result::systemFailure(err);
}

Result appendRecordsDurably(const std::string& path, std::string_view bytes, std::string_view header)
{
    const bool existed = fileExists(path);
    int fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW, 0644);
    if (fd < 0)
        return Result::systemFailure(errno);
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0;
    if (ok && !S_ISREG(st.st_mode)) {
        errno = EINVAL;
        ok = false;
    }
    std::string out;
    if (ok && st.st_size == 0) {
        out.append(header);
    } else if (ok) {
        // a record cut short by a crash stays a line of its own, never the start of the next record
        char last = 0;
        if (::pread(fd, &last, 1, st.st_size - 1) != 1)
            ok = false;
        else if (last != '\n')
            out += "\r\n";
    }
    out.append(bytes);
    if (ok && !writeAll(fd, out)) {
        // a part of the records that a full disk cut short goes again
        const int err = errno;
        // when it cannot be cut, the next append ends the torn line first
        [[maybe_unused]] const bool cut = ::ftruncate(fd, st.st_size) == 0;
        errno = err;
        ok = false;
    }
    ok = ok && ::fsync(fd) == 0;
    const int err = errno;
    ::close(fd);
    if (!ok)
        return Result::systemFailure(err);
    // a new file's name is durable only with its folder
    return existed ? Result() : syncFolder(path);
}

Result syncFolder(const std::string& path)
{
    return syncPath(folderOf(path), O_DIRECTORY) ? Result() : Result::systemFailure(errno);
}

std::vector<std::string> folderNames(const std::string& folder)
{
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr)
        return names;
    while (const dirent* e = ::readdir(dir)) {
        const std::string_view name(e->d_name);
        if (name != "." && name != "..")
            names.emplace_back(name);
    }
    ::closedir(dir);
    return names;
}

bool fileExists(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

Result removeFile(const std::string& path)
{
    return ::unlink(path.c_str()) == 0 ? Result() : Result::systemFailure(errno);
}

ResultOf<long long> fileSize(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return Result::systemFailure(errno);
    return static_cast<long long>(st.st_size);
}

std::string folderOf(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string fileNameOf(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

ResultOf<FileStamp> fileStamp(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return Result::systemFailure(errno);
    return stampOf(st);
}

} // namespace tarnwick::platform
