#include "app/autorun.h"

#include "app/application.h"
#include "app/commandline.h"
#include "app/mainstate.h"
#include "base/log.h"
#include "core/entrystore.h"
#include "core/identifier.h"
#include "core/text.h"
#include "notify/emailqueue.h"
#include "notify/pendinglist.h"
#include "notify/templates.h"
#include "notify/usertemplates.h"
#include "platform/files.h"
#include "rules/templatevars.h"

#include <algorithm>
#include <ostream>

namespace tarnwick::app {

namespace {

const char* answerWord(base::Answer a)
{
    switch (a) {
    case base::Answer::Yes:
        return "Yes";
    case base::Answer::No:
        return "No";
    case base::Answer::Cancel:
        return "Cancel";
    default:
        return "OK";
    }
}

// A box's text on one log line: its line ends as blanks.
std::string oneLine(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '\r' || c == '\n') {
            if (!out.empty() && out.back() != ' ')
                out += ' ';
        } else {
            out += c;
        }
    }
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

// The application-wide names with the two that only the failure notice knows.
class FailureNames final : public rules::TemplateVars::AppNames {
public:
    FailureNames(const rules::TemplateVars::AppNames* inner, std::string count, std::string list)
        : m_inner(inner), m_count(std::move(count)), m_list(std::move(list))
    {
    }
    std::optional<std::string> value(std::string_view name) const override
    {
        if (core::equalNoCase(name, notify::extraname::FailureCount))
            return m_count;
        if (core::equalNoCase(name, notify::extraname::Failures))
            return m_list;
        return m_inner ? m_inner->value(name) : std::nullopt;
    }

private:
    const rules::TemplateVars::AppNames* m_inner;
    std::string m_count;
    std::string m_list;
};

// Puts `names` in front of the template variables for the life of the scope.
class AppNamesScope {
public:
    AppNamesScope(rules::TemplateVars& vars, const rules::TemplateVars::AppNames& names)
        : m_vars(vars), m_old(vars.appNames())
    {
        vars.setAppNames(&names);
    }
    ~AppNamesScope() { m_vars.setAppNames(m_old); }
    AppNamesScope(const AppNamesScope&) = delete;
    AppNamesScope& operator=(const AppNamesScope&) = delete;

private:
    rules::TemplateVars& m_vars;
    const rules::TemplateVars::AppNames* m_old;
};

} // namespace

base::Answer unattendedAnswer(const base::MessageBox& box, Unattended why)
{
    switch (box.question) {
    case base::Question::Message:
        return base::Answer::Ok;
    case base::Question::ExitAfterFailedSend:
    case base::Question::QuitUnconfigured:
        return base::Answer::Yes;
    case base::Question::SendPendingEmail:
        return why == Unattended::AutoMode ? base::Answer::Yes : base::Answer::No;
    case base::Question::OverwriteInstalled:
        // a session that ends closes the window; a timer's run goes on from where the program is
        return why == Unattended::AutoMode ? base::Answer::No : base::Answer::Cancel;
    default:
        // the reverted-fields warning stores nothing suspicious; nothing else starts or is deleted
        return box.buttons == base::Buttons::YesNoCancel ? base::Answer::Cancel : base::Answer::No;
    }
}

base::Answer logUnattendedBox(base::Log& log, const base::MessageBox& box, Unattended why)
{
    const base::Answer answer = unattendedAnswer(box, why);
    std::string line = why == Unattended::AutoMode ? "Auto mode, not shown: '" : "Not shown, the session is ending: '";
    line += oneLine(box.text);
    line += "'";
    if (box.buttons != base::Buttons::Ok) {
        line += ", answered ";
        line += answerWord(answer);
    }
    log.writeText(line + "\n");
    return answer;
}

void refuseAutoStart(base::Log& log, std::ostream& err, const std::string& reason)
{
    log.writeText("Auto mode: " + reason + " This start ends.\n");
    err << "tarnwick: " << reason << "\n";
    err.flush();
}

int autoExitStatus(const AutoOutcome& outcome)
{
    if (!outcome.startupOk || !outcome.saved)
        return exitcode::Refused;
    if (!outcome.mailError.empty())
        return exitcode::MailNotSent;
    if (!outcome.ran || outcome.stopped || outcome.failed > 0)
        return exitcode::EntriesFailed;
    return exitcode::Normal;
}

std::string autoEndLine(const AutoOutcome& outcome, int status)
{
    std::string why;
    if (!outcome.startupOk) {
        why = "the data file could not be read";
    } else if (!outcome.saved) {
        why = "the data file or the reports could not be written";
    } else if (!outcome.mailError.empty()) {
        std::string error = oneLine(outcome.mailError);
        if (error.ends_with('.'))
            error.pop_back();
        why = "the e-mail could not be sent and stays queued (" + error + ")";
    } else if (!outcome.ran)
        why = "the update did not run";
    else if (outcome.failed > 0)
        why = core::counted(outcome.failed, "entry", "entries") + " of " + std::to_string(outcome.due) +
              " could not be updated";
    else if (outcome.stopped)
        why = "the update was stopped before its end";
    else
        why = "every entry due was updated and the e-mail went out";
    return "Auto mode ends with exit status " + std::to_string(status) + ": " + why + ".\n";
}

std::vector<FailedEntry> failedEntries(const core::EntryStore& entries)
{
    std::vector<FailedEntry> failed;
    for (const core::Entry& e : entries.entries()) {
        if (e.Error.empty() || e.isUpToDate())
            continue;
        std::string name = e.Reference.empty() ? std::string() : e.Reference + ", ";
        name += core::identifierText(e);
        failed.push_back({std::move(name), oneLine(e.Error)});
    }
    return failed;
}

std::string failureList(const std::vector<FailedEntry>& failed)
{
    std::string out;
    for (const FailedEntry& f : failed) {
        if (!out.empty())
            out += "\r\n";
        out += "- " + f.name + ": " + f.reason;
    }
    return out;
}

FailureNotice failureNoticeStep(int failed, bool stillQueued, core::DayNumber lastQueued, core::DayNumber today)
{
    if (failed <= 0)
        return FailureNotice::None;
    if (stillQueued)
        return FailureNotice::Replace;
    return lastQueued == today ? FailureNotice::None : FailureNotice::Queue;
}

void AutoRun::runEnded(const update::RunSummary& summary)
{
    AppContext& app = m_state.app();
    const base::RunState reason = m_state.cancelReason();
    m_outcome.ran = true;
    m_outcome.due = summary.due;
    m_outcome.failed = summary.failed;
    m_outcome.stopped = summary.warningRefused || reason == base::RunState::Cancelled ||
                        reason == base::RunState::Closing || reason == base::RunState::ThreadsNotDone;
    if (!summary.started && !m_outcome.stopped) {
        app.log.write("Nothing was due; 0 entries updated.\n");
        return;
    }
    app.log.write("Auto mode: %d due, %d updated, %d changed, %d failed.\n", summary.due, summary.updated,
                  summary.changed, summary.failed);
    if (summary.failed > 0)
        (void)queueFailureNotice(failedEntries(app.entries), core::today());
}

std::string AutoRun::queueFailureNotice(const std::vector<FailedEntry>& failed, core::DayNumber today)
{
    AppContext& app = m_state.app();
    const std::string dir = app.logDir();
    if (dir.empty() || failed.empty())
        return {};
    const std::string name = notify::messageFileName(core::Entry(), k_failureNoticeKind);
    const std::string path = platform::joinPath(dir, name);
    notify::PendingList list(dir);
    const bool listed = list.read() && std::find(list.lines().begin(), list.lines().end(), name) != list.lines().end();
    const bool stillQueued = listed && platform::fileExists(path);
    const std::string dayPath = platform::joinPath(dir, k_failureNoticeDayFile);
    const core::DayNumber lastQueued =
        static_cast<core::DayNumber>(core::leadingInteger(platform::readFile(dayPath).value_or("")));

    const FailureNames names(app.vars.appNames(), std::to_string(failed.size()), failureList(failed));
    switch (failureNoticeStep(static_cast<int>(failed.size()), stillQueued, lastQueued, today)) {
    case FailureNotice::None:
        app.log.write("Auto mode: the failure notice went out today already\n");
        return {};
    case FailureNotice::Replace: {
        const std::optional<std::string> text =
            notify::templateInUse(&app.templates, notify::templateid::UpdateFailures);
        std::string message;
        {
            const AppNamesScope scope(app.vars, names);
            const rules::CurrentEntryScope entry(app.vars, nullptr, nullptr);
            notify::expandTemplate(text.value_or(""), app.vars, message);
        }
        app.log.write("Post E-Mail '%s' (brought up to date)\n", name.c_str());
        if (!platform::writeFileAtomic(path, message)) {
            // the notice as it was still goes out
            const std::string error = "Can't write the pending e-mail file " + path + ".";
            app.log.writeText(error + "\n");
            return error;
        }
        return {};
    }
    case FailureNotice::Queue:
        break;
    }
    std::string error;
    {
        const AppNamesScope scope(app.vars, names);
        error =
            m_state.queue().PostEmail(core::Entry(), notify::templateid::UpdateFailures, k_failureNoticeKind, nullptr);
    }
    // the day is kept only for a notice that is queued: a failed posting is tried again by the next run
    if (error.empty() && !platform::writeFileAtomic(dayPath, std::to_string(today) + "\r\n"))
        app.log.write("Can't write %s\n", dayPath.c_str());
    return error;
}

int AutoRun::finish(bool startupOk, bool saved)
{
    m_outcome.startupOk = startupOk;
    m_outcome.saved = saved;
    m_outcome.mailError = m_state.queue().lastBatchError();
    const int status = autoExitStatus(m_outcome);
    m_state.app().log.writeText(autoEndLine(m_outcome, status));
    return status;
}

} // namespace tarnwick::app
