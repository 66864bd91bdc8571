#include "app/upgrade.h"

#include "app/application.h"
#include "app/commandline.h"
#include "app/mainstate.h"
#include "app/packagemanaged.h"
#include "app/programmanifest.h"
#include "base/frontend.h"
#include "base/log.h"
#include "base/scopes.h"
#include "base/settings.h"
#include "core/text.h"
#include "core/version.h"
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

std::string notNewerText(std::string_view offered, const UpgradeBaseline& baseline)
{
    std::string text = "The program on offer (version " + std::string(offered) + ") is not newer than ";
    switch (baseline.source) {
    case UpgradeBaseline::Source::Installed:
        text += "the installed one (" + baseline.version + ")";
        break;
    case UpgradeBaseline::Source::InstalledBefore:
        text += "version " + baseline.version + ", which was installed here before";
        break;
    case UpgradeBaseline::Source::Running:
        text += "this one (" + baseline.version + ")";
        break;
    }
    return text + "; nothing was installed.";
}

std::string expandsPastText(std::uint64_t size)
{
    return "The downloaded program expands past the " + std::to_string(size) +
           " bytes its manifest states; nothing was installed.";
}

UpgradeBaseline upgradeBaseline(const base::AppSettings& settings, std::string_view runningVersion)
{
    using Source = UpgradeBaseline::Source;
    std::optional<UpgradeBaseline> baseline;
    const std::string installed = platform::installedProgramPath(settings.value(base::setting::Install));
    if (std::optional<std::string> version = platform::programFileVersion(installed);
        version && core::wellFormedVersion(*version))
        baseline = UpgradeBaseline{std::move(*version), Source::Installed};
    const std::string before = settings.value(base::setting::HighestInstalledVersion);
    if (core::wellFormedVersion(before) && (!baseline || core::compareVersions(before, baseline->version) > 0))
        baseline = UpgradeBaseline{before, Source::InstalledBefore};
    return baseline.value_or(UpgradeBaseline{std::string(runningVersion), Source::Running});
}

void recordInstalledVersion(base::AppSettings& settings, std::string_view version)
{
    if (!core::wellFormedVersion(version) ||
        core::compareVersions(version, settings.value(base::setting::HighestInstalledVersion)) <= 0)
        return;
    settings.setValue(base::setting::HighestInstalledVersion, std::string(version));
    (void)settings.write(base::setting::HighestInstalledVersion); // as every store of the settings, silent
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
    // the rules for the office's XML records ship inside this program: their version keeps them ahead of any
    // downloaded web rules and names no program anyone can fetch
    if (rules.version() == rules::RulesFile::versionOf(rules::RulesFile::officeXmlText()))
        return {};
    return core::programVersionOf(rules.version());
}

bool isDownloadedCopy(std::string_view path)
{
    const std::string name = platform::fileNameOf(std::string(path));
    return name == k_downloadProgramName ||
           std::find(k_oldDownloadProgramNames.begin(), k_oldDownloadProgramNames.end(), name) !=
               k_oldDownloadProgramNames.end();
}

bool newerVersionAvailable(std::string_view latestKnown, std::string_view baseline)
{
    // rules without a program version offer nothing
    return core::wellFormedVersion(latestKnown) && core::compareVersions(latestKnown, baseline) > 0;
}

std::string newerVersion(const rules::RulesFile& rules, const base::AppSettings& settings,
                         std::string_view runningVersion)
{
    std::string latest = latestKnownVersion(rules);
    if (!core::wellFormedVersion(latest))
        return {}; // rules without a program version offer nothing, and the installed program is not read
    return newerVersionAvailable(latest, upgradeBaseline(settings, runningVersion).version) ? latest : std::string();
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
    // the program in the application directory is this one after the check, unless a temporary copy failed to
    // replace it (a copy the user started that fails moves the directory here)
    bool installedIsThis = !runningPath.empty();
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
            installedIsThis = error.empty() || !temporaryCopy;
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
    if (installedIsThis)
        recordInstalledVersion(s, programVersion());
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
    const UpgradeBaseline baseline = upgradeBaseline(app.settings, runningVersion);
    if (!newerVersionAvailable(latest, baseline.version)) {
        state.tell(k_latestVersionText);
        outcome.kind = UpgradeOutcome::Kind::Latest;
        return outcome;
    }
    if (ask && state.ask(base::Question::DownloadUpgrade, k_downloadQuestion) != base::Answer::Yes) {
        outcome.kind = UpgradeOutcome::Kind::Declined;
        return outcome;
    }

    auto fail = [&](const std::string& text, const char* title) {
        // a download the closing window cancelled ends without a word
        if (state.cancelReason() != base::RunState::Closing)
            base::errorReport(app.log, state, text, title);
        outcome.kind = UpgradeOutcome::Kind::Failed;
        outcome.error = text.starts_with('!') ? text.substr(1) : text;
        return outcome;
    };
    const std::string address = programAddress(app.rules);
    const bool direct = app.rules.directDownload();
    const std::string manifestAddress = address + std::string(k_manifestSuffix);
    // Fetches each address into its body, in turn from run position `position` on, as one operation of the
    // window: cancellable, with its own time-out, and a close waits for it. The first failure stops (`failed`
    // is its index); none when the window is busy.
    std::size_t failed = 0;
    auto fetch = [&](const std::vector<std::pair<std::string, std::string*>>& items,
                     int position) -> std::optional<std::string> {
        const MainState::Operation operation(state, k_downloadTimeoutMs);
        if (!operation)
            return std::nullopt;
        const base::RunDisplay display(state, "from " + addressHost(address), 3);
        DownloadHost host(state);
        std::string error;
        for (failed = 0; failed < items.size() && error.empty(); ++failed) {
            state.runPosition(position++);
            error = fetchRaw(state, host, items[failed].first, direct, *items[failed].second);
        }
        --failed;
        state.statusLine({});
        return error;
    };

    // the manifest comes first: the program is fetched only when the distributor vouches for a newer version,
    // and expanded no further than the length the manifest states
    std::string manifestText;
    std::string signature;
    state.statusLine("Download Tarnwick v" + latest);
    const std::optional<std::string> manifestFetch =
        fetch({{manifestAddress, &manifestText}, {manifestAddress + ".sig", &signature}}, 0);
    if (!manifestFetch)
        return outcome;
    // a manifest that cannot be fetched is a failed download; a missing signature is the distributor's silence
    if (!manifestFetch->empty() && (failed == 0 || state.cancelReason() != base::RunState::Running))
        return fail(*manifestFetch, "Download Failed");
    std::string why = *manifestFetch;
    std::optional<ProgramManifest> manifest;
    if (why.empty())
        manifest = verifyProgramManifest(manifestText, signature, platform::distributorKey(), why);
    if (!manifest) {
        app.log.write("Signature '%s': %s\n", manifestAddress.c_str(), why.c_str());
        return fail(k_notSignedText, "Download Failed");
    }
    if (!newerVersionAvailable(manifest->version, baseline.version))
        return fail(notNewerText(manifest->version, baseline), "Download Failed");

    state.statusLine("Download Tarnwick v" + manifest->version);
    std::string program;
    const std::optional<std::string> programFetch = fetch({{address, &program}}, 2);
    if (!programFetch)
        return outcome;
    if (!programFetch->empty())
        return fail(*programFetch, "Download Failed");

    const std::string dir = app.logDir();
    const std::string tmp = platform::joinPath(dir, k_downloadTempName);
    const std::string exe = platform::joinPath(dir, k_downloadProgramName);
    (void)platform::removeFile(tmp);
    (void)platform::removeFile(exe);
    platform::ExpandedFile expanded;
    std::string expandError = dir.empty() ? std::string("no logging directory") : std::string();
    if (expandError.empty() && !platform::writeFileAtomic(tmp, program))
        expandError = "cannot write " + tmp;
    program = std::string();
    if (expandError.empty())
        expandError = platform::lzExpandFile(tmp, exe, manifest->size, expanded);
    (void)platform::removeFile(tmp);
    if (!expandError.empty()) {
        (void)platform::removeFile(exe);
        app.log.write("Expand '%s': %s\n", address.c_str(), expandError.c_str());
        if (expanded.past)
            return fail(expandsPastText(manifest->size), "Download Failed");
        return fail(k_downloadCopyFailedText, "Copy failed.");
    }
    // only the very program the distributor vouches for is ever started or installed
    if (expanded.length != manifest->size || expanded.sha256 != manifest->sha256) {
        (void)platform::removeFile(exe);
        app.log.write("Signature '%s': the program is not the one the manifest names\n", manifestAddress.c_str());
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
        recordInstalledVersion(app.settings, manifest->version);
        outcome.program = installed;
    } else {
        // the copy records its version when it has installed itself
        outcome.program = exe;
    }
    notify::sendUpgradeReport(state.queue(), app.settings);
    outcome.kind = UpgradeOutcome::Kind::Downloaded;
    outcome.version = manifest->version;
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
