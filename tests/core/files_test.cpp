#include "platform/files.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <ctime>
#include <sys/stat.h>
#include <utime.h>

using namespace tarnwick;

namespace {

void writePlain(const std::string& path, const std::string& bytes, time_t mtime)
{
    ASSERT_TRUE(platform::appendFileSynced(path, bytes));
    utimbuf times{mtime, mtime};
    ASSERT_EQ(::utime(path.c_str(), &times), 0);
}

} // namespace

TEST(WriteFileAtomic, ReplacesContentsAndKeepsPermissions)
{
    test::TempDir dir;
    const std::string path = dir.file("tradmark.dat");
    ASSERT_TRUE(platform::writeFileAtomic(path, "old"));
    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
    ASSERT_TRUE(platform::writeFileAtomic(path, std::string("new\0bytes", 9)));
    EXPECT_EQ(platform::readFile(path), std::string("new\0bytes", 9));
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(WriteFileAtomic, FailsWithoutTouchingTheOldFileWhenTheFolderIsMissing)
{
    test::TempDir dir;
    EXPECT_FALSE(platform::writeFileAtomic(dir.file("missing/tradmark.dat"), "x"));
    EXPECT_FALSE(platform::fileExists(dir.file("missing")));
}

TEST(WriteFileAtomic, RemovesTemporariesLeftByAKilledSaveOnceTheyAreOld)
{
    test::TempDir dir;
    const std::string path = dir.file("tradmark.dat");
    const time_t old = ::time(nullptr) - 3600;
    struct Leftover {
        const char* name;
        time_t mtime;
        bool removed;
    } leftovers[] = {
        {"tradmark.dat.a1B2c3", old, true},              // a killed save's temporary
        {"tradmark.dat.Zz9yX8", ::time(nullptr), false}, // may be a save in progress
        {"tradmark.dat.bak", old, false},                // not a temporary of ours
        {"tradmark.dat.a1B2c3d", old, false},
        {"Tarnwick.log.a1B2c3", old, false}, // another file's
    };
    for (const Leftover& l : leftovers)
        writePlain(dir.file(l.name), "partial", l.mtime);

    ASSERT_TRUE(platform::writeFileAtomic(path, "entries"));

    for (const Leftover& l : leftovers) {
        SCOPED_TRACE(l.name);
        EXPECT_EQ(platform::fileExists(dir.file(l.name)), !l.removed);
    }
    EXPECT_EQ(platform::readFile(path), "entries");
}
