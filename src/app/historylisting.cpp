#include "app/historylisting.h"

#include "app/entrycommands.h"
#include "core/entry.h"
#include "core/entrystore.h"
#include "core/identifier.h"
#include "notify/history.h"

namespace tarnwick::app {

namespace {

bool sameChange(const notify::ChangeRecord& a, const notify::ChangeRecord& b)
{
    return a.date == b.date && a.number == b.number && a.reference == b.reference;
}

} // namespace

std::string historyListing(const notify::HistoryText& history, const std::vector<std::string>& numbers)
{
    std::vector<size_t> chosen;
    if (numbers.empty()) {
        chosen.resize(history.records.size());
        for (size_t i = 0; i < chosen.size(); ++i)
            chosen[i] = i;
    } else {
        chosen = notify::HistoryIndex(history).of(numbers);
    }
    std::string out;
    out.reserve(chosen.size() * 120);
    // from the newest change back; the fields of one change in their own order
    size_t end = chosen.size();
    while (end > 0) {
        size_t begin = end - 1;
        const notify::ChangeRecord& last = history.records[chosen[begin]];
        while (begin > 0 && sameChange(history.records[chosen[begin - 1]], last))
            --begin;
        out.append(last.date).append("  ").append(last.number);
        if (!last.reference.empty())
            out.append("  ").append(last.reference);
        out += '\n';
        for (size_t k = begin; k < end; ++k) {
            const notify::ChangeRecord& r = history.records[chosen[k]];
            const std::string_view caption = notify::fieldCaption(r.field);
            out.append("  ").append(caption).append(" (now): ").append(r.newValue).append("\n");
            out.append("  ").append(caption).append(" (was): ").append(r.oldValue).append("\n");
        }
        end = begin;
    }
    return out;
}

std::vector<std::string> historyNumbers(const core::EntryStore& store, const std::string& typed, std::string& refusal)
{
    core::Entry probe(core::k_noDay);
    if (std::optional<std::string> why = core::setIdentifier(probe, typed)) {
        refusal = why->substr(0, why->find('\n'));
        return {};
    }
    const core::Entry& entry = [&]() -> const core::Entry& {
        const std::optional<int> position = findByNumber(store, typed);
        return position ? store.at(*position) : probe;
    }();
    std::vector<std::string> numbers;
    for (const std::string* n : {&entry.SerNum, &entry.RegNum, &entry.IntNum}) {
        if (!n->empty())
            numbers.push_back(*n);
    }
    return numbers;
}

} // namespace tarnwick::app
