#include "base/settings.h"
#include "support/runcli.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

using namespace tarnwick;

namespace {

using test::CliRun;
using test::runCliInProcess;

// The command words of the program's list, read from its help.
std::vector<std::string> listedCommands()
{
    std::vector<std::string> names;
    std::istringstream help(runCliInProcess({"--help"}).out);
    for (std::string line; std::getline(help, line);) {
        if (line.size() > 2 && line.starts_with("  ") && std::islower(static_cast<unsigned char>(line[2])))
            names.push_back(line.substr(2, line.find(' ', 2) - 2));
    }
    return names;
}

} // namespace

// Every command's usage line, its help and the program's list say the same, since they come from one table.
TEST(CliOptions, EachCommandsHelpMatchesItsUsageAndTheList)
{
    const std::vector<std::string> names = listedCommands();
    ASSERT_EQ(names.size(), 26u);
    const std::string list = runCliInProcess({"--help"}).out;
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        const CliRun help = runCliInProcess({name, "--help"});
        EXPECT_EQ(help.exit, 0);
        EXPECT_EQ(help.err, "");
        const CliRun wrong = runCliInProcess({name, "--no-such-option"});
        EXPECT_EQ(wrong.exit, 1);
        EXPECT_EQ(wrong.out, "");
        ASSERT_TRUE(wrong.err.starts_with("usage: tarnwick-cli ")) << wrong.err;
        EXPECT_TRUE(help.out.starts_with(wrong.err + "\n")) << help.out;
        // the usage line without its settings option is the command's line of the list
        std::string synopsis = wrong.err.substr(20, wrong.err.size() - 21);
        const bool readsSettings = synopsis.starts_with("[--settings FILE] ");
        if (readsSettings)
            synopsis.erase(0, 18);
        const size_t listed = list.find("\n  " + synopsis);
        ASSERT_NE(listed, std::string::npos) << synopsis;
        EXPECT_TRUE(std::isspace(static_cast<unsigned char>(list[listed + 3 + synopsis.size()]))) << synopsis;
        EXPECT_EQ(help.out.find("\n  --settings FILE ") != std::string::npos, readsSettings);
        EXPECT_NE(help.out.find("\n  --help "), std::string::npos);
    }
}

TEST(CliOptions, WordsAreParsedByTheCommandsTable)
{
    test::TempDir dir;
    const std::string usageOfSend = "usage: tarnwick-cli [--settings FILE] send [--delete]\n";
    struct Case {
        const char* name;
        std::vector<std::string> args;
        std::string input;
        int exit;
        std::string out;
        std::string err;
    };
    const Case cases[] = {
        {"unknown option", {"send", "--bogus"}, "", 1, "", usageOfSend},
        {"a flag given a value", {"send", "--delete=yes"}, "", 1, "", usageOfSend},
        {"an option without its value",
         {"calendar", "--out"},
         "",
         1,
         "",
         "usage: tarnwick-cli [--settings FILE] calendar [--out FILE]\n"},
        {"a required option missing",
         {"export"},
         "",
         1,
         "",
         "usage: tarnwick-cli [--settings FILE] export --csv FILE\n"},
        {"exactly one of the alternatives",
         {"change", "75123456", "--clear-error", "--clear-update"},
         "",
         1,
         "",
         "usage: tarnwick-cli [--settings FILE] change NUMBER... (--frequency FREQUENCY | --reference TEXT | "
         "--clear-error | --clear-update)\n"},
        {"settings taken only by the commands that read them",
         {"identify", "--settings", "x", "1234567"},
         "",
         1,
         "",
         "usage: tarnwick-cli identify NUMBER...\n"},
        {"after \"--\" a word is no option", {"identify", "--", "--x"}, "", 1, "--x\trefused: ", ""},
        {"\"-->\" is a word", {"identify", "-->"}, "", 1, "-->\trefused: ", ""},
        {"\"-\" is a word", {"normalise", "-"}, "plain text", 0, "plain text", ""},
        {"the value of --settings=FILE",
         {"config", "get", "OrgName", "--settings=" + dir.file("s.ini")},
         "",
         0,
         "Brenlow\n",
         ""},
        {"the value of --settings FILE",
         {"config", "--settings", dir.file("s.ini"), "get", "OrgName"},
         "",
         0,
         "Brenlow\n",
         ""},
        {"unknown command", {"frobnicate"}, "", 1, "", "tarnwick-cli: unknown command 'frobnicate'\nusage: "},
    };
    base::AppSettings settings(dir.file("s.ini"));
    settings.setValue(base::setting::OrgName, "Brenlow");
    ASSERT_TRUE(settings.writeAll());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // a settings file of its own unless the case names one
        const CliRun run = runCliInProcess(c.args, dir.file("other.ini"), c.input);
        EXPECT_EQ(run.exit, c.exit);
        EXPECT_TRUE(run.out.starts_with(c.out)) << run.out;
        EXPECT_TRUE(run.err.starts_with(c.err)) << run.err;
        EXPECT_EQ(run.err.empty(), c.err.empty()) << run.err;
    }
}

// The completion a user gets in bash, from the installed script and the program's help.
TEST(CliOptions, BashCompletesCommandsOptionsAndTheirValues)
{
    struct Case {
        const char* words;
        const char* expected;
    };
    const Case cases[] = {
        {"tarnwick-cli up", "update upgrade"},           {"tarnwick-cli add 75123456 --f", "--frequency"},
        {"tarnwick-cli list --", "--settings --help"},   {"tarnwick-cli change 75123456 --frequency W", "Weekly"},
        {"tarnwick-cli fetch http://x/ --proxy ''", ""}, {"tarnwick-cli rules use ''", "office-xml built-in"},
    };
    const std::string cli = TARNWICK_CLI;
    const std::string dir = cli.substr(0, cli.rfind('/'));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.words);
        const std::string script =
            "PATH=" + test::shellQuoted(dir) + ":$PATH; source " +
            test::shellQuoted(std::string(TARNWICK_SOURCE_DIR) + "/packaging/bash-completion/tarnwick-cli") +
            "; COMP_WORDS=(" + c.words +
            "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _tarnwick_cli; echo \"${COMPREPLY[*]}\"";
        const std::string command = "bash -c " + test::shellQuoted(script);
        FILE* pipe = ::popen(command.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        std::string out;
        char buf[256];
        while (size_t n = std::fread(buf, 1, sizeof buf, pipe))
            out.append(buf, n);
        EXPECT_EQ(::pclose(pipe), 0);
        EXPECT_EQ(out, std::string(c.expected) + "\n");
    }
}
