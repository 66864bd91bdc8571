#include "base/frontend.h"
#include "base/settings.h"
#include "core/entry.h"
#include "core/entrystore.h"
#include "core/fieldtable.h"
#include "core/identifier.h"
#include "core/text.h"
#include "notify/history.h"
#include "rules/applyrules.h"
#include "rules/pagetext.h"
#include "rules/rulesfile.h"
#include "rules/templatevars.h"
#include "update/changehistory.h"
#include "update/changes.h"
#include "update/updaterun.h"

#include <utility>

namespace tarnwick::update {

std::string UpdateRun::checkNewNumbers(const core::Entry& stored, core::Entry& now, std::string& note)
{
    for (core::FieldId kind : newNumbers(stored, now)) {
        std::string& number = *now.textField(kind);
        std::string reason;
        if (!wellFormedNumber(kind, number)) {
            reason = "which is not well formed";
        } else {
            // the page the number leads to, asked for once in the mark's life: once taken the number is held
            core::Entry probe = stored;
            for (core::FieldId id : k_numberFields)
                probe.textField(id)->clear();
            *probe.textField(kind) = number;
            std::vector<std::string> addresses;
            FetchResult fetched{rules::addPageAddress(probe, addresses, m_ctx.rules, m_ctx.vars), {}, {}};
            if (fetched.error.empty())
                fetched = m_fetcher.fetch(addresses, 0, 0, true, false);
            if (!fetched.error.empty() && m_ctx.control.runState != base::RunState::Running)
                return fetched.error;
            rules::RulesOutcome outcome{fetched.error, false};
            core::Entry read = probe;
            if (outcome.message.empty()) {
                std::vector<std::string> pages;
                pages.reserve(fetched.pages.size());
                for (size_t i = 0; i < fetched.pages.size(); ++i)
                    pages.push_back(rules::normalisePage(
                        fetched.pages[i], i < fetched.contentTypes.size() ? fetched.contentTypes[i] : std::string()));
                rules::CurrentEntryScope scope(m_ctx.vars, &probe);
                outcome = rules::applyRulesWithOutcome(read, addresses, fetched.pages, pages, m_ctx.rules, m_ctx.vars);
            }
            reason = outcome.noRecord           ? "but the office has no record of that number"
                     : !outcome.message.empty() ? "which could not be checked (" + outcome.message + ")"
                                                : unconfirmedReason(stored, read);
        }
        if (reason.empty())
            continue;
        if (!note.empty())
            note += ' ';
        note += numberNotTakenNote(kind, number, reason);
        number.clear();
    }
    return {};
}

bool UpdateRun::UpdateEntry(int position, int next)
{
    RunControl& c = m_ctx.control;
    if (c.runState == base::RunState::Closing)
        return false;
    if (m_ctx.entries.at(position).isUpToDate())
        return true;
    // a cancel stops the run before the entries it has not reached: they stay as they were
    if (c.runState == base::RunState::Cancelled)
        return false;
    if (c.runState == base::RunState::Running) {
        // the label shows "&" as a mnemonic mark unless it is doubled
        m_ctx.frontEnd.statusLine("Updating " + core::replaceAll(m_ctx.entries.at(position).Reference, "&", "&&"));
    }

    std::vector<std::string> addresses;
    if (std::string t = rules::addPageAddress(m_ctx.entries.at(position), addresses, m_ctx.rules, m_ctx.vars);
        !t.empty()) {
        fail(position, t);
        return true;
    }

    FetchResult fetched = FetchPages(addresses, 0, 0, true);
    if (fetched.error.empty())
        m_fetcher.fetchAhead(next);
    {
        std::vector<std::string> normalised;
        normalised.reserve(fetched.pages.size());
        for (size_t i = 0; i < fetched.pages.size(); ++i)
            normalised.push_back(rules::normalisePage(fetched.pages[i], fetched.contentTypes[i]));
        m_ctx.names.setLastFetch(addresses, std::move(normalised));
    }
    const std::vector<std::string>& pages = m_ctx.names.lastPages();

    if (c.runState == base::RunState::Closing) {
        ++c.failedCount;
        return false;
    }
    if (!fetched.error.empty()) {
        fail(position, fetched.error);
        return true;
    }

    // the previous update is the one before a redo cleared it
    restoreLastUpdate(position);
    const core::Entry& stored = m_ctx.entries.at(position);
    core::Entry now = stored;
    rules::RulesOutcome outcome;
    {
        rules::CurrentEntryScope scope(m_ctx.vars, &stored);
        outcome = rules::applyRulesWithOutcome(now, addresses, fetched.pages, pages, m_ctx.rules, m_ctx.vars);
    }
    // why a number new to the entry was not taken; the page's other values still are
    std::string note;
    if (outcome.message.empty() && !outcome.noRecord) {
        outcome.message = keepHeldNumbers(stored, now, m_ctx.rules);
        if (outcome.message.empty())
            outcome.message = checkNewNumbers(stored, now, note);
    }
    if (c.runState == base::RunState::Closing) {
        ++c.failedCount;
        return false;
    }
    if (!outcome.message.empty()) {
        fail(position, outcome.message);
        return true;
    }

    if (!CheckReverted(now, stored, c.warnReverted, m_ctx.frontEnd)) {
        c.runState = base::RunState::Cancelled;
        if (m_summary) {
            m_summary->warningRefused = true;
            m_summary->warningRefusedFor = core::identifierText(stored);
        }
        fail(position, k_warningRefusedMessage);
        return true;
    }

    const bool firstReading = !hasBaseline(stored);
    if (firstReading)
        now.LastChange = 0; // the status date becomes the baseline
    std::vector<std::string> captions;
    for (core::FieldId id : core::k_watchedFields) {
        if (*now.textField(id) != *stored.textField(id))
            captions.emplace_back(core::fieldInfo(id).columnCaption);
    }
    now.finishRecord();
    // a page read from the office marks the entry as read even when nothing could be taken from it
    if (!outcome.noRecord && now.StatusDate.empty())
        now.StatusDate = core::k_unknownDayText;
    now.LastUpdate = now.Today;
    core::Entry previous = stored;
    const ApplyResult applied = ApplyUpdate(m_ctx.entries, position, now, m_ctx.notices, m_ctx.settings);
    if (!applied.error.empty()) {
        fail(position, applied.error);
        return true;
    }
    if (applied.changed) {
        std::vector<notify::ChangeRecord> records = changeRecords(m_ctx.entries.at(position), previous);
        m_notices.add(position, m_processed + 1, std::move(previous), std::move(records));
    }

    m_ctx.settings.increment(base::setting::CountUpdateSucceeded);
    core::Entry& updated = m_ctx.entries.at(position);
    updated.Error = outcome.noRecord ? core::noRecordMessage(updated) : note;
    m_ctx.frontEnd.rowChanged(position);
    if (m_summary) {
        ++m_summary->updated;
        m_summary->noRecord += outcome.noRecord ? 1 : 0;
        m_summary->numbersNotTaken += note.empty() ? 0 : 1;
        if (applied.changed) {
            ++m_summary->changed;
            ++m_summary->notificationsQueued;
        }
        if (m_ctx.onEntry) {
            EntryOutcome o;
            o.position = position;
            o.number = m_processed + 1;
            o.due = m_due;
            if (outcome.noRecord)
                o.kind = EntryOutcome::Kind::NoRecord;
            else if (applied.changed)
                o.kind = EntryOutcome::Kind::Changed;
            else if (firstReading)
                o.kind = EntryOutcome::Kind::FirstReading;
            else
                o.kind = EntryOutcome::Kind::Unchanged;
            if (applied.changed)
                o.changedCaptions = std::move(captions);
            m_ctx.onEntry(o);
        }
    }
    return true;
}

} // namespace tarnwick::update
