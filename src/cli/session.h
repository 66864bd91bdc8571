#pragma once

#include "app/application.h"
#include "app/mainstate.h"
#include "cli/clifrontend.h"
#include "cli/commands.h"
#include "platform/instancelock.h"

#include <memory>
#include <string>

namespace tarnwick::cli {

// What a command needs of its session.
struct Needs {
    // A writing command holds the single-instance lock for the whole session.
    bool writing = false;
    // Without a logging directory the command is refused.
    bool logDir = true;
    enum class Entries {
        Required,   // a data file that cannot be read refuses the command
        IfReadable, // read when they can be (counted by a report); none otherwise
        Unread,
    } entries = Entries::Required;
};

// What the commands share: the application, the terminal front end, the
// single-instance lock (writing commands) and the main window's state with its
// data file loaded.
class Session {
public:
    // The lock is held from here until the settings have been stored.
    ~Session();

    // Opens the settings, takes the lock when `writing`, loads the data file.
    // None after the reason was printed on standard error.
    static std::unique_ptr<Session> open(const Invocation& inv, bool writing);
    static std::unique_ptr<Session> open(const Invocation& inv, const Needs& needs);

    // Whether standard input and standard error are one terminal a person types on.
    bool onTerminal() const { return m_inv.onTerminal(); }
    std::ostream& out() const { return m_inv.out; }
    std::ostream& err() const { return m_inv.err; }

    // Stores the data file and the settings now (the lock is still held).
    // False when the data file could not be written.
    bool saveEntries();

    app::AppContext app;
    CliFrontEnd frontEnd;
    platform::InstanceLock lock;
    app::MainState state;

private:
    explicit Session(const Invocation& inv);

    const Invocation& m_inv;
};

// The entry position named by a typed number; prints why and gives none when
// the number is refused or names no entry.
std::optional<int> entryArgument(const Session& session, const std::string& typed);

// How an entry is named on a line: its reference (when it has one) and its
// application, registration or international number.
std::string entryLabel(const core::Entry& entry);

} // namespace tarnwick::cli
