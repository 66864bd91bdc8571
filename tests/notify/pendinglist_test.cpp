#include "notify/pendinglist.h"

#include "base/log.h"

#include "platform/files.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <optional>
#include <sys/stat.h>

using namespace tarnwick;

namespace {

// The list file's bytes; none when there is no list.
std::optional<std::string> listText(const notify::PendingList& list)
{
    const platform::ResultOf<std::string> text = platform::readFile(list.path());
    return text ? std::optional<std::string>(*text) : std::nullopt;
}

} // namespace

// What a batch leaves listed: the names from where it stopped (only those of the queue's own form), then the
// names another writer listed meanwhile; a batch that went through everything leaves only the latter.
TEST(PendingList, ABatchKeepsWhatItDidNotSendAndWhatWasListedMeanwhile)
{
    const std::string before = "Tarnwick_a1.tmp\r\nTarnwick_a2.tmp\r\n../secret\r\n\r\nTarnwick_a3.tmp\r\n";
    struct Case {
        const char* name;
        std::optional<size_t> firstKept; // none: every line went through
        std::string after;               // the list as the other writer left it
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {"all sent, nothing new", std::nullopt, before, std::nullopt},
        {"all sent, one listed meanwhile", std::nullopt, before + "Tarnwick_a9.tmp\r\n", "Tarnwick_a9.tmp\r\n"},
        {"stopped at the second", 1, before, "Tarnwick_a2.tmp\r\nTarnwick_a3.tmp\r\n"},
        {"stopped at the first, one listed meanwhile", 0, before + "Tarnwick_a9.tmp\r\n",
         "Tarnwick_a1.tmp\r\nTarnwick_a2.tmp\r\nTarnwick_a3.tmp\r\nTarnwick_a9.tmp\r\n"},
        {"stopped past the end", 5, before, ""},
        {"replaced by another list meanwhile", 2, "Tarnwick_b1.tmp\r\n", "Tarnwick_a3.tmp\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        notify::PendingList list(dir.path());
        ASSERT_TRUE(platform::writeFileAtomic(list.path(), before));
        ASSERT_TRUE(list.read());
        ASSERT_EQ(list.lines().size(), 5u);
        ASSERT_TRUE(platform::writeFileAtomic(list.path(), c.after));
        ASSERT_TRUE(c.firstKept ? list.keepFrom(*c.firstKept) : list.keepListedMeanwhile());
        EXPECT_EQ(listText(list), c.expected);
    }
}

// Posting adds names behind the ones read, a torn last line ended first.
TEST(PendingList, AddingListsNamesBehindTheOnesRead)
{
    struct Case {
        const char* name;
        std::optional<std::string> before; // none: no list yet
        std::string expected;
    };
    const Case cases[] = {
        {"no list", std::nullopt, "Tarnwick_a2.tmp\r\nTarnwick_s3.tmp\r\n"},
        {"an empty list", "", "Tarnwick_a2.tmp\r\nTarnwick_s3.tmp\r\n"},
        {"whole lines", "Tarnwick_a1.tmp\r\n", "Tarnwick_a1.tmp\r\nTarnwick_a2.tmp\r\nTarnwick_s3.tmp\r\n"},
        {"a torn last line", "Tarnwick_a1.tmp", "Tarnwick_a1.tmp\r\nTarnwick_a2.tmp\r\nTarnwick_s3.tmp\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        notify::PendingList list(dir.path());
        if (c.before) {
            ASSERT_TRUE(platform::writeFileAtomic(list.path(), *c.before));
        }
        ASSERT_TRUE(list.read());
        ASSERT_TRUE(list.add({"Tarnwick_a2.tmp", "Tarnwick_s3.tmp"}));
        EXPECT_EQ(listText(list), c.expected);
        EXPECT_EQ(list.count(), 2 + (c.before && !c.before->empty() ? 1 : 0));
    }
}

// A list kept from one posting to the next is read again whenever someone else changed it, so that the next
// posting never writes over names listed, or taken off, meanwhile.
TEST(PendingList, AKeptListIsReadAgainWhenChangedMeanwhile)
{
    struct Case {
        const char* name;
        std::optional<std::string> meanwhile; // none: the list file removed
        std::string expected;
    };
    const Case cases[] = {
        {"untouched", "", "Tarnwick_a1.tmp\r\nTarnwick_a2.tmp\r\n"},
        {"replaced by one of the same size", "Tarnwick_b1.tmp\r\n", "Tarnwick_b1.tmp\r\nTarnwick_a2.tmp\r\n"},
        {"a name listed behind", "Tarnwick_a1.tmp\r\nTarnwick_b1.tmp\r\n",
         "Tarnwick_a1.tmp\r\nTarnwick_b1.tmp\r\nTarnwick_a2.tmp\r\n"},
        {"sent and removed", std::nullopt, "Tarnwick_a2.tmp\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        notify::PendingList list(dir.path());
        ASSERT_TRUE(list.refresh());
        ASSERT_TRUE(list.add({"Tarnwick_a1.tmp"}));
        if (!c.meanwhile) {
            ASSERT_TRUE(platform::removeFile(list.path()));
        } else if (!c.meanwhile->empty()) {
            ASSERT_TRUE(platform::writeFileAtomic(list.path(), *c.meanwhile));
        }
        ASSERT_TRUE(list.refresh());
        ASSERT_TRUE(list.add({"Tarnwick_a2.tmp"}));
        EXPECT_EQ(listText(list), c.expected);
    }
}

TEST(PendingList, AListThatIsNoRegularFileIsNotRead)
{
    test::TempDir dir;
    notify::PendingList list(dir.path());
    ASSERT_EQ(::mkfifo(list.path().c_str(), 0600), 0);
    const platform::Result read = list.read();
    EXPECT_TRUE(read.notRegular());
    EXPECT_TRUE(list.lines().empty());
}

// A crash between an edit's data file and its listing leaves its notice unlisted: the next start lists it when the
// data file holds the edit, and removes it otherwise.
TEST(PendingList, AnUnlistedEditNoticeIsListedWhenTheDataFileHoldsItsEdit)
{
    struct Case {
        const char* name;
        bool entryHeld;
        bool dataFileLater; // the data file was written after the notice
        bool listed;
    };
    const Case cases[] = {
        {"Tarnwick_c7.tmp", true, true, true},
        {"Tarnwick_c7.tmp", true, false, false},
        {"Tarnwick_c7.tmp", false, true, false},
        {"Tarnwick_a7.tmp", true, false, true},
        {"Tarnwick_i7.tmp", true, false, true},
        {"Tarnwick_i7.tmp", false, false, false},
        {"Tarnwick_d7.tmp", false, false, true},
        {"Tarnwick_d7.tmp", true, true, false},
        {"Tarnwick_s75-000001.tmp", true, true, false},
        // a digest is no deleted entry's notice, whatever the data file holds
        {"Tarnwick_digest.tmp", false, true, false},
        {"Tarnwick_digest_2.tmp", false, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + (c.entryHeld ? " held" : "") + (c.dataFileLater ? " later" : ""));
        test::TempDir dir;
        ASSERT_TRUE(platform::writeFileAtomic(dir.file(c.name), "Subject: s\r\n\r\nbody\r\n"));
        ASSERT_TRUE(platform::writeFileAtomic(dir.file("tradmark.dat"), "8\r\n"));
        const timespec notice{1000000, 0};
        const timespec data{c.dataFileLater ? 1000001 : 999999, 0};
        const timespec noticeTimes[] = {notice, notice};
        const timespec dataTimes[] = {data, data};
        ASSERT_EQ(::utimensat(AT_FDCWD, dir.file(c.name).c_str(), noticeTimes, 0), 0);
        ASSERT_EQ(::utimensat(AT_FDCWD, dir.file("tradmark.dat").c_str(), dataTimes, 0), 0);
        notify::PendingList list(dir.path());
        base::Log log{std::string()};
        EXPECT_EQ(list.settleUnlisted(log, [&](const std::string&) { return c.entryHeld; }),
                  notify::PendingList::Settling::Settled);
        EXPECT_EQ(listText(list).value_or(""), c.listed ? std::string(c.name) + "\r\n" : "");
        EXPECT_EQ(platform::fileExists(dir.file(c.name)), c.listed);
    }
}

// The notices of edits join a digest; every other message keeps its own way.
TEST(PendingList, EditKindTellsTheNoticesOfEdits)
{
    const std::pair<const char*, char> cases[] = {
        {"Tarnwick_a3000004.tmp", 'a'}, {"Tarnwick_c75-1_2.tmp", 'c'}, {"Tarnwick_d7.tmp", 'd'},
        {"Tarnwick_digest.tmp", 0},     {"Tarnwick_digest_3.tmp", 0},  {"Tarnwick_dig.tmp", 'd'},
        {"Tarnwick_s3000004.tmp", 0},   {"Tarnwick_welcome.tmp", 0},   {"Tarnwick_activity.tmp", 0},
        {"Tarnwick_a../x.tmp", 0},      {"Tarnwick_pending.tmp", 0},   {"Tarnwick_i70-000001.tmp", 'i'},
    };
    for (const auto& [name, kind] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(notify::PendingList::editKind(name), kind);
    }
}

// An undone edit takes its newest unsent notice back; a message of another entry or form stays listed.
TEST(PendingList, WithdrawingTakesTheNewestMessageOfTheNameOff)
{
    struct Case {
        const char* name;
        std::optional<std::string> before; // none: no list
        std::string taken;
        std::optional<std::string> after; // none: no list
    };
    const Case cases[] = {
        {"the newest of its form", "Tarnwick_d5.tmp\r\nTarnwick_a1.tmp\r\nTarnwick_d5_2.tmp\r\n", "Tarnwick_d5_2.tmp",
         "Tarnwick_d5.tmp\r\nTarnwick_a1.tmp\r\n"},
        {"the name itself", "Tarnwick_d5.tmp\r\n\r\nTarnwick_a1.tmp", "Tarnwick_d5.tmp", "Tarnwick_a1.tmp\r\n"},
        {"other numbers and kinds", "Tarnwick_d50.tmp\r\nTarnwick_d5_x.tmp\r\nTarnwick_a5.tmp\r\n", "",
         "Tarnwick_d50.tmp\r\nTarnwick_d5_x.tmp\r\nTarnwick_a5.tmp\r\n"},
        {"the last line", "Tarnwick_d5.tmp\r\n", "Tarnwick_d5.tmp", std::nullopt},
        {"no list", std::nullopt, "", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        notify::PendingList list(dir.path());
        if (c.before) {
            ASSERT_TRUE(platform::writeFileAtomic(list.path(), *c.before));
        }
        const platform::ResultOf<std::string> taken = list.withdrawLast("Tarnwick_d5.tmp");
        ASSERT_TRUE(taken);
        EXPECT_EQ(*taken, c.taken);
        EXPECT_EQ(listText(list), c.after);
    }
}
