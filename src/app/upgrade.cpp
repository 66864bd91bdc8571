#include "app/upgrade.h"

#include "app/application.h"
#include "app/mainstate.h"
#include "app/packagemanaged.h"
#include "app/programmanifest.h"
#include "base/frontend.h"
#include "base/log.h"
#include "base/scopes.h"
#include "base/settings.h"
#include "core/text.h"
#include "net/flowlog.h"
#include "net/httpget.h"
#include "notify/servicereports.h"
#include "platform/files.h"
#include "platform/lzexpand.h"
#include "platform/signature.h"
#include "resources/resources.h"
#include "rules/rulesfile.h"
#include "tasks/errors.h"

#include <algorithm>
#include <filesystem>

namespace tarnwick::app {

const char* const k_latestVersionText = "You are using the latest version available.";
const char* const k_downloadQuestion = "Do you want to download and install the latest version?";
const char* const k_copyFailedText = "Couldn't copy the application exe file to the new application directory.";
const char* const k_notSignedText = "The downloaded program is not signed by the distributor.";
const char* const k_downloadCopyFailedText = "Couldn't properly copy downloaded file.";
const char* const k_noInstallDirText =
    "No application directory is set, so there is nowhere to install a newer program. Configure one first.";

std::string notNewerText(std::string_view downloaded, std::string_view running)
{
    return "The downloaded program (version " + std::string(downloaded) + ") is not newer than this one (" +
           std::string(running) + "); nothing was installed.";
}

namespace {

// The two web sites whose links sit beside the program's shortcuts.
const std::vector<platform::WebLink>& webLinks()
{
    static const std::vector<platform::WebLink> links = {
        {"Tarnwick Web Site", "http://www.tarnwick.example/"},
        {"Brenlow Patent Law Firm", "http://www.brenlow.example/"},
    };
    return links;
}

// Passes the window's cancel on to a download, except a cancel reason left over
// from an earlier operation (the window resets it only for its own operations).
class DownloadHost final : public tasks::TaskHost {
public:
    explicit DownloadHost(MainState& state) : m_state(state), m_stale(state.cancelReason()) {}
    bool cancelRequested() const override
    {
        const base::RunState reason = m_state.cancelReason();
        return reason != base::RunState::Running && reason != m_stale;
    }
    void dispatch(int maxWaitMs) override { m_state.dispatch(maxWaitMs); }
    void setRunningTask(tasks::Cancellable* task) override { m_state.setRunningTask(task); }
    void wake() override { m_state.wake(); }

private:
    MainState& m_state;
    base::RunState m_stale;
};

// Fetches one address as raw bytes; returns the error text (empty on success).
std::string fetchRaw(MainState& state, DownloadHost& host, const std::string& address, bool direct, std::string& body)
{
    std::vector<net::HttpRequest> requests;
    net::HttpRequest& r = requests.emplace_back(&state.flowLog(), "HttpGet(0): ", true);
    r.userAgent = "Tarnwick";
    net::setRequestUrl(r, address,
                       direct ? std::string_view()
                              : std::string_view(state.app().settings.value(base::setting::ProxyServer)));
    const int timeoutMs = state.currentTimeoutMs();
    std::string error;
    try {
        const base::OperationDisplay display(state, timeoutMs / 1000);
        std::vector<std::string> pages = net::runPageFetchTask(host, requests, timeoutMs);
        body = pages.empty() ? std::string() : std::move(pages.front());
    } catch (const tasks::CAppError& e) {
        error = e.message();
    } catch (...) {
        error = "Unknown error.";
    }
    return error;
}

} // namespace

std::string latestKnownVersion(const rules::RulesFile& rules)
{
    return rules.version().substr(0, 6);
}

bool isDownloadedCopy(std::string_view path)
{
    const std::string name = platform::fileNameOf(std::string(path));
    return name == k_downloadProgramName ||
           std::find(k_oldDownloadProgramNames.begin(), k_oldDownloadProgramNames.end(), name) !=
               k_oldDownloadProgramNames.end();
}

bool newerVersionAvailable(std::string_view latestKnown, std::string_view runningVersion)
{
    return latestKnown.substr(0, 6) != runningVersion;
}

std::string newerVersion(const rules::RulesFile& rules, std::string_view runningVersion)
{
    std::string latest = latestKnownVersion(rules);
    return !latest.empty() && newerVersionAvailable(latest, runningVersion) ? latest : std::string();
}

std::string programAddress(const rules::RulesFile& rules)
{
    std::string address = rules.lookup("location", "appc");
    return address.empty() ? rules.lookup("location", "app") : address;
}

std::string addressHost(std::string_view address)
{
    if (address.size() <= 7)
        return {};
    const std::string_view rest = address.substr(7);
    return std::string(rest.substr(0, rest.find('/')));
}

platform::Result writeProgramShortcuts(const base::AppSettings& settings, std::string_view programName)
{
    const std::string error =
        platform::writeShortcuts({settings.value(base::setting::ShortcutFolder),
                                  platform::installedProgramPath(settings.value(base::setting::Install), programName),
                                  webLinks(), resources::text("PROGRAM_SVG").value_or(std::string_view())});
    return error.empty() ? platform::Result() : platform::Result::failure(error);
}

std::string overwriteQuestion(const std::string& runningPath, const std::string& installed, bool previousCopy)
{
    const std::string runningDir = platform::folderOf(runningPath);
    std::string text = "You are running " + runningPath +
                       (previousCopy ? "\nPreviously you ran " + installed
                                     : "\nThe Application Directory " + platform::folderOf(installed) +
                                           " holds no copy of the program yet.") +
                       "\n\n";
    const bool system = platform::systemFolder(runningDir);
    if (system)
        text += "Tarnwick keeps its own copy of the program in the Application Directory, a folder you can write: "
                "that copy is what the applications menu starts and what Options > Upgrade replaces. " +
                runningDir + " is a system folder, where Tarnwick cannot upgrade itself.\n\n";
    text += (previousCopy ? "Do you want to overwrite the previous copy of " + platform::fileNameOf(installed) +
                                (system ? " with this program" : "")
                          : std::string("Do you want to copy this program into the Application Directory")) +
            "?\n\nIf you choose NO the Application Directory will be changed to " + runningDir;
    text += system ? ", and upgrades will fail there." : ".";
    return text;
}

InstallationOutcome installationCheck(AppContext& app, base::FrontEnd& frontEnd, const std::string& runningPath,
                                      bool reinstall, const platform::Pause& pause)
{
    InstallationOutcome outcome;
    base::AppSettings& s = app.settings;
    // the package manager keeps its program up to date and puts it in the menu
    if (const std::optional<std::string> text = packageManagedText(runningPath)) {
        app.log.write("%s\n", text->c_str());
        (void)s.writeAll(); // as every store of the settings, silent when it fails
        return outcome;
    }
    const bool temporaryCopy = isDownloadedCopy(runningPath);
    const std::string programName = runningPath.empty() || temporaryCopy ? std::string(platform::k_programFileName)
                                                                         : platform::fileNameOf(runningPath);
    const std::string installed = platform::installedProgramPath(s.value(base::setting::Install), programName);
    // a program that cannot tell where it runs from copies nothing
    if (!runningPath.empty() && !platform::sameFile(runningPath, installed)) {
        const std::string runningDir = platform::folderOf(runningPath);
        bool copy = true;
        if (!reinstall && !temporaryCopy) {
            const base::Answer answer =
                frontEnd.ask(base::Question::OverwriteInstalled,
                             overwriteQuestion(runningPath, installed, platform::fileExists(installed)));
            if (answer == base::Answer::Cancel) {
                outcome.closeWindow = true;
                return outcome;
            }
            if (answer == base::Answer::No) {
                s.setValue(base::setting::Install, runningDir);
                copy = false;
            }
        }
        if (copy) {
            std::error_code ec;
            std::filesystem::create_directories(s.value(base::setting::Install), ec);
            const std::string error = platform::replaceProgram(
                runningPath, installed, temporaryCopy ? platform::k_temporaryCopyAttempts : platform::CopyAttempts{},
                pause);
            if (error.empty() || temporaryCopy) {
                outcome.restart = true;
            }
            if (!error.empty()) {
                app.log.write("Copy '%s' -> '%s': %s\n", runningPath.c_str(), installed.c_str(), error.c_str());
                frontEnd.tell(k_copyFailedText, {}, base::Severity::Warning);
                if (!temporaryCopy) {
                    s.setValue(base::setting::Install, runningDir);
                    outcome.postConfigure = true;
                }
            }
        }
    }
    (void)s.writeAll(); // as every store of the settings, silent when it fails
    const std::string program = platform::installedProgramPath(s.value(base::setting::Install), programName);
    if (const platform::Result written = writeProgramShortcuts(s, programName); !written)
        app.log.write("Shortcuts not written: %s\n", written.error().c_str());
    if (outcome.restart)
        outcome.program = program;
    return outcome;
}

UpgradeOutcome upgradeCommand(MainState& state, std::string_view runningVersion, UpgradeTarget target, bool ask)
{
    UpgradeOutcome outcome;
    AppContext& app = state.app();
    if (state.busy())
        return outcome;
    // neither this program nor the one it would replace is updated here when the package manager installed it
    for (const std::string& program : {platform::runningProgramPath().value_or(""),
                                       platform::installedProgramPath(app.settings.value(base::setting::Install))}) {
        if (const std::optional<std::string> text = packageManagedText(program)) {
            state.tell(*text);
            outcome.error = *text;
            return outcome;
        }
    }
    if (app.settings.value(base::setting::Install).empty()) {
        // the program would land in whatever the working directory is
        base::errorReport(app.log, state, k_noInstallDirText, "Upgrade");
        outcome.error = k_noInstallDirText;
        return outcome;
    }
    state.downloadRules();
    if (state.cancelReason() != base::RunState::Running) {
        // a cancel during the rules download cancels the command
        outcome.error = update::k_cancelledMessage;
        return outcome;
    }
    const std::string latest = latestKnownVersion(app.rules);
    if (!newerVersionAvailable(latest, runningVersion)) {
        state.tell(k_latestVersionText);
        outcome.kind = UpgradeOutcome::Kind::Latest;
        return outcome;
    }
    if (ask && state.ask(base::Question::DownloadUpgrade, k_downloadQuestion) != base::Answer::Yes) {
        outcome.kind = UpgradeOutcome::Kind::Declined;
        return outcome;
    }

    const std::string address = programAddress(app.rules);
    const bool direct = app.rules.directDownload();
    // the download is an operation of the window: cancellable, with its own time-out, and a close waits for it
    std::string program;
    std::string manifest;
    std::string signature;
    std::string error;
    // the manifest binds the version to the program's digest; a failed fetch is a missing signature
    std::string manifestError;
    const std::string manifestAddress = address + std::string(k_manifestSuffix);
    {
        const MainState::Operation operation(state, k_downloadTimeoutMs);
        if (!operation)
            return outcome;
        const base::RunDisplay display(state, "from " + addressHost(address), 3);
        state.statusLine("Download Tarnwick v" + latest);
        DownloadHost host(state);
        error = fetchRaw(state, host, address, direct, program);
        if (error.empty()) {
            state.runPosition(1);
            manifestError = fetchRaw(state, host, manifestAddress, direct, manifest);
        }
        if (error.empty() && manifestError.empty()) {
            state.runPosition(2);
            manifestError = fetchRaw(state, host, manifestAddress + ".sig", direct, signature);
        }
        state.statusLine({});
    }

    auto fail = [&](const std::string& text, const char* title) {
        // a download the closing window cancelled ends without a word
        if (state.cancelReason() != base::RunState::Closing)
            base::errorReport(app.log, state, text, title);
        outcome.kind = UpgradeOutcome::Kind::Failed;
        outcome.error = text.starts_with('!') ? text.substr(1) : text;
        return outcome;
    };
    if (!error.empty())
        return fail(error, "Download Failed");

    const std::string dir = app.logDir();
    const std::string tmp = platform::joinPath(dir, k_downloadTempName);
    const std::string exe = platform::joinPath(dir, k_downloadProgramName);
    (void)platform::removeFile(tmp);
    (void)platform::removeFile(exe);
    long long length = 0;
    const bool copied = !dir.empty() && platform::writeFileAtomic(tmp, program) &&
                        platform::lzExpandFile(tmp, exe, length).empty() && length > 0;
    (void)platform::removeFile(tmp);
    if (!copied) {
        (void)platform::removeFile(exe);
        return fail(k_downloadCopyFailedText, "Copy failed.");
    }
    // only a program the distributor vouches for, newer than this one, is ever started or installed
    ManifestVerdict verdict{ManifestVerdict::Kind::NotSigned, manifestError};
    if (manifestError.empty()) {
        const std::optional<std::string> expanded = platform::readFile(exe);
        verdict = expanded
                      ? checkProgramManifest(manifest, signature, *expanded, runningVersion, platform::distributorKey())
                      : ManifestVerdict{ManifestVerdict::Kind::NotSigned, "the expanded program is unreadable"};
    }
    if (verdict.kind != ManifestVerdict::Kind::Good) {
        (void)platform::removeFile(exe);
        if (verdict.kind == ManifestVerdict::Kind::NotNewer)
            return fail(notNewerText(verdict.why, runningVersion), "Download Failed");
        app.log.write("Signature '%s': %s\n", manifestAddress.c_str(), verdict.why.c_str());
        return fail(k_notSignedText, "Download Failed");
    }

    if (target == UpgradeTarget::InstalledProgram) {
        const std::string installed = platform::installedProgramPath(app.settings.value(base::setting::Install));
        std::error_code ec;
        std::filesystem::create_directories(app.settings.value(base::setting::Install), ec);
        const std::string copyError = platform::replaceProgram(exe, installed);
        (void)platform::removeFile(exe);
        if (!copyError.empty()) {
            app.log.write("Copy '%s': %s\n", installed.c_str(), copyError.c_str());
            return fail(k_copyFailedText, "Copy failed.");
        }
        outcome.program = installed;
    } else {
        outcome.program = exe;
    }
    notify::sendUpgradeReport(state.queue(), app.settings);
    outcome.kind = UpgradeOutcome::Kind::Downloaded;
    return outcome;
}

bool autoStartAllowed(AppContext& app, bool autoMode)
{
    if (!autoMode || !app.settings.value(base::setting::OrgName).empty())
        return true;
    app.log.write("Auto mode: Tarnwick is not configured (no organization name); nothing was done\n");
    return false;
}

} // namespace tarnwick::app
