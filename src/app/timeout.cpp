#include "app/timeout.h"

namespace tarnwick::app {

std::string timeoutText(int milliseconds)
{
    const int seconds = milliseconds / 1000;
    if (seconds < 60)
        return std::to_string(seconds) + " seconds";
    return std::to_string(seconds / 60) + " minutes";
}

} // namespace tarnwick::app
