#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarnwick::app {

// What the installation check logs and the Upgrade command says for a program the
// package manager installed: "Tarnwick was installed by the package manager (apt);
// updates come from the package manager." None for a program the user installed
// in a folder of their own, which replaces itself as before.
std::optional<std::string> packageManagedText(std::string_view programPath);

} // namespace tarnwick::app
