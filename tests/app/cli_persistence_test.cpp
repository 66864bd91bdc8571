#include "base/settings.h"
#include "core/datafile.h"
#include "core/entrystore.h"
#include "platform/files.h"
#include "platform/settingsfile.h"
#include "support/pty.h"
#include "support/runcli.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>
#include <sys/wait.h>

using namespace tarnwick;

namespace {

using test::CliRun;
using test::shellQuoted;

class CliPersistenceTest : public ::testing::Test {
protected:
    CliRun cli(const std::vector<std::string>& args) const { return test::runCliInProcess(args, settings()); }
    std::string settings() const { return m_dir.file("settings.ini"); }

    test::TempDir m_dir;
};

} // namespace

TEST_F(CliPersistenceTest, ConfigSetGetList)
{
    struct Step {
        std::vector<std::string> args;
        int exit;
        std::string out;
    };
    const Step steps[] = {
        {{"config", "set", "SmtpServer", "mail.example.com"}, 0, ""},
        {{"config", "get", "SmtpServer"}, 0, "mail.example.com\n"},
        {{"config", "set", "Password",
          "s\xE9"
          "cret"},
         0,
         ""},
        {{"config", "get", "Password"},
         0,
         "s\xE9"
         "cret\n"},
        {{"config", "set", "NotifyAddress", "a@x", "b@x", "c@x"}, 0, ""},
        {{"config", "set", "NotifyAddress", "d@x", "e@x"}, 0, ""},
        {{"config", "get", "NotifyAddress"}, 0, "d@x\ne@x\n"},
        {{"config", "set", "Install", "/opt/Tarnwick"}, 0, ""},
        {{"config", "list"},
         0,
         "Install=/opt/"
         "Tarnwick\nNotifyAddress1=d@x\nNotifyAddress2=e@x\nPassword=(set)\nSmtpServer=mail.example.com\n"},
        {{"config", "set", "SmtpServer", "one", "two"}, 1, ""},
        {{"config", "set", "NoSuchSetting", "x"}, 1, ""},
        {{"config", "get", "NoSuchSetting"}, 1, ""},
        {{"config", "set", "Password", ""}, 0, ""},
        {{"config", "list"},
         0,
         "Install=/opt/Tarnwick\nNotifyAddress1=d@x\nNotifyAddress2=e@x\nSmtpServer=mail.example.com\n"},
        {{"config"}, 1, ""},
    };
    for (const Step& step : steps) {
        std::string name;
        for (const auto& a : step.args)
            name += a + " ";
        SCOPED_TRACE(name);
        CliRun run = cli(step.args);
        EXPECT_EQ(run.exit, step.exit) << run.err;
        EXPECT_EQ(run.out, step.out);
    }
    // what the command line stored is what the program reads
    base::AppSettings back(settings());
    EXPECT_EQ(back.value(base::setting::Install), "/opt/Tarnwick");
    EXPECT_EQ(back.notifyAddresses(), (std::vector<std::string>{"d@x", "e@x"}));
    EXPECT_EQ(platform::SettingsFile(settings()).read()[std::string(base::AppSettings::k_key)].count("Install"), 1u);
}

TEST_F(CliPersistenceTest, ListPrintsTheDataFile)
{
    EXPECT_EQ(cli({"list"}).exit, 1) << "no logging directory";

    const std::string logDir = m_dir.file("Log");
    ASSERT_EQ(cli({"config", "set", "LogDir", logDir}).exit, 0);
    CliRun empty = cli({"list"});
    EXPECT_EQ(empty.exit, 0) << empty.err;
    EXPECT_EQ(empty.out, "");

    ASSERT_EQ(std::system(("mkdir -p " + shellQuoted(logDir)).c_str()), 0);
    const std::string data =
        "8\r\n3\tref 1\t75123456\t\t\tMARK\t\t\t\t\t\t\t37000\t2001-02-03\tRegistered\t\t\tTime-out\t36000\r\n"
        "0\tref 2\t\t1234567\r\n";
    ASSERT_TRUE(platform::writeFileAtomic(logDir + "/tradmark.dat", data));
    CliRun list = cli({"list"});
    EXPECT_EQ(list.exit, 0) << list.err;
    EXPECT_EQ(list.out,
              "Yearly\tref 1\tapplication 75123456, trademark MARK\tMARK\t2001-02-03\tRegistered\t2001-04-19\t"
              "Time-out\n"
              "Daily\tref 2\tregistration 1234567\t\t\t\t\t\n");

    ASSERT_TRUE(platform::writeFileAtomic(logDir + "/tradmark.dat", "9\r\n"));
    CliRun refused = cli({"list"});
    EXPECT_EQ(refused.exit, 1);
    EXPECT_EQ(refused.out, "");
    EXPECT_EQ(refused.err, "Incompatible application data file.\n");
    EXPECT_EQ(platform::readFile(logDir + "/tradmark.dat"), "9\r\n");
}

TEST_F(CliPersistenceTest, SaveThatFailsSaysWhyAndExitsOne)
{
    ASSERT_TRUE(platform::writeFileAtomic(m_dir.file("plain"), "x"));
    CliRun run = test::runCliInProcess({"config", "set", "OrgName", "lost"}, m_dir.file("plain/settings.ini"));
    EXPECT_EQ(run.exit, 1);
    EXPECT_EQ(run.err, "tarnwick-cli: Can't write the settings file '" + m_dir.file("plain/settings.ini") +
                           "': Not a directory\n");
}

TEST_F(CliPersistenceTest, OutputThatCannotBeWrittenExitsOne)
{
    ASSERT_EQ(cli({"config", "set", "OrgName", "Brenlow"}).exit, 0);
    ASSERT_EQ(cli({"config", "set", "LogDir", m_dir.path()}).exit, 0);
    ASSERT_TRUE(platform::writeFileAtomic(m_dir.file("tradmark.dat"), "8\r\n0\tref\t\t1234567\r\n"));
    ASSERT_TRUE(platform::writeFileAtomic(m_dir.file("page.html"), "<html>no record</html>"));
    const std::vector<std::vector<std::string>> commands = {
        {"list"},
        {"identify", "1234567"},
        {"config", "list"},
        {"config", "get", "OrgName"},
        {"extract", m_dir.file("page.html"), "--number", "1234567"}};
    for (const auto& args : commands) {
        SCOPED_TRACE(args[0] + " " + args[1 % args.size()]);
        std::string command = shellQuoted(TARNWICK_CLI) + " --settings " + shellQuoted(settings());
        for (const std::string& a : args)
            command.append(" ").append(shellQuoted(a));
        command.append(" >/dev/full 2>").append(shellQuoted(m_dir.file("err"))).append(" </dev/null");
        const int status = std::system(command.c_str());
        EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 1);
        EXPECT_NE(platform::readFile(m_dir.file("err")).value_or("").find("cannot write standard output"),
                  std::string::npos);
    }
}

// The program writes "Tarnwick®" in UTF-8 to a terminal and to a redirected stream alike, never the system's own
// byte 0xAE; only a run inside the test's process sees the bytes before they reach the stream.
TEST_F(CliPersistenceTest, TextsReachATerminalInItsCharacterSet)
{
    ASSERT_EQ(cli({"config", "set", "LogDir", m_dir.path()}).exit, 0);
    const std::string send = shellQuoted(TARNWICK_CLI) + " --settings " + shellQuoted(settings()) + " send";
    const std::string command = "LC_ALL=C.UTF-8 script -qec " + shellQuoted(send) + " /dev/null >" +
                                shellQuoted(m_dir.file("tty")) + " </dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_TRUE(platform::readFile(m_dir.file("tty")).value_or("").starts_with("Tarnwick\xC2\xAE: There aren't"));
    ASSERT_EQ(std::system((send + " 2>" + shellQuoted(m_dir.file("err")) + " </dev/null").c_str()), 0);
    EXPECT_TRUE(platform::readFile(m_dir.file("err")).value_or("").starts_with("Tarnwick\xC2\xAE: There aren't"));
    EXPECT_TRUE(cli({"send"}).err.starts_with("Tarnwick\xAE: There aren't"));
}

// A secret given as "-" comes from standard input, or from a prompt that does not echo it on a terminal; the
// settings file is readable by its owner only from the moment it holds one.
TEST_F(CliPersistenceTest, SecretsComeFromStandardInputAndTightenTheFile)
{
    ASSERT_TRUE(platform::writeFileAtomic(settings(), ""));
    struct Step {
        const char* name;
        bool onTerminal;
        std::string typed;
        bool loosenFirst; // someone made the file readable by all
        mode_t mode;
    };
    const Step steps[] = {
        {"OrgName", false, "Brenlow\n", true, 0644}, // no secret yet: the file keeps its mode
        {"ApiKey", false, "k3y-from-stdin\r\n", false, 0600},
        {"Password", true, "pw-typed\n", true, 0600},
        {"OrgName", false, "Brenlow & Co\n", true, 0600}, // a file that holds a secret is tightened on every write
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.name);
        if (s.loosenFirst)
            ::chmod(settings().c_str(), 0644);
        if (s.onTerminal) {
            const test::PtyRun run = test::runCliOnPty({"--settings", settings(), "config", "set", s.name, "-"},
                                                       s.typed, std::string(s.name) + ": ");
            EXPECT_EQ(run.exit, 0) << run.output;
            EXPECT_EQ(run.output.find("pw-typed"), std::string::npos) << run.output;
        } else {
            EXPECT_EQ(test::runCliInProcess({"config", "set", s.name, "-"}, settings(), s.typed).exit, 0);
        }
        struct stat st {};
        ASSERT_EQ(::stat(settings().c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, s.mode);
    }
    base::AppSettings back(settings());
    EXPECT_EQ(back.value(base::setting::OrgName), "Brenlow & Co");
    EXPECT_EQ(back.plainApiKey(), "k3y-from-stdin");
    EXPECT_EQ(back.plainPassword(), "pw-typed");
    EXPECT_EQ(cli({"config", "set", "Password", "-"}).exit, 1) << "nothing on standard input";
}

// Text from a page reaches a terminal with its control bytes shown, not obeyed; redirected output keeps them.
TEST_F(CliPersistenceTest, PageTextCannotControlTheTerminal)
{
    const std::string logDir = m_dir.file("Log");
    ASSERT_EQ(cli({"config", "set", "LogDir", logDir}).exit, 0);
    ASSERT_EQ(std::system(("mkdir -p " + shellQuoted(logDir)).c_str()), 0);
    core::EntryStore store;
    core::Entry e(45000);
    e.SerNum = "75123456";
    e.Trademark = "EVIL\x1b]0;pwned\x07MARK\x1b[2J\xc2\x9b"
                  "2J";
    store.appendEntry(e);
    store.setLoadOk(true);
    ASSERT_TRUE(core::saveDataFile(store, logDir));
    for (const char* command : {"list", "details"}) {
        SCOPED_TRACE(command);
        const test::PtyRun shown = test::runCliOnPty({"--settings", settings(), command});
        EXPECT_EQ(shown.exit, 0) << shown.output;
        EXPECT_NE(shown.output.find("EVIL^[]0;pwned^GMARK^[[2J?2J"), std::string::npos) << shown.output;
        EXPECT_EQ(shown.output.find_first_of("\x1b\x07"), std::string::npos);
        EXPECT_NE(cli({command}).out.find(e.Trademark), std::string::npos);
    }
}
