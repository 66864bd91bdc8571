#include "platform/instancelock.h"

#include "platform/files.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnwick::platform {

Result InstanceLock::acquire(const std::string& logDir)
{
    release();
    if (logDir.empty())
        return {};
    const std::string path = joinPath(logDir, k_fileName);
    auto failed = [&](const char* what, int error) {
        return Result::failure(std::string("Can't ") + what + " the lock file " + path + ": " + std::strerror(error));
    };
    // A holder deletes the file as it releases it; a lock taken on a file that
    // has just been deleted is worth nothing, so try again on the new file.
    for (int attempt = 0; attempt < 16; ++attempt) {
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0)
            return failed("open", errno);
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            ::close(fd);
            return error == EWOULDBLOCK ? Result::failure(k_anotherInstance) : failed("lock", error);
        }
        struct stat held {};
        struct stat named {};
        if (::fstat(fd, &held) == 0 && ::stat(path.c_str(), &named) == 0 && held.st_ino == named.st_ino &&
            held.st_dev == named.st_dev) {
            m_fd = fd;
            m_path = path;
            return {};
        }
        ::close(fd);
    }
    return failed("hold", EAGAIN);
}

void InstanceLock::release()
{
    if (m_fd < 0)
        return;
    // delete while still locked, so that nobody takes the old file
    ::unlink(m_path.c_str());
    ::close(m_fd);
    m_fd = -1;
    m_path.clear();
}

} // namespace tarnwick::platform
