#pragma once

#include "base/runstate.h"

#include <functional>
#include <string>
#include <string_view>

namespace tarnwick::base {
class AppSettings;
class FrontEnd;
class Log;
} // namespace tarnwick::base
namespace tarnwick::net {
class FlowLog;
}
namespace tarnwick::rules {
class TemplateVars;
}
namespace tarnwick::tasks {
class TaskHost;
}

namespace tarnwick::notify {

class ApplicationNames;
class EmailQueue;

extern const char* const k_problemAdvice; // "Please attempt to do an update prior to reporting the problem."
constexpr const char* k_problemTitle = "Report Problem";
constexpr const char* k_welcomeKind = "welcome";

// The prompt of the problem description: it names the support address.
std::string problemPrompt(std::string_view supportAddress);

// What replaces a secret in a message the user is shown and sends.
constexpr std::string_view k_withheld = "********";
// `text` with the SMTP password (plain, stored and as AUTH LOGIN sends it) and
// the API key replaced by k_withheld.
std::string withoutSecrets(std::string text, const base::AppSettings& settings);

// Shows a message exactly as it would go out, read-only, with Send and Cancel.
class MessagePreview {
public:
    virtual ~MessagePreview() = default;
    // True for Send.
    virtual bool confirmSend(const std::string& title, const std::string& message) = 0;
};

// The welcome, activity and upgrade reports go to the distributor only when the user agreed
// (AppSettings::usageReportsAllowed); otherwise they are not even made.
// Queues the welcome report (it goes to the activity address with the next batch).
std::string queueWelcomeReport(EmailQueue& queue, const base::AppSettings& settings);
// Sends the upgrade report at once to the activity address; a failure is only logged.
std::string sendUpgradeReport(EmailQueue& queue, const base::AppSettings& settings);

// What the problem report works with; nothing is owned.
struct ProblemReportContext {
    base::AppSettings& settings;
    base::Log& log;
    base::FrontEnd& frontEnd;
    tasks::TaskHost& taskHost;
    rules::TemplateVars& vars;
    ApplicationNames& names;
    net::FlowLog& flowLog;
    MessagePreview& preview;
    // the rules download (it does its work at most once per run)
    std::function<void()> downloadRules;
    // the window's cancel reason, which a time-out of the sending sets; none: the sending keeps its own
    base::RunState* runState = nullptr;
};

enum class ProblemReportResult { NothingExchanged, Cancelled, Withheld, Sent, Failed };

// Help > Report Problem: the advice when nothing has been exchanged yet, the rules
// download, the description, the message shown before it goes, and the sending to
// the support address with the result shown.
ProblemReportResult reportProblem(ProblemReportContext context);

} // namespace tarnwick::notify
