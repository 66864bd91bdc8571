#include "platform/packagemanager.h"

#include "platform/files.h"

#include <algorithm>

#ifndef TARNWICK_PACKAGE_MARKER
#define TARNWICK_PACKAGE_MARKER "../share/tarnwick/package-manager"
#endif

namespace tarnwick::platform {

std::string_view packageMarkerPath()
{
    return TARNWICK_PACKAGE_MARKER;
}

std::optional<std::string> packageManager(std::string_view programPath)
{
    const size_t slash = programPath.rfind('/');
    if (slash == std::string_view::npos)
        return std::nullopt;
    const std::string marker = joinPath(programPath.substr(0, slash), packageMarkerPath());
    std::optional<std::string> text = readFile(marker, FileKind::Regular);
    if (!text)
        return std::nullopt;
    std::string name = text->substr(0, text->find_first_of("\r\n"));
    const bool plain = std::all_of(name.begin(), name.end(), [](char c) { return c >= ' ' && c <= '~'; });
    if (!plain || name.size() > 40)
        name.clear();
    return name;
}

} // namespace tarnwick::platform
