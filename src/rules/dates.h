#pragma once

#include <string>
#include <string_view>

namespace tarnwick::rules {

// The date edit of an extraction pattern: the captured text in the given format
// ("dmy", "mdy", "dd?mm?yyyy", "mm?dd?yyyy", any case) as "%04d-%02d-%02d", or
// "????-??-??" when it cannot be read.
std::string convertDate(std::string_view captured, std::string_view format);

} // namespace tarnwick::rules
