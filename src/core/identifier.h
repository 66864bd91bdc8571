#pragma once

#include "core/daynumber.h"

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
