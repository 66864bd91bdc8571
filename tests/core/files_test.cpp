#include "platform/files.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <ctime>
#include <filesystem>
#include <functional>
#include <optional>
#include <sys/stat.h>
#include <utime.h>

using namespace tarnwick;

namespace {

void writePlain(const std::string& path, const std::string& bytes, time_t mtime)
{
    ASSERT_TRUE(platform::appendFile(path, bytes));
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

TEST(WriteFileAtomic, ANewFileTakesTheUsersUmask)
{
    test::TempDir dir;
    const mode_t before = ::umask(022);
    for (const mode_t mask : {022, 077, 027}) {
        SCOPED_TRACE(mask);
        ::umask(mask);
        const std::string path = dir.file("new" + std::to_string(mask));
        ASSERT_TRUE(platform::writeFileAtomic(path, "x"));
        struct stat st {};
        ASSERT_EQ(::stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0666u & ~mask);
    }
    ::umask(before);
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
        {".tradmark.dat.tarnwick-a1B2c3", old, true},              // a killed save's temporary
        {".tradmark.dat.tarnwick-Zz9yX8", ::time(nullptr), false}, // may be a save in progress
        {"tradmark.dat.backup", old, false},                       // the user's own copies
        {"tradmark.dat.a1B2c3", old, false},
        {".tradmark.dat.tarnwick-a1B2c3d", old, false},
        {".Tarnwick.log.tarnwick-a1B2c3", old, false}, // another file's
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

// Leftovers come only from a killed process: a folder is searched for them at the first save of a name there, and
// not again at every save, so that saves in a folder of many files cost the same however many there are.
TEST(WriteFileAtomic, SearchesForLeftoversAtTheFirstSaveOfANameOnly)
{
    test::TempDir dir;
    const time_t old = ::time(nullptr) - 3600;
    ASSERT_TRUE(platform::writeFileAtomic(dir.file("tradmark.dat"), "first"));
    struct Case {
        const char* save;
        const char* leftover;
        bool removed;
    };
    const Case cases[] = {
        {"tradmark.dat", ".tradmark.dat.tarnwick-a1B2c3", false}, // its name was searched for at the first save
        {"Tarnwick_pending.tmp", ".Tarnwick_pending.tmp.tarnwick-a1B2c3", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.save);
        writePlain(dir.file(c.leftover), "partial", old);
        platform::FileStamp stamp;
        ASSERT_TRUE(platform::writeFileAtomic(dir.file(c.save), c.save, platform::FileAccess::AsBefore,
                                              platform::FileLinks::Refuse, &stamp));
        EXPECT_EQ(platform::fileExists(dir.file(c.leftover)), !c.removed);
        const platform::ResultOf<platform::FileStamp> now = platform::fileStamp(dir.file(c.save));
        ASSERT_TRUE(now);
        EXPECT_EQ(*now, stamp); // the stamp of the file under its name
    }
}

// A group is written at once, synced together, and moved under names that are still free; a group that
// cannot be committed whole leaves nothing behind, and a killed group's old temporaries go.
TEST(FileGroup, CommitsWithoutReplacingAndLeavesNothingOfAFailedGroup)
{
    test::TempDir dir;
    writePlain(dir.file("a.tmp"), "taken meanwhile", ::time(nullptr));
    writePlain(dir.file(".x.tmp.tarnwick-a1B2c3"), "a killed group's", ::time(nullptr) - 3600);
    platform::FileGroup group;
    for (const char* name : {"a.tmp", "b.tmp", "c.tmp", "d.tmp", "e.tmp"}) // more than are synced one by one
        ASSERT_TRUE(group.add(dir.file(name), name));
    EXPECT_FALSE(platform::fileExists(dir.file("b.tmp")));
    std::vector<std::string> committed;
    ASSERT_TRUE(group.commit(committed, [](const std::string& taken) { return taken + "2"; }));
    EXPECT_EQ(committed.size(), 5u);
    EXPECT_EQ(committed.front(), dir.file("a.tmp2"));
    EXPECT_EQ(platform::readFile(dir.file("a.tmp")), "taken meanwhile");
    EXPECT_EQ(platform::readFile(dir.file("a.tmp2")), "a.tmp");
    EXPECT_FALSE(platform::fileExists(dir.file(".x.tmp.tarnwick-a1B2c3")));

    ASSERT_TRUE(group.add(dir.file("f.tmp"), "f"));
    ASSERT_TRUE(group.add(dir.file("b.tmp"), "b"));
    const platform::Result taken = group.commit(committed); // b.tmp is taken and there is no other name to try
    EXPECT_FALSE(taken);
    EXPECT_EQ(taken.code(), EEXIST);
    EXPECT_FALSE(platform::fileExists(dir.file("f.tmp")));
    EXPECT_EQ(platform::readFile(dir.file("b.tmp")), "b.tmp");
    int files = 0;
    for ([[maybe_unused]] const auto& f : std::filesystem::directory_iterator(dir.path()))
        ++files;
    EXPECT_EQ(files, 6); // a.tmp, a.tmp2, b.tmp to e.tmp
}

// Dotfile managers keep settings as links: a save replaces the file the link points to, and the link stays.
TEST(WriteFileAtomic, ReplacesTheTargetOfASymbolicLink)
{
    test::TempDir dir;
    ASSERT_EQ(::mkdir(dir.file("dotfiles").c_str(), 0700), 0);
    ASSERT_TRUE(platform::writeFileAtomic(dir.file("dotfiles/settings.ini"), "old"));
    ASSERT_EQ(::symlink("dotfiles/settings.ini", dir.file("settings.ini").c_str()), 0);
    ASSERT_EQ(::symlink(dir.file("dotfiles/new.ini").c_str(), dir.file("dangling.ini").c_str()), 0);

    const auto follow = platform::FileLinks::Follow;
    ASSERT_TRUE(platform::writeFileAtomic(dir.file("settings.ini"), "new", platform::FileAccess::AsBefore, follow));
    ASSERT_TRUE(platform::writeFileAtomic(dir.file("dangling.ini"), "created", platform::FileAccess::AsBefore, follow));
    struct stat st {};
    ASSERT_EQ(::lstat(dir.file("settings.ini").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(platform::readFile(dir.file("dotfiles/settings.ini")), "new");
    EXPECT_EQ(platform::readFile(dir.file("dotfiles/new.ini")), "created");
}

// Nobody else decides where the program's own files go: a link planted at one of their names is refused, and
// neither the file it points to nor the one a dangling link names is touched.
TEST(OwnFiles, AFinalSymbolicLinkIsRefused)
{
    struct Case {
        const char* name;
        std::function<platform::Result(const std::string&)> use;
    };
    const Case cases[] = {
        {"replace", [](const std::string& p) { return platform::writeFileAtomic(p, "new"); }},
        {"append", [](const std::string& p) { return platform::appendFile(p, "new"); }},
        {"append records", [](const std::string& p) { return platform::appendRecordsDurably(p, "new", "H"); }},
        {"read", [](const std::string& p) { return platform::readFile(p, platform::FileKind::Own).result(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        ASSERT_TRUE(platform::writeFileAtomic(dir.file("target"), "kept"));
        ASSERT_EQ(::symlink(dir.file("target").c_str(), dir.file("planted").c_str()), 0);
        ASSERT_EQ(::symlink(dir.file("absent").c_str(), dir.file("dangling").c_str()), 0);
        for (const char* link : {"planted", "dangling"}) {
            const platform::Result used = c.use(dir.file(link));
            EXPECT_FALSE(used) << link;
            EXPECT_EQ(used.code(), ELOOP) << link;
        }
        EXPECT_EQ(platform::readFile(dir.file("target")), "kept");
        EXPECT_FALSE(platform::fileExists(dir.file("absent")));
    }
    EXPECT_NE(platform::fileErrorText(ELOOP).find("symbolic link"), std::string::npos);
}

// Many files go in one group, synced by one sync of the file system on ext4 and by workers elsewhere (a
// tmpfs stands in for the file systems that a whole-system sync does not reach): every file is whole under
// its name.
TEST(FileGroup, CommitsAManyFileGroupWhole)
{
    test::TempDir disk;
    std::string memory = "/dev/shm/tarnwick-test-XXXXXX";
    std::vector<std::string> folders = {disk.path()};
    if (::mkdtemp(memory.data()) != nullptr)
        folders.push_back(memory);
    for (const std::string& folder : folders) {
        SCOPED_TRACE(folder);
        platform::FileGroup group;
        for (int i = 0; i < 40; ++i)
            ASSERT_TRUE(group.add(platform::joinPath(folder, "m" + std::to_string(i)), std::string(1000 + i, 'x')));
        std::vector<std::string> committed;
        ASSERT_TRUE(group.commit(committed));
        ASSERT_EQ(committed.size(), 40u);
        for (int i = 0; i < 40; ++i)
            EXPECT_EQ(platform::fileSize(platform::joinPath(folder, "m" + std::to_string(i))), 1000 + i);
        EXPECT_EQ(platform::folderNames(folder).size(), 40u); // no temporary left
        std::filesystem::remove_all(folder);
    }
}

TEST(ReadFile, RegularFilesOnlyWhenAskedAndTellsAMissingFile)
{
    test::TempDir dir;
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    ASSERT_TRUE(platform::writeFileAtomic(dir.file("plain"), "bytes"));
    EXPECT_EQ(platform::readFile(dir.file("plain"), platform::FileKind::Regular), "bytes");
    const platform::ResultOf<std::string> fifo = platform::readFile(dir.file("fifo"), platform::FileKind::Regular);
    EXPECT_FALSE(fifo); // does not block
    EXPECT_TRUE(fifo.notRegular());
    const platform::ResultOf<std::string> missing = platform::readFile(dir.file("missing"));
    EXPECT_FALSE(missing);
    EXPECT_TRUE(missing.missing());
}

TEST(AppendRecordsDurably, HeaderOnceAndATornLastLineKeptApart)
{
    struct Case {
        const char* name;
        std::optional<std::string> before; // none: no file yet
        const char* expected;
    };
    const Case cases[] = {
        {"new file", std::nullopt, "H\r\nr\r\n"},
        {"empty file", "", "H\r\nr\r\n"},
        {"whole lines", "H\r\na\r\n", "H\r\na\r\nr\r\n"},
        {"torn last line", "H\r\na\r\nto", "H\r\na\r\nto\r\nr\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        const std::string path = dir.file("history.txt");
        if (c.before) {
            ASSERT_TRUE(platform::writeFileAtomic(path, *c.before));
        }
        ASSERT_TRUE(platform::appendRecordsDurably(path, "r\r\n", "H\r\n"));
        EXPECT_EQ(platform::readFile(path), c.expected);
    }
    test::TempDir dir;
    EXPECT_FALSE(platform::appendRecordsDurably(dir.path(), "r\r\n", "H\r\n"));
    EXPECT_FALSE(platform::appendRecordsDurably(dir.file("no/folder"), "r\r\n", "H\r\n"));
}
