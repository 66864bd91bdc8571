#pragma once

#include <QRect>
#include <QSize>

class QWidget;

namespace tarnwick::gui {

// Opens `window`, a top-level window not shown yet, at `wanted` (its client rectangle) or, when that is empty, at
// `size` in the middle of the primary screen: moved, and shrunk where needed, so that it lies wholly on the
// available area of the screen that holds most of it, its frame included. Each time the window is shown it is
// checked again with the frame the window manager really gave it.
void placeWindow(QWidget* window, const QRect& wanted, const QSize& size);

} // namespace tarnwick::gui
