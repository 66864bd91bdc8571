#include "resources/resources.h"

#include <cstdio>

namespace tarnwick::resources {

std::optional<std::string_view> text(std::string_view name)
{
    for (const Resource& r : all()) {
        if (r.name == name)
            return r.bytes.empty() ? std::nullopt : std::optional<std::string_view>(r.bytes);
    }
    return std::nullopt;
}

std::optional<std::string_view> templateText(int id)
{
    char name[16];
    std::snprintf(name, sizeof name, "template%02d", id);
    return text(name);
}

} // namespace tarnwick::resources
