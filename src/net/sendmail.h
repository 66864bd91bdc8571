#pragma once

#include "tasks/errors.h"
#include "tasks/taskhost.h"
#include "tasks/workertask.h"

#include <atomic>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::platform {
class Clock;
}

namespace tarnwick::net {

class FlowLog;

namespace msg {
inline constexpr const char* k_noStartTlsToken =
    "The SMTP server does not offer STARTTLS, so the sign-in token was not "
    "sent. Set SmtpSecurity to none to send it in clear.";
inline constexpr const char* k_loginOnlyAfterStartTls =
    "SMTP: The server offers a login only after STARTTLS. Set SmtpSecurity to starttls.";
} // namespace msg

// The mail server refused the access token: the caller may refresh it once and send again.
using TokenRejected = tasks::CTokenRejectedError;

// How the dialogue with the mail server is secured.
enum class MailSecurity {
    None,     // plain TCP, port 25 by default
    StartTls, // plain greeting, then STARTTLS before anything else; port 587 by default
    Implicit, // TLS from the first byte; port 465 by default
    // STARTTLS before anything else when the server's EHLO reply offers it; a server that offers none gets
    // the plain dialogue only when there is no password to send. Port 25 by default
    StartTlsWhenOffered,
};

// One e-mail to send. The task's job works on its own copy; a copy gets a new,
// empty slot.
struct MailRequest {
    tasks::CancelByte cancel;
    std::string server; // host or dotted address, optionally ":" port
    MailSecurity security = MailSecurity::None;
    std::string caFile;   // certificate authorities for TLS (a PEM file); empty: the system's store
    std::string userName; // the login, and with oauth2 the account the token was issued for
    std::string password;
    // signs in with an OAuth access token (AUTH XOAUTH2 or OAUTHBEARER) instead of the password
    bool oauth2 = false;
    std::string accessToken;
    // StartTlsWhenOffered: set when the server offered no STARTTLS and the message went in clear
    std::shared_ptr<std::atomic<bool>> sentInClear;
    std::string sender;
    std::string replyTo;
    std::string to;
    std::string cc;
    std::string mailer = "Tarnwick";
    std::string message; // remaining header lines, an empty line and the body
    bool html = false;
    std::string attachments;
    FlowLog* flowLog = nullptr;
    std::string label = "SendMail: ";
    tasks::ConnectionSlot slot;

    MailRequest() = default;
    MailRequest(FlowLog* log, std::string labelText) : flowLog(log), label(std::move(labelText)) {}
};

// The Date, From, Reply-to, To, Cc and X-Mailer lines, dated by `clock`.
std::string mailHeaderBlock(const MailRequest& request, const platform::Clock& clock);
// Every line end (CR LF, a lone CR, a lone LF) becomes CR LF and every line
// that begins with "." gets one more, so no text can end the data early.
std::string dotStuff(std::string_view text);
// The addresses of a list as the envelope names them: comments dropped, each
// in angle brackets. "," and "(" inside a quoted display name do not count.
std::vector<std::string> envelopeAddresses(std::string_view list);
// One address as the envelope names it: cut at the first "," or "("; of
// "Name <addr@host>" only what is between the angle brackets.
std::string envelopeAddress(std::string_view text);

// Whether an EHLO reply names the STARTTLS extension.
bool offersStartTls(std::string_view ehloReply);

// Sends one e-mail in one SMTP dialogue; throws tasks::CAppError.
void SendMail(MailRequest& request);

// Sends one e-mail as the single job of a worker task; throws the CAppError
// family (the job's failure as CAsyncError).
void runSendMailTask(tasks::TaskHost& host, const MailRequest& request, const int& timeoutMs);

} // namespace tarnwick::net
