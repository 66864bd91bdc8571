#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarnwick::platform {

// Joins a directory and a name with "/" (the system's names keep their form:
// joinPath(logDir, "tradmark.dat"), joinPath(logDir, "Tarnwick/rules.txt")).
std::string joinPath(std::string_view dir, std::string_view name);

enum class FileKind { Any, Regular };

// The whole file as bytes; none when it cannot be opened or read, with errno
// telling why (ENOENT: there is no such file). With FileKind::Regular anything
// but a regular file (a FIFO, a device, a folder) is refused with EINVAL
// without blocking.
std::optional<std::string> readFile(const std::string& path, FileKind kind = FileKind::Any);

// The last `maxBytes` bytes of a regular file (all of a shorter one); none when it cannot be read.
std::optional<std::string> readFileTail(const std::string& path, size_t maxBytes);

// Replaces `path` with `bytes` so that a crash leaves either the old file or the
// new one: a temporary file in the same folder, written, fsynced, renamed over
// `path`, then the folder fsynced. On failure the old file is untouched, the
// temporary file removed, and false returned with errno telling why. A path that
// is a symbolic link keeps its link: the file it points to is replaced. The
// temporary file is ".<name>.tarnwick-XXXXXX"; leftovers of that form from a
// killed save are removed, and no other file.
// With FileAccess::OwnerOnly the new file is readable and writable by its owner only, whatever the old one
// allowed.
enum class FileAccess { AsBefore, OwnerOnly };
bool writeFileAtomic(const std::string& path, std::string_view bytes, FileAccess access = FileAccess::AsBefore);

// Appends to `path` (creating it) in one write: records of two writers never
// interleave. Not synced: what it writes is a diary, not data to keep.
bool appendFile(const std::string& path, std::string_view bytes);

bool fileExists(const std::string& path);
bool removeFile(const std::string& path);
// Size in bytes; none when the file cannot be examined.
std::optional<long long> fileSize(const std::string& path);

} // namespace tarnwick::platform
