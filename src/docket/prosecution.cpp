#include "docket/prosecution.h"

#include "core/text.h"

#include <algorithm>
#include <bitset>
#include <initializer_list>
#include <string>

namespace tarnwick::docket {

namespace {

bool isWordByte(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

// An upper-case text and the bytes its words start with. The recognition asks some forty words of each status and
// history text, and a word that starts with a letter or digit stands only where a word of the text starts with it:
// most are ruled out without a search.
class Words {
public:
    explicit Words(std::string_view upper) : m_text(upper)
    {
        for (size_t i = 0; i < upper.size(); ++i) {
            if (isWordByte(upper[i]) && (i == 0 || !isWordByte(upper[i - 1])))
                m_starts.set(static_cast<unsigned char>(upper[i]));
        }
    }

    bool has(std::string_view word, bool negatable = false) const
    {
        if (!word.empty() && isWordByte(word.front()) && !m_starts.test(static_cast<unsigned char>(word.front())))
            return false;
        return hasWord(m_text, word, negatable);
    }

    bool hasAny(std::initializer_list<std::string_view> words, bool negatable = false) const
    {
        return std::any_of(words.begin(), words.end(), [&](std::string_view word) { return has(word, negatable); });
    }

private:
    std::string_view m_text;
    std::bitset<256> m_starts;
};

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
    // at a place where the word stands, whether it stands there as a whole word (and not negated)
    const auto wholeAt = [&](size_t at) {
        const size_t end = at + word.size();
        if ((at > 0 && isWordByte(text[at - 1])) || (end < text.size() && isWordByte(text[end])))
            return false;
        return !negatable || !text.substr(0, at).ends_with("NOT ");
    };
    if (word.empty()) {
        for (size_t at = 0; at <= text.size(); ++at) {
            if (wholeAt(at))
                return true;
        }
        return false;
    }
    if (word.size() > text.size())
        return false;
    // this runs some forty times for each status and history text of each entry, and the texts are a line or two
    // long: the rest of the word is compared only where its first byte starts a word
    const size_t last = text.size() - word.size();
    for (size_t at = text.find(word.front()); at != std::string_view::npos && at <= last;
         at = text.find(word.front(), at + 1)) {
        if (at > 0 && isWordByte(text[at - 1]))
            continue;
        if (std::equal(word.begin() + 1, word.end(), text.begin() + static_cast<std::ptrdiff_t>(at) + 1) && wholeAt(at))
            return true;
    }
    return false;
}

RecognizedEvent recognizeEvent(std::string_view text)
{
    using enum ProsecutionEvent;
    const std::string upper = core::toUpperAscii(text);
    const Words words(upper);
    if (words.hasAny({"DENIED", "REFUSED", "WITHDRAWN", "CANCELLED", "CANCELED"}) &&
        !words.hasAny({"ACTION", "REFUSAL"}))
        return {};
    if (words.has("EXTENSION")) {
        if (words.hasAny({"RESPONSE", "RESPOND"}))
            return {ResponseTimeExtension};
        if (words.hasAny({"OPPOSE", "OPPOSITION"}) || !words.hasAny({"GRANTED", "FILED", "RECEIVED"}, true))
            return {};
        return {UseExtension, extensionNumber(upper)};
    }
    // the notice of allowance asks for the statement of use it names
    if (words.hasAny({"NOTICE OF ALLOWANCE", "NOA"}))
        return {NoticeOfAllowance};
    if (words.hasAny({"STATEMENT OF USE", "SOU", "ALLEGATION OF USE"}))
        return {words.hasAny({"ACCEPTED", "APPROVED"}, true) ? StatementOfUseAccepted : StatementOfUseFiled};
    if (words.hasAny({"RESPONSE", "REQUEST FOR RECONSIDERATION"}) && words.hasAny({"RECEIVED", "FILED", "ENTERED"}))
        return {ResponseFiled};
    const bool sent = words.hasAny({"ISSUED", "MAILED", "EMAILED", "SENT"});
    const bool action = words.hasAny({"ACTION", "REFUSAL"});
    if (words.hasAny({"POST REGISTRATION", "POST-REGISTRATION", "POSTREGISTRATION"}) && sent && action)
        return {PostRegistrationAction};
    // a letter suspending the examination asks for nothing; an inquiry does
    if (sent &&
        (words.has("SUSPENSION INQUIRY") || (action && !words.hasAny({"SUSPENDING", "SUSPENSION", "SUSPENDED"}))))
        return {OfficeAction};
    if (words.has("PUBLISHED") && words.hasAny({"OPPOSITION", "OPPOSE"}))
        return {Published};
    if (words.has("REGISTERED"))
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
