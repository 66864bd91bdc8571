#pragma once

#include "net/oauthprovider.h"
#include "tasks/errors.h"

#include <atomic>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace tarnwick::net {

class FlowLog;

// The members of a JSON object whose values are strings, numbers or literals, each as its text (strings
// unescaped); nested objects and arrays are passed over. None when `text` is not one JSON object.
std::optional<std::map<std::string, std::string, std::less<>>> readJsonObject(std::string_view text);

// Percent-encoding for a form body or a query: every byte but letters, digits and "-._~".
std::string formEncode(std::string_view text);

// An answer of an authority.
struct OAuthReply {
    int status = 0;
    std::map<std::string, std::string, std::less<>> fields;
    std::string field(std::string_view name) const;
};

// A form POSTed to an authority. The flow log shows the address, the grant and the answer's status and error,
// never a token, a code, a verifier or a secret.
struct OAuthPost {
    std::string url;
    std::string body; // form-encoded
    std::string caFile;
    std::string grantLabel; // what the flow log says is asked for ("refresh_token", "device code")
    FlowLog* flowLog = nullptr;
    const std::atomic<char>* cancel = nullptr;
};
// Sends the form and reads the answer's JSON (any status); throws tasks::CAppError when there is no answer or it
// is no JSON object.
OAuthReply postOAuthForm(const OAuthPost& post);

// What the token endpoint gives for a grant.
struct OAuthTokens {
    std::string accessToken;
    std::string refreshToken; // empty when the authority kept the old one
    long expiresIn = 0;       // seconds; 0 when not said
    std::string scope;
};

// The authority refused a grant: `code` is its error ("invalid_grant", "authorization_pending", ...).
class OAuthRefusal : public tasks::CAppError {
public:
    OAuthRefusal(std::string code, const std::string& description);
    const std::string& code() const { return m_code; }

private:
    std::string m_code;
};

// Asks the token endpoint with `grantFields` (form-encoded, without client_id and client_secret, which are added
// from `client`); throws OAuthRefusal for an error answer and tasks::CAppError for anything else that fails.
OAuthTokens requestTokens(const OAuthClient& client, const std::string& grantFields, const std::string& grantLabel,
                          FlowLog* flowLog, const std::atomic<char>* cancel = nullptr);
// The refresh grant.
OAuthTokens refreshTokens(const OAuthClient& client, const std::string& refreshToken, FlowLog* flowLog,
                          const std::atomic<char>* cancel = nullptr);

} // namespace tarnwick::net
