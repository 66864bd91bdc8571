#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarnwick::platform {

// A program installed by the system's package manager has a marker file beside its
// data, at a path fixed relative to its own folder ("../share/tarnwick/package-manager"
// for /usr/bin/tarnwick), that names the package manager. A program the user
// installed in a folder of their own has none.
std::string_view packageMarkerPath();

// The name of the package manager that installed the program at `programPath`:
// the marker's first line ("apt"), empty when that line is no short plain name;
// none when there is no marker.
std::optional<std::string> packageManager(std::string_view programPath);

} // namespace tarnwick::platform
