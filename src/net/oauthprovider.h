#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tarnwick::net {

// Where an authority signs a user in and hands out tokens, and the scope that lets a token send mail.
struct OAuthEndpoints {
    std::string authorizeUrl;
    std::string tokenUrl;
    std::string deviceUrl; // empty: the authority offers no device sign-in
    std::string scope;
};

// The application an authority knows Tarnwick by.
struct OAuthClient {
    OAuthEndpoints endpoints;
    std::string clientId;
    std::string clientSecret; // empty for a public client
    std::string caFile;       // certificate authorities for the authority's https (a PEM file); empty: the system's
    // the host the loopback redirect names; the listener is on 127.0.0.1 whatever it is
    std::string redirectHost = "127.0.0.1";
};

// A mail provider whose authority's addresses are known. "{tenant}" in an address stands for the tenant.
struct OAuthPreset {
    std::string_view name; // the OAuthProvider value
    std::string_view authorizeUrl;
    std::string_view tokenUrl;
    std::string_view deviceUrl;
    std::string_view scope;
    std::string_view redirectHost; // the loopback name the registration allows
    // what the administrator registers, and where, so that there is a client id to enter
    std::string_view registration;
};

// The known providers: microsoft and google.
std::span<const OAuthPreset> oauthPresets();
// The preset named `provider` (letter case aside); none for "custom" and any other name.
const OAuthPreset* findOAuthPreset(std::string_view provider);
// The preset's endpoints with `tenant` put in (an empty tenant reads as "organizations").
OAuthEndpoints presetEndpoints(const OAuthPreset& preset, std::string_view tenant);
// What to register and where to enter its id when a custom authority is used.
std::string_view customRegistration();

// Whether an authority's address may be used: https, or http to a loopback address (127.0.0.0/8, [::1]) as the
// tests' authority is. The empty text is not an address.
bool isAllowedAuthorityUrl(std::string_view url);

} // namespace tarnwick::net
