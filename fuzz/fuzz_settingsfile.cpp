// The settings file parser on any bytes: it must not crash, and parse -> write ->
// parse must give the same values, with the written text a fixed point.
#include "platform/settingsfile.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

using tarnwick::platform::SettingsFile;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const SettingsFile::Sections first = SettingsFile::parse(bytes);
    const std::string text = SettingsFile::format(first);
    const SettingsFile::Sections second = SettingsFile::parse(text);
    if (second != first)
        std::abort();
    if (SettingsFile::format(second) != text)
        std::abort();
    return 0;
}
