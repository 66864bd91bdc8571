#include "core/datafile.h"
#include "core/entrystore.h"
#include "platform/files.h"
#include "platform/instancelock.h"
#include "platform/signature.h"
#include "support/office.h"
#include "support/runcli.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <map>
#include <random>
#include <set>

using namespace tarnwick;

namespace {

// tarnwick-cli started in the background with output to files, to be
// interrupted or killed.
class CliProcess {
public:
    CliProcess(const std::vector<std::string>& args, const std::string& settings, const std::string& outDir,
               int daysAhead)
    {
        std::vector<std::string> argv = {TARNWICK_CLI, "--settings", settings};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<char*> av;
        for (std::string& a : argv)
            av.push_back(a.data());
        av.push_back(nullptr);
        std::vector<std::string> env = {"TARNWICK_DAYS_AHEAD=" + std::to_string(daysAhead), "PATH=/usr/bin:/bin"};
        std::vector<char*> ev;
        for (std::string& e : env)
            ev.push_back(e.data());
        ev.push_back(nullptr);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&fa, 1, (outDir + "/out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&fa, 2, (outDir + "/err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (::posix_spawn(&m_pid, av[0], &fa, nullptr, av.data(), ev.data()) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&fa);
        m_outDir = outDir;
    }
    void signal(int sig) const { ::kill(m_pid, sig); }
    int wait()
    {
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string out() const { return platform::readFile(m_outDir + "/out").value_or(""); }

private:
    pid_t m_pid = -1;
    std::string m_outDir;
};

class CliUpdateTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_office.start(40);
        ::mkdir(m_dir.file("log").c_str(), 0700);
        ::mkdir(m_dir.file("log/Tarnwick").c_str(), 0700);
        ASSERT_TRUE(platform::writeFileAtomic(m_dir.file("log/Tarnwick/rules.txt"), m_office.rulesText()));
        ASSERT_EQ(cli({"config", "set", "LogDir", m_dir.file("log")}).exit, 0);
    }
    test::CliRun cli(const std::vector<std::string>& args) const { return test::runCliInProcess(args, settings()); }
    std::string settings() const { return m_dir.file("settings.ini"); }
    void addMarks(int count)
    {
        for (int i = 0; i < count; ++i)
            ASSERT_EQ(cli({"add", test::OfficeSimulator::serial(i), "--reference", "M" + std::to_string(i)}).exit, 0);
    }

    test::OfficeSimulator m_office;
    test::TempDir m_dir;
};

} // namespace

TEST_F(CliUpdateTest, OneLinePerEntryAndASummary)
{
    addMarks(3);
    ASSERT_EQ(cli({"add", "75999999"}).exit, 0); // beyond the office's marks
    m_office.setFault(test::OfficeSimulator::serial(1), "500");
    const test::CliRun r = cli({"update"});
    EXPECT_EQ(r.exit, 1);
    EXPECT_EQ(r.out, "[1/4] M0 75-000001: first reading\n"
                     "[2/4] M1 75-000002: failed: HttpGet: HTTP Get Failed. (500 Internal Server Error)\n"
                     "[3/4] M2 75-000003: first reading\n"
                     "[4/4] 75-999999: no record at the office\n"
                     "due 4, updated 3, changed 0, failed 1, notifications queued 0, messages sent 0\n");
    // the rules download found newer rules at the office, signed by the distributor; they were saved
    EXPECT_EQ(rules::RulesFile::versionOf(platform::readFile(m_dir.file("log/Tarnwick/rules.txt")).value_or("")),
              platform::distributorKey().empty() ? "4.2.06.500" : "4.2.07.000");
}

TEST_F(CliUpdateTest, WritingCommandsWaitForTheLockReadingOnesDoNot)
{
    addMarks(1);
    platform::InstanceLock held;
    ASSERT_TRUE(held.acquire(m_dir.file("log")));
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{{"add", "75000002"},
                                                                                      {"update"},
                                                                                      {"auto"},
                                                                                      {"delete", "75000001", "--yes"},
                                                                                      {"send"},
                                                                                      {"test-mail"},
                                                                                      {"rules", "use", "built-in"}}) {
        const test::CliRun r = cli(args);
        EXPECT_EQ(r.exit, 1) << args[0];
        EXPECT_EQ(r.err, "Only one instance of Tarnwick may be run at a time.\n") << args[0];
    }
    EXPECT_EQ(cli({"details", "75000001"}).exit, 0);
    held.release();

    // a lock file that cannot be opened refuses the writer with the reason, and nothing is written
    ::mkdir(m_dir.file("log/Tarnwick_lock.dat").c_str(), 0700);
    const test::CliRun refused = cli({"add", "75000002"});
    EXPECT_EQ(refused.exit, 1);
    EXPECT_EQ(refused.err, "Can't open the lock file " + m_dir.file("log/Tarnwick_lock.dat") + ": Is a directory\n");
    EXPECT_EQ(cli({"list"}).out.find("75-000002"), std::string::npos);
    ::rmdir(m_dir.file("log/Tarnwick_lock.dat").c_str());
    EXPECT_EQ(cli({"add", "75000002"}).exit, 0);
}

TEST_F(CliUpdateTest, AutoFailsWhenTheReportsCannotBeWritten)
{
    addMarks(1);
    ASSERT_TRUE(platform::writeFileAtomic(m_dir.file("reports"), "a plain file"));
    ASSERT_EQ(cli({"config", "set", "ReportDir", m_dir.file("reports")}).exit, 0);
    const test::CliRun r = cli({"auto"});
    EXPECT_EQ(r.exit, 1);
    EXPECT_EQ(r.out.find("reports in"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("Can't write the reports into " + m_dir.file("reports") + ": "), std::string::npos) << r.err;
}

TEST_F(CliUpdateTest, CtrlCClosesTheSilentFetchAtOnce)
{
    addMarks(3);
    m_office.setFault(test::OfficeSimulator::serial(0), "silent");
    CliProcess p({"update"}, settings(), m_dir.path(), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    const auto start = std::chrono::steady_clock::now();
    p.signal(SIGINT);
    EXPECT_EQ(p.wait(), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    // the entry in flight fails; those not reached are left as they were
    EXPECT_NE(p.out().find("[1/3] M0 75-000001: failed: Operation canceled.\n"), std::string::npos) << p.out();
    EXPECT_EQ(p.out().find("[2/3]"), std::string::npos) << p.out();
}

// The simulator's own account of its marks on `day`: serial, registration number, status.
std::vector<std::vector<std::string>> officeMarks(int count, int day)
{
    const std::string command = "/usr/bin/python3 " + std::string(TARNWICK_SOURCE_DIR) +
                                "/tools/office_simulator.py marks --size " + std::to_string(count) + " --day " +
                                std::to_string(day);
    std::vector<std::vector<std::string>> rows;
    FILE* f = ::popen(command.c_str(), "r");
    char line[512];
    while (f && std::fgets(line, sizeof line, f)) {
        std::vector<std::string> cells;
        std::string cell;
        for (const char* c = line; *c && *c != '\n'; ++c) {
            if (*c == '\t') {
                cells.push_back(cell);
                cell.clear();
            } else {
                cell += *c;
            }
        }
        cells.push_back(cell);
        rows.push_back(cells);
    }
    if (f)
        ::pclose(f);
    return rows;
}

// The number each listed notice's page is fetched by (its status page address ends in "entry=" and the
// number) with the Location it reports as now.
std::set<std::pair<std::string, std::string>> noticedLocations(const std::string& logDir)
{
    std::set<std::pair<std::string, std::string>> out;
    auto lineAfter = [](const std::string& text, const std::string& label) {
        const size_t at = text.find(label);
        return at == std::string::npos ? std::string()
                                       : text.substr(at + label.size(), text.find("\r\n", at) - at - label.size());
    };
    const std::string list = platform::readFile(logDir + "/Tarnwick_pending.tmp").value_or("");
    for (size_t at = 0, end; (end = list.find("\r\n", at)) != std::string::npos; at = end + 2) {
        const std::string text = platform::readFile(logDir + "/" + list.substr(at, end - at)).value_or("");
        out.emplace(lineAfter(text, "entry="), lineAfter(text, "Location (now): "));
    }
    return out;
}

// auto killed at random moments never leaves a data file that does not load,
// and every change the office made ends up queued at least once: after every
// kill, each value the data file took in since the kill before is reported by
// a queued notice. Once while a few marks change; once while every mark
// changes with every run and the runs, spaced out by the request interval,
// commit their notices in groups.
TEST_F(CliUpdateTest, KilledAtRandomMomentsLosesNoChange)
{
    struct Case {
        const char* name;
        bool everyMarkChanges;
        int kills;
        int earliestKillMs, latestKillMs;
    };
    const Case cases[] = {{"some marks change", false, 100, 0, 500},
                          {"every mark changes, in groups", true, 16, 900, 1700}};
    constexpr int k_marks = 40;
    addMarks(k_marks);
    int days = 0; // each run plays a later day, so that every entry is due
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_office.control("/sim/reset");
        m_office.control(c.everyMarkChanges ? "/sim/churn?mode=all" : "/sim/churn?mode=normal");
        ASSERT_EQ(cli({"config", "set", "RequestInterval", c.everyMarkChanges ? "40" : "0"}).exit, 0);
        CliProcess first({"update", "--redo"}, settings(), m_dir.path(), ++days); // the readings of day 1
        first.wait();
        const std::string list = m_dir.file("log/Tarnwick_pending.tmp");
        std::filesystem::remove(list);
        std::map<std::string, std::string> taken; // the Location in the data file by number
        auto check = [&](int kill) {
            core::EntryStore store;
            ASSERT_EQ(core::loadDataFile(store, m_dir.file("log")), "") << "after kill " << kill;
            ASSERT_EQ(store.count(), k_marks);
            const auto noticed = noticedLocations(m_dir.file("log"));
            for (const core::Entry& e : store.entries()) {
                const std::string number = e.RegNum.empty() ? e.SerNum : e.RegNum;
                if (kill >= 0 && e.Location != taken[number]) {
                    EXPECT_TRUE(noticed.contains({number, e.Location})) << number << " after kill " << kill;
                }
                taken[number] = e.Location;
            }
        };
        check(-1);
        m_office.setDay(400);
        std::mt19937 random(12345);
        std::uniform_int_distribution<int> moment(c.earliestKillMs, c.latestKillMs);
        int cutShort = 0;
        int queuedBeforeTheEnd = 0;
        for (int i = 0; i < c.kills; ++i) {
            if (c.everyMarkChanges)
                m_office.setDay(400 + i % 2); // every page differs from the day before
            const size_t listed = platform::readFile(list).value_or("").size();
            CliProcess p({"auto"}, settings(), m_dir.path(), ++days);
            std::this_thread::sleep_for(std::chrono::milliseconds(moment(random)));
            p.signal(SIGKILL);
            p.wait();
            const bool cut = p.out().find("\ndue ") == std::string::npos;
            cutShort += cut ? 1 : 0;
            queuedBeforeTheEnd += cut && platform::readFile(list).value_or("").size() > listed ? 1 : 0;
            check(i);
        }
        CliProcess last({"auto"}, settings(), m_dir.path(), ++days);
        last.wait();
        check(c.kills);

        // and the office's own account: every mark whose status moved has a notice
        const std::string pending = platform::readFile(list).value_or("");
        const auto before = officeMarks(k_marks, 1);
        const auto after = officeMarks(k_marks, 400);
        ASSERT_EQ(before.size(), static_cast<size_t>(k_marks));
        int changes = 0;
        for (int i = 0; i < k_marks; ++i) {
            if (before[i][2] == "(not yet filed)" || before[i][2] == after[i][2])
                continue;
            ++changes;
            // the message file is named by the registration number once there is one; a second notice for
            // the same mark carries a number after that
            const std::string serial = before[i][0].substr(0, 2) + "-" + before[i][0].substr(2);
            const std::string name = "Tarnwick_s" + (after[i][1].empty() ? serial : after[i][1]);
            EXPECT_TRUE(pending.find(name + ".tmp") != std::string::npos ||
                        pending.find(name + "_") != std::string::npos)
                << name;
        }
        EXPECT_GT(changes, 20);
        if (c.everyMarkChanges) {
            EXPECT_GT(queuedBeforeTheEnd, 0); // groups were committed in the middle of runs
        }
        std::cout << c.name << ": killed " << c.kills << " times, " << cutShort << " before the summary, "
                  << queuedBeforeTheEnd << " of them after a group was queued; " << changes
                  << " marks changed status\n";
    }
}
