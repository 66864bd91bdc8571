#include "core/datafile.h"

#include "core/entrystore.h"
#include "platform/files.h"
#include "support/clockscope.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <random>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tarnwick;
using core::Entry;
using core::EntryStore;
using core::FieldId;

namespace {

// 2003-03-03 12:00 UTC, no zone offset
class DataFileTest : public ::testing::Test {
protected:
    static core::DayNumber today() { return core::dayFromDate(2003, 3, 3); }

    test::ClockScope m_clock{1046692800000, 0};
    test::TempDir m_dir;
};

// A version-8 file of `count` entries with realistic field lengths; `salt` makes two sets differ.
std::string makeFile(int count, const std::string& salt)
{
    std::string text = "8\r\n";
    for (int i = 0; i < count; ++i) {
        std::string n = std::to_string(i);
        text += std::to_string(i % 5) + "\tDocket " + salt + "-" + n + "\t" + std::to_string(75000000 + i) + "\t" +
                std::to_string(2000000 + i) + "\t\tMARK " + salt + " " + n + "\t1999-04-01\t2001-05-02\t2000-11-07\t" +
                "Law Office 105\tVelmora Holdings International Ltd., Harbour Road " + n + "\tJ. Smith, Esq.\t" +
                std::to_string(37000 + i % 900) + "\t2003-01-0" + std::to_string(1 + i % 9) +
                "\tRegistered. The registration has been renewed for ten years\tSection 8 accepted " + salt +
                "\tPost Registration\t\t" + std::to_string(36000 + i % 700) + "\r\n";
    }
    return text;
}

EntryStore storeOf(const std::string& text)
{
    EntryStore store;
    EXPECT_EQ(core::loadDataText(store, text, core::dayFromDate(2003, 3, 3)), "");
    return store;
}

} // namespace

TEST_F(DataFileTest, LoadsEveryLayout)
{
    struct Case {
        const char* name;
        std::string text;
        std::function<void(const Entry&)> check;
    };
    const core::DayNumber t = today();
    const Case cases[] = {
        {"a reference and 17 TABs: the rest empty, LastChange is Today", "8\r\n\tref" + std::string(17, '\t') + "\r\n",
         [&](const Entry& e) {
             EXPECT_EQ(e.Reference, "ref");
             EXPECT_EQ(e.Trademark, "");
             EXPECT_EQ(e.Frequency, core::Frequency::Daily);
             EXPECT_EQ(e.LastUpdate, 0);
             EXPECT_EQ(e.LastChange, t);
         }},
        {"version 8 columns",
         "8\r\n3\tref\t75123456\t1234567\tint\tMARK\tf\tr\tp\tlo\tow\tat\t37000\t2001-02-"
         "03\tst\tlh\tloc\terr\t36000\r\n",
         [](const Entry& e) {
             EXPECT_EQ(e.Frequency, core::Frequency::Yearly);
             EXPECT_EQ(e.IntNum, "int");
             EXPECT_EQ(e.LastUpdate, 37000);
             EXPECT_EQ(e.StatusDate, "2001-02-03");
             EXPECT_EQ(e.Location, "loc");
             EXPECT_EQ(e.Error, "err");
             EXPECT_EQ(e.LastChange, 36000);
         }},
        {"version 0 keeps Daily and no LastChange", "0\r\nref\t75123456\t1234567\r\n",
         [](const Entry& e) {
             EXPECT_EQ(e.Reference, "ref");
             EXPECT_EQ(e.SerNum, "75123456");
             EXPECT_EQ(e.RegNum, "1234567");
             EXPECT_EQ(e.Frequency, core::Frequency::Daily);
             EXPECT_EQ(e.LastChange, 0);
         }},
        {"version 2: sixth piece LastHistory, seventh Error", "2\r\nref\t75123456\t1234567\tMARK\t37000\thist\terr\r\n",
         [](const Entry& e) {
             EXPECT_EQ(e.Trademark, "MARK");
             EXPECT_EQ(e.LastUpdate, 37000);
             EXPECT_EQ(e.LastHistory, "hist");
             EXPECT_EQ(e.Error, "err");
             EXPECT_EQ(e.Frequency, core::Frequency::Daily);
         }},
        {"version 3", "3\r\n2\tref\t75123456\t\tMARK\t37000\thist\terr\t36000\r\n",
         [](const Entry& e) {
             EXPECT_EQ(e.Frequency, core::Frequency::Monthly);
             EXPECT_EQ(e.LastHistory, "hist");
             EXPECT_EQ(e.LastChange, 36000);
         }},
        {"version 4", "4\r\n1\tref\tsn\trn\tMARK\tf\tr\tp\tlo\tow\tat\t37000\thist\terr\t36000\r\n",
         [](const Entry& e) {
             EXPECT_EQ(e.Attorney, "at");
             EXPECT_EQ(e.LastHistory, "hist");
             EXPECT_EQ(e.StatusText, "");
             EXPECT_EQ(e.LastChange, 36000);
         }},
        {"version 5 reads as 6",
         "5\r\n1\tref\tsn\t\tMARK\tf\tr\tp\tlo\tow\tat\t37000\t2001-02-03 - Registered\thist\terr\t36000\r\n",
         [](const Entry& e) {
             EXPECT_EQ(e.StatusDate, "2001-02-03");
             EXPECT_EQ(e.StatusText, "Registered");
             EXPECT_EQ(e.Error, "err");
         }},
        {"version 7 has no IntNum",
         "7\r\n1\tref\tsn\t\tMARK\tf\tr\tp\tlo\tow\tat\t37000\t2001-02-03\tst\thist\tloc\terr\t36000\r\n",
         [](const Entry& e) {
             EXPECT_EQ(e.IntNum, "");
             EXPECT_EQ(e.Trademark, "MARK");
             EXPECT_EQ(e.Location, "loc");
             EXPECT_EQ(e.LastChange, 36000);
         }},
        {"another version below 9 reads as 8", "-4\r\n2\tref\r\n",
         [](const Entry& e) {
             EXPECT_EQ(e.Frequency, core::Frequency::Monthly);
             EXPECT_EQ(e.Reference, "ref");
         }},
        {"a first line without a number is version 0", "abc\r\nref\tsn\r\n",
         [](const Entry& e) {
             EXPECT_EQ(e.Reference, "ref");
             EXPECT_EQ(e.LastChange, 0);
         }},
        {"surplus pieces ignored, unreadable numbers 0",
         "8\r\nx\tref" + std::string(17, '\t') + "36000\tsurplus\tmore\r\n",
         [](const Entry& e) {
             EXPECT_EQ(e.Frequency, core::Frequency::Daily);
             EXPECT_EQ(e.LastChange, 36000);
         }},
        {"LF line ends and no final line end", "8\n1\tref", [](const Entry& e) { EXPECT_EQ(e.Reference, "ref"); }},
        {"a line of 10000 characters is one entry", "8\r\n0\tref\t\t\t\t" + std::string(10000, 'M') + "\r\n",
         [](const Entry& e) { EXPECT_EQ(e.Trademark, std::string(10000, 'M')); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EntryStore store;
        EXPECT_EQ(core::loadDataText(store, c.text, t), "");
        EXPECT_TRUE(store.loadOk());
        ASSERT_EQ(store.count(), 1);
        EXPECT_EQ(store.at(0).Today, t);
        c.check(store.at(0));
    }
}

// A million empty lines must not cost a million entries.
TEST_F(DataFileTest, RecordsWithoutAnyTextAreNotKept)
{
    EntryStore store;
    const std::string text =
        "8\r\n1\tfirst\r\n\r\n" + std::string(18, '\t') + "\r\n3" + std::string(12, '\t') + "37000\r\n\r\n2\tlast\r\n";
    EXPECT_EQ(core::loadDataText(store, text, today()), "");
    ASSERT_EQ(store.count(), 2);
    EXPECT_EQ(store.at(0).Reference, "first");
    EXPECT_EQ(store.at(1).Reference, "last");
}

TEST_F(DataFileTest, MissingOrEmptyFileLoadsNothingWithoutMessage)
{
    for (const char* content : {static_cast<const char*>(nullptr), ""}) {
        SCOPED_TRACE(content ? "empty file" : "no file");
        test::TempDir dir;
        if (content) {
            ASSERT_TRUE(platform::writeFileAtomic(dir.file("tradmark.dat"), content));
        }
        EntryStore store;
        EXPECT_EQ(core::loadDataFile(store, dir.path()), "");
        EXPECT_TRUE(store.loadOk());
        EXPECT_EQ(store.count(), 0);
        EXPECT_TRUE(core::saveDataFile(store, dir.path()));
        EXPECT_EQ(platform::readFile(dir.file("tradmark.dat")), "8\r\n");
    }
}

TEST_F(DataFileTest, RefusedFileIsNeverOverwritten)
{
    struct Case {
        std::string firstLine;
        const char* message;
    };
    const Case cases[] = {
        {"1", "Application data file is no longer supported. Delete Log\\tradmark.dat and rerun Tarnwick."},
        {"9", "Incompatible application data file."},
        {" +12 ", "Incompatible application data file."},
        {"99999999999999999999999", "Incompatible application data file."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.firstLine);
        const std::string content = c.firstLine + "\r\n0\tref\r\n";
        ASSERT_TRUE(platform::writeFileAtomic(m_dir.file("tradmark.dat"), content));
        EntryStore store;
        EXPECT_EQ(core::loadDataFile(store, m_dir.path()), c.message);
        EXPECT_FALSE(store.loadOk());
        EXPECT_EQ(store.count(), 0);
        store.appendEntry(Entry(today()));
        EXPECT_FALSE(core::saveDataFile(store, m_dir.path()));
        EXPECT_EQ(platform::readFile(m_dir.file("tradmark.dat")), content);
    }
}

TEST_F(DataFileTest, UnreadableFileIsRefusedNotEmptied)
{
    for (auto make : {+[](const char* path) { return ::mkdir(path, 0700); },
                      +[](const char* path) { return ::mkfifo(path, 0600); }}) { // a FIFO must not block the load
        test::TempDir dir;
        ASSERT_EQ(make(dir.file("tradmark.dat").c_str()), 0);
        EntryStore store;
        EXPECT_EQ(core::loadDataFile(store, dir.path()), core::k_dataFileUnreadable);
        EXPECT_FALSE(store.loadOk());
        EXPECT_FALSE(core::saveDataFile(store, dir.path()));
    }
}

TEST_F(DataFileTest, SaveKeepsDisplayOrderAndLoadsBackUnchanged)
{
    EntryStore store = storeOf("8\r\n0\tb\t\t\t\tZEBRA\r\n0\tc\t\t\t\talpha\r\n0\ta\t\t\t\tMango\r\n");
    store.sort(FieldId::Trademark, false);
    ASSERT_TRUE(core::saveDataFile(store, m_dir.path()));
    EntryStore back;
    EXPECT_EQ(core::loadDataFile(back, m_dir.path()), "");
    ASSERT_EQ(back.count(), 3);
    EXPECT_EQ(back.at(0).Trademark, "alpha");
    EXPECT_EQ(back.at(1).Trademark, "Mango");
    EXPECT_EQ(back.at(2).Trademark, "ZEBRA");
    EXPECT_EQ(core::dataFileText(back), core::dataFileText(store));

    const std::string big = makeFile(500, "x");
    EXPECT_EQ(core::dataFileText(storeOf(big)), big);
}

TEST_F(DataFileTest, FieldBytesTheFormatCannotHoldBecomeBlanks)
{
    EntryStore store = storeOf("8\r\n");
    Entry e(today());
    e.Reference = "a\tb";
    e.Trademark = "line\r\nbreak";
    e.Error = "x\ny";
    e.Owner = "\xE9t\xE9 100%";
    store.appendEntry(e);
    ASSERT_TRUE(core::saveDataFile(store, m_dir.path()));
    EntryStore back;
    EXPECT_EQ(core::loadDataFile(back, m_dir.path()), "");
    ASSERT_EQ(back.count(), 1);
    EXPECT_EQ(back.at(0).Reference, "a b");
    EXPECT_EQ(back.at(0).Trademark, "line  break");
    EXPECT_EQ(back.at(0).Error, "x y");
    EXPECT_EQ(back.at(0).Owner, "\xE9t\xE9 100%");
}

// A save killed at any moment leaves the old file or the new one, never a torn one.
TEST_F(DataFileTest, KilledSaveLeavesOneWholeFile)
{
    const EntryStore a = storeOf(makeFile(2000, "A"));
    const EntryStore b = storeOf(makeFile(2000, "B"));
    const std::string textA = core::dataFileText(a);
    const std::string textB = core::dataFileText(b);
    ASSERT_NE(textA, textB);
    ASSERT_TRUE(core::saveDataFile(a, m_dir.path()));

    std::mt19937 random(20030303);
    std::uniform_int_distribution<int> delayMicros(0, 8000);
    bool onDiskA = true;
    int old = 0;
    int replaced = 0;
    for (int round = 0; round < 200; ++round) {
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // the first save writes the other content than the one on disk
            for (bool writeA = !onDiskA;; writeA = !writeA)
                (void)core::saveDataFile(writeA ? a : b, m_dir.path());
        }
        ::usleep(static_cast<useconds_t>(delayMicros(random)));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);

        EntryStore loaded;
        ASSERT_EQ(core::loadDataFile(loaded, m_dir.path()), "");
        const std::string text = core::dataFileText(loaded);
        ASSERT_TRUE(text == textA || text == textB)
            << "torn after round " << round << ", " << loaded.count() << " entries";
        const bool nowA = text == textA;
        (nowA == onDiskA ? old : replaced)++;
        onDiskA = nowA;
    }
    std::printf("[ info     ] 200 kills: the file was unchanged %d times, replaced %d times\n", old, replaced);
}

// A full disk (file size limit in a child) or a folder that cannot exist: the save
// fails without a word, the old file stays, the program goes on.
TEST_F(DataFileTest, FailedSaveKeepsOldFileAndGoesOn)
{
    const std::string oldText = makeFile(300, "old");
    ASSERT_TRUE(platform::writeFileAtomic(m_dir.file("tradmark.dat"), oldText));
    const EntryStore bigger = storeOf(makeFile(600, "new"));

    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{16384, 16384};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const bool saved = bool(core::saveDataFile(bigger, m_dir.path()));
        ::_exit(saved ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the save reported success on a full disk";
    EXPECT_EQ(platform::readFile(m_dir.file("tradmark.dat")), oldText);

    // a logging directory below a regular file, and one that is missing
    for (const std::string& logDir : {m_dir.file("tradmark.dat") + "/Log", m_dir.file("missing/Log")}) {
        SCOPED_TRACE(logDir);
        EntryStore store;
        EXPECT_EQ(core::loadDataFile(store, logDir), "");
        EXPECT_TRUE(store.loadOk());
        EXPECT_FALSE(core::saveDataFile(bigger, logDir));
    }
    EXPECT_EQ(platform::readFile(m_dir.file("tradmark.dat")), oldText);
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__) // both reserve more address space than any limit
// Short records that hold data, more than the memory allows: a message, no abort, and the file kept.
TEST_F(DataFileTest, LoadThatRunsOutOfMemorySaysSo)
{
    std::string text = "8\r\n";
    for (int i = 0; i < 2500000; ++i)
        text += "\tx\r\n";
    ASSERT_TRUE(platform::writeFileAtomic(m_dir.file("tradmark.dat"), text));
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        long long vmSize = 0;
        std::string status = platform::readFile("/proc/self/status").value_or("");
        if (size_t at = status.find("VmSize:"); at != std::string::npos)
            vmSize = std::atoll(status.c_str() + at + 7) * 1024;
        rlimit limit{};
        limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(vmSize + (256 << 20));
        ::setrlimit(RLIMIT_AS, &limit);
        EntryStore store;
        const std::string message = core::loadDataFile(store, m_dir.path());
        ::_exit(message == core::k_dataFileTooLarge && !store.loadOk() && store.count() == 0 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "the load aborted";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
#endif
