// The window manager's frame around a top-level window, known before the window is first shown.
#pragma once

#include <QMargins>

#include <optional>

class QWidget;

namespace rt {

// The frame the window manager puts around the window, in the window's logical pixels. Asked
// of the window manager once, for the still unmapped window, with a short bounded wait; empty
// without a window manager or off X11. None where a window manager runs but does not tell in
// time (kwin, fluxbox, i3): it will frame the window, and only once the window is mapped is it
// known how.
std::optional<QMargins> frameExtents(QWidget* window);

} // namespace rt
