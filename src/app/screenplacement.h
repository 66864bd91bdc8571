#pragma once

#include <cstddef>
#include <vector>

namespace tarnwick::app {

// A rectangle of the desktop in the window system's logical pixels.
struct ScreenRect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;

    int right() const { return left + width; }  // one past the last column
    int bottom() const { return top + height; } // one past the last row
    bool operator==(const ScreenRect&) const = default;
};

// What the window manager's frame adds around a window's client area.
struct FrameMargins {
    int left = 0;
    int top = 0; // the title bar
    int right = 0;
    int bottom = 0;
};

// Of the screens' available areas, the one that holds the largest part of `window`; the first (the primary
// screen) when it lies on none, as a window saved on a screen that is gone does.
std::size_t screenFor(const std::vector<ScreenRect>& available, const ScreenRect& window);

// Where a window whose client area asks for `wanted` opens wholly on `available`, its frame included: shrunk
// where the frame does not fit (never below `minimum`), then moved in. Where even the least size does not fit,
// the top-left corner stays on the area, so the title bar can always be reached to move the window.
ScreenRect placeOnScreen(const ScreenRect& wanted, const FrameMargins& frame, const ScreenRect& available,
                         int minimumWidth = 1, int minimumHeight = 1);

} // namespace tarnwick::app
