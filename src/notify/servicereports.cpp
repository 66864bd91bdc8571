#include "notify/servicereports.h"

#include "base/frontend.h"
#include "base/log.h"
#include "base/settings.h"
#include "core/entry.h"
#include "core/text.h"
#include "net/base64.h"
#include "net/flowlog.h"
#include "notify/appnames.h"
#include "notify/emailqueue.h"
#include "notify/templates.h"
#include "platform/files.h"
#include "rules/templatevars.h"

namespace tarnwick::notify {

const char* const k_problemAdvice = "Please attempt to do an update prior to reporting the problem.";

std::string problemPrompt(std::string_view supportAddress)
{
    return "Please describe your problem in some detail. When you click OK an email message will be sent to \"" +
           std::string(supportAddress) + "\".";
}

std::string withoutSecrets(std::string text, const base::AppSettings& settings)
{
    const std::string plain = settings.plainPassword();
    const std::string apiKey = settings.value(base::setting::ApiKey);
    const std::string secrets[] = {plain, settings.value(base::setting::Password),
                                   plain.empty() ? std::string() : net::base64Encode(plain), apiKey,
                                   apiKey.empty() ? std::string() : settings.plainApiKey()};
    for (const std::string& secret : secrets) {
        if (!secret.empty())
            text = core::replaceAll(text, secret, k_withheld);
    }
    // the OAuth client secret and refresh token, in either form
    for (const base::TextSetting* key : {&base::setting::OAuthClientSecret, &base::setting::OAuthRefreshToken}) {
        for (const std::string& secret : {settings.value(*key), settings.plainSecret(*key)}) {
            if (!secret.empty())
                text = core::replaceAll(text, secret, k_withheld);
        }
    }
    return text;
}

std::string queueWelcomeReport(EmailQueue& queue, const base::AppSettings& settings)
{
    if (!settings.usageReportsAllowed())
        return {};
    return queue.PostEmail(core::Entry(), templateid::Welcome, k_welcomeKind);
}

std::string sendUpgradeReport(EmailQueue& queue, const base::AppSettings& settings)
{
    if (!settings.usageReportsAllowed())
        return {};
    // sendAtOnce logs a failure with the message file; no result is shown
    return queue.sendAtOnce(templateid::Upgrade, MailMode::ActivityAddress, false);
}

ProblemReportResult reportProblem(ProblemReportContext c)
{
    if (c.flowLog.isEmpty()) {
        c.frontEnd.tell(k_problemAdvice);
        return ProblemReportResult::NothingExchanged;
    }
    if (c.downloadRules)
        c.downloadRules();
    std::optional<std::string> description =
        c.frontEnd.textInput(k_problemTitle, problemPrompt(c.names.supportAddress()), {});
    if (!description)
        return ProblemReportResult::Cancelled;
    c.names.setProblemDesc(*description);

    std::string message;
    {
        rules::CurrentEntryScope scope(c.vars, nullptr, nullptr);
        message = withoutSecrets(expandTemplateId(templateid::Problem, c.vars), c.settings);
    }
    if (!c.preview.confirmSend(base::caption(k_problemTitle), message))
        return ProblemReportResult::Withheld;

    // exactly what the user saw goes out
    EmailQueue queue({c.settings, c.log, c.frontEnd, c.taskHost, c.vars, c.names, &c.flowLog, c.runState, {}});
    const std::string path = platform::joinPath(c.settings.value(base::setting::LogDir), k_emailTestFileName);
    std::string error;
    if (message.empty()) {
        error = "SendEmail: Can't find e-mail template file.";
    } else if (c.settings.value(base::setting::LogDir).empty() || !platform::writeFileAtomic(path, message)) {
        error = "Can't create the temporary e-mail file.";
    } else {
        c.frontEnd.runStart("Send E-Mail", 1);
        c.frontEnd.statusLine({});
        error = queue.sendMessageFile(path, MailMode::SupportAddress);
        (void)platform::removeFile(path);
        c.frontEnd.runEnd();
    }
    if (!error.empty()) {
        base::errorReport(c.log, c.frontEnd, error, "E-Mail Failed");
        return ProblemReportResult::Failed;
    }
    c.frontEnd.tell("E-mail was sent successfully.");
    return ProblemReportResult::Sent;
}

} // namespace tarnwick::notify
