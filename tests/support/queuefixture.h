#pragma once

#include "base/log.h"
#include "base/settings.h"
#include "notify/appnames.h"
#include "notify/emailqueue.h"
#include "rules/templatevars.h"
#include "support/peers.h"
#include "support/scriptedfrontend.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace tarnwick::test {

// An e-mail queue over its own settings, log and logging directory, with a
// scripted front end; the organisation is "Brenlow".
class QueueFixture : public ::testing::Test {
public:
    QueueFixture(const std::string& returnAddress, std::vector<std::string> notifyAddresses)
        : settings(dir.file("settings.ini")), log(settings), names(settings), queue(queueContext())
    {
        std::filesystem::create_directory(logDir());
        settings.setValue(base::setting::LogDir, logDir());
        settings.setValue(base::setting::ReturnAddress, returnAddress);
        settings.setValue(base::setting::OrgName, "Brenlow");
        settings.setNotifyAddresses(std::move(notifyAddresses));
        vars.setAppNames(&names);
        // the scripted front end returns at once; keep the waits from spinning
        fe.onDispatch = [] { std::this_thread::sleep_for(std::chrono::milliseconds(2)); };
    }

    std::string logDir() const { return dir.file("logs"); }
    // The queue works with the fixture's own parts; its cancel reason is `cancelReason`.
    notify::EmailContext queueContext()
    {
        return {.settings = settings,
                .log = log,
                .frontEnd = fe,
                .taskHost = fe,
                .vars = vars,
                .names = names,
                .runState = &cancelReason};
    }

    // Mail goes to `sink` as the user "tester" with the password "secret", in the plain dialogue (the sink
    // offers no STARTTLS); the user agreed to the usage reports.
    void useSink(const SmtpSink& sink)
    {
        settings.setValue(base::setting::SmtpServer, sink.address());
        settings.setValue(base::setting::SmtpSecurity, "none");
        settings.setValue(base::setting::UserName, "tester");
        settings.setPlainPassword("secret");
        settings.setValue(base::setting::SendUsageReports, "1");
    }

    TempDir dir;
    base::AppSettings settings;
    base::Log log;
    ScriptedFrontEnd fe;
    rules::TemplateVars vars;
    notify::ApplicationNames names;
    base::RunState cancelReason = base::RunState::Running;
    notify::EmailQueue queue;
};

} // namespace tarnwick::test
