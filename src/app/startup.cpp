#include "app/startup.h"

#include "app/application.h"
#include "app/packagemanaged.h"
#include "app/upgrade.h"
#include "core/fieldtable.h"
#include "platform/files.h"
#include "platform/install.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace tarnwick::app {

StartupPlaces systemPlaces()
{
    StartupPlaces places;
    places.programPath = platform::runningProgramPath().value_or(std::string());
    places.startMenuFolder = platform::joinPath(platform::dataHome(), "applications");
    places.programsFolder = platform::dataHome();
    places.version = programVersion();
    return places;
}

StartupState startApplication(AppContext& app, const StartupPlaces& places)
{
    base::AppSettings& settings = app.settings;
    app.log.write("**Tarnwick start, local date-time %s**\n", app.names.value("NowLocal").value_or("").c_str());
    app.log.write("**installed date-time %s**\n", app.names.value("InstalledLocal").value_or("").c_str());
    settings.increment(base::setting::CountExec);
    if (settings.value(base::setting::GUID).empty())
        settings.setValue(base::setting::GUID, newGuid());

    StartupState state;
    state.sortColumn =
        static_cast<int>(core::fieldByKey(settings.value(base::setting::SortBy)).value_or(core::FieldId::Frequency));
    state.sortReversed = settings.number(base::setting::SortReversed) != 0;

    const std::string logDir = app.logDir();
    if (!logDir.empty() && !isDownloadedCopy(places.programPath)) {
        (void)platform::removeFile(platform::joinPath(logDir, k_downloadProgramName));
        for (const std::string_view old : k_oldDownloadProgramNames)
            (void)platform::removeFile(platform::joinPath(logDir, old));
    }

    state.version = places.version;
    state.programPath = places.programPath;
    if (state.version != "?.?.??")
        app.log.write("**version %s**\n", state.version.c_str());

    if (settings.value(base::setting::ShortcutFolder).empty())
        settings.setValue(base::setting::ShortcutFolder, platform::joinPath(places.startMenuFolder, "Tarnwick"));
    if (settings.value(base::setting::Install).empty()) {
        // a program the package manager installed stays where it is
        const bool here = !logDir.empty() || packageManagedText(places.programPath);
        settings.setValue(base::setting::Install, here ? platform::folderOf(places.programPath)
                                                       : platform::joinPath(places.programsFolder, "Tarnwick"));
    }
    return state;
}

void stopApplication(AppContext& app)
{
    app.log.write("**Tarnwick stop, local date-time %s**\n", app.names.value("NowLocal").value_or("").c_str());
}

std::vector<std::string> restartArguments(const CommandLine& commandLine)
{
    std::vector<std::string> words = commandLine.words;
    for (size_t i = 0; i + 1 < words.size(); ++i) {
        if (words[i] == "--settings") {
            std::error_code ec;
            const std::filesystem::path absolute = std::filesystem::absolute(words[i + 1], ec);
            if (!ec)
                words[i + 1] = absolute.string();
            ++i;
        }
    }
    return words;
}

std::string newGuid()
{
    std::array<unsigned char, 16> bytes{};
    std::ifstream random("/dev/urandom", std::ios::binary);
    if (!random.read(reinterpret_cast<char*>(bytes.data()), bytes.size()))
        return {};
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40); // version 4
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80); // RFC 4122 variant
    std::string out = "{";
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            out += '-';
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02X", bytes[i]);
        out += hex;
    }
    return out + "}";
}

} // namespace tarnwick::app
