#pragma once

#include "core/daynumber.h"
#include "core/fieldtable.h"

#include <optional>
#include <string>
#include <string_view>

namespace tarnwick::core {

struct Entry;

// The refusal shown by the entry dialog for a number that fits no mask.
extern const char* const k_invalidNumberMessage;

// "#" a digit, "x" an ASCII letter, "?" any character, "*" the rest; every other
// mask character must equal the text's. Without "*" both must end together.
bool checkMask(std::string_view text, std::string_view mask);

// Validates and normalises a typed number into exactly one identifier of the
// entry. Returns the refusal message, or none when the number was taken.
std::optional<std::string> setIdentifier(Entry& entry, std::string_view typed);

// Whether a character only separates the parts of a number as it is printed, typed or pasted: a blank, a tab,
// "-", "/", "." or ",". The list's filter and the entry dialog both pass over them.
bool isNumberSeparator(char c);
// A number as a user types or pastes it ("75 000008", "75000019 "), in the form the masks of setIdentifier take:
// without its separators. What else it holds is left for setIdentifier to refuse.
std::string typedNumber(std::string_view typed);

// What a number of the kind `kind` (SerNum, RegNum or IntNum) identifies, so that the forms one number is written
// in compare equal: its letters (upper-cased) and digits without the separators it is printed with; an
// international number without the "I" it is typed with; registration and international numbers are counted, so
// without their leading zeros, while an application number keeps the two digits of its series code whole. Empty
// when the text holds no letter or digit.
std::string numberIdentity(FieldId kind, std::string_view number);
// Whether two numbers of one kind identify the same mark: a number that identifies nothing is no one's.
bool sameNumber(FieldId kind, std::string_view a, std::string_view b);

// "registration N" / "application N" / "international reg N", then ", trademark T".
std::string identifierText(const Entry& entry);
// The Error of an entry whose number the office has no record of, and whether an entry's Error is that one.
std::string noRecordMessage(const Entry& entry);
bool hasNoRecordError(const Entry& entry);

// StatusDate, " - ", StatusText.
std::string statusText(const Entry& entry);

// The clean-up of a record read from the data file; returns the day of its status date.
DayNumber normaliseLoadedEntry(Entry& entry);

} // namespace tarnwick::core
