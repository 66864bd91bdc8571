#pragma once

#include "platform/result.h"

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace tarnwick::platform {

// The per-user settings file that stands in for the registry key: one section per
// key path ("Software\Velmora Systems\Tarnwick", "...\Settings"), named string
// values inside. The text is INI-like and readable:
//
//   [Software\Velmora Systems\Tarnwick\Settings]
//   SmtpServer=mail.example.com
//
// Bytes that the lines cannot hold are written as "%" and two hex digits: "%"
// itself, control bytes (CR, LF, TAB, ...), blanks at either end of a name or
// value, "=" in a name, and "[", ";" or "#" at the start of a name. Every byte
// round-trips; a "%" not followed by two hex digits reads as itself. Lines that
// cannot be understood are skipped; what can be read is kept. Values are read
// whole, whatever their length.
class SettingsFile {
public:
    using Values = std::map<std::string, std::string, std::less<>>;
    using Sections = std::map<std::string, Values, std::less<>>;

    // `secretName` names the values that make the file readable by its owner only once one of them holds
    // something (the file is then tightened on every write); without it the file keeps its permissions.
    explicit SettingsFile(std::string path, std::function<bool(std::string_view)> secretName = {})
        : m_path(std::move(path)), m_secretName(std::move(secretName))
    {
    }
    const std::string& path() const { return m_path; }

    // How long update() waits for another writer's lock before it gives up (its failure is then
    // lockHeld()).
    static std::chrono::milliseconds lockWait();
    static void setLockWait(std::chrono::milliseconds wait);

    // Everything on disk now; empty when the file is missing or unreadable.
    Sections read() const;

    // Read-modify-write under an exclusive lock on a side file (path + ".lock"):
    // the file is re-read, `change` edits the sections, and the result replaces
    // the file atomically, so that values written by another process meanwhile
    // are kept. Creates the folder when missing. Fails when nothing could be
    // written; a file that exists but cannot be read is never replaced. A lock
    // held by another writer for longer than lockWait() fails the update.
    Result update(const std::function<void(Sections&)>& change) const;

    // Sets (or, with none, deletes) single values through update().
    Result setValue(std::string_view section, std::string_view name, std::optional<std::string_view> value) const;

    static Sections parse(std::string_view text);
    static std::string format(const Sections& sections);

private:
    bool holdsSecret(const Sections& sections) const;

    std::string m_path;
    std::function<bool(std::string_view)> m_secretName;
};

} // namespace tarnwick::platform
