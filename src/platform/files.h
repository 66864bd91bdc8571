#pragma once

#include "platform/result.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::platform {

// Joins a directory and a name with "/" (the system's names keep their form:
// joinPath(logDir, "tradmark.dat"), joinPath(logDir, "Tarnwick/rules.txt")).
std::string joinPath(std::string_view dir, std::string_view name);
// The folder a path names its file in: "." for a bare name, "/" for a file at the root.
std::string folderOf(const std::string& path);
// The last part of a path: the file's own name.
std::string fileNameOf(const std::string& path);

// Any: whatever the path names. Regular: a regular file, reached through links too. Own: a file the program
// writes itself: a regular file under its own name, never reached through a final symbolic link (ELOOP).
enum class FileKind { Any, Regular, Own };

// The whole file as bytes, or why it cannot be opened or read (missing(): there is no such file). With
// FileKind::Regular or Own anything but a regular file (a FIFO, a device, a folder) is refused without blocking
// (notRegular()).
ResultOf<std::string> readFile(const std::string& path, FileKind kind = FileKind::Any);

// The last `maxBytes` bytes of a regular file (all of a shorter one), or why it cannot be read.
ResultOf<std::string> readFileTail(const std::string& path, size_t maxBytes);

// Replaces `path` with `bytes` so that a crash leaves either the old file or the
// new one: a temporary file in the same folder, written, fsynced, renamed over
// `path`, then the folder fsynced. On failure the old file is untouched, the
// temporary file removed, and the failure tells why; when only the folder's sync
// fails the new file is in place but may not survive a power cut, and that is a
// failure too. The temporary file is ".<name>.tarnwick-XXXXXX";
// leftovers of that form from a killed save are removed, and no other file:
// those there at the first save of the name in the process, once a minute old
// (the folder is not searched again at every save).
// With FileAccess::OwnerOnly the new file is readable and writable by its owner only, whatever the old one
// allowed.
// A path that is a symbolic link is refused (ELOOP; FileLinks::Refuse: the program's own files, which
// nobody else should be able to redirect), or keeps its link while the file it points to is replaced
// (FileLinks::Follow: a settings file that a dotfile manager keeps as a link).
// With `written`, the new file's stamp (as fileStamp tells it) goes there, taken before it had its name, so that
// a later stamp equal to it tells that nobody replaced or changed the file since.
enum class FileAccess { AsBefore, OwnerOnly };
enum class FileLinks { Refuse, Follow };
struct FileStamp;
Result writeFileAtomic(const std::string& path, std::string_view bytes, FileAccess access = FileAccess::AsBefore,
                       FileLinks links = FileLinks::Refuse, FileStamp* written = nullptr);

// The reason an errno gives, in words for the user; a refused symbolic link says so.
std::string fileErrorText(int error);

// Files written together and made durable together: each is written to a
// temporary beside its final name at once, without a sync; `commit` syncs
// each of them (many at once, from worker threads), moves each to its name
// without replacing any file, and syncs the folder. A sync of the whole file
// system does not reach the disk on every file system (FUSE) and writes out
// every other program's data too: it stands in for the syncs of many files only
// on ext4, where it makes them durable and measured cheaper.
// Files not committed are removed when the group goes; a killed process leaves
// only temporaries of the ".<name>.tarnwick-XXXXXX" form, which the first
// commit of a later process in the same folder removes once they are a minute
// old.
class FileGroup {
public:
    FileGroup() = default;
    ~FileGroup() { discard(); }
    FileGroup(const FileGroup&) = delete;
    FileGroup& operator=(const FileGroup&) = delete;

    // Writes `bytes` for the file `path`.
    Result add(const std::string& path, std::string_view bytes);
    bool empty() const { return m_files.empty(); }
    size_t size() const { return m_files.size(); }
    // Makes every file durable under its name and empties the group; the
    // final paths go to `committed`. A name taken meanwhile is passed to
    // `rename`, which returns another one to try. On failure no file of the
    // group is left under its name.
    Result commit(std::vector<std::string>& committed,
                  const std::function<std::string(const std::string& taken)>& rename = {});
    // Removes the files of the group that were not committed.
    void discard();

private:
    struct File {
        std::string temporary;
        std::string path;
    };
    std::vector<File> m_files;
};

// Appends to `path` (creating it) in one write: records of two writers never
// interleave. Not synced: what it writes is a diary, not data to keep. A final
// symbolic link is refused (ELOOP), as by appendRecordsDurably.
Result appendFile(const std::string& path, std::string_view bytes);

// Appends whole records to a file that keeps them (creating it, its folder synced then): `header` first when the
// file is empty, a line end first when its last line is torn, then `bytes` in one write, then an fsync. On
// failure records written before are never touched. A path that is a symbolic link is refused (ELOOP): records
// never go to a file someone else chose.
Result appendRecordsDurably(const std::string& path, std::string_view bytes, std::string_view header = {});

// Syncs the folder that names `path`, so that files created, renamed or removed there stay so after a power
// cut.
Result syncFolder(const std::string& path);
// The names in a folder, "." and ".." left out; none listed when it cannot be read.
std::vector<std::string> folderNames(const std::string& folder);

bool fileExists(const std::string& path);
Result removeFile(const std::string& path);
// Size in bytes, or why the file cannot be examined.
ResultOf<long long> fileSize(const std::string& path);

// What tells that a file changed since it was read: its size, last-write time (nanoseconds) and inode.
struct FileStamp {
    std::int64_t size = -1; // -1: no file read yet
    std::int64_t modified = 0;
    std::uint64_t inode = 0;
    bool operator==(const FileStamp&) const = default;
};
// The stamp of `path` as it is now, or why it cannot be examined.
ResultOf<FileStamp> fileStamp(const std::string& path);

} // namespace tarnwick::platform
