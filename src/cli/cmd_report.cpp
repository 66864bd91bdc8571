#include "cli/commands.h"

#include <iostream>

namespace tarnwick::cli {

int cmdReport(const Invocation&)
{
    std::cerr << "tarnwick-cli: this command is not built yet\n";
    return 1;
}

} // namespace tarnwick::cli
