#include "rules/pattern.h"

#include "core/daynumber.h"
#include "core/text.h"
#include "rules/dates.h"
#include "rules/pagetext.h"
#include "rules/rulesfile.h"

#include <algorithm>
#include <array>
#include <optional>

namespace tarnwick::rules {

namespace {

constexpr std::string_view k_tailSeparator = "[--]";
constexpr std::string_view k_alternativeSeparator = "[||]";
constexpr std::string_view k_unknownDate = core::k_unknownDayText;
constexpr size_t k_slotCount = 9;

struct Slot {
    std::string capture;
    std::string edit;
};
using Slots = std::array<Slot, k_slotCount>;

std::string reversed(std::string_view text)
{
    return std::string(text.rbegin(), text.rend());
}

// Consumes a pattern from the front. Forwards a token is "[" ... "]"; the
// reversed tail of a pattern reads with the two brackets exchanged.
class PatternReader {
public:
    PatternReader(std::string_view pattern, bool backward)
        : m_rest(pattern), m_open(backward ? ']' : '['), m_close(backward ? '[' : ']')
    {
    }

    // The next literal anchor, "[[]" and "[]]" standing for a bracket once a
    // literal has begun; empty when a token (or nothing) comes first.
    std::string nextLiteral()
    {
        std::string literal;
        for (;;) {
            size_t open = m_rest.find(m_open);
            literal.append(m_rest.substr(0, open));
            if (open == std::string_view::npos) {
                m_rest = {};
                break;
            }
            m_rest.remove_prefix(open + 1);
            if (literal.empty() || m_rest.empty() || (m_rest[0] != '[' && m_rest[0] != ']'))
                break;
            literal += m_rest[0];
            m_rest.remove_prefix(std::min<size_t>(2, m_rest.size()));
        }
        if (literal.empty())
            return literal;
        return insertLineBreaks(literal);
    }

    // The token text up to its closing bracket, which is consumed with it.
    std::string_view nextToken()
    {
        size_t close = m_rest.find(m_close);
        std::string_view token = m_rest.substr(0, close);
        m_rest = close == std::string_view::npos ? std::string_view() : m_rest.substr(close + 1);
        return token;
    }

private:
    std::string_view m_rest;
    char m_open;
    char m_close;
};

// A capture token sets its slot and, when it carries one, the slot's edit;
// returns the slot index, or none for a skip token.
std::optional<size_t> takeToken(std::string_view token, Slots& slots)
{
    if (!token.starts_with('*'))
        return std::nullopt;
    if (token.size() == 1)
        return 0;
    char digit = token[1];
    if (digit >= '1' && digit <= '9') {
        // "[*2]" carries no edit and keeps the one slot 2 has, as "[*]" does for slot 1
        size_t slot = static_cast<size_t>(digit - '1');
        if (token.size() > 2)
            slots[slot].edit = std::string(token.substr(2));
        return slot;
    }
    slots[0].edit = std::string(token.substr(1));
    return 0;
}

// Matches the pattern read by `reader` against `text` from its start; each
// anchor is the first occurrence after the previous one. Returns where the
// match ended, or none when an anchor is missing.
std::optional<size_t> matchForward(std::string_view text, PatternReader& reader, bool backward, Slots& slots)
{
    size_t pos = 0;
    std::optional<size_t> pending;
    for (;;) {
        std::string literal = reader.nextLiteral();
        if (literal.empty())
            return pos;
        size_t hit = findInPage(text, literal, pos);
        if (hit == std::string_view::npos)
            return std::nullopt;
        if (pending) {
            std::string_view captured = text.substr(pos, hit - pos);
            slots[*pending].capture = backward ? reversed(captured) : std::string(captured);
        }
        pos = hit + literal.size();
        std::string_view token = reader.nextToken();
        if (backward) {
            std::string forwardToken = reversed(token);
            pending = takeToken(forwardToken, slots);
        } else {
            pending = takeToken(token, slots);
        }
    }
}

// The tail after "[--]": each anchor is the nearest one before the anchor that
// follows it, the last anchor being the first occurrence after the head.
bool matchBackward(std::string_view page, size_t headEnd, std::string_view tail, Slots& slots)
{
    std::string reversedTail = reversed(tail);
    PatternReader probe(reversedTail, true);
    std::string lastLiteral = reversed(probe.nextLiteral());
    size_t sliceEnd = headEnd;
    if (!lastLiteral.empty()) {
        size_t hit = findInPage(page, lastLiteral, headEnd);
        if (hit == std::string_view::npos)
            return false;
        sliceEnd = hit + lastLiteral.size();
    }
    std::string slice = reversed(page.substr(headEnd, sliceEnd - headEnd));
    PatternReader reader(reversedTail, true);
    return matchForward(slice, reader, true, slots).has_value();
}

bool isSpaceOnly(std::string_view text)
{
    return text.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

// The texts between the tags of `text`, pieces of blank space left out, joined by `separator`; an unterminated
// tag at the end goes with the tags. False, and `text` unchanged, when the result would pass `limit`.
bool joinTextPieces(std::string& text, std::string_view separator, size_t limit)
{
    std::string out;
    size_t pos = 0;
    const size_t n = text.size();
    while (pos < n) {
        size_t lt = text.find('<', pos);
        std::string_view piece = std::string_view(text).substr(pos, (lt == std::string::npos ? n : lt) - pos);
        if (!isSpaceOnly(piece)) {
            if (!out.empty())
                out.append(separator);
            out.append(piece);
            if (out.size() > limit)
                return false;
        }
        if (lt == std::string::npos)
            break;
        size_t gt = text.find('>', lt + 1);
        pos = gt == std::string::npos ? n : gt + 1;
    }
    text = std::move(out);
    return true;
}

// The slot's text after its edit. Appends and replacements that would grow the
// text past its edit limit are left out.
std::string applyEdit(const Slot& slot)
{
    std::string_view edit = slot.edit;
    std::string text = slot.capture;
    const size_t limit = editLimit(slot.capture.size());
    const size_t budget = editWorkBudget(limit);
    size_t work = 0;
    auto append = [&](std::string_view more) {
        if (more.size() <= limit - std::min(limit, text.size()))
            text.append(more);
    };
    if (edit.starts_with('\'')) {
        append(edit.substr(1));
        return text;
    }
    if (!edit.starts_with('#'))
        return text;
    edit.remove_prefix(1);
    while (!edit.empty()) {
        size_t hash = edit.find('#');
        std::string_view operation = edit.substr(0, hash);
        edit = hash == std::string_view::npos ? std::string_view() : edit.substr(hash + 1);
        if (operation.empty())
            continue;
        work += text.size() + operation.size();
        if (work > budget)
            break;
        if (operation.starts_with('\'')) {
            append(operation.substr(1));
        } else if (operation == "*") {
            append(slot.capture);
        } else if (size_t equals = operation.find('='); equals != std::string_view::npos) {
            replaceAllWithin(text, insertLineBreaks(operation.substr(0, equals)), operation.substr(equals + 1), limit);
        } else if (operation.starts_with('+')) {
            joinTextPieces(text, operation.substr(1), limit);
        } else {
            text = convertDate(slot.capture, operation);
        }
    }
    return text;
}

} // namespace

size_t findInPage(std::string_view page, std::string_view literal, size_t from)
{
    return core::findBytes(page, literal, from);
}

size_t findInPageNoCase(std::string_view page, std::string_view literal, size_t from)
{
    return core::findBytesNoCase(page, literal, from);
}

namespace {

// One alternative of a pattern: the joined slots, or none when an anchor is missing.
std::optional<std::string> matchAlternative(std::string_view page, std::string_view pattern)
{
    size_t separator = pattern.find(k_tailSeparator);
    std::string_view head = pattern.substr(0, separator);

    Slots slots;
    PatternReader reader(head, false);
    std::optional<size_t> headEnd = matchForward(page, reader, false, slots);
    if (!headEnd)
        return std::nullopt;
    if (separator != std::string_view::npos &&
        !matchBackward(page, *headEnd, pattern.substr(separator + k_tailSeparator.size()), slots))
        return std::nullopt;

    std::string result;
    for (const Slot& slot : slots)
        result += applyEdit(slot);
    return result;
}

} // namespace

std::string matchPattern(std::string_view page, std::string_view pattern)
{
    // "[||]" divides alternatives; the first that matches gives the result
    for (;;) {
        size_t bar = pattern.find(k_alternativeSeparator);
        if (std::optional<std::string> result = matchAlternative(page, pattern.substr(0, bar)))
            return std::move(*result);
        if (bar == std::string_view::npos)
            return {};
        pattern.remove_prefix(bar + k_alternativeSeparator.size());
    }
}

bool containsAlternative(std::string_view page, std::string_view texts)
{
    for (;;) {
        size_t bar = texts.find(k_alternativeSeparator);
        // what is found as written is found with page and text upper-cased too
        if (findInPageNoCase(page, texts.substr(0, bar)) != std::string_view::npos)
            return true;
        if (bar == std::string_view::npos)
            return false;
        texts.remove_prefix(bar + k_alternativeSeparator.size());
    }
}

std::string extractField(std::string_view page, const RulesFile& rules, std::string_view section, std::string_view key,
                         bool raw)
{
    std::string pattern = rules.lookup(section, key);
    std::string value = pattern.empty() ? std::string() : matchPattern(page, pattern);
    if (!raw)
        value = trimValue(collapseSpaces(cleanValue(value)));
    if (value == k_unknownDate)
        value.clear();

    std::string noneKey = "none";
    noneKey.append(key);
    std::string none = rules.lookup(section, noneKey);
    size_t split = none.find("==");
    std::string_view compare = std::string_view(none).substr(0, split);
    if (value == compare)
        value = split == std::string::npos ? std::string() : none.substr(split + 2);
    return value;
}

} // namespace tarnwick::rules
