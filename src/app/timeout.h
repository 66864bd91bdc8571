#pragma once

#include <array>
#include <string>
#include <string_view>

namespace tarnwick::app {

// The operation time-out choices, in milliseconds, in the order the combo box lists them.
constexpr std::array<int, 5> k_timeoutChoices = {30000, 60000, 120000, 300000, 600000};

// Whole seconds + " seconds" under a minute, else whole minutes + " minutes".
std::string timeoutText(int milliseconds);
// (The stored text is read back by MainState::timeoutFromSetting.)

} // namespace tarnwick::app
