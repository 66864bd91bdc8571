#pragma once

#include "base/oauthsignin.h"
#include "platform/result.h"

#include <atomic>
#include <functional>
#include <string>

namespace tarnwick::base {
class AppSettings;
}

namespace tarnwick::app {

struct ConfigValues;

// The sub-title of the sign-in's boxes and of its waiting window.
inline constexpr const char* k_signInTitle = "Sign In";
// What the waiting window says while the browser has the sign-in.
inline constexpr const char* k_signInWaiting = "Waiting for the sign-in in your browser...";
// What the waiting window says about the address below it.
inline constexpr const char* k_signInAddressNote = "If no browser window opened, open this address:";

// The sign-in button beside the mail login and the account line next to it, as the dialog's values make them.
struct MailSignInView {
    bool enabled = false;
    std::string button;  // its label, "&" marking the mnemonic
    std::string tooltip; // why it is disabled, what it does, or why a sign-in would not start
    std::string account; // who is signed in and since when
};
// `values` are the dialog's as they stand (stored or not); `settings` hold what a sign-in left.
MailSignInView mailSignInView(const ConfigValues& values, const base::AppSettings& settings);

// The authority and application the dialog's values name, or why a sign-in cannot start with them.
base::OAuthSetup mailSignInSetup(const ConfigValues& values);

// How a sign-in ended.
struct MailSignInOutcome {
    net::OAuthTokens tokens;
    std::string error; // the authority's reason in the user's words; empty when signed in or cancelled
    bool cancelled = false;
};
// The browser sign-in (authorization code with PKCE, the answer received on 127.0.0.1), run off the window's thread:
// `showAddress` gets the sign-in page's address, then `openBrowser` opens it; `cancel` set to 1 stops the wait.
MailSignInOutcome runMailSignIn(const net::OAuthClient& client,
                                const std::function<bool(const std::string&)>& openBrowser,
                                const std::function<void(const std::string&)>& showAddress,
                                const std::atomic<char>& cancel);

// Keeps what a sign-in gave: the refresh token at once (base::storeSignIn), then when and for which mail user name
// (`userName`) it was given. The window and mail-login both keep a sign-in so.
platform::Result storeMailSignIn(base::AppSettings& settings, const net::OAuthTokens& tokens,
                                 const std::string& userName);
// Keeps a sign-in that succeeded (also one that ended as it was cancelled); the text of the box that reports a
// failure, empty when there is nothing to report.
std::string finishMailSignIn(base::AppSettings& settings, const MailSignInOutcome& outcome,
                             const std::string& userName);

} // namespace tarnwick::app
