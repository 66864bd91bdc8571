#include "base/oauthsignin.h"

#include "base/settings.h"
#include "core/text.h"

#include <algorithm>
#include <chrono>
#include <mutex>

namespace tarnwick::base {

namespace {

using Clock = std::chrono::steady_clock;
// a token this close to its end is not sent: the dialogue would outlive it
constexpr auto k_margin = std::chrono::seconds(60);

// The access token of this process: never written anywhere.
struct HeldToken {
    std::mutex mutex;
    std::string refreshToken; // the refresh token it came with: another sign-in makes it stale
    std::string tokenUrl;
    std::string accessToken;
    Clock::time_point expires;
};

HeldToken& held()
{
    static HeldToken token;
    return token;
}

void holdAccessToken(const std::string& refreshToken, const std::string& tokenUrl, const net::OAuthTokens& tokens)
{
    HeldToken& h = held();
    std::lock_guard lock(h.mutex);
    h.refreshToken = refreshToken;
    h.tokenUrl = tokenUrl;
    h.accessToken = tokens.accessToken;
    // an authority that does not say how long the token lives: an hour, the usual lifetime; one that names a
    // lifetime past any clock's range: a day, which renews it long before it ends
    constexpr long k_day = 24 * 3600;
    h.expires = Clock::now() + std::chrono::seconds(tokens.expiresIn > 0 ? std::min(tokens.expiresIn, k_day) : 3600);
}

} // namespace

OAuthSetup oauthSetup(const AppSettings& settings)
{
    return oauthSetup([&settings](const TextSetting& key) {
        return key.name == setting::OAuthClientSecret.name ? settings.plainSecret(key) : settings.value(key);
    });
}

OAuthSetup oauthSetup(const std::function<std::string(const TextSetting&)>& value)
{
    OAuthSetup setup;
    net::OAuthClient& client = setup.client;
    const std::string provider = value(setting::OAuthProvider);
    const net::OAuthPreset* preset = net::findOAuthPreset(provider.empty() ? "microsoft" : provider);
    if (preset) {
        client.endpoints = net::presetEndpoints(*preset, value(setting::OAuthTenant));
        client.redirectHost = std::string(preset->redirectHost);
    } else if (core::equalNoCase(provider, "custom")) {
        client.endpoints = {value(setting::OAuthAuthorizeUrl), value(setting::OAuthTokenUrl),
                            value(setting::OAuthDeviceUrl), value(setting::OAuthScope)};
    } else {
        setup.error = "OAuthProvider is microsoft, google or custom, not '" + provider + "'";
        return setup;
    }
    client.clientId = value(setting::OAuthClientId);
    client.clientSecret = value(setting::OAuthClientSecret);
    client.caFile = value(setting::CaFile);
    if (client.clientId.empty()) {
        setup.error =
            "OAuthClientId is empty. " + std::string(preset ? preset->registration : net::customRegistration());
        return setup;
    }
    if (!preset) {
        for (const auto& [name, url] : {std::pair{setting::OAuthAuthorizeUrl.name, client.endpoints.authorizeUrl},
                                        std::pair{setting::OAuthTokenUrl.name, client.endpoints.tokenUrl}}) {
            if (url.empty()) {
                setup.error = std::string(name) + " is empty: OAuthProvider custom needs the authority's addresses.";
                return setup;
            }
        }
    }
    for (const std::string* url :
         {&client.endpoints.authorizeUrl, &client.endpoints.tokenUrl, &client.endpoints.deviceUrl}) {
        if (!url->empty() && !net::isAllowedAuthorityUrl(*url)) {
            setup.error = "The sign-in address '" + *url + "' is not https (http only to 127.0.0.1 or [::1]).";
            return setup;
        }
    }
    return setup;
}

std::string signInFailureText(const tasks::CAppError& error)
{
    if (const auto* refusal = dynamic_cast<const net::OAuthRefusal*>(&error)) {
        if (refusal->code() == "expired_token")
            return "The sign-in code expired before it was entered; sign in again.";
        if (refusal->code() == "access_denied")
            return "The sign-in was refused at the authority.";
        if (refusal->code() == "invalid_client" || refusal->code() == "unauthorized_client")
            return "The authority does not know the application OAuthClientId names (" + refusal->message() +
                   "); check OAuthClientId and OAuthClientSecret.";
    }
    return "The sign-in failed: " + error.message();
}

platform::Result storeSignIn(AppSettings& settings, const net::OAuthTokens& tokens)
{
    if (tokens.refreshToken.empty())
        return platform::Result::failure("The authority gave no refresh token, so Tarnwick cannot stay signed in; "
                                         "the scope needs offline access.");
    settings.setPlainSecret(setting::OAuthRefreshToken, tokens.refreshToken);
    holdAccessToken(tokens.refreshToken, oauthSetup(settings).client.endpoints.tokenUrl, tokens);
    return settings.write(setting::OAuthRefreshToken);
}

Renewal renewTokens(const net::OAuthClient& client, const std::string& refreshToken, net::FlowLog* flowLog,
                    const std::atomic<char>* cancel)
{
    Renewal out;
    try {
        out.tokens = net::refreshTokens(client, refreshToken, flowLog, cancel);
    } catch (const net::OAuthRefusal& refusal) {
        out.expired = refusal.code() == "invalid_grant";
        out.error = out.expired ? std::string(k_signInExpired) : signInFailureText(refusal);
    } catch (const tasks::CAppError& e) {
        out.error = e.message();
    } catch (const std::exception& e) {
        out.error = e.what();
    }
    return out;
}

AccessToken mailAccessToken(AppSettings& settings, net::FlowLog* flowLog, bool force, const RenewalRunner& runner)
{
    const OAuthSetup setup = oauthSetup(settings);
    if (!setup.error.empty())
        return {{}, setup.error};
    // tarnwick-cli mail-login may have signed in again while this program ran
    settings.reread(setting::OAuthRefreshToken);
    const std::string refreshToken = settings.plainSecret(setting::OAuthRefreshToken);
    if (refreshToken.empty())
        return {{}, k_notSignedIn};
    if (!force) {
        HeldToken& h = held();
        std::lock_guard lock(h.mutex);
        if (!h.accessToken.empty() && h.refreshToken == refreshToken && h.tokenUrl == setup.client.endpoints.tokenUrl &&
            Clock::now() + k_margin < h.expires)
            return {h.accessToken, {}};
    }
    // the exchange owns its copies: a worker cut loose by a time-out may outlive this call
    RenewalExchange exchange = [client = setup.client, refreshToken, flowLog](const std::atomic<char>* cancel) {
        return renewTokens(client, refreshToken, flowLog, cancel);
    };
    const Renewal renewal = runner ? runner(exchange) : exchange(nullptr);
    if (!renewal.error.empty()) {
        if (renewal.expired)
            forgetMailAccessToken();
        return {{}, renewal.error};
    }
    const net::OAuthTokens& tokens = renewal.tokens;
    std::string kept = refreshToken;
    if (!tokens.refreshToken.empty() && tokens.refreshToken != refreshToken) {
        // the authority replaced the refresh token: the old one may stop working at any time
        settings.setPlainSecret(setting::OAuthRefreshToken, tokens.refreshToken);
        if (const platform::Result written = settings.write(setting::OAuthRefreshToken); !written)
            return {{}, written.error()};
        kept = tokens.refreshToken;
    }
    holdAccessToken(kept, setup.client.endpoints.tokenUrl, tokens);
    return {tokens.accessToken, {}};
}

void forgetMailAccessToken()
{
    HeldToken& h = held();
    std::lock_guard lock(h.mutex);
    h.accessToken.clear();
    h.refreshToken.clear();
}

} // namespace tarnwick::base
