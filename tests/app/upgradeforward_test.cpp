#include "app/upgrade.h"

#include "base/settings.h"
#include "platform/files.h"
#include "platform/install.h"
#include "platform/signature.h"
#include "rules/rulesfile.h"
#include "support/peers.h"
#include "support/runcli.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

using namespace tarnwick;
using namespace tarnwick::app;

namespace {

TEST(HighestInstalledVersion, OnlyEverRisesAndHoldsOnlyAVersion)
{
    struct Case {
        const char* kept;
        const char* installed;
        const char* after;
    };
    const Case cases[] = {
        {"", "4.2.06", "4.2.06"},
        {"4.2.09", "4.2.06", "4.2.09"},
        {"4.9.9", "4.10.0", "4.10.0"},
        {"4.2.09", "?.?.??", "4.2.09"}, // a build without a version records nothing
    };
    test::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.kept) + " then " + c.installed);
        base::AppSettings s(dir.file("settings.ini"));
        s.setValue(base::setting::HighestInstalledVersion, c.kept);
        recordInstalledVersion(s, c.installed);
        EXPECT_EQ(s.value(base::setting::HighestInstalledVersion), c.after);
    }
    for (const auto& [value, settable] : {std::pair{"", true}, {"4.2.09", true}, {"4.2.09-beta", false}})
        EXPECT_EQ(static_cast<bool>(base::AppSettings::checkValue("HighestInstalledVersion", value)), settable);
}

// tarnwick-cli upgrade against nginx, which serves the rules, the program and its signed manifest from a
// folder the test fills; the application directory holds a program that names its version in its record.
class UpgradeGoesForward : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (platform::distributorKey().empty())
            GTEST_SKIP() << "built without a distributor key";
        if (!std::filesystem::exists("/usr/sbin/nginx"))
            GTEST_SKIP() << "nginx is not installed (scripts/setup installs it)";
        std::filesystem::create_directories(m_dir.file("serve/support"));
        std::filesystem::create_directories(m_dir.file("log/Tarnwick"));
        m_nginx.start(m_dir.file("serve"));
        // the rules in use name a far newer program, so only the manifest decides; the download of newer rules
        // finds the same text
        std::string rules(rules::RulesFile::defaultText());
        rules = "version: 99.0.00.000" + rules.substr(rules.find("\r\n"));
        const std::string from = "http://www.tarnwick.example";
        for (size_t at = rules.find(from); at != std::string::npos; at = rules.find(from, at))
            rules.replace(at, from.size(), m_nginx.url(""));
        ASSERT_TRUE(platform::writeFileAtomic(m_dir.file("log/Tarnwick/rules.txt"), rules));
        ASSERT_TRUE(platform::writeFileAtomic(m_dir.file("serve/support/tarnwick.txt"), rules));
    }

    std::string installed() const { return m_dir.file("app/tarnwick"); }
    std::string settings() const { return m_dir.file("settings.ini"); }
    static std::string programOf(const std::string& version)
    {
        return "#!/bin/sh\n# " + std::string(platform::k_versionRecordMark) + version + "\necho " + version + "\n";
    }
    // An installation whose program is `installedVersion` and that once installed `highest` (empty: none).
    void install(const std::string& installedVersion, const std::string& highest)
    {
        std::filesystem::remove_all(m_dir.file("app"));
        std::filesystem::create_directories(m_dir.file("app"));
        ASSERT_TRUE(platform::writeFileAtomic(installed(), programOf(installedVersion)));
        std::filesystem::remove(settings());
        base::AppSettings s(settings());
        s.setValue(base::setting::LogDir, m_dir.file("log"));
        s.setValue(base::setting::Install, m_dir.file("app"));
        s.setValue(base::setting::HighestInstalledVersion, highest);
        ASSERT_TRUE(s.writeAll());
    }
    // The distributor's release: `served` as the compressed address's file (none when empty) and a manifest
    // for `version`, `size` and the digest of `expanded`, signed with the test key.
    void publish(const std::string& served, const std::string& version, std::uint64_t size, const std::string& expanded)
    {
        const std::string program = m_dir.file("serve/support/tarnwick.ex_");
        std::filesystem::remove(program);
        if (!served.empty()) {
            ASSERT_TRUE(platform::writeFileAtomic(program, served));
        }
        const std::string manifest = program + ".manifest";
        ASSERT_TRUE(platform::writeFileAtomic(manifest, "Tarnwick program manifest\nversion: " + version +
                                                            "\nsize: " + std::to_string(size) +
                                                            "\nsha256: " + platform::sha256Hex(expanded) + "\n"));
        const std::string key = std::string(TARNWICK_TEST_DATA) + "/distributor-test-key.pem";
        const std::string sign = "openssl pkeyutl -sign -rawin -inkey " + test::shellQuoted(key) + " -in " +
                                 test::shellQuoted(manifest) + " -out " + test::shellQuoted(manifest + ".sig");
        ASSERT_EQ(std::system(sign.c_str()), 0);
    }
    std::string highest() const { return base::AppSettings(settings()).value(base::setting::HighestInstalledVersion); }
    void expectNoDownloadLeft()
    {
        EXPECT_FALSE(std::filesystem::exists(m_dir.file("log/tarnwick_temp.tmp")));
        EXPECT_FALSE(std::filesystem::exists(m_dir.file("log/tarnwick_temp")));
    }

    test::TempDir m_dir;
    test::NginxPeer m_nginx;
};

TEST_F(UpgradeGoesForward, OnlyAVersionPastTheInstalledAndEveryEarlierOneIsInstalled)
{
    using Source = UpgradeBaseline::Source;
    struct Case {
        const char* name;
        const char* installedVersion;
        const char* highest;
        const char* offered;
        const char* refusedFor; // the baseline's version; empty: installed
        Source source;
    };
    const Case cases[] = {
        {"a downgrade of the installed program", "4.2.09", "", "4.2.07", "4.2.09", Source::Installed},
        {"the installed version again", "4.2.09", "4.2.09", "4.2.09", "4.2.09", Source::Installed},
        {"below a version installed before", "4.2.05", "4.2.09", "4.2.07", "4.2.09", Source::InstalledBefore},
        {"past both, number by number", "4.9.09", "4.9.10", "4.10.00", "", Source::Installed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        install(c.installedVersion, c.highest);
        const std::string program = programOf(c.offered);
        const bool refused = *c.refusedFor != '\0';
        // a refused version's program is not even served: the manifest alone decides
        publish(refused ? "" : program, c.offered, program.size(), program);

        const test::CliRun run = test::runCliInProcess({"upgrade", "--yes"}, settings());
        if (refused) {
            EXPECT_EQ(run.exit, 1);
            EXPECT_NE(run.err.find(notNewerText(c.offered, {c.refusedFor, c.source})), std::string::npos) << run.err;
            EXPECT_EQ(platform::readFile(installed()).value_or(""), programOf(c.installedVersion));
            EXPECT_EQ(highest(), c.highest);
        } else {
            EXPECT_EQ(run.exit, 0) << run.err;
            EXPECT_EQ(run.out, "Installed " + installed() + " v" + c.offered + "\n");
            EXPECT_EQ(platform::readFile(installed()).value_or(""), program);
            EXPECT_EQ(highest(), c.offered);
        }
        expectNoDownloadLeft();
    }
    // the wording of the three baselines
    EXPECT_EQ(notNewerText("4.2.07", {"4.2.09", Source::Installed}),
              "The program on offer (version 4.2.07) is not newer than the installed one (4.2.09); nothing was "
              "installed.");
    EXPECT_EQ(notNewerText("4.2.07", {"4.2.09", Source::InstalledBefore}),
              "The program on offer (version 4.2.07) is not newer than version 4.2.09, which was installed here "
              "before; nothing was installed.");
}

TEST_F(UpgradeGoesForward, AnExpansionPastTheManifestsSizeStopsThereAndInstallsNothing)
{
    install("4.2.06", "");
    // 4 MB of codes that expand to 32 MiB, for a manifest that states 1 MiB
    constexpr std::uint32_t k_expands = 32u << 20;
    std::string served("SZDD\x88\xF0\x27\x33"
                       "A_",
                       10);
    for (int i = 0; i < 4; ++i)
        served += static_cast<char>((k_expands >> (8 * i)) & 0xFF);
    served += "\001a";
    for (std::uint64_t out = 1, inGroup = 1; out < k_expands; out += 18, ++inGroup) {
        if (inGroup % 8 == 0)
            served += '\0';
        served += "\xF0\xFF";
    }
    publish(served, "4.2.07", 1 << 20, std::string(1 << 20, 'a'));

    const test::CliRun run = test::runCliInProcess({"upgrade", "--yes"}, settings());
    EXPECT_EQ(run.exit, 1);
    EXPECT_NE(run.err.find(expandsPastText(1 << 20)), std::string::npos) << run.err;
    EXPECT_EQ(expandsPastText(1 << 20),
              "The downloaded program expands past the 1048576 bytes its manifest states; nothing was installed.");
    EXPECT_EQ(platform::readFile(installed()).value_or(""), programOf("4.2.06"));
    EXPECT_EQ(highest(), "");
    expectNoDownloadLeft();
}

} // namespace
