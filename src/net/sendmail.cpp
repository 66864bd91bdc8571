#include "net/sendmail.h"

#include "net/base64.h"
#include "net/flowlog.h"
#include "net/socketconnection.h"
#include "platform/clock.h"

#include <cstdio>
#include <cstdlib>
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
    std::size_t from = 0;
    for (std::size_t p = text.find('\n'); p != std::string_view::npos; p = text.find('\n', p + 1)) {
        if (p >= 2 && text[p - 1] == '\r' && text[p - 2] != '\r' && p + 1 < text.size() && text[p + 1] == '.') {
            out.append(text, from, p + 1 - from);
            out += '.';
            from = p + 1;
        }
    }
    out.append(text, from, std::string_view::npos);
    return out;
}

std::string envelopeAddress(std::string_view text)
{
    std::size_t end = text.find_first_of(",(");
    if (end == std::string_view::npos)
        end = text.size();
    while (end > 0 && isBlank(text[end - 1]))
        --end;
    const std::string_view address = text.substr(0, end);
    if (address.find('<') != std::string_view::npos)
        return std::string(address);
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
        std::size_t next = list.find_first_of(",(", pos);
        if (next == std::string_view::npos)
            break;
        if (list[next] == '(') {
            const std::size_t close = list.find(')', next);
            if (close == std::string_view::npos)
                break;
            next = list.find(',', close);
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

void SendMail(MailRequest& request)
{
    const std::string header = mailHeaderBlock(request, platform::clock());

    SocketConnection connection(request.cancel, request.flowLog, request.label);
    tasks::SlotRegistration registration(request.slot, connection);
    connection.connect(request.server, 25);
    const std::string localHost = connection.localHostName();

    auto step = [&connection](std::string_view text, int code, const char* failure,
                              std::optional<std::string_view> display = std::nullopt) {
        connection.send(text, display);
        if (!connection.expectReply(code))
            connection.raise(failure);
    };

    if (!connection.expectReply(220))
        connection.raise(msg::k_protocol);
    if (!request.userName.empty()) {
        step("EHLO " + localHost + "\r\n", 250, msg::k_protocol);
        step("AUTH LOGIN\r\n", 334, msg::k_protocol);
        step(base64Encode(request.userName) + "\r\n", 334, msg::k_protocol);
        step(base64Encode(request.password) + "\r\n", 235, msg::k_protocol, "***password***");
    } else {
        step("HELO " + localHost + "\r\n", 250, msg::k_protocol);
    }
    step("MAIL From: " + envelopeAddress(request.sender) + "\r\n", 250, msg::k_badSender);
    for (const std::string* list : {&request.to, &request.cc}) {
        for (const std::string& address : envelopeAddresses(*list))
            step("RCPT To: " + address + "\r\n", 250, msg::k_badRecipient);
    }
    step("DATA\r\n", 354, msg::k_protocol);
    if (request.html)
        connection.raise(msg::k_noHtml);
    if (!request.attachments.empty())
        connection.raise(msg::k_noAttachments);

    std::string data = dotStuff(header + request.message);
    data += "\r\n.\r\n";
    step(data, 250, msg::k_protocol);
    connection.send("QUIT\r\n");
}

void runSendMailTask(tasks::TaskHost& host, const MailRequest& request, const int& timeoutMs)
{
    tasks::WorkerTask<MailRequest, std::monostate> task(host, [](MailRequest& r) {
        SendMail(r);
        return std::monostate{};
    });
    task.run(std::vector<MailRequest>{request}, timeoutMs);
}

} // namespace tarnwick::net
