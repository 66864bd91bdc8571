#include "platform/settingsfile.h"

#include "platform/files.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace tarnwick::platform {

namespace {

constexpr char k_hex[] = "0123456789ABCDEF";

bool isControl(unsigned char c)
{
    return c < 0x20 || c == 0x7F;
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

void appendEscaped(std::string& out, unsigned char c)
{
    out += '%';
    out += k_hex[c >> 4];
    out += k_hex[c & 0x0F];
}

enum class Part { Section, Name, Value };

void appendEncoded(std::string& out, std::string_view text, Part part)
{
    const size_t last = text.empty() ? 0 : text.size() - 1;
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        bool edge = i == 0 || i == last;
        bool escape = c == '%' || isControl(c) || (c == ' ' && edge);
        switch (part) {
        case Part::Section:
            escape = escape || c == ']';
            break;
        case Part::Name:
            escape = escape || c == '=' || (i == 0 && (c == '[' || c == ';' || c == '#'));
            break;
        case Part::Value:
            break;
        }
        if (escape)
            appendEscaped(out, c);
        else
            out += static_cast<char>(c);
    }
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::string decode(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            int hi = hexValue(text[i + 1]);
            int lo = hexValue(text[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out += static_cast<char>(hi * 16 + lo);
                i += 2;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

std::string_view trimBlanks(std::string_view text)
{
    size_t b = 0;
    size_t e = text.size();
    while (b < e && isBlank(text[b]))
        ++b;
    while (e > b && isBlank(text[e - 1]))
        --e;
    return text.substr(b, e - b);
}

// mkdir -p; new folders are private to the user.
void makeFolders(const std::string& folder)
{
    if (folder.empty())
        return;
    struct stat st {};
    if (::stat(folder.c_str(), &st) == 0)
        return;
    size_t pos = 0;
    while (pos != std::string::npos) {
        pos = folder.find('/', pos + 1);
        std::string prefix = folder.substr(0, pos);
        if (!prefix.empty())
            ::mkdir(prefix.c_str(), 0700);
    }
}

std::atomic<long long> g_lockWaitMs{10000};

// An exclusive flock on the side file for the life of the object. When the side file
// cannot be opened the write goes on unguarded: the file itself is still replaced
// atomically. A lock that another writer holds past `wait` is not had (timedOut()).
class SideLock {
public:
    SideLock(const std::string& path, std::chrono::milliseconds wait)
    {
        m_fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (m_fd < 0)
            return;
        const auto end = std::chrono::steady_clock::now() + wait;
        while (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
            if (errno == EINTR)
                continue;
            if (errno != EWOULDBLOCK || std::chrono::steady_clock::now() >= end) {
                m_timedOut = errno == EWOULDBLOCK;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    bool timedOut() const { return m_timedOut; }
    ~SideLock()
    {
        if (m_fd >= 0)
            ::close(m_fd); // releases the lock
    }
    SideLock(const SideLock&) = delete;
    SideLock& operator=(const SideLock&) = delete;

private:
    int m_fd = -1;
    bool m_timedOut = false;
};

} // namespace

SettingsFile::Sections SettingsFile::parse(std::string_view text)
{
    Sections sections;
    // an editor may start the file with a UTF-8 byte-order mark
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);
    std::string current;
    bool inValidSection = true; // values before the first header belong to the section ""
    size_t pos = 0;
    while (pos < text.size()) {
        size_t lf = text.find('\n', pos);
        size_t end = lf == std::string_view::npos ? text.size() : lf;
        std::string_view line = trimBlanks(text.substr(pos, end - pos));
        pos = lf == std::string_view::npos ? text.size() : lf + 1;
        if (!line.empty() && line.back() == '\r')
            line = trimBlanks(line.substr(0, line.size() - 1));
        if (line.empty() || line[0] == ';' || line[0] == '#')
            continue;
        if (line[0] == '[') {
            // a broken header: its values go nowhere rather than into the section before
            inValidSection = line.size() >= 2 && line.back() == ']';
            if (inValidSection)
                current = decode(line.substr(1, line.size() - 2));
            continue;
        }
        size_t eq = line.find('=');
        if (eq == std::string_view::npos || !inValidSection)
            continue;
        sections[current].insert_or_assign(decode(trimBlanks(line.substr(0, eq))),
                                           decode(trimBlanks(line.substr(eq + 1))));
    }
    return sections;
}

std::string SettingsFile::format(const Sections& sections)
{
    std::string out = "; Tarnwick settings. Bytes a line cannot hold are written as %XX (hex).\n";
    for (const auto& [section, values] : sections) {
        if (values.empty())
            continue;
        out += '\n';
        // the nameless section sorts first: its values stand before the first header
        if (!section.empty()) {
            out += '[';
            appendEncoded(out, section, Part::Section);
            out += "]\n";
        }
        for (const auto& [name, value] : values) {
            appendEncoded(out, name, Part::Name);
            out += '=';
            appendEncoded(out, value, Part::Value);
            out += '\n';
        }
    }
    return out;
}

SettingsFile::Sections SettingsFile::read() const
{
    std::optional<std::string> bytes = readFile(m_path);
    return bytes ? parse(*bytes) : Sections{};
}

std::chrono::milliseconds SettingsFile::lockWait()
{
    return std::chrono::milliseconds(g_lockWaitMs.load());
}

void SettingsFile::setLockWait(std::chrono::milliseconds wait)
{
    g_lockWaitMs.store(wait.count());
}

bool SettingsFile::holdsSecret(const Sections& sections) const
{
    if (!m_secretName)
        return false;
    for (const auto& [section, values] : sections) {
        for (const auto& [name, value] : values) {
            if (!value.empty() && m_secretName(name))
                return true;
        }
    }
    return false;
}

Result SettingsFile::update(const std::function<void(Sections&)>& change) const
{
    makeFolders(folderOf(m_path));
    SideLock lock(m_path + ".lock", lockWait());
    if (lock.timedOut())
        return Result::systemFailure(EWOULDBLOCK);
    ResultOf<std::string> bytes = readFile(m_path);
    if (!bytes && fileExists(m_path))
        return bytes.result();
    Sections sections = bytes ? parse(*bytes) : Sections{};
    change(sections);
    std::string text = format(sections);
    const bool secret = holdsSecret(sections);
    struct stat st {};
    const bool loose = ::stat(m_path.c_str(), &st) == 0 && (st.st_mode & 077) != 0;
    if (bytes && *bytes == text && !(secret && loose))
        return {};
    if (!bytes) {
        // the file may come to hold the password: a new one is readable by its owner only
        int fd = ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0)
            ::close(fd);
    }
    // a dotfile manager keeps the settings as a link to its own copy: the link stays and its target is replaced
    return writeFileAtomic(m_path, text, secret ? FileAccess::OwnerOnly : FileAccess::AsBefore, FileLinks::Follow);
}

Result SettingsFile::setValue(std::string_view section, std::string_view name,
                              std::optional<std::string_view> value) const
{
    return update([&](Sections& sections) {
        if (value) {
            sections[std::string(section)].insert_or_assign(std::string(name), std::string(*value));
            return;
        }
        auto it = sections.find(section);
        if (it == sections.end())
            return;
        auto v = it->second.find(name);
        if (v != it->second.end())
            it->second.erase(v);
    });
}

} // namespace tarnwick::platform
