#include "app/timeout.h"

#include "core/text.h"

namespace tarnwick::app {

std::string timeoutText(int milliseconds)
{
    const int seconds = milliseconds / 1000;
    if (seconds < 60)
        return std::to_string(seconds) + " seconds";
    const int minutes = seconds / 60;
    return core::counted(minutes, "minute", "minutes");
}

} // namespace tarnwick::app
