#include "app/timeout.h"

namespace tarnwick::app {

std::string timeoutText(int milliseconds)
{
    const int seconds = milliseconds / 1000;
    if (seconds < 60)
        return std::to_string(seconds) + " seconds";
    const int minutes = seconds / 60;
    return std::to_string(minutes) + (minutes == 1 ? " minute" : " minutes");
}

} // namespace tarnwick::app
