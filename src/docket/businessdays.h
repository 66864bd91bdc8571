#pragma once

#include "core/daynumber.h"

#include <string>

namespace tarnwick::docket {

// The federal holiday in the District of Columbia that falls on `day` as observed: a fixed-date holiday on a
// Saturday is kept the Friday before, on a Sunday the Monday after; Inauguration Day (20 January every fourth year
// from 1965, the 21st when the 20th is a Sunday) is a holiday in the District as well. "Independence Day
// (observed)" for a day kept instead of the holiday; the empty text for a day that is none.
std::string holidayOn(core::DayNumber day);

// Neither a Saturday, a Sunday nor a federal holiday in the District of Columbia.
bool isBusinessDay(core::DayNumber day);

// The office takes an act due on a Saturday, Sunday or federal holiday on the next business day: `day` itself when
// it is one, else the first business day after it.
core::DayNumber nextBusinessDay(core::DayNumber day);

// Why `day` is no business day: "2027-02-20 is a Saturday", "2027-01-18 is Birthday of Martin Luther King, Jr.";
// the empty text for a business day.
std::string notBusinessDayReason(core::DayNumber day);

} // namespace tarnwick::docket
