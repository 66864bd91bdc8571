#pragma once

#include <string>
#include <string_view>

namespace tarnwick::core {

// Versions of the program and of the rules are numbers of digits divided by single dots: "4.2.06",
// "4.2.06.900". Every comparison of two versions goes through compareVersions.

// Whether `version` has that form.
bool wellFormedVersion(std::string_view version);

// Negative, zero or positive as `a` is older than, equal to or newer than `b`. Well-formed versions compare
// number by number, leading zeros aside (4.10 is newer than 4.9; a missing number counts as 0, so 4.2 equals
// 4.2.0); any well-formed version is newer than one that is not; two that are not compare byte by byte.
int compareVersions(std::string_view a, std::string_view b);

// The program version a rules version names: its first three numbers ("4.2.06" of "4.2.06.900", "4.10.01" of
// "4.10.01.3"); empty when the rules version is not well-formed.
std::string programVersionOf(std::string_view rulesVersion);

} // namespace tarnwick::core
