#include "cli/commands.h"

#include "app/packagemanaged.h"
#include "app/startup.h"
#include "app/upgrade.h"
#include "base/settings.h"
#include "cli/session.h"
#include "platform/install.h"

#include <iostream>

namespace tarnwick::cli {

namespace {

// Writes the shortcuts of the installed desktop program into the shortcut folder; copies nothing.
int install(const Invocation& inv)
{
    if (!inv.args.empty())
        return inv.usage();
    base::AppSettings settings(base::settingsPath(inv.settingsOption));
    if (settings.value(base::setting::ShortcutFolder).empty() || settings.value(base::setting::Install).empty()) {
        inv.err << "tarnwick-cli: no shortcut folder or application directory is set (config set ShortcutFolder "
                   "DIR Install DIR)\n";
        return 1;
    }
    if (const platform::Result written = app::writeProgramShortcuts(settings); !written) {
        inv.err << "tarnwick-cli: " << written.error() << "\n";
        return 1;
    }
    inv.out << "Shortcuts for " << platform::installedProgramPath(settings.value(base::setting::Install))
            << " written to " << settings.value(base::setting::ShortcutFolder) << "\n";
    return 0;
}

// The Upgrade command without a window: the installed desktop program is replaced
// by a signed newer one; nothing is started.
int upgrade(const Invocation& inv)
{
    if (!inv.args.empty())
        return inv.usage();
    const bool yes = inv.options.has("yes");
    if (const auto text = app::packageManagedText(platform::runningProgramPath().value_or(""))) {
        inv.err << *text << "\n";
        return 1;
    }
    std::unique_ptr<Session> s = Session::open(inv, true);
    if (!s)
        return 1;
    const bool terminal = s->onTerminal();
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
        inv.out << "Installed " << outcome.program << " v" << outcome.version << "\n";
        return 0;
    case app::UpgradeOutcome::Kind::Latest:
        inv.out << app::k_latestVersionText << "\n";
        return 1;
    case app::UpgradeOutcome::Kind::Declined:
        inv.err << "Nothing was installed (answer the question, or use --yes).\n";
        return 1;
    case app::UpgradeOutcome::Kind::Failed:
        break;
    }
    inv.err << outcome.error << "\n";
    return 1;
}

} // namespace

const Command k_installCommand{
    .name = "install",
    .summary = "write the shortcuts of the installed program",
    .readsSettings = true,
    .run = install,
};

const Command k_upgradeCommand{
    .name = "upgrade",
    .summary = "install a newer signed program named by the rules",
    .readsSettings = true,
    .options =
        {
            {"yes", nullptr, "install it without asking"},
        },
    .run = upgrade,
};

} // namespace tarnwick::cli
