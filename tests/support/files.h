#pragma once

// Plain file reading and writing for tests that set up or inspect a folder by hand.

#include <fstream>
#include <sstream>
#include <string>

namespace tarnwick::test {

// The bytes of the file at `path`; empty when it cannot be read.
inline std::string readAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Writes `bytes` as the whole file at `path`, in place.
inline void writeFile(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

// The name the command-line tests read files with.
inline std::string readWholeFile(const std::string& path)
{
    return readAll(path);
}

} // namespace tarnwick::test
