#include "platform/instancelock.h"

#include "platform/files.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <utility>

namespace tarnwick::platform {

Result InstanceLock::acquire(const std::string& logDir)
{
    release();
    if (logDir.empty())
        return {};
    const std::string path = joinPath(logDir, k_fileName);
    auto failed = [&](const char* what, int error) {
        return Result::failure(std::string("Can't ") + what + " the lock file " + path + ": " + fileErrorText(error));
    };
    // A holder deletes the file as it releases it; a lock taken on a file that
    // has just been deleted is worth nothing, so try again on the new file.
    for (int attempt = 0; attempt < 16; ++attempt) {
        // a link planted at the name would have the lock create or hold a file of someone else's choosing
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
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

namespace {

// Deletes the file `path` names and then closes `fd`, which held it; nothing when nothing is held.
void unlinkAndClose(int& fd, std::string& path)
{
    if (fd < 0)
        return;
    ::unlink(path.c_str());
    ::close(fd);
    fd = -1;
    path.clear();
}

} // namespace

void InstanceLock::release()
{
    // deleted while still locked, so that nobody takes the old file
    unlinkAndClose(m_fd, m_path);
}

namespace {

// The socket's address; a folder whose path is too long for one is reached
// through its descriptor, which `dirFd` then holds open.
std::optional<sockaddr_un> socketAddress(const std::string& dir, const std::string& path, int& dirFd)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::string name = path;
    if (name.size() >= sizeof address.sun_path) {
        dirFd = ::open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (dirFd < 0)
            return std::nullopt;
        name = "/proc/self/fd/" + std::to_string(dirFd) + "/" + FrontRequests::k_fileName;
    }
    name.copy(address.sun_path, sizeof address.sun_path - 1);
    return address;
}

// A descriptor closed when its scope ends.
struct Descriptor {
    int fd = -1;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

} // namespace

Result FrontRequests::listen(const std::string& logDir)
{
    close();
    if (logDir.empty())
        return {};
    const std::string path = joinPath(logDir, k_fileName);
    Descriptor dir;
    const std::optional<sockaddr_un> address = socketAddress(logDir, path, dir.fd);
    Descriptor sock{::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)};
    auto failed = [&](const char* what) {
        return Result::failure(std::string("Can't ") + what + " " + path + ": " + std::strerror(errno));
    };
    if (!address)
        return failed("open the folder of");
    if (sock.fd < 0)
        return failed("create");
    // the lock's holder is the only instance: a socket left by one that died is stale
    ::unlink(path.c_str());
    if (::bind(sock.fd, reinterpret_cast<const sockaddr*>(&*address), sizeof *address) != 0)
        return failed("create");
    // nobody can call before listen(), so the socket is the user's alone from the first call
    if (::chmod(path.c_str(), 0600) != 0 || ::listen(sock.fd, 8) != 0) {
        const Result result = failed("listen on");
        ::unlink(path.c_str());
        return result;
    }
    m_fd = std::exchange(sock.fd, -1);
    m_path = path;
    return {};
}

int FrontRequests::take()
{
    int calls = 0;
    while (m_fd >= 0) {
        const int call = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (call < 0)
            break;
        ::close(call);
        ++calls;
    }
    return calls;
}

void FrontRequests::close()
{
    unlinkAndClose(m_fd, m_path);
}

bool FrontRequests::request(const std::string& logDir)
{
    if (logDir.empty())
        return false;
    Descriptor dir;
    const std::optional<sockaddr_un> address = socketAddress(logDir, joinPath(logDir, k_fileName), dir.fd);
    const Descriptor sock{::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)};
    if (!address || sock.fd < 0)
        return false;
    // a listening Unix socket takes the call at once, or refuses it (EAGAIN) when its queue is full
    return ::connect(sock.fd, reinterpret_cast<const sockaddr*>(&*address), sizeof *address) == 0;
}

} // namespace tarnwick::platform
