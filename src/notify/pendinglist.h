#pragma once

#include "platform/files.h"
#include "platform/result.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::base {
class Log;
}

namespace tarnwick::notify {

constexpr const char* k_pendingListName = "Tarnwick_pending.tmp";
constexpr const char* k_remainderListName = "Tarnwick_pending2.tmp";
constexpr const char* k_activityFileName = "Tarnwick_activity.tmp";

// The pending list: the names of the queued messages in the logging directory, one a line, in the order they go
// out. It is only ever replaced whole (a temporary file, fsync, rename, the folder synced), so that a crash leaves
// the list before a change or the list after it. It names message files of the queue's own form in its own
// folder; a line of any other form is passed over by a batch and dropped when the list is rewritten. Names that
// another writer lists while a batch sends stay listed behind what the batch leaves.
class PendingList {
public:
    // The list of the logging directory `dir`.
    explicit PendingList(const std::string& dir);

    const std::string& path() const { return m_path; }

    // Whether a list line names a queued message: "Tarnwick_", the kind and the identifier in letters, digits, "-"
    // and "_", ".tmp"; never one of the queue's own files.
    static bool namesMessage(std::string_view line);
    // Whether a message name holds the byte `c` of an entry's identifier as it is (it holds "_" for any other).
    static bool nameByte(char c);
    // The kind of an edit's notice that `name` is ('a' added, 'c' reference changed, 'd' deleted, 'i' the entries
    // an import added, named by the first); 0 for any other name, a digest or the welcome report among them.
    static char editKind(std::string_view name);

    // Whether the list is there and can be opened (never through a symbolic link).
    bool exists() const;
    // The lines that are not empty.
    int count() const;

    // Reads the list as it is now; a list that is not there is empty. On failure lines() is empty.
    platform::Result read();
    // Reads the list unless it is still the one this object last read or wrote (the same file, size and
    // last-write time): a queue that lists message after message does not read its own list back each time.
    platform::Result refresh();
    // The lines as read, empty ones too.
    const std::vector<std::string>& lines() const { return m_lines; }

    // Lists `names` after the lines read, without the lines that `dropped` names.
    platform::Result add(const std::vector<std::string>& names, const std::vector<std::string>& dropped = {});

    // Takes the last line that names `name`, or a later message of its form ("Tarnwick_d3000004_2.tmp"), off the list:
    // an undone edit's notice that has not gone out. Gives the name taken off; empty when the list names none.
    platform::ResultOf<std::string> withdrawLast(std::string_view name);

    // Ends a batch that went through every line read: what stays are the names listed meanwhile, and without
    // them the list goes.
    platform::Result keepListedMeanwhile();
    // Ends a batch that stopped at line `firstKept`: the names from there on stay, then the names listed
    // meanwhile.
    platform::Result keepFrom(size_t firstKept);

    // Message files that no list names are left by a power cut between the commit of a group of messages and the
    // writing of its list. An edit's notice (an entry added, deleted or changed) is listed when the data file
    // holds its edit (`savedEntryNamed` tells whether it holds the entry); every other such file is removed, as
    // its change is found again by the next update. Each is logged.
    enum class Settling { Settled, ListUnreadable, ListNotWritten };
    Settling settleUnlisted(base::Log& log, const std::function<bool(const std::string&)>& savedEntryNamed) const;

private:
    bool holdsEdit(char kind, const std::string& name, bool entryHeld) const;
    // Replaces the list with `text`; an empty text still leaves a list.
    platform::Result write(const std::string& text) const;
    // The same for a text that becomes the one read: its stamp is kept.
    platform::Result writeRead(const std::string& text);
    // The names another writer listed since the list was read.
    std::string listedMeanwhile() const;

    std::string m_dir;
    std::string m_path;
    std::string m_text;
    std::vector<std::string> m_lines;
    // the list file as last read or written; size -1: none known
    platform::FileStamp m_stamp;
};

} // namespace tarnwick::notify
