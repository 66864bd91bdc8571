#include "notify/appnames.h"

#include "base/log.h"
#include "base/settings.h"
#include "core/entrystore.h"
#include "net/flowlog.h"
#include "platform/sysinfo.h"
#include "rules/rulesfile.h"
#include "rules/templatevars.h"
#include "support/clockscope.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace tarnwick;

namespace {

class ApplicationNamesTest : public ::testing::Test {
protected:
    ApplicationNamesTest() : settings(dir.file("settings.ini")), names(settings) { vars.setAppNames(&names); }

    std::string value(std::string_view name) { return names.value(name).value_or("<none>"); }

    test::TempDir dir;
    base::AppSettings settings;
    notify::ApplicationNames names;
    rules::TemplateVars vars;
    // 2024-03-05 13:05:09 UTC, five hours west of Greenwich
    test::ClockScope clock{1709643909000LL, -5 * 3600};
};

TEST_F(ApplicationNamesTest, FixedAndSettingNames)
{
    settings.setValue(base::setting::OrgName, "Brenlow & Co");
    settings.setValue(base::setting::GUID, "{1234}");
    settings.setValue(base::setting::Timeout, "60");
    settings.setValue(base::setting::ProxyServer, "proxy:3128");
    settings.setValue(base::setting::SmtpServer, "127.0.0.1:2525");
    settings.setValue(base::setting::ReturnAddress, "me@example.test");
    settings.setValue(base::setting::Install, "/opt/tarnwick");
    settings.setValue(base::setting::LogDir, "/var/tarnwick");
    settings.setValue(base::setting::ReportDir, "/srv/www");
    settings.setValue(base::setting::CountExec, "12");
    settings.setValue(base::setting::CountEmailBatchSucceeded, "7");
    settings.setNotifyAddresses({"a@example.test", "b@example.test (Bee)"});

    const std::pair<const char*, const char*> table[] = {
        {"AppName", "Tarnwick"},
        {"appname", "Tarnwick"},
        {"DataKind", "Trademark"},
        {"DataSource", "TARR"},
        {"Version", TARNWICK_VERSION},
        {"Courtesy", "Sent by Tarnwick (http://www.tarnwick.example/) for Brenlow & Co."},
        {"CourtesyHtml", "<p><i>Sent by Tarnwick (<a href=\"http://www.tarnwick.example/\">"
                         "http://www.tarnwick.example/</a>) for Brenlow &amp; Co.</i></p>"},
        {"DistributorCourtesy", "Courtesy of Brenlow Patent Law Firm LLP, http://www.tarnwick.example/."},
        {"NowUTC", "2024-03-05 13:05:09"},
        {"NowLocal", "2024-03-05 08:05:09 AM"},
        {"OrgName", "Brenlow & Co"},
        {"GUID", "{1234}"},
        {"Timeout", "60"},
        {"ProxyServer", "proxy:3128"},
        {"SmtpServer", "127.0.0.1:2525"},
        {"ReturnAddress", "me@example.test"},
        {"AppDir", "/opt/tarnwick"},
        {"LogDir", "/var/tarnwick"},
        {"ReportDir", "/srv/www"},
        {"CountExec", "12"},
        {"countemailbatchsucceeded", "7"},
        {"CountUpdateFailed", ""},
        {"CountEntry", "0"},
        {"NotifyAddresses", "a@example.test, b@example.test (Bee)"},
        {"ActivityAddress", "Tarnwick Activity <activity@tarnwick.example>"},
        {"SupportAddress", "Tarnwick Support <support@tarnwick.example>"},
        {"ProblemDesc", ""},
        {"TCPIPFlow", ""},
        {"LastFetch", ""},
        {"LogFile", ""},
        {"Reference", "<none>"},
        {"NoSuchName", "<none>"},
    };
    for (const auto& [name, expected] : table) {
        SCOPED_TRACE(name);
        EXPECT_EQ(value(name), expected);
    }
    // through the lookup, an empty setting reads "-" and an unknown name keeps its brackets
    EXPECT_EQ(vars.lookup("CountUpdateFailed"), "-");
    EXPECT_EQ(vars.lookup("NoSuchName"), "[NoSuchName]");
}

// The user's own mail names the program, its address and the user's organisation, never a third party.
TEST(CourtesyLine, NamesTheProgramAndTheOrganisationOnly)
{
    struct Case {
        const char* org;
        const char* line;
        const char* html;
    };
    const Case cases[] = {
        {"", "Sent by Tarnwick (http://www.tarnwick.example/).",
         "<p><i>Sent by Tarnwick (<a href=\"http://www.tarnwick.example/\">http://www.tarnwick.example/</a>).</i></p>"},
        {"Demo <Trademark> Group", "Sent by Tarnwick (http://www.tarnwick.example/) for Demo <Trademark> Group.",
         "<p><i>Sent by Tarnwick (<a href=\"http://www.tarnwick.example/\">http://www.tarnwick.example/</a>) for "
         "Demo &lt;Trademark&gt; Group.</i></p>"},
        {"M\xFCller", "Sent by Tarnwick (http://www.tarnwick.example/) for M\xFCller.",
         "<p><i>Sent by Tarnwick (<a href=\"http://www.tarnwick.example/\">http://www.tarnwick.example/</a>) for "
         "M\xC3\xBCller.</i></p>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.org);
        EXPECT_EQ(notify::courtesyLine(c.org), c.line);
        EXPECT_EQ(notify::courtesyHtml(c.org), c.html);
    }
    EXPECT_EQ(std::string(notify::k_courtesy).find("Brenlow"), std::string::npos);
}

TEST_F(ApplicationNamesTest, ObservedSources)
{
    core::EntryStore store;
    store.appendEntry(core::Entry(45000));
    store.appendEntry(core::Entry(45000));
    names.setEntryStore(&store);
    EXPECT_EQ(value("CountEntry"), "2");

    net::FlowLog flow;
    flow.post(net::FlowLog::k_status, "line one\r\n");
    names.setFlowLog(&flow);
    EXPECT_EQ(value("TCPIPFlow"), "line one\r\n");

    names.setLastFetch({"http://127.0.0.1/a", "http://127.0.0.1/b"}, {"page A", ""});
    EXPECT_EQ(value("LastFetch"),
              "***LastFetch(1): http://127.0.0.1/a\r\npage A\r\n***LastFetch(2): http://127.0.0.1/b\r\n\r\n");

    names.setProblemDesc("It broke.");
    EXPECT_EQ(value("ProblemDesc"), "It broke.");

    // the log file is read whole, as raw bytes
    base::Log log(dir.path());
    std::ofstream(log.path(), std::ios::binary) << std::string("raw\0bytes\xFF\r\n", 13);
    names.setLog(&log);
    EXPECT_EQ(value("LogFile"), std::string("raw\0bytes\xFF\r\n", 13));

    rules::RulesFile rules(vars);
    rules.useText("version: 7.1\r\n;x\r\nlocation:\r\n activity: act@example.test\r\n support: \r\nend-of-rules\r\n");
    names.setRules(&rules);
    EXPECT_EQ(value("ActivityAddress"), "act@example.test");
    EXPECT_EQ(value("SupportAddress"), "Tarnwick Support <support@tarnwick.example>");
    EXPECT_EQ(value("RulesVersion"), "7.1");
}

TEST_F(ApplicationNamesTest, SystemNames)
{
    std::optional<std::string> os = platform::osDescription();
    ASSERT_TRUE(os.has_value());
    EXPECT_EQ(value("OS"), *os);
    EXPECT_EQ(os->find('\n'), std::string::npos);
    EXPECT_NE(os->find(" ("), std::string::npos);

    // the test program's own folder was written at some time: both forms of it are dates with times
    const std::string utc = value("InstalledUTC");
    const std::string local = value("InstalledLocal");
    ASSERT_EQ(utc.size(), 19u) << utc;
    EXPECT_EQ(utc[4], '-');
    EXPECT_EQ(utc[13], ':');
    ASSERT_EQ(local.size(), 22u) << local;
    EXPECT_TRUE(local.ends_with(" AM") || local.ends_with(" PM"));
}

} // namespace
