#include "app/configuration.h"
#include "base/settings.h"
#include "notify/emailqueue.h"
#include "platform/files.h"
#include "support/scriptedfrontend.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace tarnwick;
using namespace tarnwick::app;

namespace {

ConfigValues complete(const test::TempDir& dir)
{
    ConfigValues v;
    v.orgName = "Org";
    v.smtpServer = "mail.example.test";
    v.returnAddress = "me@example.test";
    v.notifyAddresses = {"n@example.test"};
    v.shortcutFolder = dir.path();
    v.install = dir.path();
    v.logDir = dir.path();
    v.reportDir = dir.path();
    return v;
}

TEST(ConfigurationChecks, FirstFailureInOrderWithItsMessageAndField)
{
    test::TempDir dir;
    const std::string blocked = dir.file("plain-file"); // a file stands where a directory should be
    platform::writeFileAtomic(blocked, "x");
    struct Case {
        void (*change)(ConfigValues&, const std::string&);
        ConfigField field;
        const char* message;
    };
    const Case cases[] = {
        {[](ConfigValues& v, const std::string&) { v = ConfigValues{}; }, ConfigField::OrgName,
         "Please enter an organization name."},
        {[](ConfigValues& v, const std::string&) { v.smtpServer.clear(), v.returnAddress.clear(); },
         ConfigField::SmtpServer, "Please enter an SMTP server name. (like mail.example.com)"},
        {[](ConfigValues& v, const std::string&) { v.returnAddress.clear(); }, ConfigField::ReturnAddress,
         "Please enter a E-Mail return address. (like you@example.com)"},
        {[](ConfigValues& v, const std::string&) { v.notifyAddresses.clear(); }, ConfigField::NotifyAddresses,
         "Please enter at least one E-Mail notification address. (like you@example.com)"},
        {[](ConfigValues& v, const std::string&) { v.shortcutFolder.clear(), v.install.clear(); },
         ConfigField::ShortcutFolder, "Please enter a directory for storing the shortcuts."},
        {[](ConfigValues& v, const std::string&) { v.install.clear(); }, ConfigField::Install,
         "Please enter a directory for storing the application."},
        {[](ConfigValues& v, const std::string& b) { v.logDir = b + "/sub"; }, ConfigField::LogDir,
         "Logging directory was not created."},
        {[](ConfigValues& v, const std::string&) { v.reportDir.clear(); }, ConfigField::ReportDir,
         "Please enter a directory for storing the report."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        ConfigValues v = complete(dir);
        c.change(v, blocked);
        test::ScriptedFrontEnd fe;
        fe.nextAnswer(base::Answer::Yes); // creating the blocked path is attempted and fails
        const std::optional<CheckFailure> failure = checkConfiguration(v, fe);
        ASSERT_TRUE(failure);
        EXPECT_EQ(failure->field, c.field);
        EXPECT_EQ(failure->message, c.message);
        ASSERT_FALSE(fe.boxes.empty());
        EXPECT_EQ(fe.boxes.back().text, c.message);
        EXPECT_EQ(fe.boxes.back().caption, "Tarnwick\xAE");
    }
}

TEST(ConfigurationChecks, MissingLevelsAreCreatedOnYesAndNotOnNo)
{
    for (const base::Answer answer : {base::Answer::Yes, base::Answer::No}) {
        test::TempDir dir;
        const std::string deep = dir.file("a/b/c");
        test::ScriptedFrontEnd fe;
        fe.nextAnswer(answer);
        const std::string message = directoryTest(deep, "logged data", "Logging directory", fe);
        EXPECT_EQ(fe.boxes.front().text, "Logging directory does not exist. Do you want it created?");
        EXPECT_EQ(std::filesystem::is_directory(deep), answer == base::Answer::Yes);
        EXPECT_EQ(message, answer == base::Answer::Yes ? "" : "Logging directory was not created.");
        // the probe file is gone again
        EXPECT_FALSE(std::filesystem::exists(deep + "/xxyyzzww.tmp"));
    }
}

TEST(ConfigurationDialog, PendingEmailLocksTheLoggingDirectoryAndDefaultsFollowTheApplicationDirectory)
{
    for (const bool pending : {false, true}) {
        test::TempDir dir;
        base::AppSettings settings(dir.file("settings.ini"));
        settings.setValue(base::setting::Install, dir.file("app"));
        if (pending) {
            settings.setValue(base::setting::LogDir, dir.path());
            platform::writeFileAtomic(dir.file(notify::k_pendingListName), "Tarnwick_x.tmp\r\n");
        }
        const ConfigDialogState state = openConfiguration(settings);
        test::ScriptedFrontEnd fe;
        announceLogDirLock(state, fe);
        EXPECT_EQ(state.logDirLocked, pending);
        EXPECT_EQ(fe.boxes.size(), pending ? 1u : 0u);
        EXPECT_EQ(state.values.logDir, pending ? dir.path() : dir.file("app/Log"));
        EXPECT_EQ(state.values.reportDir, dir.file("app/Report"));
    }
}

// The reports for the distributor are off until the user ticks the consent, which the dialog shows as stored.
TEST(ConfigurationDialog, UsageReportsAreOffUntilAgreed)
{
    test::TempDir dir;
    base::AppSettings settings(dir.file("settings.ini"));
    EXPECT_FALSE(openConfiguration(settings).values.sendUsageReports);
    test::ScriptedFrontEnd fe;
    for (const bool agreed : {true, false}) {
        ConfigValues v = complete(dir);
        v.sendUsageReports = agreed;
        ASSERT_FALSE(acceptConfiguration(v, settings, fe));
        EXPECT_EQ(settings.usageReportsAllowed(), agreed);
        EXPECT_EQ(openConfiguration(settings).values.sendUsageReports, agreed);
    }
}

TEST(ConfigurationDialog, DeletingAnAddressMovesTheSelection)
{
    struct Case {
        int selected;
        base::Answer answer;
        std::vector<std::string> left;
        int selectedAfter;
    };
    const Case cases[] = {
        {0, base::Answer::Yes, {"b", "c"}, 0},
        {2, base::Answer::Yes, {"a", "b"}, 1},
        {1, base::Answer::No, {"a", "b", "c"}, 1},
        {-1, base::Answer::Yes, {"a", "b", "c"}, -1},
    };
    for (const Case& c : cases) {
        AddressList list{{"a", "b", "c"}, c.selected};
        test::ScriptedFrontEnd fe;
        fe.nextAnswer(c.answer);
        deleteSelectedAddress(list, fe);
        EXPECT_EQ(list.addresses, c.left);
        EXPECT_EQ(list.selected, c.selectedAfter);
    }
}

TEST(Help, ResourceNamesBecomeFileNamesAndThePageIsWritten)
{
    EXPECT_EQ(helpFileName("HELP_HTML"), "help.html");
    EXPECT_EQ(helpFileName("FIG10_JPG"), "fig10.jpg");
    EXPECT_EQ(helpFileName("A_B_C"), "a_b.c");
    test::TempDir dir;
    const std::optional<std::string> page = writeHelp(dir.path());
    ASSERT_TRUE(page);
    EXPECT_EQ(*page, dir.file("Tarnwick/help.html"));
    const std::string html = platform::readFile(*page).value_or("");
    EXPECT_NE(html.find("<html"), std::string::npos);
    // every figure the page shows is written beside it
    int figures = 0;
    for (size_t at = html.find("<img src=\""); at != std::string::npos; at = html.find("<img src=\"", at + 1)) {
        const size_t from = at + 10;
        const std::string name = html.substr(from, html.find('"', from) - from);
        SCOPED_TRACE(name);
        EXPECT_EQ(platform::readFile(dir.file("Tarnwick/" + name)).value_or("").substr(0, 4), "\x89PNG");
        ++figures;
    }
    EXPECT_EQ(figures, 5);
}

} // namespace
