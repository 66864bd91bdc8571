#include "cli/clifrontend.h"
#include "cli/commands.h"

#include "app/mailsignin.h"
#include "base/oauthsignin.h"
#include "base/settings.h"

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <thread>

namespace tarnwick::cli {

namespace {

bool hasDisplay()
{
    const char* x = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x && *x) || (wayland && *wayland);
}

// Signs in to the mail server's authority and stores the refresh token: in the browser (a loopback redirect),
// or with --device, or without a display, by a code entered on another device.
int mailLogin(const Invocation& inv)
{
    if (!inv.args.empty())
        return inv.usage();
    base::AppSettings settings(base::settingsPath(inv.settingsOption));
    const base::OAuthSetup setup = base::oauthSetup(settings);
    if (!setup.error.empty()) {
        inv.err << "tarnwick-cli: " << setup.error << '\n';
        return 1;
    }
    CliFrontEnd frontEnd(inv.out, inv.err, inv.in, inv.process); // Ctrl-C stops the wait
    net::SignInHooks hooks;
    hooks.openBrowser = net::openWithXdgOpen;
    hooks.tell = [&inv](const std::string& line) { inv.out << line << std::endl; };
    hooks.stopRequested = [] { return CliFrontEnd::interrupted(); };
    hooks.wait = [](int seconds) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (std::chrono::steady_clock::now() < end) {
            if (CliFrontEnd::interrupted())
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return true;
    };

    const bool byDevice = inv.options.has("device") || !hasDisplay();
    net::OAuthTokens tokens;
    try {
        tokens = byDevice ? net::signInWithDevice(setup.client, hooks) : net::signInWithBrowser(setup.client, hooks);
    } catch (const tasks::CAppError& e) {
        inv.err << "tarnwick-cli: " << base::signInFailureText(e) << '\n';
        return 1;
    }
    if (const platform::Result stored = app::storeMailSignIn(settings, tokens, settings.value(base::setting::UserName));
        !stored) {
        inv.err << "tarnwick-cli: " << stored.error() << '\n';
        return 1;
    }
    inv.out << "Signed in to the mail server's authority.\n";
    if (!settings.mailSignInByOAuth())
        inv.out << "The mail is sent with this sign-in once SmtpAuth is oauth2: tarnwick-cli config set SmtpAuth "
                   "oauth2\n";
    return 0;
}

} // namespace

const Command k_mailLoginCommand{
    .name = "mail-login",
    .summary = "sign in to the mail server's OAuth 2.0 authority (SmtpAuth oauth2)",
    .readsSettings = true,
    .options =
        {
            {"device", nullptr, "sign in with a code on another device instead of this computer's browser"},
        },
    .run = mailLogin,
};

} // namespace tarnwick::cli
