#include "app/timeout.h"

#include "core/text.h"

#include <algorithm>

namespace tarnwick::app {

std::string timeoutText(int milliseconds)
{
    const int seconds = milliseconds / 1000;
    if (seconds < 60)
        return std::to_string(seconds) + " seconds";
    return std::to_string(seconds / 60) + " minutes";
}

int parseTimeout(std::string_view text)
{
    if (text.empty())
        return k_defaultTimeoutMs;
    // bounded first so that no product overflows; a day is the longest time-out kept
    long seconds = std::clamp(core::leadingInteger(text), -1000000L, 1000000L);
    if (text.find('m') != std::string_view::npos)
        seconds *= 60;
    return static_cast<int>(std::clamp(seconds * 1000, long{k_minimumTimeoutMs}, k_maximumTimeoutMs));
}

} // namespace tarnwick::app
