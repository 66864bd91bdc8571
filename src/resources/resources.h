#pragma once

#include <optional>
#include <string_view>
#include <vector>

namespace tarnwick::resources {

struct Resource {
    std::string_view name;  // file name without ".txt", e.g. "template11"
    std::string_view bytes; // the file's bytes exactly, CR LF kept
};

const std::vector<Resource>& all();

// The text of built-in template `id` (1..17); none when it is missing or empty.
std::optional<std::string_view> templateText(int id);
// The text of the resource file `name` (without ".txt"); none when it is missing or empty.
std::optional<std::string_view> text(std::string_view name);

} // namespace tarnwick::resources
