#pragma once

#include <QString>

#include <string>
#include <string_view>

namespace tarnwick::gui {

// Bytes as the window shows them: each valid UTF-8 sequence as its character,
// every other byte as its Latin-1 character.
QString fromBytes(std::string_view bytes);
// What the user typed, back into bytes (UTF-8).
std::string toBytes(const QString& text);

// Makes the icons built into the library available (a static library's
// resources are not registered by themselves).
void initResources();

} // namespace tarnwick::gui
