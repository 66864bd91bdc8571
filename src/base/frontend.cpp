#include "base/frontend.h"

namespace tarnwick::base {

std::string caption(std::string_view title)
{
    std::string out = "Tarnwick\xAE";
    if (!title.empty()) {
        out += " - ";
        out += title;
    }
    return out;
}

} // namespace tarnwick::base
