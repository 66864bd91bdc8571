#pragma once

#include "core/fieldtable.h"

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::core {
struct Entry;
}
namespace tarnwick::rules {
class RulesFile;
}

namespace tarnwick::update {

// The three numbers that name an entry's mark at the office.
constexpr std::array<core::FieldId, 3> k_numberFields = {core::FieldId::SerNum, core::FieldId::RegNum,
                                                         core::FieldId::IntNum};

// The field an entry is fetched by: its registration number, else its application number, else its
// international registration number (as its page address is chosen).
core::FieldId fetchedBy(const core::Entry& e);

// The number a page reached by a number new to the entry must name: the entry's serial, else the number it is
// fetched by.
core::FieldId identityNumber(const core::Entry& e);

// Why a page is not the one of the entry fetched by `number`; empty when it is.
std::string otherMarkMessage(const std::string& number, const std::string& onPage);

// Whether a number read from a page has the stored form of its kind: an application number "nn-nnnnnn", a
// registration number of six or seven digits, an international registration number of seven digits.
bool wellFormedNumber(core::FieldId kind, std::string_view number);

// "application 75-000001", "registration 3000003", "international reg 1234567".
std::string numberText(core::FieldId kind, std::string_view number);

// A number the entry holds is never replaced by an update: each one of `stored` goes back into `now`. A page
// that names a different one is another mark's, and so is a page without the number the entry is fetched by
// when the rules read it: the error, and `now` is not to be stored.
std::string keepHeldNumbers(const core::Entry& stored, core::Entry& now, const rules::RulesFile& rules);

// The numbers `now` holds that `stored` does not. A number of zeros only, the way a record gives none, is
// cleared from `now` instead.
std::vector<core::FieldId> newNumbers(const core::Entry& stored, core::Entry& now);

// Why a number new to `stored` is not taken, `read` being what the rules read from the page that number leads
// to; empty when that page names the entry.
std::string unconfirmedReason(const core::Entry& stored, const core::Entry& read);

// The Error of an entry whose page gives `number` of kind `kind`, not taken for `reason`.
std::string numberNotTakenNote(core::FieldId kind, std::string_view number, const std::string& reason);

} // namespace tarnwick::update
