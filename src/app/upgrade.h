#pragma once

#include "platform/install.h"
#include "platform/result.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace tarnwick::base {
class AppSettings;
class FrontEnd;
} // namespace tarnwick::base
namespace tarnwick::rules {
class RulesFile;
}

namespace tarnwick::app {

class AppContext;
class MainState;

extern const char* const k_latestVersionText; // "You are using the latest version available."
extern const char* const k_downloadQuestion;  // "Do you want to download and install the latest version?"
extern const char* const k_copyFailedText; // "Couldn't copy the application exe file to the new application directory."
extern const char* const k_notSignedText;  // "The downloaded program is not signed by the distributor."
extern const char* const k_downloadCopyFailedText; // "Couldn't properly copy downloaded file."
extern const char* const k_noInstallDirText;       // the upgrade without an application directory

// The version a program must be newer than to be installed: the installed program's (read from its version
// record) or the newest this installation ever installed (`HighestInstalledVersion`), whichever is newer; the
// running program's only when neither is known.
struct UpgradeBaseline {
    enum class Source { Installed, InstalledBefore, Running };
    std::string version;
    Source source = Source::Running;
};
UpgradeBaseline upgradeBaseline(const base::AppSettings& settings, std::string_view runningVersion);
// Keeps `version` as `HighestInstalledVersion` when it is newer than the one kept (and written at once).
void recordInstalledVersion(base::AppSettings& settings, std::string_view version);

// "The program on offer (version X) is not newer than the installed one (Y); nothing was installed.", and
// the same for the version installed before and for this program.
std::string notNewerText(std::string_view offered, const UpgradeBaseline& baseline);
// "The downloaded program expands past the N bytes its manifest states; nothing was installed."
std::string expandsPastText(std::uint64_t size);

// The temporary files of a download, in the logging directory: the file as fetched and the program expanded
// from it, which installs itself when started from there.
constexpr std::string_view k_downloadTempName = "tarnwick_temp.tmp";
constexpr std::string_view k_downloadProgramName = "tarnwick_temp";
// The names earlier versions gave the downloaded program: a leftover under them is removed at start, and a
// program they downloaded and started under them installs itself as the copy does.
constexpr std::array<std::string_view, 2> k_oldDownloadProgramNames = {"Tarnwick_temp.exe", "Tarnwick_temp"};
// Whether the program at `path` is a downloaded copy started to install itself.
bool isDownloadedCopy(std::string_view path);
// The time-out of the program download; the window's own is restored afterwards.
constexpr int k_downloadTimeoutMs = 500000;
constexpr int k_normalTimeoutMs = 60000;

// The latest known version: the program version the rules' version names, its first three numbers
// ("4.2.07" of "4.2.07.000"); empty when the rules' version is not numbers and dots, and for the built-in rules
// for the office's XML records, whose version names no program.
std::string latestKnownVersion(const rules::RulesFile& rules);
// True when the latest known version is newer than `baseline`, number by number.
bool newerVersionAvailable(std::string_view latestKnown, std::string_view baseline);
// The title bar's notice: the latest known version when it is newer than the Upgrade command's baseline
// (upgradeBaseline), else empty; so the window offers exactly what the command would fetch.
std::string newerVersion(const rules::RulesFile& rules, const base::AppSettings& settings,
                         std::string_view runningVersion);
// The program's download address: the compressed `appc`, else the plain `app`.
std::string programAddress(const rules::RulesFile& rules);
// The host part of an "http://" address (after its first seven characters, up to the next "/").
std::string addressHost(std::string_view address);

// (Re)writes the shortcuts of the installed program (`Install` + "/" + `programName`) and the
// two web-site links into the shortcut folder.
platform::Result writeProgramShortcuts(const base::AppSettings& settings,
                                       std::string_view programName = platform::k_programFileName);

// What the installation check decided; the window carries it out.
struct InstallationOutcome {
    bool closeWindow = false;   // Cancel: the main window closes
    bool postConfigure = false; // the copy failed for a copy the user started
    bool restart = false;       // release the lock, destroy the window, start `program`
    std::string program;        // the installed program path
};

// The installation check's three-way question; when this program runs from a system folder (or one the user
// cannot write) it says what the copy in the Application Directory is for.
std::string overwriteQuestion(const std::string& runningPath, const std::string& installed, bool previousCopy);

// The installation check: the three-way question when this program runs from
// elsewhere, the copy over the installed program (retried for a temporary copy),
// the settings and shortcuts. `runningPath` is the running program path; the
// installed program keeps its file name (a temporary copy installs as "tarnwick"),
// and it is this program when both paths name one file.
InstallationOutcome installationCheck(AppContext& app, base::FrontEnd& frontEnd, const std::string& runningPath,
                                      bool reinstall, const platform::Pause& pause = {});

// What the Upgrade command came to.
struct UpgradeOutcome {
    enum class Kind { Latest, Declined, Failed, Downloaded };
    Kind kind = Kind::Failed;
    std::string error;   // Failed: the reported text
    std::string program; // Downloaded: the checked program file (the temporary copy, or the installed one)
    std::string version; // Downloaded: its version, as its manifest names it
};

// How the Upgrade command ends after a good download.
enum class UpgradeTarget {
    TemporaryCopy,    // the desktop program: the window starts the temporary copy, which installs itself
    InstalledProgram, // headless: the installed program is replaced at once and nothing is started
};

// The Upgrade command on the window state: the rules download, the newer-version
// test (against upgradeBaseline) and question, the signed manifest, fetched and checked
// first (signature, a version newer than the baseline), then the program, expanded no
// further than the manifest's length and checked against its digest, and the upgrade
// report. `ask` false answers the question with Yes. Without an application directory
// nothing is downloaded.
UpgradeOutcome upgradeCommand(MainState& state, std::string_view runningVersion, UpgradeTarget target, bool ask = true);

// A -auto start without an organisation name: logs why; the caller exits with 1.
// True when the start may go on.
bool autoStartAllowed(AppContext& app, bool autoMode);

} // namespace tarnwick::app
