#include "update/changes.h"

#include "base/frontend.h"
#include "base/settings.h"
#include "core/entry.h"
#include "core/entrystore.h"
#include "core/fieldtable.h"
#include "core/identifier.h"
#include "notify/emailqueue.h"
#include "notify/templates.h"
#include "rules/templatevars.h"

#include <cstdint>

namespace tarnwick::update {

RevertedFields revertedFields(const core::Entry& now, const core::Entry& was)
{
    RevertedFields r;
    for (core::FieldId id : core::k_watchedFields) {
        const std::string& before = *was.textField(id);
        if (!now.textField(id)->empty() || before.empty())
            continue;
        ++r.count;
        r.list.append("\n").append(core::fieldInfo(id).columnCaption).append(" (was): ").append(before);
    }
    return r;
}

std::string revertedQuestion(const core::Entry& was, const std::string& list)
{
    std::string text = "Three or more fields for ";
    text += core::identifierText(was);
    text += " reverted to nothing. This may be an indication of problem extracting data from the webpage.\n\n"
            "Is this okay?\n\nYES - don't warn me again\nNO - continue updating, but warn me if it happens "
            "again\nCANCEL - cancel the updates\n";
    text += list;
    return text;
}

bool CheckReverted(const core::Entry& now, const core::Entry& was, bool& warnReverted, base::FrontEnd& frontEnd)
{
    const RevertedFields reverted = revertedFields(now, was);
    if (reverted.count < 3 || !warnReverted)
        return true;
    switch (frontEnd.ask(base::Question::RevertedFields, revertedQuestion(was, reverted.list))) {
    case base::Answer::Yes:
        warnReverted = false;
        return true;
    case base::Answer::No:
        return true;
    default:
        return false;
    }
}

bool hasBaseline(const core::Entry& e)
{
    if (e.LastChange == 0)
        return false;
    for (const std::string* field : {&e.Trademark, &e.FilingDate, &e.RegDate, &e.PublishedDate, &e.LawOffice, &e.Owner,
                                     &e.Attorney, &e.StatusDate, &e.StatusText, &e.LastHistory, &e.Location}) {
        if (!field->empty())
            return true;
    }
    return false;
}

ApplyResult ApplyUpdate(core::EntryStore& store, int position, core::Entry& now, notify::NoticeSink& notices,
                        base::AppSettings& settings)
{
    ApplyResult result;
    const core::Entry& was = store.at(position);
    if (!now.sameWatchedValues(was) && hasBaseline(was)) {
        now.LastChange = now.Today;
        std::string error = notices.postNotice(now, notify::templateid::StatusUpdate, "s", &was);
        if (!error.empty()) {
            // a change that cannot be mailed is not taken in: the entry keeps its values and is found changed
            // again by the next update that can post
            result.error = std::move(error);
            return result;
        }
        result.changed = true;
        settings.increment(base::setting::CountStatusChange);
    }
    const core::Entry previous = store.replaceEntry(position, now);
    if (previous.compareField(core::FieldId::Reference, store.at(position)) != 0)
        result.error = notices.postNotice(store.at(position), notify::templateid::EntryChanged, "c", &previous);
    return result;
}

std::string ChangeList(const core::Entry& current, const core::Entry& previous)
{
    return rules::allChanges(current, previous);
}

} // namespace tarnwick::update
