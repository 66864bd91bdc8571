#include "platform/files.h"
#include "platform/result.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

using namespace tarnwick;

// Every file helper's failure carries the system's reason with it, so that a caller tells a missing file from
// a refused one without reading errno after the fact.
TEST(FileFailures, EachCarriesItsOwnReason)
{
    test::TempDir dir;
    ASSERT_TRUE(platform::writeFileAtomic(dir.file("plain"), "x"));
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    ASSERT_EQ(::symlink(dir.file("plain").c_str(), dir.file("link").c_str()), 0);
    const std::string missing = dir.file("missing");
    struct Case {
        const char* name;
        std::function<platform::Result()> call;
        int code;
    };
    platform::FileGroup group;
    const Case cases[] = {
        {"read a folder as a file",
         [&] { return platform::readFile(dir.path(), platform::FileKind::Regular).result(); }, EINVAL},
        {"read an own file through a link",
         [&] { return platform::readFile(dir.file("link"), platform::FileKind::Own).result(); }, ELOOP},
        {"read the tail of a FIFO", [&] { return platform::readFileTail(dir.file("fifo"), 4).result(); }, EINVAL},
        {"examine below a file", [&] { return platform::fileStamp(dir.file("plain/x")).result(); }, ENOTDIR},
        {"size a missing file", [&] { return platform::fileSize(missing).result(); }, ENOENT},
        {"replace in a missing folder", [&] { return platform::writeFileAtomic(missing + "/x", "y"); }, ENOENT},
        {"append records to a FIFO", [&] { return platform::appendRecordsDurably(dir.file("fifo"), "y"); }, EINVAL},
        {"sync a missing folder", [&] { return platform::syncFolder(missing + "/x"); }, ENOENT},
        {"remove a missing file", [&] { return platform::removeFile(missing); }, ENOENT},
        {"stage in a missing folder", [&] { return group.add(missing + "/x", "y"); }, ENOENT},
        {"a call that left no reason", [] { return platform::Result::systemFailure(0); }, EIO},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        errno = 0;
        const platform::Result result = c.call();
        errno = EACCES; // what later calls leave behind does not change the reason
        ASSERT_FALSE(result);
        EXPECT_EQ(result.code(), c.code);
        EXPECT_EQ(result.missing(), c.code == ENOENT);
        EXPECT_EQ(result.notRegular(), c.code == EINVAL);
        EXPECT_EQ(result.noFolder(), c.code == ENOTDIR);
        EXPECT_EQ(result.systemText(), std::strerror(c.code));
        // the user reads why in words; a refused link is told as such
        EXPECT_EQ(result.error(), c.code == ELOOP ? platform::fileErrorText(ELOOP) : std::strerror(c.code));
    }
    EXPECT_NE(platform::fileErrorText(ELOOP), std::strerror(ELOOP));
}

TEST(FileFailures, AReadThatSucceedsHoldsItsValue)
{
    test::TempDir dir;
    ASSERT_TRUE(platform::writeFileAtomic(dir.file("plain"), "bytes"));
    const platform::ResultOf<std::string> read = platform::readFile(dir.file("plain"), platform::FileKind::Own);
    ASSERT_TRUE(read);
    EXPECT_EQ(*read, "bytes");
    EXPECT_TRUE(read.result());
    EXPECT_EQ(read.code(), 0);
    EXPECT_EQ(read.error(), "");
}
