#pragma once

#include "net/oauthtoken.h"

#include <atomic>
#include <functional>
#include <string>
#include <string_view>

namespace tarnwick::net {

class FlowLog;

// The proof key of one sign-in: a random verifier and its S256 challenge.
struct PkcePair {
    std::string verifier;
    std::string challenge;
};
PkcePair makePkcePair();
// The S256 challenge of a verifier: base64url of its SHA-256, without padding.
std::string pkceChallenge(std::string_view verifier);
// `bytes` random bytes as base64url without padding.
std::string randomToken(std::size_t bytes);

// How a sign-in talks to the person and waits.
struct SignInHooks {
    // Shows the authority's sign-in page: opens the browser, or prints the address. Returns false when nothing
    // could be opened (the address is then printed by the flow).
    std::function<bool(const std::string& url)> openBrowser;
    // A line for the person ("Open ... and enter the code ...").
    std::function<void(const std::string& line)> tell;
    // Waits `seconds` (the device flow's polling); returns false when the sign-in is to stop.
    std::function<bool(int seconds)> wait;
    // Whether the person asked to stop (Ctrl-C); checked between the waits' 50 ms steps.
    std::function<bool()> stopRequested;
    FlowLog* flowLog = nullptr;
    const std::atomic<char>* cancel = nullptr;
    // how long the browser sign-in waits for the authority's redirect
    int browserTimeoutSeconds = 300;
};

// Opens `url` with xdg-open; false when there is no display or it cannot be started.
bool openWithXdgOpen(const std::string& url);

// The authorization code flow with PKCE: a one-shot listener on 127.0.0.1 at a random port receives the
// redirect, whose state must be the one sent. Throws OAuthRefusal or tasks::CAppError.
OAuthTokens signInWithBrowser(const OAuthClient& client, const SignInHooks& hooks);
// The device authorization flow: the person is told where to enter which code, and the token endpoint is polled
// at the interval the authority gives (5 s longer after each slow_down) until the sign-in is approved, refused or
// expired. Throws OAuthRefusal or tasks::CAppError.
OAuthTokens signInWithDevice(const OAuthClient& client, const SignInHooks& hooks);

} // namespace tarnwick::net
