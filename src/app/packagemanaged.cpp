#include "app/packagemanaged.h"

#include "platform/packagemanager.h"

namespace tarnwick::app {

std::optional<std::string> packageManagedText(std::string_view programPath)
{
    const std::optional<std::string> manager = platform::packageManager(programPath);
    if (!manager)
        return std::nullopt;
    const std::string by = manager->empty() ? "the package manager" : "the package manager (" + *manager + ")";
    return "Tarnwick was installed by " + by + "; updates come from the package manager.";
}

} // namespace tarnwick::app
