#include "notify/pendinglist.h"

#include "base/log.h"
#include "core/datafile.h"
#include "core/textfile.h"
#include "platform/files.h"

#include <algorithm>
#include <fcntl.h>
#include <unistd.h>
#include <unordered_set>

namespace tarnwick::notify {

namespace {

constexpr std::string_view k_messagePrefix = "Tarnwick_";

// A name of the form that posting gives a message: one of the kinds of notice (a deadline reminder among them) and
// the entry's identifier.
bool postedMessageName(std::string_view name)
{
    if (!PendingList::namesMessage(name))
        return false;
    const std::string_view rest = name.substr(k_messagePrefix.size());
    if (rest.starts_with("welcome") || rest.starts_with("digest"))
        return true;
    return PendingList::editKind(name) != 0 || rest.starts_with('s') || rest.starts_with('r');
}

std::vector<std::string> linesOf(std::string_view text)
{
    std::vector<std::string> lines;
    core::LineReader reader(text);
    std::string_view line;
    while (reader.next(line))
        lines.emplace_back(line);
    return lines;
}

// `text` ends its last line before more lines follow it
void endLastLine(std::string& text)
{
    if (!text.empty() && text.back() != '\n')
        text += "\r\n";
}

} // namespace

bool PendingList::nameByte(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
}

char PendingList::editKind(std::string_view name)
{
    if (!namesMessage(name))
        return 0;
    const std::string_view rest = name.substr(k_messagePrefix.size());
    // "Tarnwick_digest.tmp" and "Tarnwick_digest_2.tmp" are digests; a deleted entry's identifier is a number
    const std::string_view stem = rest.substr(0, rest.find_first_of("_."));
    if (stem == "digest" || stem == "welcome")
        return 0;
    const char kind = rest.front();
    return kind == 'a' || kind == 'c' || kind == 'd' || kind == 'i' ? kind : '\0';
}

PendingList::PendingList(const std::string& dir)
    : m_dir(dir), m_path(dir.empty() ? std::string() : platform::joinPath(dir, k_pendingListName))
{
}

bool PendingList::namesMessage(std::string_view name)
{
    constexpr std::string_view suffix = ".tmp";
    if (name.size() <= k_messagePrefix.size() + suffix.size() || !name.starts_with(k_messagePrefix) ||
        !name.ends_with(suffix))
        return false;
    if (name == k_pendingListName || name == k_remainderListName || name == k_activityFileName)
        return false;
    std::string_view middle = name.substr(k_messagePrefix.size(), name.size() - k_messagePrefix.size() - suffix.size());
    return std::all_of(middle.begin(), middle.end(), [](char c) { return nameByte(c) || c == '_'; });
}

bool PendingList::exists() const
{
    if (m_path.empty())
        return false;
    int fd = ::open(m_path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

int PendingList::count() const
{
    const platform::ResultOf<std::string> text = platform::readFile(m_path);
    if (!text)
        return 0;
    int lines = 0;
    core::LineReader reader(*text);
    std::string_view line;
    while (reader.next(line))
        lines += line.empty() ? 0 : 1;
    return lines;
}

platform::Result PendingList::read()
{
    m_text.clear();
    m_lines.clear();
    m_stamp = {};
    // the stamp is taken first: a list replaced while it is read is read again by the next refresh
    const platform::ResultOf<platform::FileStamp> stamp = platform::fileStamp(m_path);
    if (stamp) {
        platform::ResultOf<std::string> text = platform::readFile(m_path, platform::FileKind::Own);
        if (!text)
            return text.result();
        m_text = std::move(*text);
        m_stamp = *stamp;
    }
    m_lines = linesOf(m_text);
    return {};
}

platform::Result PendingList::refresh()
{
    const platform::ResultOf<platform::FileStamp> stamp = platform::fileStamp(m_path);
    if (m_stamp.size < 0 || !stamp || *stamp != m_stamp)
        return read();
    // a list removed and written anew within one tick of the clock may get the same file number and size: its
    // last names tell it apart
    constexpr size_t k_tailBytes = 256;
    const platform::ResultOf<std::string> tail = platform::readFileTail(m_path, k_tailBytes);
    const size_t kept = std::min(m_text.size(), k_tailBytes);
    if (!tail || *tail != std::string_view(m_text).substr(m_text.size() - kept))
        return read();
    return {};
}

platform::Result PendingList::write(const std::string& text) const
{
    return platform::writeFileAtomic(m_path, text);
}

platform::Result PendingList::writeRead(const std::string& text)
{
    m_stamp = {};
    return platform::writeFileAtomic(m_path, text, platform::FileAccess::AsBefore, platform::FileLinks::Refuse,
                                     &m_stamp);
}

platform::Result PendingList::add(const std::vector<std::string>& names, const std::vector<std::string>& dropped)
{
    std::string text;
    if (dropped.empty()) {
        text = m_text;
        endLastLine(text);
    } else {
        for (const std::string& line : m_lines) {
            if (std::find(dropped.begin(), dropped.end(), line) == dropped.end())
                text.append(line).append("\r\n");
        }
    }
    for (const std::string& name : names)
        text.append(name).append("\r\n");
    platform::Result written = writeRead(text);
    if (!written)
        return written;
    // lines behind whole ones need no new reading of the rest
    const bool behindWholeLines = dropped.empty() && (m_text.empty() || m_text.back() == '\n');
    m_text = std::move(text);
    if (behindWholeLines)
        m_lines.insert(m_lines.end(), names.begin(), names.end());
    else
        m_lines = linesOf(m_text);
    return written;
}

platform::ResultOf<std::string> PendingList::withdrawLast(std::string_view name)
{
    if (platform::Result r = read(); !r)
        return r;
    constexpr std::string_view suffix = ".tmp";
    const std::string_view stem = name.substr(0, name.size() - std::min(name.size(), suffix.size()));
    auto sameMessage = [&](std::string_view line) {
        if (line == name)
            return true;
        if (line.size() <= stem.size() + 1 + suffix.size() || !line.starts_with(stem) || !line.ends_with(suffix) ||
            line[stem.size()] != '_')
            return false;
        const std::string_view n = line.substr(stem.size() + 1, line.size() - stem.size() - 1 - suffix.size());
        return std::all_of(n.begin(), n.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    for (size_t i = m_lines.size(); i-- > 0;) {
        if (!sameMessage(m_lines[i]))
            continue;
        std::string text;
        for (size_t k = 0; k < m_lines.size(); ++k) {
            if (k != i && !m_lines[k].empty())
                text.append(m_lines[k]).append("\r\n");
        }
        std::string taken = m_lines[i];
        // a list that names nothing goes, so that nothing shows as pending
        platform::Result written = writeRead(text);
        if (written && text.empty()) {
            m_stamp = {};
            written = platform::removeFile(m_path);
            written = written ? platform::syncFolder(m_path) : written;
        }
        if (!written)
            return written;
        m_text = std::move(text);
        m_lines = linesOf(m_text);
        return taken;
    }
    return std::string();
}

std::string PendingList::listedMeanwhile() const
{
    // another writer only ever adds names behind the ones there were
    platform::ResultOf<std::string> now = platform::readFile(m_path, platform::FileKind::Own);
    return now && now->starts_with(m_text) ? now->substr(m_text.size()) : std::string();
}

platform::Result PendingList::keepListedMeanwhile()
{
    m_stamp = {};
    const std::string later = listedMeanwhile();
    if (!later.empty())
        return write(later);
    platform::Result removed = platform::removeFile(m_path);
    return removed || removed.missing() ? platform::syncFolder(m_path) : removed;
}

platform::Result PendingList::keepFrom(size_t firstKept)
{
    m_stamp = {};
    const std::string later = listedMeanwhile();
    std::string remainder;
    for (size_t i = firstKept; i < m_lines.size(); ++i) {
        if (namesMessage(m_lines[i]))
            remainder.append(m_lines[i]).append("\r\n");
    }
    return write(remainder + later);
}

// Whether the data file holds the edit an unlisted notice tells of. An entry added must be there and one deleted
// must be gone. A changed entry is there either way, but its notice was made durable before the data file was
// written: a data file written later holds the change.
bool PendingList::holdsEdit(char kind, const std::string& name, bool entryHeld) const
{
    if (kind == 'a' || kind == 'i' || kind == 'd')
        return entryHeld == (kind != 'd');
    if (kind != 'c' || !entryHeld)
        return false;
    const platform::ResultOf<platform::FileStamp> notice = platform::fileStamp(platform::joinPath(m_dir, name));
    const platform::ResultOf<platform::FileStamp> data = platform::fileStamp(core::dataFilePath(m_dir));
    return notice && data && data->modified > notice->modified;
}

PendingList::Settling PendingList::settleUnlisted(base::Log& log,
                                                  const std::function<bool(const std::string&)>& savedEntryNamed) const
{
    platform::ResultOf<std::string> list = platform::readFile(m_path, platform::FileKind::Own);
    if (!list && !list.missing())
        return Settling::ListUnreadable; // without the list nothing can be told unlisted
    std::unordered_set<std::string> listed;
    if (list) {
        for (std::string& line : linesOf(*list))
            listed.insert(std::move(line));
    }
    bool removed = false;
    std::string adopted;
    for (const std::string& name : platform::folderNames(m_dir)) {
        if (!postedMessageName(name) || listed.contains(name))
            continue;
        // a digest or a status change is found again by the next update; an edit only when the data file holds it
        const char kind = editKind(name);
        if (kind != 0 && savedEntryNamed && holdsEdit(kind, name, savedEntryNamed(name))) {
            log.write("E-mail file '%s' is on no pending list (a crash before it was listed); the data file "
                      "holds its edit, so it is listed\n",
                      name.c_str());
            adopted.append(name).append("\r\n");
            continue;
        }
        log.write("E-mail file '%s' is on no pending list (a crash before it was listed); removed, its "
                  "change is found again by the next update\n",
                  name.c_str());
        removed = platform::removeFile(platform::joinPath(m_dir, name)) || removed;
    }
    Settling settling = Settling::Settled;
    if (!adopted.empty()) {
        std::string text = list.value_or(std::string());
        endLastLine(text);
        if (!write(text + adopted))
            settling = Settling::ListNotWritten;
    }
    if (removed)
        (void)platform::syncFolder(m_path);
    return settling;
}

} // namespace tarnwick::notify
