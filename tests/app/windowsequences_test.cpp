#include "app/application.h"
#include "app/commandline.h"
#include "app/mainstate.h"
#include "app/mainwindowlogic.h"
#include "app/servicecommands.h"
#include "app/startup.h"
#include "net/flowlog.h"
#include "platform/files.h"
#include "support/mainstatefixture.h"
#include "support/scriptedfrontend.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>

using namespace tarnwick;
using namespace tarnwick::app;

namespace {

// A window that records what the sequences ask of it.
struct RecordingHost final : WindowHost {
    void postCommand(Command id) override { posted.push_back(id); }
    void destroyWindow() override { destroyed = true; }
    void setTitle(const std::string& t) override { title = t; }
    void configurationDialog() override
    {
        ++dialogs;
        if (onDialog)
            onDialog();
    }
    void installationCheck(bool reinstall) override { checks.push_back(reinstall); }

    std::vector<Command> posted;
    bool destroyed = false;
    std::string title;
    int dialogs = 0;
    std::function<void()> onDialog;
    std::vector<bool> checks;
};

class WindowSequences : public test::MainStateFixture<> {
protected:
    WindowSequences() { (void)platform::writeFileAtomic(m_dir.file("settings.ini"), ""); }
    AppContext& context(const Values& values) { return open(values); }
    // the window of this build, whose built-in rules name no newer program
    MainWindowLogic logic(bool autoMode)
    {
        StartupState startup;
        startup.version = programVersion();
        return MainWindowLogic(*m_state, m_host, startup, autoMode);
    }

    RecordingHost m_host;
};

} // namespace

TEST_F(WindowSequences, StartupSettingsAndLeftOverUpgradeFile)
{
    AppContext& app = context({{base::setting::LogDir, m_dir.path()},
                               {base::setting::CountExec, "41"},
                               {base::setting::SortBy, "statusdate"},
                               {base::setting::SortReversed, "2"}});
    // the downloaded program, under its name and under those of earlier versions
    const char* const leftovers[] = {"tarnwick_temp", "Tarnwick_temp.exe", "Tarnwick_temp"};
    for (const char* name : leftovers)
        (void)platform::writeFileAtomic(m_dir.file(name), "x");
    StartupPlaces places{"/opt/tw/tarnwick", "/home/u/.local/share/applications", "/home/u/.local/share", "2.1.07"};
    const StartupState s = startApplication(app, places);
    EXPECT_EQ(s.sortColumn, 8);
    EXPECT_TRUE(s.sortReversed);
    EXPECT_EQ(app.settings.value(base::setting::CountExec), "42");
    // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}, upper-case hexadecimal
    std::string shape = app.settings.value(base::setting::GUID);
    for (char& c : shape)
        c = std::isdigit(static_cast<unsigned char>(c)) || (c >= 'A' && c <= 'F') ? 'X' : c;
    EXPECT_EQ(shape, "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}");
    for (const char* name : leftovers)
        EXPECT_FALSE(platform::fileExists(m_dir.file(name))) << name;
    EXPECT_EQ(app.settings.value(base::setting::ShortcutFolder), "/home/u/.local/share/applications/Tarnwick");
    EXPECT_EQ(app.settings.value(base::setting::Install), "/opt/tw");
    const std::string log = platform::readFile(m_dir.file("Tarnwick.log")).value_or("");
    EXPECT_NE(log.find("**Tarnwick start, local date-time "), std::string::npos);
    EXPECT_NE(log.find("**version 2.1.07**"), std::string::npos);

    // a second start keeps the GUID; an unknown sort key is column 0; the upgrade copy keeps its file
    const std::string guid = app.settings.value(base::setting::GUID);
    app.settings.setValue(base::setting::SortBy, "Nonsense");
    (void)platform::writeFileAtomic(m_dir.file("tarnwick_temp"), "x");
    places.programPath = m_dir.file("tarnwick_temp");
    EXPECT_EQ(startApplication(app, places).sortColumn, 0);
    EXPECT_EQ(app.settings.value(base::setting::GUID), guid);
    EXPECT_TRUE(platform::fileExists(m_dir.file("tarnwick_temp")));
}

TEST_F(WindowSequences, FirstRunWritesNoLogAndInstallsUnderProgramsFolder)
{
    AppContext& app = context({});
    startApplication(app, {"/tmp/x/tarnwick", "/apps", "/data", "?.?.??"});
    EXPECT_EQ(app.settings.value(base::setting::Install), "/data/Tarnwick");
    EXPECT_FALSE(platform::fileExists(m_dir.file("Tarnwick.log")));
}

TEST_F(WindowSequences, FirstShowing)
{
    struct Case {
        const char* org;
        bool autoMode;
        bool badDataFile;
        std::vector<Command> posted;
        size_t checks;
    };
    const Case cases[] = {
        {"", true, false, {Command::Configure}, 0},
        {"Acme", false, false, {}, 1},
        {"Acme", true, false, {Command::UpdateAll}, 1},
        {"Acme", true, true, {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.org << c.autoMode << c.badDataFile);
        (void)platform::writeFileAtomic(m_dir.file("tradmark.dat"), c.badDataFile ? "99\r\n" : "8\r\n");
        m_host = {};
        context({{base::setting::OrgName, c.org}, {base::setting::LogDir, m_dir.path()}});
        MainWindowLogic w = logic(c.autoMode);
        w.open();
        w.firstShowing();
        EXPECT_EQ(m_host.destroyed, c.badDataFile);
        EXPECT_EQ(m_host.posted, c.posted);
        EXPECT_EQ(m_host.checks.size(), c.checks);
        if (!c.badDataFile) {
            EXPECT_EQ(m_host.title, std::string("Tarnwick\xAE") + (*c.org ? std::string(" - ") + c.org : ""));
        }
    }
}

TEST_F(WindowSequences, ConfigureOnFirstRun)
{
    struct Case {
        std::vector<base::Answer> answers;
        bool fillIn;
        std::vector<Command> posted;
        int dialogs;
    };
    using A = base::Answer;
    const Case cases[] = {
        {{A::No}, true, {Command::Close}, 0},              // the disclaimer refused
        {{A::Yes, A::Yes}, false, {Command::Close}, 1},    // left empty, quit
        {{A::Yes, A::No}, false, {Command::Configure}, 1}, // left empty, configure again
        {{A::Yes, A::No}, true, {}, 1},                    // filled in; no test e-mail
    };
    for (const Case& c : cases) {
        m_host = {};
        AppContext& app = context({{base::setting::LogDir, m_dir.path()}});
        m_host.onDialog = [&] {
            if (c.fillIn)
                app.settings.setValue(base::setting::OrgName, "Acme");
        };
        for (A a : c.answers)
            m_view.nextAnswer(a);
        MainWindowLogic w = logic(false);
        w.configure();
        EXPECT_EQ(m_host.posted, c.posted);
        EXPECT_EQ(m_host.dialogs, c.dialogs);
        if (c.fillIn && c.dialogs) {
            EXPECT_TRUE(w.reinstall());
            ASSERT_EQ(m_host.checks, std::vector<bool>{true});
            EXPECT_EQ(m_view.boxes.back().text, k_shortcutAddedText);
            EXPECT_EQ(m_host.title, "Tarnwick\xAE - Acme");
        }
    }
}

TEST_F(WindowSequences, DestroyStoresLayoutAndOrder)
{
    AppContext& app = context({{base::setting::LogDir, m_dir.path()}, {base::setting::OrgName, "Acme"}});
    MainWindowLogic w = logic(false);
    w.open();
    EXPECT_TRUE(w.sort(3, SortKind::HeaderClick));
    EXPECT_TRUE(w.sort(3, SortKind::HeaderClick));
    WindowLayout layout{10, 20, 810, 620, 7, {}};
    layout.columnWidths[3] = 99;
    w.destroy(layout);
    EXPECT_EQ(app.settings.value(base::setting::SortBy), "Reference");
    EXPECT_EQ(app.settings.value(base::setting::SortReversed), "1");
    EXPECT_EQ(app.settings.value(base::setting::Right), "810");
    EXPECT_EQ(app.settings.value(base::setting::TopIndex), "7");
    EXPECT_EQ(app.settings.value(base::columnWidthSetting(core::fieldInfo(core::FieldId::Reference))), "99");
    EXPECT_TRUE(platform::fileExists(m_dir.file("tradmark.dat")));
}

// The Help button of the first configuration: the logging directory is not made yet, the help goes into the
// user's cache directory; a cache directory that cannot be written is named with the reason.
TEST_F(WindowSequences, HelpIsWrittenIntoTheCacheBeforeTheLoggingDirectoryExists)
{
    ASSERT_TRUE(platform::writeFileAtomic(m_dir.file("file"), "x"));
    const struct {
        const char* cacheHome;
        const char* page; // none: the box
        const char* box;
    } cases[] = {
        {"new/cache", "new/cache/tarnwick/help.html", nullptr},
        {"file", nullptr, "Can't write the help files into {}/file/tarnwick: Not a directory."},
    };
    const char* old = std::getenv("XDG_CACHE_HOME");
    const std::string saved = old ? old : "";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cacheHome);
        ::setenv("XDG_CACHE_HOME", m_dir.file(c.cacheHome).c_str(), 1);
        open({{base::setting::LogDir, m_dir.file("Log")}});
        const std::optional<std::string> page = helpPage(*m_state);
        EXPECT_EQ(page.value_or(""), c.page ? m_dir.file(c.page) : "");
        EXPECT_FALSE(platform::fileExists(m_dir.file("Log")));
        if (c.box) {
            std::string box = c.box;
            box.replace(box.find("{}"), 2, m_dir.path());
            ASSERT_FALSE(m_view.boxes.empty());
            EXPECT_EQ(m_view.boxes.back().text, box);
        }
    }
    old ? ::setenv("XDG_CACHE_HOME", saved.c_str(), 1) : ::unsetenv("XDG_CACHE_HOME");
}
