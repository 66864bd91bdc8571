#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tarnwick::platform {

// One line naming the operating system, e.g. "Linux 6.1.0-18-amd64 (x86_64)"; none when it cannot be asked.
std::optional<std::string> osDescription();

// The folder that holds the running program (without a trailing "/"); none when it cannot be found.
std::optional<std::string> programFolder();

// The last-write time of `path` in milliseconds since 1970-01-01 UTC; none when it cannot be read.
std::optional<std::int64_t> lastWriteMillis(const std::string& path);

} // namespace tarnwick::platform
