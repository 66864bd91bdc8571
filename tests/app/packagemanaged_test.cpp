#include "app/application.h"
#include "app/startup.h"
#include "app/upgrade.h"
#include "base/settings.h"
#include "platform/files.h"
#include "platform/packagemanager.h"
#include "rules/rulesfile.h"
#include "support/runcli.h"
#include "support/scriptedfrontend.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace tarnwick;
using namespace tarnwick::app;

TEST(PackageManaged, TheProgramLeavesItsUpdatesToThePackageManager)
{
    const std::string text =
        "Tarnwick was installed by the package manager (apt); updates come from the package manager.";
    test::TempDir dir;
    const std::string bin = dir.file("usr/bin");
    const std::filesystem::path marker =
        (std::filesystem::path(bin) / platform::packageMarkerPath()).lexically_normal();
    std::filesystem::create_directories(bin);
    std::filesystem::create_directories(marker.parent_path());
    std::filesystem::create_directories(dir.file("log/Tarnwick"));
    (void)platform::writeFileAtomic(marker.string(), "apt\n");
    (void)platform::writeFileAtomic(bin + "/tarnwick", "the packaged program");
    // every address the rules name is a closed port on this machine
    std::string rules(rules::RulesFile::defaultText());
    rules = "version: 9.9.99.999" + rules.substr(rules.find("\r\n"));
    for (const std::string from : {"http://tarr.uspto.gov", "http://www.tarnwick.example"}) {
        for (size_t at = rules.find(from); at != std::string::npos; at = rules.find(from, at))
            rules.replace(at, from.size(), "http://127.0.0.1:1");
    }
    (void)platform::writeFileAtomic(dir.file("log/Tarnwick/rules.txt"), rules);

    {
        // a first start leaves the program where the package put it
        AppContext app(dir.file("first.ini"));
        startApplication(app, {bin + "/tarnwick", dir.file("apps"), dir.file("data"), "?.?.??"});
        EXPECT_EQ(app.settings.value(base::setting::Install), bin);
    }
    {
        // the installation check asks nothing, copies nothing, writes no shortcut and logs why
        AppContext app(dir.file("settings.ini"));
        app.settings.setValue(base::setting::LogDir, dir.file("log"));
        app.settings.setValue(base::setting::Install, dir.file("own"));
        app.settings.setValue(base::setting::ShortcutFolder, dir.file("menu"));
        test::ScriptedFrontEnd fe;
        const InstallationOutcome out = installationCheck(app, fe, bin + "/tarnwick", false);
        EXPECT_TRUE(fe.boxes.empty());
        EXPECT_FALSE(out.restart || out.closeWindow || out.postConfigure);
        EXPECT_FALSE(std::filesystem::exists(dir.file("own")));
        EXPECT_FALSE(std::filesystem::exists(dir.file("menu")));
        EXPECT_NE(platform::readFile(dir.file("log/Tarnwick.log")).value_or("").find(text), std::string::npos);
        // the Upgrade command says so before it fetches anything
        app.settings.setValue(base::setting::Install, bin);
    }
    const test::CliRun run = test::runCli({"upgrade", "--yes"}, dir.file("settings.ini"));
    EXPECT_EQ(run.exit, 1);
    EXPECT_NE(run.err.find(text), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("HttpGet"), std::string::npos) << run.err;
    EXPECT_EQ(platform::readFile(bin + "/tarnwick"), "the packaged program");
}
