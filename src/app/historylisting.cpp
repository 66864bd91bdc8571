#include "app/historylisting.h"

#include "app/entrycommands.h"
#include "core/entry.h"
#include "core/entrystore.h"
#include "core/identifier.h"
#include "notify/history.h"

#include <utility>

namespace tarnwick::app {

namespace {

bool sameChange(const notify::ChangeRecord& a, const notify::ChangeRecord& b)
{
    return a.date == b.date && a.number == b.number && a.reference == b.reference;
}

} // namespace

HistoryLister::HistoryLister(std::function<void(std::string_view)> write) : m_write(std::move(write)) {}

void HistoryLister::add(const notify::ChangeRecord& record)
{
    if (!m_change.empty() && !sameChange(m_change.front(), record))
        writeChange();
    m_change.push_back(record);
}

bool HistoryLister::finish()
{
    if (!m_change.empty())
        writeChange();
    return std::exchange(m_listed, false);
}

void HistoryLister::writeChange()
{
    // the change's line, then its fields in their own order
    const notify::ChangeRecord& newest = m_change.front();
    m_text.clear();
    m_text.append(newest.date).append("  ").append(newest.number);
    if (!newest.reference.empty())
        m_text.append("  ").append(newest.reference);
    m_text += '\n';
    for (auto r = m_change.rbegin(); r != m_change.rend(); ++r) {
        const std::string_view caption = notify::fieldCaption(r->field);
        m_text.append("  ").append(caption).append(" (now): ").append(r->newValue).append("\n");
        m_text.append("  ").append(caption).append(" (was): ").append(r->oldValue).append("\n");
    }
    m_change.clear();
    m_listed = true;
    m_write(m_text);
}

std::string historyListing(const notify::HistoryText& history, const std::vector<std::string>& numbers)
{
    std::string out;
    HistoryLister lister([&out](std::string_view text) { out.append(text); });
    if (numbers.empty()) {
        for (size_t i = history.records.size(); i-- > 0;)
            lister.add(history.records[i]);
    } else {
        const std::vector<size_t> chosen = notify::HistoryIndex(history).of(numbers);
        for (size_t i = chosen.size(); i-- > 0;)
            lister.add(history.records[chosen[i]]);
    }
    lister.finish();
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
