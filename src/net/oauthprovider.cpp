#include "net/oauthprovider.h"

#include <arpa/inet.h>
#include <cctype>

namespace tarnwick::net {

namespace {

bool equalNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

std::string withTenant(std::string_view url, std::string_view tenant)
{
    std::string out(url);
    if (const std::size_t at = out.find("{tenant}"); at != std::string::npos)
        out.replace(at, 8, tenant);
    return out;
}

// clang-format off
constexpr OAuthPreset k_presets[] = {
    {"microsoft",
     "https://login.microsoftonline.com/{tenant}/oauth2/v2.0/authorize",
     "https://login.microsoftonline.com/{tenant}/oauth2/v2.0/token",
     "https://login.microsoftonline.com/{tenant}/oauth2/v2.0/devicecode",
     "https://outlook.office.com/SMTP.Send offline_access",
     "localhost",
     "Register Tarnwick in the Microsoft Entra admin center (App registrations > New registration): a public "
     "client with the redirect URI http://localhost (Mobile and desktop applications), \"Allow public client "
     "flows\" on, and the delegated permission SMTP.Send (Microsoft Graph). Enter its Application "
     "(client) ID as OAuthClientId in Configure > Advanced, or with tarnwick-cli config set OAuthClientId ID."},
    {"google",
     "https://accounts.google.com/o/oauth2/v2/auth",
     "https://oauth2.googleapis.com/token",
     "https://oauth2.googleapis.com/device/code",
     "https://mail.google.com/",
     "127.0.0.1",
     "Register Tarnwick in the Google Cloud console (APIs & Services > Credentials > Create credentials > OAuth "
     "client ID, application type Desktop app) with the scope https://mail.google.com/ on the consent screen. "
     "Enter its client ID as OAuthClientId and its client secret as OAuthClientSecret in Configure > Advanced, or "
     "with tarnwick-cli config set."},
};
// clang-format on

bool isLoopbackHost(std::string_view host)
{
    if (host == "[::1]")
        return true;
    in_addr ip{};
    const std::string dotted(host);
    return ::inet_pton(AF_INET, dotted.c_str(), &ip) == 1 && (ntohl(ip.s_addr) >> 24) == 127;
}

} // namespace

std::span<const OAuthPreset> oauthPresets()
{
    return k_presets;
}

const OAuthPreset* findOAuthPreset(std::string_view provider)
{
    for (const OAuthPreset& preset : k_presets) {
        if (equalNoCase(preset.name, provider))
            return &preset;
    }
    return nullptr;
}

OAuthEndpoints presetEndpoints(const OAuthPreset& preset, std::string_view tenant)
{
    if (tenant.empty())
        tenant = "organizations";
    return {withTenant(preset.authorizeUrl, tenant), withTenant(preset.tokenUrl, tenant),
            withTenant(preset.deviceUrl, tenant), std::string(preset.scope)};
}

std::string_view customRegistration()
{
    return "Register Tarnwick with your authority as a public client that may redirect to http://127.0.0.1 on any "
           "port, and enter its client id as OAuthClientId in Configure > Advanced, or with tarnwick-cli config "
           "set OAuthClientId ID.";
}

bool isAllowedAuthorityUrl(std::string_view url)
{
    for (char c : url) {
        if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7f)
            return false;
    }
    const std::size_t scheme = url.find("://");
    if (scheme == std::string_view::npos)
        return false;
    const std::string_view name = url.substr(0, scheme);
    std::string_view rest = url.substr(scheme + 3);
    const std::size_t authorityEnd = rest.find_first_of("/?#");
    if (authorityEnd != std::string_view::npos && rest[authorityEnd] != '/')
        return false; // the HTTP client reads the host up to the first "/": both must see one host
    std::string_view authority = rest.substr(0, authorityEnd);
    if (authority.find('@') != std::string_view::npos)
        return false; // user information would let "https://127.0.0.1@host" pass for loopback
    std::string_view host = authority;
    if (!host.empty() && host.front() == '[') {
        const std::size_t close = host.find(']');
        if (close == std::string_view::npos)
            return false;
        host = host.substr(0, close + 1);
    } else {
        host = host.substr(0, host.find(':'));
    }
    if (host.empty())
        return false;
    if (equalNoCase(name, "https"))
        return true;
    return equalNoCase(name, "http") && isLoopbackHost(host);
}

} // namespace tarnwick::net
