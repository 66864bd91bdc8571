#include "cli/commands.h"

#include "app/packagemanaged.h"
#include "app/startup.h"
#include "app/upgrade.h"
#include "base/settings.h"
#include "cli/session.h"
#include "platform/install.h"

#include <iostream>

namespace tarnwick::cli {

// Writes the shortcuts of the installed desktop program into the shortcut folder; copies nothing.
int cmdInstall(const Invocation& inv)
{
    if (!inv.args.empty()) {
        std::cerr << "usage: tarnwick-cli [--settings FILE] install\n";
        return 1;
    }
    base::AppSettings settings(base::settingsPath(inv.settingsOption));
    if (settings.value(base::setting::ShortcutFolder).empty() || settings.value(base::setting::Install).empty()) {
        std::cerr << "tarnwick-cli: no shortcut folder or application directory is set (config set ShortcutFolder "
                     "DIR Install DIR)\n";
        return 1;
    }
    if (const platform::Result written = app::writeProgramShortcuts(settings); !written) {
        std::cerr << "tarnwick-cli: " << written.error() << "\n";
        return 1;
    }
    std::cout << "Shortcuts for " << platform::installedProgramPath(settings.value(base::setting::Install))
              << " written to " << settings.value(base::setting::ShortcutFolder) << "\n";
    return 0;
}

// The Upgrade command without a window: the installed desktop program is replaced
// by a signed newer one; nothing is started.
int cmdUpgrade(const Invocation& inv)
{
    bool yes = false;
    for (const std::string& a : inv.args) {
        if (a == "--yes") {
            yes = true;
        } else {
            std::cerr << "usage: tarnwick-cli [--settings FILE] upgrade [--yes]\n";
            return 1;
        }
    }
    if (const auto text = app::packageManagedText(platform::runningProgramPath().value_or(""))) {
        std::cerr << *text << "\n";
        return 1;
    }
    std::unique_ptr<Session> s = Session::open(inv, true);
    if (!s)
        return 1;
    const bool terminal = CliFrontEnd::onTerminal();
    s->frontEnd.setShowProgress(terminal);
    s->frontEnd.setInteractive(terminal);
    if (yes)
        s->frontEnd.setFixedAnswer(base::Answer::Yes);
    else if (!terminal)
        s->frontEnd.setAnswerFor(base::Question::DownloadUpgrade, base::Answer::No);
    const app::UpgradeOutcome outcome =
        app::upgradeCommand(s->state, app::systemPlaces().version, app::UpgradeTarget::InstalledProgram);
    switch (outcome.kind) {
    case app::UpgradeOutcome::Kind::Downloaded:
        std::cout << "Installed " << outcome.program << " v" << app::latestKnownVersion(s->app.rules) << "\n";
        return 0;
    case app::UpgradeOutcome::Kind::Latest:
        std::cout << app::k_latestVersionText << "\n";
        return 1;
    case app::UpgradeOutcome::Kind::Declined:
        std::cerr << "Nothing was installed (answer the question, or use --yes).\n";
        return 1;
    case app::UpgradeOutcome::Kind::Failed:
        break;
    }
    std::cerr << outcome.error << "\n";
    return 1;
}

} // namespace tarnwick::cli
