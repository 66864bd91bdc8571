#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::app {

// Exit codes of the desktop program (the command line's auto command too).
namespace exitcode {
constexpr int Normal = 0;
constexpr int Refused = 1;       // another instance holds the lock, or the window cannot be built
constexpr int EntriesFailed = 3; // auto mode: entries due were not updated (the rest was, and its e-mail went)
constexpr int MailNotSent = 4;   // auto mode: the e-mail could not be sent; it stays queued for the next run
constexpr int Unhandled = 9999;  // an error escaped a handler of the main window
} // namespace exitcode

// What the command line asks for.
struct CommandLine {
    enum class Registration { None, Register, Unregister };

    std::string programPath; // the first token, without its quotes
    std::string arguments;   // what follows it after the blanks
    bool autoMode = false;
    Registration registration = Registration::None;
    std::string settingsFile;       // the word after "--settings"; empty without one
    std::vector<std::string> words; // the arguments after the program path, as given
};

// The whole line, program path included, is scanned for words that begin with
// "-" or "/". "RegServer" and "UnregServer" count only as the whole rest of the
// line (so only as the last argument); "Auto" counts as the word up to the next
// blank, anywhere. All three are compared without regard to case.
CommandLine parseCommandLine(std::string_view line);

// The line that `argv` stands for: the words joined by blanks, the program path
// quoted when it holds a blank.
std::string joinCommandLine(const std::vector<std::string>& argv);
// The program's words, read once: the line they stand for (parseCommandLine) and
// the settings file that "--settings FILE" names.
CommandLine parseArguments(const std::vector<std::string>& argv);

// What the desktop program prints instead of starting: its usage for "--help" or
// "-h", "tarnwick" and its version for "--version"; none for any other line. The
// word after "--settings" is a file name, never a request.
std::optional<std::string> informationRequest(const std::vector<std::string>& argv);

// "%d.%d.%02d" of the first, second and fourth version components.
std::string versionText(int major, int minor, int build);
// The version of this build, from the project version.
std::string programVersion();

} // namespace tarnwick::app
