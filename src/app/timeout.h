#pragma once

#include <array>
#include <string>
#include <string_view>

namespace tarnwick::app {

// The operation time-out choices, in milliseconds, in the order the combo box lists them.
constexpr std::array<int, 5> k_timeoutChoices = {30000, 60000, 120000, 300000, 600000};
constexpr int k_defaultTimeoutMs = 60000;
constexpr int k_minimumTimeoutMs = 30000;
constexpr long k_maximumTimeoutMs = 24L * 3600 * 1000;

// Whole seconds + " seconds" under a minute, else whole minutes + " minutes".
std::string timeoutText(int milliseconds);
// The stored text back: its leading integer, times 60 when the text holds an "m",
// in seconds; empty text gives 60000 ms; anything under 30000 ms is raised to it
// and anything over a day cut to a day.
int parseTimeout(std::string_view text);

} // namespace tarnwick::app
