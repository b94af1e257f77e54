// The window manager's frame around a top-level window, known before the window is first shown.
#pragma once

#include <QMargins>

class QWidget;

namespace rt {

// The frame the window manager puts around the window, in the window's logical pixels. Asked
// of the window manager once, for the still unmapped window, with a short bounded wait; empty
// without a window manager, without an answer in time, or off X11.
QMargins frameExtents(QWidget* window);

} // namespace rt
