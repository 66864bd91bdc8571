#include "net/sendmail.h"

#include "net/base64.h"
#include "net/flowlog.h"
#include "net/mimetext.h"
#include "net/socketconnection.h"
#include "platform/clock.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <random>
#include <utility>
#include <variant>

namespace tarnwick::net {

namespace {

constexpr const char* k_weekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* k_months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

long long floorDiv(long long a, long long b)
{
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0);
}

// The "Date: " line for local time `localSeconds` (seconds since 1970 in local
// time) at `offsetSeconds` east of UTC.
std::string dateLine(long long localSeconds, int offsetSeconds)
{
    const long long days = floorDiv(localSeconds, 86400);
    const long long secs = localSeconds - days * 86400;
    // civil date from a day count (1970-01-01 is day 0)
    const long long z = days + 719468;
    const long long era = floorDiv(z, 146097);
    const long long doe = z - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    const long long day = doy - (153 * mp + 2) / 5 + 1;
    const long long month = mp < 10 ? mp + 3 : mp - 9;
    const long long year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    const long long weekday = ((days % 7) + 7 + 4) % 7; // 1970-01-01 was a Thursday

    const int offsetMinutes = offsetSeconds / 60;
    const int absMinutes = std::abs(offsetMinutes);
    char line[96];
    std::snprintf(line, sizeof line, "Date: %s, %.2d %s %.4d %.2d:%.2d:%.2d %c%02d%02d\r\n", k_weekdays[weekday],
                  static_cast<int>(day), k_months[month - 1], static_cast<int>(year), static_cast<int>(secs / 3600),
                  static_cast<int>(secs / 60 % 60), static_cast<int>(secs % 60), offsetMinutes < 0 ? '-' : '+',
                  absMinutes / 60, absMinutes % 60);
    return line;
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

} // namespace

std::string mailHeaderBlock(const MailRequest& request, const platform::Clock& clock)
{
    const int offset = clock.utcOffsetSeconds();
    const long long local = floorDiv(clock.utcMillis(), 1000) + offset;
    std::string block = dateLine(local, offset);
    block += "From: " + request.sender + "\r\n";
    if (!request.replyTo.empty())
        block += "Reply-to: " + request.replyTo + "\r\n";
    block += "To: " + request.to + "\r\n";
    if (!request.cc.empty())
        block += "Cc: " + request.cc + "\r\n";
    block += "X-Mailer: " + request.mailer + "\r\n";
    return block;
}

std::string dotStuff(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + text.size() / 64 + 8);
    std::size_t pos = 0;
    while (pos < text.size()) {
        if (text[pos] == '.')
            out += '.';
        std::size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string_view::npos) {
            out.append(text, pos, std::string_view::npos);
            break;
        }
        out.append(text, pos, end - pos);
        out += "\r\n";
        pos = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    }
    return out;
}

namespace {

// The first "," or "(" at or after `from` that is not inside a double-quoted display name.
std::size_t findAddressEnd(std::string_view text, std::size_t from)
{
    bool quoted = false;
    for (std::size_t i = from; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted && c == '\\')
            ++i;
        else if (c == '"')
            quoted = !quoted;
        else if (!quoted && (c == ',' || c == '('))
            return i;
    }
    return std::string_view::npos;
}

bool hasControl(std::string_view text)
{
    for (char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if ((u < 0x20 && c != '\t') || u == 0x7f)
            return true;
    }
    return false;
}

} // namespace

std::string envelopeAddress(std::string_view text)
{
    std::size_t end = findAddressEnd(text, 0);
    if (end == std::string_view::npos)
        end = text.size();
    while (end > 0 && isBlank(text[end - 1]))
        --end;
    std::string_view address = text.substr(0, end);
    // "Name <addr@host>": the envelope names only what is between the angle brackets
    if (const std::size_t open = address.find('<'); open != std::string_view::npos) {
        address.remove_prefix(open + 1);
        address = address.substr(0, address.find('>'));
    }
    std::string out;
    out.reserve(address.size() + 2);
    out += '<';
    out.append(address);
    out += '>';
    return out;
}

std::vector<std::string> envelopeAddresses(std::string_view list)
{
    std::vector<std::string> out;
    if (list.empty())
        return out;
    std::size_t pos = 0;
    for (;;) {
        out.push_back(envelopeAddress(list.substr(pos)));
        std::size_t next = findAddressEnd(list, pos);
        if (next == std::string_view::npos)
            break;
        if (list[next] == '(') {
            const std::size_t close = list.find(')', next);
            if (close == std::string_view::npos)
                break;
            next = findAddressEnd(list, close);
            while (next != std::string_view::npos && list[next] != ',')
                next = findAddressEnd(list, next + 1);
            if (next == std::string_view::npos)
                break;
        }
        pos = next + 1;
        while (pos < list.size() && isBlank(list[pos]))
            ++pos;
        if (pos >= list.size())
            break;
    }
    return out;
}

namespace {

// Calls `visit(keyword, parameters)` for each extension line of an EHLO reply: every line after the first
// (which names the server) is the code, "-" or a blank, and one keyword with its parameters after a blank
// (or, in an old form of AUTH, after "=").
template <class Visit> void forEachExtension(std::string_view ehloReply, Visit visit)
{
    bool first = true;
    for (std::size_t at = 0; at < ehloReply.size();) {
        std::size_t end = ehloReply.find('\n', at);
        if (end == std::string_view::npos)
            end = ehloReply.size();
        std::string_view line = ehloReply.substr(at, end - at);
        at = end + 1;
        if (std::exchange(first, false))
            continue;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.size() < 4)
            continue;
        line.remove_prefix(4);
        const std::size_t split = line.find_first_of(" =");
        visit(line.substr(0, split), split == std::string_view::npos ? std::string_view() : line.substr(split + 1));
    }
}

bool sameKeyword(std::string_view text, std::string_view upper)
{
    return text.size() == upper.size() && std::equal(text.begin(), text.end(), upper.begin(), [](char a, char b) {
               return std::toupper(static_cast<unsigned char>(a)) == b;
           });
}

// A SASL mechanism name: 1 to 20 of A-Z, 0-9, "-" and "_" (upper-cased here).
std::optional<std::string> mechanismName(std::string_view text)
{
    if (text.empty() || text.size() > 20)
        return std::nullopt;
    std::string name;
    for (char c : text) {
        const char u = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (!((u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '-' || u == '_'))
            return std::nullopt;
        name += u;
    }
    return name;
}

} // namespace

bool offersStartTls(std::string_view ehloReply)
{
    bool offered = false;
    forEachExtension(ehloReply, [&offered](std::string_view keyword, std::string_view) {
        offered = offered || sameKeyword(keyword, "STARTTLS");
    });
    return offered;
}

std::vector<std::string> authMechanisms(std::string_view ehloReply)
{
    std::vector<std::string> names;
    forEachExtension(ehloReply, [&names](std::string_view keyword, std::string_view parameters) {
        if (!sameKeyword(keyword, "AUTH"))
            return;
        for (std::size_t at = 0; at < parameters.size();) {
            std::size_t end = parameters.find_first_of(" \t", at);
            if (end == std::string_view::npos)
                end = parameters.size();
            const std::optional<std::string> name = mechanismName(parameters.substr(at, end - at));
            if (name && std::find(names.begin(), names.end(), *name) == names.end())
                names.push_back(*name);
            at = end + 1;
        }
    });
    return names;
}

namespace {

// What a server that offers neither `first` nor `second` is told with: the mechanisms it does offer.
constexpr const char* k_noAccountForToken =
    "SMTP: The sign-in needs the mail account it is for; enter it as the user name (Configure, or tarnwick-cli "
    "config set UserName ADDRESS).";
constexpr const char* k_controlInAccount = "SMTP: The user name contains a control character; correct it in Configure.";

std::string noMechanismMessage(const char* first, const char* second, const std::vector<std::string>& offered)
{
    if (offered.empty())
        return "SMTP: The server offers no login.";
    std::string text =
        std::string("SMTP: The server offers neither AUTH ") + first + " nor AUTH " + second + "; it offers ";
    for (std::size_t i = 0; i < offered.size() && i < 12; ++i)
        text += (i > 0 ? ", " : "") + offered[i];
    return text + (offered.size() > 12 ? " and more." : ".");
}

// The first line of a server's reply, fit for a message: control bytes become blanks, long text is cut.
std::string replyForMessage(std::string_view reply)
{
    std::string line(reply.substr(0, std::min<std::size_t>(reply.find_first_of("\r\n"), 200)));
    for (char& c : line) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = ' ';
    }
    return line;
}

// Signs in with the password: AUTH PLAIN when the server offers it, else AUTH LOGIN.
void passwordLogin(SocketConnection& connection, const MailRequest& request, const std::vector<std::string>& offered,
                   const auto& step)
{
    const auto has = [&offered](std::string_view name) {
        return std::find(offered.begin(), offered.end(), name) != offered.end();
    };
    if (has("PLAIN")) {
        // no authorization identity: the server acts for the login itself
        step("AUTH PLAIN " + base64Encode(std::string(1, '\0') + request.userName + '\0' + request.password) + "\r\n",
             235, msg::k_protocol, "AUTH PLAIN ***password***");
    } else if (has("LOGIN")) {
        step("AUTH LOGIN\r\n", 334, msg::k_protocol);
        step(base64Encode(request.userName) + "\r\n", 334, msg::k_protocol);
        step(base64Encode(request.password) + "\r\n", 235, msg::k_protocol, "***password***");
    } else {
        connection.raise(noMechanismMessage("PLAIN", "LOGIN", offered));
    }
}

// Signs in with the access token: AUTH XOAUTH2 when the server offers it, else AUTH OAUTHBEARER. A server
// that refuses the token first sends an error as a 334 challenge, which the client acknowledges before the
// final reply comes.
void tokenLogin(SocketConnection& connection, const MailRequest& request, const std::vector<std::string>& offered)
{
    // the token is the account's: the server must be told which account, and a control byte in the name would
    // end its field and let the name write the rest of the response
    if (request.userName.empty())
        connection.raise(k_noAccountForToken);
    if (std::any_of(request.userName.begin(), request.userName.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }))
        connection.raise(k_controlInAccount);
    const std::string bearer = "auth=Bearer " + request.accessToken + "\x01\x01";
    std::string mechanism;
    std::string response;
    std::string acknowledgement;
    if (std::find(offered.begin(), offered.end(), "XOAUTH2") != offered.end()) {
        mechanism = "XOAUTH2";
        response = "user=" + request.userName + "\x01" + bearer;
        acknowledgement = ""; // an empty response
    } else if (std::find(offered.begin(), offered.end(), "OAUTHBEARER") != offered.end()) {
        mechanism = "OAUTHBEARER";
        // the GS2 header: no channel binding, and the account as authorization identity, where "," and "="
        // would end the field early
        std::string account;
        for (char c : request.userName)
            account += c == ',' ? "=2C" : c == '=' ? "=3D" : std::string(1, c);
        response = (account.empty() ? std::string("n,,") : "n,a=" + account + ",") + "\x01" + bearer;
        acknowledgement = base64Encode("\x01");
    } else {
        connection.raise(noMechanismMessage("XOAUTH2", "OAUTHBEARER", offered));
    }
    connection.send("AUTH " + mechanism + " " + base64Encode(response) + "\r\n", "AUTH " + mechanism + " ***token***");
    if (connection.expectReply(235))
        return;
    // 535 is the server's word for refused credentials; after the error challenge any failure is the token's
    bool refused = replyHasCode(connection.lastReply(), 535);
    if (replyHasCode(connection.lastReply(), 334)) {
        connection.send(acknowledgement + "\r\n");
        if (connection.expectReply(235))
            return;
        refused = !connection.lastReply().empty() &&
                  (connection.lastReply().front() == '4' || connection.lastReply().front() == '5');
    }
    if (!refused)
        connection.raise(msg::k_protocol);
    const std::string message =
        "SMTP: The server refused the sign-in token. (" + replyForMessage(connection.lastReply()) + ")";
    connection.log(FlowLog::k_status, message);
    throw TokenRejected(message);
}

} // namespace

void SendMail(MailRequest& request)
{
    const platform::Clock& clock = platform::clock();
    std::random_device random;
    const std::uint64_t unique = (static_cast<std::uint64_t>(random()) << 32) ^ random();
    std::string data = dotStuff(composeMessage(mailHeaderBlock(request, clock), request.message,
                                               messageId(clock.utcMillis(), unique, addressDomain(request.sender))));
    // the data ends in CR LF, which is the first half of the terminator
    data += data.ends_with("\r\n") ? ".\r\n" : "\r\n.\r\n";

    SocketConnection connection(request.cancel, request.flowLog, request.label);
    tasks::SlotRegistration registration(request.slot, connection);
    const int defaultPort = request.security == MailSecurity::Implicit   ? 465
                            : request.security == MailSecurity::StartTls ? 587
                                                                         : 25;
    connection.connect(request.server, defaultPort);
    const std::string localHost = connection.localHostName();
    const std::string serverName = request.server.substr(0, request.server.find(':'));
    if (request.security == MailSecurity::Implicit)
        connection.startTls(serverName, request.caFile);

    auto step = [&connection](std::string_view text, int code, const char* failure,
                              std::optional<std::string_view> display = std::nullopt) {
        connection.send(text, display);
        if (!connection.expectReply(code))
            connection.raise(failure);
    };

    // the EHLO reply the dialogue goes on with; empty while there is none
    std::string extensions;
    const auto ehlo = [&] {
        step("EHLO " + localHost + "\r\n", 250, msg::k_protocol);
        extensions = connection.lastReply();
    };
    const bool login = !request.userName.empty() || request.oauth2;

    if (!connection.expectReply(220))
        connection.raise(msg::k_protocol);
    if (request.security == MailSecurity::StartTls) {
        // nothing but the greeting travels in clear; the dialogue starts over once secured, and what the
        // server offered before counts no more
        step("EHLO " + localHost + "\r\n", 250, msg::k_protocol);
        step("STARTTLS\r\n", 220, msg::k_protocol);
        connection.startTls(serverName, request.caFile);
        ehlo();
    } else if (request.security == MailSecurity::StartTlsWhenOffered) {
        // an EHLO first to learn whether the server offers STARTTLS; a server that knows no EHLO or offers
        // none gets the plain dialogue
        connection.send("EHLO " + localHost + "\r\n");
        if (connection.expectReply(250) && offersStartTls(connection.lastReply())) {
            step("STARTTLS\r\n", 220, msg::k_protocol);
            connection.startTls(serverName, request.caFile);
            ehlo();
        } else if (login) {
            // a man in the middle can strike STARTTLS from the reply: the secret never goes out unprotected
            connection.raise(request.oauth2 ? msg::k_noStartTlsToken : msg::k_noStartTls);
        } else if (request.sentInClear) {
            request.sentInClear->store(true);
        }
    }
    if (login) {
        if (extensions.empty())
            ehlo();
        const std::vector<std::string> offered = authMechanisms(extensions);
        if (offered.empty() && !connection.secured() && offersStartTls(extensions))
            connection.raise(msg::k_loginOnlyAfterStartTls);
        if (request.oauth2)
            tokenLogin(connection, request, offered);
        else
            passwordLogin(connection, request, offered, step);
    } else if (extensions.empty()) {
        step("HELO " + localHost + "\r\n", 250, msg::k_protocol);
    }
    // a line end in an address would write commands or header lines of its own
    if (hasControl(request.sender) || hasControl(request.replyTo))
        connection.raise(msg::k_badSender);
    step("MAIL From: " + envelopeAddress(request.sender) + "\r\n", 250, msg::k_badSender);
    if (hasControl(request.to) || hasControl(request.cc))
        connection.raise(msg::k_badRecipient);
    for (const std::string* list : {&request.to, &request.cc}) {
        for (const std::string& address : envelopeAddresses(*list))
            step("RCPT To: " + address + "\r\n", 250, msg::k_badRecipient);
    }
    step("DATA\r\n", 354, msg::k_protocol);
    if (request.html)
        connection.raise(msg::k_noHtml);
    if (!request.attachments.empty())
        connection.raise(msg::k_noAttachments);

    step(data, 250, msg::k_protocol);
    connection.send("QUIT\r\n");
}

void runSendMailTask(tasks::TaskHost& host, const MailRequest& request, const int& timeoutMs)
{
    // the task carries a job's failure as its message only; a refused token keeps its own type
    auto refused = std::make_shared<std::atomic<bool>>(false);
    tasks::WorkerTask<MailRequest, std::monostate> task(host, [refused](MailRequest& r) {
        try {
            SendMail(r);
        } catch (const TokenRejected&) {
            refused->store(true);
            throw;
        }
        return std::monostate{};
    });
    try {
        task.run(std::vector<MailRequest>{request}, timeoutMs);
    } catch (const tasks::CAsyncError& e) {
        if (refused->load())
            throw TokenRejected(e.message());
        throw;
    }
}

} // namespace tarnwick::net
