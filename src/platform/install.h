#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::platform {

// The program file's name in the application directory.
constexpr std::string_view k_programFileName = "tarnwick";

// The full path of the running program file; none when it cannot be found. A
// program file replaced while it runs still gives the path it was started from.
std::optional<std::string> runningProgramPath();

// The installed program path: the application directory followed by "/" and the program's file name.
std::string installedProgramPath(std::string_view installDir, std::string_view programName = k_programFileName);

// Whether two paths name the same file or directory: the same path, or one file once links are resolved.
bool sameFile(const std::string& a, const std::string& b);
// A folder the user should not keep a program of their own in: one under /usr, /opt, /bin, /sbin, /lib or
// /snap, or one the user cannot write.
bool systemFolder(const std::string& dir);

// $XDG_DATA_HOME when absolute, else ~/.local/share: where a user's programs and menu entries live.
std::string dataHome();
// $XDG_CACHE_HOME when absolute, else ~/.cache: files a program writes out again whenever they are missing.
std::string cacheHome();
// Where the shortcuts go unless the user chose otherwise:
// $XDG_DATA_HOME/applications/Tarnwick (by default ~/.local/share/applications/Tarnwick).
std::string defaultShortcutFolder();
// The application directory of a first start: $XDG_DATA_HOME/Tarnwick.
std::string defaultInstallFolder();

// Writes `bytes` as the program file `path`: a complete file beside it, flushed,
// made executable and renamed over it, so a program that runs from `path` keeps
// its old file and a crash leaves the old file or the new one. Returns an empty
// text on success, else the reason; the old file is then untouched.
std::string writeProgramFile(const std::string& path, std::string_view bytes);

// writeProgramFile for bytes that arrive in blocks: the file beside `path` grows block by block and takes
// the name only at commit(); a writer destroyed before then removes it and leaves `path` untouched.
class ProgramFileWriter {
public:
    explicit ProgramFileWriter(std::string path);
    ~ProgramFileWriter();
    ProgramFileWriter(const ProgramFileWriter&) = delete;
    ProgramFileWriter& operator=(const ProgramFileWriter&) = delete;
    // False once a write failed; error() says why.
    bool write(std::string_view block);
    // Flushes, renames into place and flushes the folder; false when that failed.
    bool commit();
    const std::string& error() const { return m_error; }

private:
    void fail(int error);
    std::string m_path;
    std::string m_temp;
    int m_fd = -1;
    std::string m_error;
};

// Every program file carries a version record: this text followed by its version ("4.2.06") and a line end.
// It is read back from the file without starting the program.
constexpr std::string_view k_versionRecordMark = "Tarnwick program version record: ";
// The version record of the file at `path`: the digits and dots after the first mark followed by any; none
// when the file cannot be read or carries no record (as programs built before the record do not).
std::optional<std::string> programFileVersion(const std::string& path);

// How often a failed copy is tried in all, and the pause between the tries.
struct CopyAttempts {
    int attempts = 1;
    std::chrono::milliseconds pause{0};
};
// A temporary copy replaces the installed program while the process that started
// it may still be exiting: 10 tries, 1000 ms apart.
inline constexpr CopyAttempts k_temporaryCopyAttempts{10, std::chrono::milliseconds(1000)};

using Pause = std::function<void(std::chrono::milliseconds)>;

// Replaces the program file `target` with a copy of `source` (writeProgramFile),
// trying as often as `tries` says and calling `pause` between the tries (by
// default a sleep). Returns an empty text on success, else the last reason.
std::string replaceProgram(const std::string& source, const std::string& target, CopyAttempts tries = {},
                           const Pause& pause = {});

// A web site shortcut: its name (the file name without ".desktop") and address.
struct WebLink {
    std::string name;
    std::string url;
};

// The shortcuts of the installed program, as freedesktop desktop entries.
struct Shortcuts {
    std::string folder;  // created level by level when missing
    std::string program; // the program the two application entries start
    std::vector<WebLink> links;
    // The program's icon (SVG), written into the folder as k_iconFileName for the application entries to show;
    // without one they name the icon a package installs into the icon theme.
    std::string_view icon{};
};

// The icon file beside the entries, and the theme's name of the icon a package installs.
constexpr std::string_view k_iconFileName = "tarnwick.svg";
constexpr std::string_view k_themeIconName = "example.tarnwick.Tarnwick";
// What the web site entries show: the icon theme's web page.
constexpr std::string_view k_linkIconName = "text-html";
// Where the applications menu files the program.
constexpr std::string_view k_menuCategories = "Office;";

// The shortcut names: "Tarnwick" starts the program, "Tarnwick (auto)" starts it with -auto.
constexpr std::string_view k_programShortcut = "Tarnwick";
constexpr std::string_view k_autoShortcut = "Tarnwick (auto)";
// A help shortcut that older versions wrote; it is removed.
constexpr std::string_view k_staleHelpShortcut = "help";

// The text of an application entry named `name` that starts `program` with `arguments`, shows `icon` (a theme's
// icon name or an absolute path) and goes into the menu's office category.
std::string applicationEntry(std::string_view name, std::string_view program, const std::vector<std::string>& arguments,
                             std::string_view icon = k_themeIconName);
// The text of a link entry named `name` that opens `url`.
std::string linkEntry(std::string_view name, std::string_view url);

// (Re)writes the icon when one is given, "Tarnwick.desktop", "Tarnwick (auto).desktop" and one entry per link into
// the folder, each replaced atomically, and removes the stale help entry.
// Returns an empty text on success, else the first reason.
std::string writeShortcuts(const Shortcuts& shortcuts);

} // namespace tarnwick::platform
