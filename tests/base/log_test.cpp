#include "base/log.h"

#include "base/settings.h"
#include "net/mimetext.h"
#include "platform/files.h"
#include "platform/terminal.h"
#include "support/clockscope.h"
#include "support/runcli.h"
#include "support/scriptedfrontend.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tarnwick;

namespace {

constexpr const char* k_stamp = "2003-03-03 14:05:09> ";

class LogTest : public ::testing::Test {
protected:
    std::string logFile() const { return m_dir.file("Tarnwick.log"); }
    std::string logText() const { return platform::readFile(logFile()).value_or("<missing>"); }

    test::ClockScope m_clock{1046700309000, 3600}; // 2003-03-03 14:05:09 UTC
    test::TempDir m_dir;
};

bool isEmptyFolder(const std::string& path)
{
    return std::filesystem::is_empty(path);
}

} // namespace

TEST_F(LogTest, RecordIsStampedInUtcWithCrLfLineEnds)
{
    base::Log log(m_dir.path());
    log.write("Update '%s'\n", "75123456");
    log.write("Send E-Mail error '%s'\n", "100% failed\nsecond line");
    log.writeText(std::string("raw %s %d\0bytes\n", 17));
    EXPECT_EQ(logText(), std::string(k_stamp) + "Update '75123456'\r\n" + k_stamp +
                             "Send E-Mail error '100% failed\r\nsecond line'\r\n" + k_stamp +
                             std::string("raw %s %d\0bytes\r\n", 18));
    EXPECT_EQ(log.path(), logFile());
}

TEST_F(LogTest, NoLoggingDirectoryWritesNothingAnywhere)
{
    const std::string settingsPath = m_dir.file("settings.ini");
    {
        base::AppSettings settings(settingsPath);
        base::Log fromSettings(settings);
        base::Log fixed{std::string()};
        fromSettings.write("**Tarnwick start, local date-time %s**\n", "x");
        fixed.writeText("x\n");
        EXPECT_EQ(fromSettings.path(), "");
        EXPECT_EQ(fixed.path(), "");
        EXPECT_TRUE(isEmptyFolder(m_dir.path()));
        // the logging directory is read at every record
        settings.setValue(base::setting::LogDir, m_dir.path());
        fromSettings.write("now %d\n", 1);
    }
    EXPECT_EQ(logText(), std::string(k_stamp) + "now 1\r\n");
}

TEST_F(LogTest, LongFileIsCutToMarkerAndTail)
{
    // lines of 10 bytes on disk (8 characters, CR LF) full of printf directives
    auto fill = [](size_t bytes) {
        std::string text;
        for (size_t i = 0; text.size() + 10 <= bytes; ++i)
            text += "%d" + std::string(1, static_cast<char>('a' + i % 26)) + "%n%s%\r\n";
        text.append(bytes - text.size(), 'z');
        return text;
    };
    struct Case {
        size_t size;
        bool cut;
    };
    for (const Case c : {Case{99999, false}, Case{100000, false}, Case{100001, true}, Case{250000, true}}) {
        SCOPED_TRACE(c.size);
        const std::string before = fill(c.size);
        ASSERT_EQ(before.size(), c.size);
        ASSERT_TRUE(platform::writeFileAtomic(logFile(), before));
        base::Log(m_dir.path()).write("Post E-Mail '%s'\n", "m.txt");
        const std::string record = std::string(k_stamp) + "Post E-Mail 'm.txt'\r\n";
        if (!c.cut) {
            EXPECT_EQ(logText(), before + record);
            continue;
        }
        std::string lf;
        for (size_t i = 0; i < before.size(); ++i) {
            if (before[i] == '\r' && i + 1 < before.size() && before[i + 1] == '\n')
                continue;
            lf += before[i];
        }
        std::string expected = "--log discarded before here--\n" + lf.substr(lf.size() - 10000);
        std::string crlf;
        for (char ch : expected) {
            if (ch == '\n')
                crlf += '\r';
            crlf += ch;
        }
        EXPECT_EQ(logText(), crlf + record);
    }
    // only the tail is read: it must still hold 10000 characters when every one of them is a line end
    std::string lineEnds;
    for (int i = 0; i < 60000; ++i)
        lineEnds += "\r\n";
    ASSERT_TRUE(platform::writeFileAtomic(logFile(), "x" + lineEnds));
    base::Log(m_dir.path()).write("m\n");
    EXPECT_EQ(logText(), "--log discarded before here--\r\n" + lineEnds.substr(0, 20000) + k_stamp + "m\r\n");
}

TEST_F(LogTest, ErrorReportDropsTheBangLogsAndShows)
{
    test::ScriptedFrontEnd frontEnd;
    base::Log log(m_dir.path());
    base::errorReport(log, frontEnd, "!Host not found.", "Download Failed");
    base::errorReport(log, frontEnd, "50% done", "Problem");
    ASSERT_EQ(frontEnd.boxes.size(), 2u);
    EXPECT_EQ(frontEnd.boxes[0].text, "Host not found.");
    EXPECT_EQ(frontEnd.boxes[0].caption, "Tarnwick\xAE - Download Failed");
    EXPECT_EQ(frontEnd.boxes[0].buttons, base::Buttons::Ok);
    EXPECT_EQ(frontEnd.boxes[1].text, "50% done");
    EXPECT_EQ(logText(),
              std::string(k_stamp) + "Download Failed 'Host not found.'\r\n" + k_stamp + "Problem '50% done'\r\n");
}

// A full disk or a logging directory that cannot hold the log: the record is
// dropped, the old log stays, the caller goes on.
TEST_F(LogTest, FailuresDropTheRecordSilently)
{
    const std::string old(5000, 'o');
    ASSERT_TRUE(platform::writeFileAtomic(logFile(), old));
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        base::Log log(m_dir.path());
        for (int i = 0; i < 10; ++i)
            log.write("Update '%d'\n", i);
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(logText(), old);

    // below a regular file, and a missing folder
    base::Log(logFile() + "/Log").write("x\n");
    base::Log(m_dir.file("missing")).write("x\n");
    EXPECT_EQ(logText(), old);
    EXPECT_FALSE(platform::fileExists(m_dir.file("missing")));
}

// Every channel the programs write text to carries UTF-8, redirected or on a terminal and in any locale: the
// system's Windows-1252 texts ("Tarnwick" and 0xAE) and values (0x99, a trade mark) are converted at the edge.
TEST_F(LogTest, EveryOutputChannelIsUtf8)
{
    const std::string settings = m_dir.file("settings.ini");
    const std::string cli = test::shellQuoted(TARNWICK_CLI) + " --settings " + test::shellQuoted(settings);
    ::setenv("LC_ALL", "C", 1); // a locale whose character set is ASCII
    std::filesystem::create_directory(m_dir.file("empty"));
    ASSERT_EQ(test::runCli({"config", "set", "LogDir", m_dir.path()}, settings).exit, 0);
    ASSERT_EQ(test::runCli({"add", "--reference", "Mark\xae\x99", "1234567"}, settings).exit, 0);
    ASSERT_TRUE(platform::writeFileAtomic(m_dir.file("old.log"), "2003-03-03 14:05:08> Tarnwick\xae old\r\n"));

    struct Channel {
        const char* name;
        std::function<std::string()> written;
    };
    const Channel channels[] = {
        {"tarnwick-cli standard output, redirected", [&] { return test::runCli({"list"}, settings).out; }},
        {"tarnwick-cli standard error, redirected",
         [&] {
             // nothing queued there: "Tarnwick" and 0xAE, the caption of the message
             const std::string empty = m_dir.file("empty.ini");
             (void)test::runCli({"config", "set", "LogDir", m_dir.file("empty")}, empty);
             return test::runCli({"send"}, empty).err;
         }},
        {"tarnwick-cli on a terminal",
         [&] {
             const std::string command = "script -qec " + test::shellQuoted(cli + " list") + " /dev/null >" +
                                         test::shellQuoted(m_dir.file("tty")) + " </dev/null";
             return std::system(command.c_str()) == 0 ? platform::readFile(m_dir.file("tty")).value_or("") : "";
         }},
        {"a file descriptor",
         [&] {
             const int fd = ::open(m_dir.file("fd").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
             const std::string text = platform::forOutput(fd, "Tarnwick\xae Mark\x99");
             ::close(fd);
             return text;
         }},
        {"the log file",
         [&] {
             base::Log(m_dir.path()).writeText("Tarnwick\xae Mark\x99\n");
             return logText();
         }},
        {"a log file an older version wrote",
         [&] {
             std::filesystem::rename(m_dir.file("old.log"), logFile());
             base::Log(m_dir.path()).writeText("Mark\x99\n");
             return logText();
         }},
    };
    for (const Channel& c : channels) {
        SCOPED_TRACE(c.name);
        const std::string text = c.written();
        EXPECT_TRUE(net::isValidUtf8(text)) << text;
        EXPECT_NE(text.find("\xC2\xAE"), std::string::npos) << text;
    }
    ::unsetenv("LC_ALL");
}
