#include "app/configuration.h"
#include "base/settings.h"
#include "notify/emailqueue.h"
#include "platform/files.h"
#include "support/scriptedfrontend.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <tuple>

using namespace tarnwick;
using namespace tarnwick::app;

namespace {

ConfigValues complete(const test::TempDir& dir)
{
    ConfigValues v;
    v[ConfigField::OrgName] = "Org";
    v[ConfigField::SmtpServer] = "mail.example.test";
    v[ConfigField::ReturnAddress] = "me@example.test";
    v.notifyAddresses = {"n@example.test"};
    for (const ConfigField f :
         {ConfigField::ShortcutFolder, ConfigField::Install, ConfigField::LogDir, ConfigField::ReportDir})
        v[f] = dir.path();
    return v;
}

TEST(ConfigurationChecks, FirstFailureInOrderWithItsMessageAndField)
{
    test::TempDir dir;
    const std::string blocked = dir.file("plain-file"); // a file stands where a directory should be
    (void)platform::writeFileAtomic(blocked, "x");
    struct Case {
        void (*change)(ConfigValues&, const std::string&);
        ConfigField field;
        const char* message;
    };
    const Case cases[] = {
        {[](ConfigValues& v, const std::string&) { v = ConfigValues{}; }, ConfigField::OrgName,
         "Please enter an organization name."},
        {[](ConfigValues& v, const std::string&) {
             v[ConfigField::SmtpServer].clear(), v[ConfigField::ReturnAddress].clear();
         },
         ConfigField::SmtpServer, "Please enter an SMTP server name. (like mail.example.com)"},
        {[](ConfigValues& v, const std::string&) { v[ConfigField::ReturnAddress].clear(); }, ConfigField::ReturnAddress,
         "Please enter a E-Mail return address. (like you@example.com)"},
        {[](ConfigValues& v, const std::string&) { v.notifyAddresses.clear(); }, ConfigField::NotifyAddresses,
         "Please enter at least one E-Mail notification address. (like you@example.com)"},
        {[](ConfigValues& v, const std::string&) {
             v[ConfigField::ShortcutFolder].clear(), v[ConfigField::Install].clear();
         },
         ConfigField::ShortcutFolder, "Please enter a directory for storing the shortcuts."},
        {[](ConfigValues& v, const std::string&) { v[ConfigField::Install].clear(); }, ConfigField::Install,
         "Please enter a directory for storing the application."},
        {[](ConfigValues& v, const std::string& b) { v[ConfigField::LogDir] = b + "/sub"; }, ConfigField::LogDir,
         "Logging directory was not created."},
        {[](ConfigValues& v, const std::string&) { v[ConfigField::ReportDir].clear(); }, ConfigField::ReportDir,
         "Please enter a directory for storing the report."},
        {[](ConfigValues& v, const std::string&) { v.rules = RulesChoice::XmlRecords; }, ConfigField::ApiKey,
         "Please enter the office's API key: it serves its XML records only with one."},
        {[](ConfigValues& v, const std::string&) { v[ConfigField::RequestInterval] = "120001"; },
         ConfigField::RequestInterval, "RequestInterval is a number of milliseconds from 0 to 120000, not '120001'"},
        {[](ConfigValues& v, const std::string&) { v[ConfigField::CaFile] = "/nonexistent/ca.pem"; },
         ConfigField::Advanced, "The CA file '/nonexistent/ca.pem' cannot be read: No such file or directory"},
        {[](ConfigValues& v, const std::string&) { v[ConfigField::CaFile] = v[ConfigField::LogDir]; },
         ConfigField::Advanced, nullptr},
        {[](ConfigValues& v, const std::string&) { v[ConfigField::SmtpSecurity] = "ssl"; }, ConfigField::Advanced,
         "SmtpSecurity is starttls, tls or none, not 'ssl'"},
    };
    for (const Case& c : cases) {
        ConfigValues v = complete(dir);
        c.change(v, blocked);
        // no message given: the text names the value
        const std::string message =
            c.message ? c.message : "The CA file '" + v[ConfigField::CaFile] + "' cannot be read: not a regular file";
        SCOPED_TRACE(message);
        test::ScriptedFrontEnd fe;
        fe.nextAnswer(base::Answer::Yes); // creating the blocked path is attempted and fails
        const std::optional<CheckFailure> failure = checkConfiguration(v, fe);
        ASSERT_TRUE(failure);
        EXPECT_EQ(failure->field, c.field);
        EXPECT_EQ(failure->message, message);
        ASSERT_FALSE(fe.boxes.empty());
        EXPECT_EQ(fe.boxes.back().text, message);
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
            (void)platform::writeFileAtomic(dir.file(notify::k_pendingListName), "Tarnwick_x.tmp\r\n");
        }
        const ConfigDialogState state = openConfiguration(settings);
        test::ScriptedFrontEnd fe;
        announceLogDirLock(state, fe);
        EXPECT_EQ(state.logDirLocked, pending);
        EXPECT_EQ(fe.boxes.size(), pending ? 1u : 0u);
        EXPECT_EQ(state.values[ConfigField::LogDir], pending ? dir.path() : dir.file("app/Log"));
        EXPECT_EQ(state.values[ConfigField::ReportDir], dir.file("app/Report"));
    }
}

// The reports for the distributor are off until the user ticks the consent, which the dialog shows as stored.
TEST(ConfigurationDialog, UsageReportsAreOffUntilAgreed)
{
    test::TempDir dir;
    base::AppSettings settings(dir.file("settings.ini"));
    EXPECT_EQ(openConfiguration(settings).values[ConfigField::SendUsageReports], "0");
    test::ScriptedFrontEnd fe;
    for (const bool agreed : {true, false}) {
        ConfigValues v = complete(dir);
        v[ConfigField::SendUsageReports] = agreed ? "1" : "0";
        ASSERT_FALSE(acceptConfiguration(v, settings, fe));
        EXPECT_EQ(settings.usageReportsAllowed(), agreed);
        EXPECT_EQ(openConfiguration(settings).values[ConfigField::SendUsageReports], agreed ? "1" : "0");
    }
}

// What the command line set shows in the dialog, and what the dialog stores reads back the same way; the rules
// choice writes or removes the rules file and leaves one of the user's own alone.
TEST(ConfigurationDialog, OfficeAndMailValuesRoundTripWithTheCommandLinesSettings)
{
    test::TempDir dir;
    (void)platform::writeFileAtomic(dir.file("ca.pem"), "-----BEGIN CERTIFICATE-----\n");
    base::AppSettings settings(dir.file("settings.ini"));
    settings.setValue(base::setting::LogDir, dir.path());
    settings.setPlainApiKey("key-1");
    settings.setValue(base::setting::RequestInterval, "1100");
    settings.setValue(base::setting::SmtpSecurity, "TLS");
    settings.setValue(base::setting::SendAfterUpdate, "0");
    settings.setValue(base::setting::NotifyMode, "digest");
    ConfigValues v = openConfiguration(settings).values;
    EXPECT_EQ(std::tie(v[ConfigField::ApiKey], v[ConfigField::RequestInterval], v[ConfigField::SmtpSecurity],
                       v[ConfigField::SendAfterUpdate], v[ConfigField::NotifyMode]),
              std::make_tuple("key-1", "1100", "tls", "0", "digest"));
    EXPECT_EQ(v.rules, RulesChoice::WebPages);

    const std::string rulesPath = dir.file("Tarnwick/rules.txt");
    struct Case {
        RulesChoice choice;
        std::optional<std::string> ownFile; // a rules file in place before
        RulesChoice after;
        bool fileAfter;
        bool openedElsewhere = false; // the dialog opened on another logging directory and showed the web pages
    };
    const Case cases[] = {
        {RulesChoice::XmlRecords, std::nullopt, RulesChoice::XmlRecords, true},
        {RulesChoice::WebPages, std::nullopt, RulesChoice::WebPages, false},
        {RulesChoice::OwnFile, "version: 9.0\r\n", RulesChoice::OwnFile, true},
        // a logging directory typed in keeps the rules file it holds
        {RulesChoice::WebPages, "version: 9.0\r\n", RulesChoice::OwnFile, true, true},
    };
    test::ScriptedFrontEnd fe;
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.choice));
        if (c.ownFile)
            (void)platform::writeFileAtomic(rulesPath, *c.ownFile);
        v = complete(dir);
        v.rulesAtOpen = c.openedElsewhere ? RulesChoice::WebPages : rulesChoice(dir.path());
        v.rules = c.choice;
        v[ConfigField::ApiKey] = "key-2";
        v[ConfigField::CaFile] = dir.file("ca.pem");
        v[ConfigField::SmtpSecurity] = "none";
        ASSERT_FALSE(acceptConfiguration(v, settings, fe));
        // OK has written the settings file: a program started now reads what was confirmed
        const base::AppSettings onDisk(dir.file("settings.ini"));
        EXPECT_EQ(std::make_tuple(onDisk.value(base::setting::SmtpServer), onDisk.value(base::setting::CaFile),
                                  onDisk.value(base::setting::SmtpSecurity)),
                  std::make_tuple(v[ConfigField::SmtpServer], dir.file("ca.pem"), std::string("none")));
        EXPECT_EQ(rulesChoice(dir.path()), c.after);
        EXPECT_EQ(platform::fileExists(rulesPath), c.fileAfter);
        const ConfigValues back = openConfiguration(settings).values;
        EXPECT_EQ(std::tie(back[ConfigField::ApiKey], back[ConfigField::CaFile], back[ConfigField::SmtpSecurity],
                           back[ConfigField::RequestInterval], back[ConfigField::SendAfterUpdate]),
                  std::make_tuple("key-2", dir.file("ca.pem"), "none", "0", "1"));
        EXPECT_EQ(settings.value(base::setting::RequestInterval), "");
    }
    EXPECT_TRUE(fe.boxes.empty());
}

// A logging directory typed in: the rules shown follow what it holds unless the user picked other rules.
TEST(ConfigurationDialog, TheRulesShownFollowALoggingDirectoryTypedIn)
{
    test::TempDir empty;
    test::TempDir withFile;
    std::filesystem::create_directory(withFile.file("Tarnwick"));
    ASSERT_TRUE(platform::writeFileAtomic(withFile.file("Tarnwick/rules.txt"), "version: 9.1\r\n"));
    struct Case {
        RulesChoice shown; // the dialog's choice when the directory is typed in; it opened on `empty`
        const test::TempDir& typed;
        bool changed;
        RulesChoice rules;
        std::string version;
    };
    const Case cases[] = {
        {RulesChoice::WebPages, withFile, true, RulesChoice::OwnFile, "9.1"},
        {RulesChoice::WebPages, empty, false, RulesChoice::WebPages, ""},
        {RulesChoice::XmlRecords, withFile, false, RulesChoice::WebPages, ""}, // the user's pick stays
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.shown));
        ConfigValues v;
        showRulesOf(v, empty.path());
        EXPECT_EQ(followLogDir(v, c.shown, c.typed.path()), c.changed);
        EXPECT_EQ(std::tie(v.rules, v.rulesAtOpen, v.rulesVersion), std::tie(c.rules, c.rules, c.version));
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
    // the help goes where nothing has been made yet: every missing level is created
    const platform::ResultOf<std::string> page = writeHelp(dir.file("cache/tarnwick"));
    ASSERT_TRUE(page) << page.error();
    EXPECT_EQ(*page, dir.file("cache/tarnwick/help.html"));
    const std::string html = platform::readFile(*page).value_or("");
    const std::string check =
        "/usr/bin/python3 " + std::string(TARNWICK_SOURCE_DIR) + "/tests/notify/html5check.py '" + *page + "'";
    EXPECT_EQ(std::system(check.c_str()), 0);
    // every figure the page shows is written beside it
    int figures = 0;
    for (size_t at = html.find("<img src=\""); at != std::string::npos; at = html.find("<img src=\"", at + 1)) {
        const size_t from = at + 10;
        const std::string name = html.substr(from, html.find('"', from) - from);
        SCOPED_TRACE(name);
        EXPECT_EQ(platform::readFile(dir.file("cache/tarnwick/" + name)).value_or("").substr(0, 4), "\x89PNG");
        ++figures;
    }
    EXPECT_EQ(figures, 8);
    // a file where the folder should be gives the reason
    ASSERT_TRUE(platform::writeFileAtomic(dir.file("file"), "x"));
    const platform::ResultOf<std::string> refused = writeHelp(dir.file("file/tarnwick"));
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error(), "Not a directory");
}

} // namespace

TEST(ConfigurationDialog, EachMnemonicOpensOneControl)
{
    // the two dialogs each have their own mnemonics
    for (const bool advanced : {false, true}) {
        std::vector<std::string_view> texts = {k_helpButton};
        if (!advanced)
            texts.insert(texts.end(), {k_addAddressButton, k_deleteAddressButton, officelabels::Browse});
        for (const ConfigFieldInfo& f : configFields()) {
            if (isAdvanced(f.section) == advanced)
                texts.push_back(f.label);
        }
        std::map<char, std::string_view> owner;
        for (std::string_view text : texts) {
            const size_t amp = text.find('&');
            if (amp == std::string_view::npos || amp + 1 == text.size())
                continue;
            const char key = static_cast<char>(std::tolower(static_cast<unsigned char>(text[amp + 1])));
            const auto [at, fresh] = owner.emplace(key, text);
            EXPECT_TRUE(fresh) << "Alt+" << key << ": " << at->second << " and " << text;
        }
    }
}

// Each field sits at its own place in the table, and what it stores reads back as it was typed.
TEST(ConfigurationFields, EveryFieldAtItsPlaceAndItsTextRoundTrips)
{
    for (size_t i = 0; i < configFields().size(); ++i)
        EXPECT_EQ(static_cast<size_t>(configFields()[i].field), i);
    EXPECT_EQ(configFields().size(), static_cast<size_t>(k_configFieldCount));

    test::TempDir dir;
    struct Case {
        ConfigField field;
        std::string typed;
        std::string stored; // in the settings
        std::string readBack;
    };
    const Case cases[] = {
        {ConfigField::OrgName, "R&D <Labs>", "R&D <Labs>", "R&D <Labs>"},
        {ConfigField::RequestInterval, "0", "", "0"},
        {ConfigField::RequestInterval, "250", "250", "250"},
        {ConfigField::SendAfterUpdate, "0", "0", "0"},
        {ConfigField::SendUsageReports, "1", "1", "1"},
        {ConfigField::NotifyMode, "digest", "digest", "digest"},
        {ConfigField::SmtpSecurity, "tls", "tls", "tls"},
        {ConfigField::Password, "pw:1", std::string(), "pw:1"}, // stored scrambled
        {ConfigField::ApiKey, "", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        base::AppSettings settings(dir.file("settings.ini"));
        const ConfigFieldInfo& f = fieldInfo(c.field);
        storeField(f, c.typed, settings);
        if (!c.stored.empty() || c.typed.empty())
            EXPECT_EQ(settings.value(*f.key), c.stored);
        else
            EXPECT_NE(settings.value(*f.key), c.typed);
        EXPECT_EQ(readField(f, settings), c.readBack);
    }
    // a choice stored by hand that is none of the choices reads as the first
    base::AppSettings settings(dir.file("other.ini"));
    settings.setValue(base::setting::SmtpSecurity, "SSL");
    EXPECT_EQ(readField(fieldInfo(ConfigField::SmtpSecurity), settings), "starttls");
    settings.setValue(base::setting::NotifyMode, "DIGEST");
    EXPECT_EQ(readField(fieldInfo(ConfigField::NotifyMode), settings), "digest");
}
