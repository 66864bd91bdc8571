#include "platform/files.h"
#include "platform/instancelock.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tarnwick;
using platform::FrontRequests;

namespace {

// The call as a second start makes it: from a process of its own; true when it reached a listener.
bool requestFromAnotherProcess(const std::string& logDir)
{
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(FrontRequests::request(logDir) ? 0 : 1);
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

// A link planted at the lock's name would have the lock create, or hold, a file of someone else's choosing.
TEST(InstanceLock, RefusesALinkAtTheLockFileAndSaysWhy)
{
    test::TempDir dir;
    const std::string lockPath = platform::joinPath(dir.path(), platform::InstanceLock::k_fileName);
    ASSERT_EQ(::symlink(dir.file("elsewhere").c_str(), lockPath.c_str()), 0);
    platform::InstanceLock lock;
    const platform::Result result = lock.acquire(dir.path());
    EXPECT_FALSE(result);
    EXPECT_NE(result.error().find("symbolic link"), std::string::npos) << result.error();
    EXPECT_FALSE(lock.held());
    EXPECT_FALSE(std::filesystem::exists(dir.file("elsewhere")));
}

TEST(FrontRequests, ASecondStartReachesTheHolderBesideTheLock)
{
    test::TempDir root;
    // a folder whose path is too long for a socket address, and one that a holder that died left a socket in
    const std::string longDir = root.file(std::string(120, 'd'));
    const std::string stale = root.file("stale");
    std::filesystem::create_directories(longDir);
    std::filesystem::create_directories(stale);
    if (const pid_t died = ::fork(); died == 0) {
        FrontRequests holder;
        ::_exit(holder.listen(stale) ? 0 : 1); // gone without removing its socket
    } else {
        int status = 0;
        ::waitpid(died, &status, 0);
    }
    ASSERT_TRUE(std::filesystem::exists(platform::joinPath(stale, FrontRequests::k_fileName)));
    for (const std::string& dir : {root.path(), longDir, stale}) {
        SCOPED_TRACE(dir.size());
        const std::string socket = platform::joinPath(dir, FrontRequests::k_fileName);
        EXPECT_FALSE(requestFromAnotherProcess(dir));
        FrontRequests holder;
        ASSERT_TRUE(holder.listen(dir));
        struct stat st {};
        ASSERT_EQ(::stat(socket.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        EXPECT_TRUE(requestFromAnotherProcess(dir));
        EXPECT_TRUE(FrontRequests::request(dir));
        EXPECT_EQ(holder.take(), 2);
        EXPECT_EQ(holder.take(), 0);
        holder.close();
        EXPECT_FALSE(std::filesystem::exists(socket));
        EXPECT_FALSE(FrontRequests::request(dir));
    }
    FrontRequests firstRun; // no logging directory yet: no lock, nobody to call
    EXPECT_TRUE(firstRun.listen(""));
    EXPECT_EQ(firstRun.fd(), -1);
    EXPECT_FALSE(FrontRequests::request(""));
}
