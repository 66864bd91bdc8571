#include "base/settings.h"

#include "core/fieldtable.h"

#include "platform/files.h"
#include "platform/settingsfile.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <tuple>
#include <unistd.h>

using namespace tarnwick;
using base::AppSettings;

namespace {

class SettingsTest : public ::testing::Test {
protected:
    std::string path() const { return m_dir.file("config/tarnwick/settings.ini"); }
    platform::SettingsFile::Sections onDisk() const { return platform::SettingsFile(path()).read(); }
    platform::SettingsFile::Values settingsKey() const { return onDisk()[std::string(AppSettings::k_settingsKey)]; }

    test::TempDir m_dir;
};

// The width setting of the Frequency column, which the field table spells "ColWidthFrequency".
base::NumberSetting frequencyWidth()
{
    return base::columnWidthSetting(core::fieldInfo(core::FieldId::Frequency));
}

} // namespace

TEST_F(SettingsTest, FreshProfileIsEmptyAndWritesNothingUntold)
{
    {
        AppSettings s(path());
        for (const base::SettingKey& key : AppSettings::keys())
            EXPECT_EQ(s.value(key), "") << key.name;
        EXPECT_EQ(s.number(base::setting::CountExec), 0);
        EXPECT_EQ(s.number(base::setting::SendAfterUpdate), 1); // an empty value reads as the key's own
        EXPECT_TRUE(s.notifyAddresses().empty());
        EXPECT_FALSE(AppSettings::named("NoSuchSetting"));
    }
    EXPECT_FALSE(platform::fileExists(path()));
}

TEST_F(SettingsTest, ValuesLiveInTheirKeys)
{
    {
        AppSettings s(path());
        s.setValue(base::setting::Install, "/opt/Tarnwick");
        s.setValue(base::setting::ShortcutFolder, "/home/u/.local/share/applications/Tarnwick");
        s.setValue(base::setting::LogDir, "/var/tarnwick/Log");
        s.setValue(frequencyWidth(), "80");
    }
    auto disk = onDisk();
    EXPECT_EQ(disk[std::string(AppSettings::k_key)],
              (platform::SettingsFile::Values{{"Install", "/opt/Tarnwick"},
                                              {"ShortcutFolder", "/home/u/.local/share/applications/Tarnwick"}}));
    EXPECT_EQ(settingsKey(),
              (platform::SettingsFile::Values{{"ColWidthFrequency", "80"}, {"LogDir", "/var/tarnwick/Log"}}));
    AppSettings again(path());
    EXPECT_EQ(again.value(base::setting::ShortcutFolder), "/home/u/.local/share/applications/Tarnwick");
    EXPECT_EQ(again.number(frequencyWidth()), 80);
}

TEST_F(SettingsTest, CounterIncrementsAcrossAStartAndStop)
{
    ASSERT_TRUE(platform::SettingsFile(path()).setValue(AppSettings::k_settingsKey, "CountExec", "41"));
    {
        AppSettings s(path());
        s.increment(base::setting::CountExec);
        s.increment(base::setting::CountEmailPost);
    }
    EXPECT_EQ(AppSettings(path()).value(base::setting::CountExec), "42");
    EXPECT_EQ(AppSettings(path()).value(base::setting::CountEmailPost), "1");
}

TEST_F(SettingsTest, LongValuesAreReadWhole)
{
    for (size_t length : {size_t{259}, size_t{260}, size_t{300}, size_t{100000}}) {
        SCOPED_TRACE(length);
        const std::string value(length, 'v');
        {
            AppSettings s(path());
            s.setValue(base::setting::OrgName, value);
        }
        AppSettings back(path());
        EXPECT_EQ(back.value(base::setting::OrgName), value);
    }
    EXPECT_EQ(AppSettings(path()).value(base::setting::OrgName), std::string(100000, 'v'));
}

TEST_F(SettingsTest, ValueEndsAtItsFirstNul)
{
    ASSERT_TRUE(platform::SettingsFile(path()).setValue(AppSettings::k_settingsKey, "OrgName", "x"));
    ASSERT_TRUE(platform::writeFileAtomic(path(), "[" + std::string(AppSettings::k_settingsKey) +
                                                      "]\nOrgName=Bren%00low\nNotifyAddress1=a@b%00c\n"));
    AppSettings s(path());
    EXPECT_EQ(s.value(base::setting::OrgName), "Bren");
    EXPECT_EQ(s.notifyAddresses(), std::vector<std::string>{"a@b"});
}

TEST_F(SettingsTest, ShorterNotifyListLeavesNoStaleNumbers)
{
    {
        AppSettings s(path());
        s.setNotifyAddresses({"a@x", "b@x", "c@x", "d@x", "e@x"});
    }
    EXPECT_EQ(AppSettings(path()).notifyAddresses().size(), 5u);
    {
        AppSettings s(path());
        s.setNotifyAddresses({"1@x", "2@x", "3@x"});
        ASSERT_TRUE(s.writeNotifyAddresses());
    }
    EXPECT_EQ(settingsKey(), (platform::SettingsFile::Values{
                                 {"NotifyAddress1", "1@x"}, {"NotifyAddress2", "2@x"}, {"NotifyAddress3", "3@x"}}));
    // the list ends at the first missing number, and an empty element is still an element
    ASSERT_TRUE(platform::SettingsFile(path()).update([](platform::SettingsFile::Sections& s) {
        auto& v = s[std::string(AppSettings::k_settingsKey)];
        v["NotifyAddress2"] = "";
        v["NotifyAddress5"] = "beyond a gap";
    }));
    EXPECT_EQ(AppSettings(path()).notifyAddresses(), (std::vector<std::string>{"1@x", "", "3@x"}));
}

TEST_F(SettingsTest, TwoStoresOnOneFileKeepEachOthersValues)
{
    {
        AppSettings first(path());
        AppSettings second(path());
        first.setValue(base::setting::SmtpServer, "smtp.example.com");
        second.setValue(base::setting::ProxyServer, "proxy:8080");
        ASSERT_TRUE(first.write(base::setting::SmtpServer));
        second.increment(base::setting::CountExec);
        // both destroyed here: each writes what it changed
    }
    AppSettings back(path());
    EXPECT_EQ(back.value(base::setting::SmtpServer), "smtp.example.com");
    EXPECT_EQ(back.value(base::setting::ProxyServer), "proxy:8080");
    EXPECT_EQ(back.value(base::setting::CountExec), "1");
    {
        // the last writer of one value wins
        AppSettings first(path());
        AppSettings second(path());
        first.setValue(base::setting::OrgName, "First");
        second.setValue(base::setting::OrgName, "Second");
        ASSERT_TRUE(first.writeAll());
        ASSERT_TRUE(second.writeAll());
    }
    EXPECT_EQ(AppSettings(path()).value(base::setting::OrgName), "Second");
}

TEST_F(SettingsTest, PasswordStoredForm)
{
    EXPECT_EQ(base::passwordStoredForm(""), "");
    EXPECT_EQ(base::passwordPlain(""), "");
    EXPECT_EQ(base::passwordStoredForm("secret"), "MFZtY2pWMmM");
    std::string high;
    for (int b = 0x80; b < 0x100; ++b)
        high += static_cast<char>(b);
    for (const std::string& plain : {std::string("secret"), std::string("a"), std::string("ab"),
                                     std::string("p\xE4ss\xFF"), high, std::string(1000, 'z')}) {
        SCOPED_TRACE(plain.size());
        const std::string stored = base::passwordStoredForm(plain);
        EXPECT_EQ(stored.find('='), std::string::npos);
        EXPECT_EQ(base::passwordPlain(stored), plain);
    }
    {
        AppSettings s(path());
        s.setPlainPassword("p\xE4ss");
        EXPECT_EQ(s.value(base::setting::Password), base::passwordStoredForm("p\xE4ss"));
    }
    EXPECT_EQ(AppSettings(path()).plainPassword(), "p\xE4ss");
}

TEST_F(SettingsTest, TodaysOfficeSettings)
{
    {
        AppSettings s(path());
        s.setPlainApiKey("secret");
    }
    EXPECT_EQ(settingsKey()["ApiKey"], "MFZtY2pWMmM"); // the password's stored form of "secret"
    EXPECT_EQ(AppSettings(path()).plainApiKey(), "secret");

    struct Case {
        std::string security;
        net::MailSecurity mail;
        bool settable; // what an editor of the settings takes
        std::string interval;
        int intervalMs;
    };
    const Case cases[] = {
        {"", net::MailSecurity::StartTlsWhenOffered, true, "", 0},
        {"starttls", net::MailSecurity::StartTlsWhenOffered, true, "1100", 1100},
        {"TLS", net::MailSecurity::Implicit, true, "-5", 0},
        {"none", net::MailSecurity::None, true, "999999", 120000},
        // a value put in the file by hand is read as the strictest default
        {"ssl", net::MailSecurity::StartTlsWhenOffered, false, "250ms", 250},
    };
    AppSettings s(path());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.security + " " + c.interval);
        s.setValue(base::setting::SmtpSecurity, c.security);
        s.setValue(base::setting::RequestInterval, c.interval);
        EXPECT_EQ(s.smtpSecurity(), c.mail);
        EXPECT_EQ(bool(AppSettings::checkValue("SmtpSecurity", c.security)), c.settable);
        EXPECT_EQ(s.requestIntervalMs(), c.intervalMs);
    }
    for (const auto& [consent, allowed] : {std::pair{"", false}, {"0", false}, {"1", true}, {"yes", false}}) {
        s.setValue(base::setting::SendUsageReports, consent);
        EXPECT_EQ(s.usageReportsAllowed(), allowed) << consent;
    }
    for (const auto& [mode, digest, settable] :
         {std::tuple{"", false, true}, {"each", false, true}, {"Digest", true, true}, {"weekly", false, false}}) {
        s.setValue(base::setting::NotifyMode, mode);
        EXPECT_EQ(s.digestNotices(), digest) << mode;
        EXPECT_EQ(static_cast<bool>(AppSettings::checkValue("NotifyMode", mode)), settable) << mode;
    }
    for (const auto& [send, on, settable] :
         {std::tuple{"", true, true}, {"1", true, true}, {"0", false, true}, {"no", false, false}}) {
        s.setValue(base::setting::SendAfterUpdate, send);
        EXPECT_EQ(s.sendAfterUpdate(), on) << send;
        EXPECT_EQ(static_cast<bool>(AppSettings::checkValue("SendAfterUpdate", send)), settable) << send;
    }
}

// A writer that holds the lock for good fails the write after a while, with a message, instead of hanging.
TEST_F(SettingsTest, AHeldLockFailsTheWriteAfterAWhile)
{
    platform::SettingsFile::setLockWait(std::chrono::milliseconds(100));
    AppSettings s(path());
    s.setValue(base::setting::OrgName, "first");
    ASSERT_TRUE(s.write(base::setting::OrgName));
    const int held = ::open((path() + ".lock").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    s.setValue(base::setting::OrgName, "second");
    const platform::Result refused = s.write(base::setting::OrgName);
    EXPECT_FALSE(refused);
    EXPECT_NE(refused.error().find("another program has held its lock file"), std::string::npos) << refused.error();
    ::close(held);
    EXPECT_TRUE(s.write(base::setting::OrgName));
    EXPECT_EQ(settingsKey()["OrgName"], "second");
    platform::SettingsFile::setLockWait(std::chrono::seconds(10));
}

TEST_F(SettingsTest, PathChoice)
{
    struct Case {
        const char* option;
        const char* tarnwick;
        const char* xdg;
        const char* home;
        const char* expected;
    };
    const Case cases[] = {
        {"/opt/s.ini", "/t.ini", "/xdg", "/home/u", "/opt/s.ini"},
        {"", "/t.ini", "/xdg", "/home/u", "/t.ini"},
        {"", "", "/xdg", "/home/u", "/xdg/tarnwick/settings.ini"},
        {"", nullptr, nullptr, "/home/u", "/home/u/.config/tarnwick/settings.ini"},
    };
    auto put = [](const char* name, const char* value) {
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    };
    auto keep = [](const char* name) {
        const char* v = std::getenv(name);
        return v ? std::optional<std::string>(v) : std::nullopt;
    };
    const auto oldT = keep("TARNWICK_SETTINGS");
    const auto oldX = keep("XDG_CONFIG_HOME");
    const auto oldH = keep("HOME");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        put("TARNWICK_SETTINGS", c.tarnwick);
        put("XDG_CONFIG_HOME", c.xdg);
        put("HOME", c.home);
        EXPECT_EQ(base::settingsPath(c.option), c.expected);
    }
    put("TARNWICK_SETTINGS", oldT ? oldT->c_str() : nullptr);
    put("XDG_CONFIG_HOME", oldX ? oldX->c_str() : nullptr);
    put("HOME", oldH ? oldH->c_str() : nullptr);
}

TEST_F(SettingsTest, UnwritableLocationTouchesNothingAndSaysWhy)
{
    ASSERT_TRUE(platform::writeFileAtomic(m_dir.file("plain"), "x"));
    {
        AppSettings s(m_dir.file("plain/settings.ini"));
        s.setValue(base::setting::OrgName, "lost");
        EXPECT_EQ(s.write(base::setting::OrgName).error(),
                  "Can't write the settings file '" + m_dir.file("plain/settings.ini") + "': Not a directory");
        EXPECT_FALSE(s.writeNotifyAddresses());
        EXPECT_FALSE(s.writeAll());
    }
    EXPECT_EQ(platform::readFile(m_dir.file("plain")), "x");
}
