#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarnwick::platform {

// Joins a directory and a name with "/" (the system's names keep their form:
// joinPath(logDir, "tradmark.dat"), joinPath(logDir, "Tarnwick/rules.txt")).
std::string joinPath(std::string_view dir, std::string_view name);

// The whole file as bytes; none when it cannot be opened or read.
std::optional<std::string> readFile(const std::string& path);

// Replaces `path` with `bytes` so that a crash leaves either the old file or the
// new one: a temporary file in the same folder, written, fsynced, renamed over
// `path`, then the folder fsynced. On failure the old file is untouched, the
// temporary file removed, and false returned.
bool writeFileAtomic(const std::string& path, std::string_view bytes);

// Appends to `path` (creating it) and fsyncs before returning.
bool appendFileSynced(const std::string& path, std::string_view bytes);

bool fileExists(const std::string& path);
bool removeFile(const std::string& path);
// Size in bytes; none when the file cannot be examined.
std::optional<long long> fileSize(const std::string& path);

} // namespace tarnwick::platform
