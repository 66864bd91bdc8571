#pragma once

#include "base/settingkeys.h"
#include "net/oauthflow.h"
#include "platform/result.h"

#include <atomic>
#include <functional>
#include <string>

namespace tarnwick::net {
class FlowLog;
}

namespace tarnwick::base {

class AppSettings;

// What the user reads when the stored sign-in is refused (revoked, expired) and when there is none.
inline constexpr const char* k_signInExpired =
    "The sign-in for the mail server has expired; sign in again (Configure, or tarnwick-cli mail-login).";
inline constexpr const char* k_notSignedIn =
    "Tarnwick is not signed in to the mail server; sign in (Configure, or tarnwick-cli mail-login).";

// The authority and application the settings name, or why they cannot be used (empty error: usable).
struct OAuthSetup {
    net::OAuthClient client;
    std::string error;
};
OAuthSetup oauthSetup(const AppSettings& settings);
// The same from values not stored yet (a dialog's): `value` gives each setting's plain text, secrets unscrambled.
OAuthSetup oauthSetup(const std::function<std::string(const TextSetting&)>& value);

// The words for a sign-in that failed with `error`.
std::string signInFailureText(const tasks::CAppError& error);

// Keeps what a sign-in gave: the refresh token in the settings (written at once), the access token in memory.
platform::Result storeSignIn(AppSettings& settings, const net::OAuthTokens& tokens);

// An access token for the mail server, or the error text.
struct AccessToken {
    std::string token;
    std::string error;
};

// What the authority's part of a renewal came to: the tokens, or the text for the user (k_signInExpired when the
// authority refused the refresh token).
struct Renewal {
    net::OAuthTokens tokens;
    std::string error;
    bool expired = false;
};
// The authority's part of a renewal, a network exchange that may take its time: safe on any thread, throws
// nothing.
Renewal renewTokens(const net::OAuthClient& client, const std::string& refreshToken, net::FlowLog* flowLog,
                    const std::atomic<char>* cancel);
// Runs an exchange where it suits the caller: the queue runs it on a worker thread, so that the window keeps
// drawing and its Cancel reaches the exchange. Without one it runs on the calling thread.
using RenewalExchange = std::function<Renewal(const std::atomic<char>* cancel)>;
using RenewalRunner = std::function<Renewal(const RenewalExchange& exchange)>;

// The access token held in memory while it has more than a minute to live; otherwise, or when `force`, a new one
// from the stored refresh token (a new refresh token it brings is stored at once). The refresh token is read
// again from the settings file first, so that a sign-in made meanwhile by another program counts. A refused
// refresh gives k_signInExpired. The settings are read and written on the calling thread only.
AccessToken mailAccessToken(AppSettings& settings, net::FlowLog* flowLog, bool force, const RenewalRunner& runner = {});
// Forgets the access token held in memory.
void forgetMailAccessToken();

} // namespace tarnwick::base
