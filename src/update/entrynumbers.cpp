#include "update/entrynumbers.h"

#include "core/entry.h"
#include "core/identifier.h"
#include "notify/history.h"
#include "rules/rulesfile.h"

namespace tarnwick::update {

core::FieldId fetchedBy(const core::Entry& e)
{
    return !e.RegNum.empty()   ? core::FieldId::RegNum
           : !e.SerNum.empty() ? core::FieldId::SerNum
                               : core::FieldId::IntNum;
}

core::FieldId identityNumber(const core::Entry& e)
{
    return !e.SerNum.empty() ? core::FieldId::SerNum : fetchedBy(e);
}

std::string otherMarkMessage(const std::string& number, const std::string& onPage)
{
    if (onPage.empty())
        return "The office's page does not show the number " + number + ".";
    return "The office's page is for " + onPage + ", not " + number + ".";
}

bool wellFormedNumber(core::FieldId kind, std::string_view number)
{
    switch (kind) {
    case core::FieldId::SerNum:
        return core::checkMask(number, "##-######");
    case core::FieldId::RegNum:
        return core::checkMask(number, "######") || core::checkMask(number, "#######");
    default:
        return core::checkMask(number, "#######");
    }
}

std::string numberText(core::FieldId kind, std::string_view number)
{
    const char* name = kind == core::FieldId::SerNum   ? "application "
                       : kind == core::FieldId::RegNum ? "registration "
                                                       : "international reg ";
    return name + std::string(number);
}

std::string keepHeldNumbers(const core::Entry& stored, core::Entry& now, const rules::RulesFile& rules)
{
    // the number the entry is fetched by first, so that a page of another mark is told by it
    const core::FieldId key = fetchedBy(stored);
    const core::FieldId order[] = {key, key == core::FieldId::SerNum ? core::FieldId::RegNum : core::FieldId::SerNum,
                                   key == core::FieldId::IntNum ? core::FieldId::RegNum : core::FieldId::IntNum};
    for (core::FieldId id : order) {
        const std::string& own = *stored.textField(id);
        if (own.empty())
            continue;
        const std::string& read = *now.textField(id);
        if (read.empty()) {
            // rules that do not read the number the entry is fetched by leave it as it was; rules that do must
            // find it on the page. A page that leaves out another number the entry holds says nothing against it.
            if (id == key && !rules.lookup("fetch1", "[" + std::string(core::fieldInfo(id).key) + "]").empty())
                return otherMarkMessage(own, {});
        } else if (!core::sameNumber(id, read, own)) {
            return otherMarkMessage(own, read);
        }
    }
    for (core::FieldId id : k_numberFields) {
        if (!stored.textField(id)->empty())
            *now.textField(id) = *stored.textField(id);
    }
    return {};
}

std::vector<core::FieldId> newNumbers(const core::Entry& stored, core::Entry& now)
{
    std::vector<core::FieldId> out;
    for (core::FieldId id : k_numberFields) {
        std::string& number = *now.textField(id);
        if (!stored.textField(id)->empty() || number.empty())
            continue;
        const std::string digits = notify::numberDigits(number);
        if (!digits.empty() && digits.find_first_not_of('0') == std::string::npos)
            number.clear();
        else
            out.push_back(id);
    }
    return out;
}

std::string unconfirmedReason(const core::Entry& stored, const core::Entry& read)
{
    const core::FieldId id = identityNumber(stored);
    const std::string& own = *stored.textField(id);
    const std::string& named = *read.textField(id);
    if (own.empty())
        return {}; // an entry without a number has nothing to be told apart from
    if (named.empty())
        return "but the page of that number does not show " + own;
    if (!core::sameNumber(id, named, own))
        return "but the page of that number is for " + named + ", not " + own;
    return {};
}

std::string numberNotTakenNote(core::FieldId kind, std::string_view number, const std::string& reason)
{
    return "The office's page gives " + numberText(kind, number) + ", " + reason + "; the entry does not take it.";
}

} // namespace tarnwick::update
