#include "cli/commands.h"
#include "cli/session.h"

#include "base/settings.h"
#include "platform/files.h"
#include "rules/rulesfile.h"

#include <cerrno>
#include <cstring>
#include <iostream>
#include <string>
#include <sys/stat.h>

namespace tarnwick::cli {

namespace {

constexpr const char* k_usage = "usage: tarnwick-cli [--settings FILE] rules use office-xml|built-in\n";

int cannot(const char* what, const std::string& path, int err)
{
    std::cerr << "tarnwick-cli: cannot " << what << " " << path << ": " << std::strerror(err) << "\n";
    return 1;
}

} // namespace

// Chooses the rules in use. "office-xml" writes the rules for the office's XML status
// records as the rules file below the logging folder (atomically, making the
// Tarnwick folder when missing); "built-in" removes the rules file, so that the
// built-in default rules are read at the next start.
int cmdRules(const Invocation& inv)
{
    if (inv.args.size() != 2 || inv.args[0] != "use" || (inv.args[1] != "office-xml" && inv.args[1] != "built-in")) {
        std::cerr << k_usage;
        return 1;
    }
    // a running update may save the rules file too
    std::unique_ptr<Session> s = Session::open(inv, Needs{true, true, Needs::Entries::Unread});
    if (!s)
        return 1;
    const std::string logDir = s->app.logDir();
    const std::string path = rules::RulesFile::filePath(logDir);

    if (inv.args[1] == "built-in") {
        errno = 0;
        if (platform::removeFile(path)) {
            std::cout << "The built-in rules are in use: " << path << " is removed.\n";
            return 0;
        }
        if (errno != ENOENT)
            return cannot("remove", path, errno);
        std::cout << "The built-in rules are in use: there is no " << path << ".\n";
        return 0;
    }

    const std::string text(rules::RulesFile::officeXmlText());
    const std::string folder = platform::joinPath(logDir, "Tarnwick");
    if (::mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST)
        return cannot("make the folder", folder, errno);
    errno = 0;
    if (!platform::writeFileAtomic(path, text))
        return cannot("write", path, errno ? errno : EIO);
    std::cout << "The rules for the office's XML status records (version " << rules::RulesFile::versionOf(text)
              << ") are in " << path << ".\n";
    return 0;
}

} // namespace tarnwick::cli
