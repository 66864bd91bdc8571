#include "docket/prosecution.h"

#include "core/text.h"

#include <initializer_list>
#include <string>

namespace tarnwick::docket {

namespace {

bool isWordByte(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

bool hasAny(std::string_view upper, std::initializer_list<std::string_view> words, bool negatable = false)
{
    for (std::string_view word : words) {
        if (hasWord(upper, word, negatable))
            return true;
    }
    return false;
}

// The number right after "EXTENSION", or 1.
int extensionNumber(std::string_view upper)
{
    size_t at = core::findBytes(upper, "EXTENSION");
    if (at == std::string_view::npos)
        return 1;
    at += 9;
    while (at < upper.size() && upper[at] == ' ')
        ++at;
    int n = 0;
    while (at < upper.size() && upper[at] >= '0' && upper[at] <= '9' && n < 100)
        n = n * 10 + (upper[at++] - '0');
    return n > 0 ? n : 1;
}

} // namespace

bool hasWord(std::string_view text, std::string_view word, bool negatable)
{
    for (size_t at = core::findBytes(text, word); at != std::string_view::npos;
         at = core::findBytes(text, word, at + 1)) {
        const size_t end = at + word.size();
        if ((at > 0 && isWordByte(text[at - 1])) || (end < text.size() && isWordByte(text[end])))
            continue;
        if (negatable && text.substr(0, at).ends_with("NOT "))
            continue;
        return true;
    }
    return false;
}

RecognizedEvent recognizeEvent(std::string_view text)
{
    using enum ProsecutionEvent;
    const std::string upper = core::toUpperAscii(text);
    if (hasAny(upper, {"DENIED", "REFUSED", "WITHDRAWN", "CANCELLED", "CANCELED"}) &&
        !hasAny(upper, {"ACTION", "REFUSAL"}))
        return {};
    if (hasWord(upper, "EXTENSION")) {
        if (hasAny(upper, {"RESPONSE", "RESPOND"}))
            return {ResponseTimeExtension};
        if (hasAny(upper, {"OPPOSE", "OPPOSITION"}) || !hasAny(upper, {"GRANTED", "FILED", "RECEIVED"}, true))
            return {};
        return {UseExtension, extensionNumber(upper)};
    }
    // the notice of allowance asks for the statement of use it names
    if (hasAny(upper, {"NOTICE OF ALLOWANCE", "NOA"}))
        return {NoticeOfAllowance};
    if (hasAny(upper, {"STATEMENT OF USE", "SOU", "ALLEGATION OF USE"}))
        return {hasAny(upper, {"ACCEPTED", "APPROVED"}, true) ? StatementOfUseAccepted : StatementOfUseFiled};
    if (hasAny(upper, {"RESPONSE", "REQUEST FOR RECONSIDERATION"}) && hasAny(upper, {"RECEIVED", "FILED", "ENTERED"}))
        return {ResponseFiled};
    const bool sent = hasAny(upper, {"ISSUED", "MAILED", "EMAILED", "SENT"});
    const bool action = hasAny(upper, {"ACTION", "REFUSAL"});
    if (hasAny(upper, {"POST REGISTRATION", "POST-REGISTRATION", "POSTREGISTRATION"}) && sent && action)
        return {PostRegistrationAction};
    // a letter suspending the examination asks for nothing; an inquiry does
    if (sent &&
        (hasWord(upper, "SUSPENSION INQUIRY") || (action && !hasAny(upper, {"SUSPENDING", "SUSPENSION", "SUSPENDED"}))))
        return {OfficeAction};
    if (hasWord(upper, "PUBLISHED") && hasAny(upper, {"OPPOSITION", "OPPOSE"}))
        return {Published};
    if (hasWord(upper, "REGISTERED"))
        return {Registered};
    return {};
}

HistoryItem splitHistoryItem(std::string_view lastHistory)
{
    HistoryItem item;
    item.text = lastHistory;
    const core::DayNumber day = core::dayNumberOf(lastHistory);
    if (day == core::k_noDay)
        return item;
    item.day = day == core::k_unknownDay ? 0 : day;
    lastHistory.remove_prefix(10);
    if (lastHistory.starts_with(" - "))
        lastHistory.remove_prefix(3);
    item.text = lastHistory;
    return item;
}

} // namespace tarnwick::docket
