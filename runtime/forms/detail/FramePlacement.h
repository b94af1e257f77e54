// The frame put right once the window is up, where the window manager did not tell it before.
#pragma once

#include <QRect>

class QWidget;

namespace rt {

// Where a frame of `size` stands when the frame `placed` (placed while its size was not known)
// turns out to be that large: it grows away from the centre lines of `monitor`. A window placed
// left of the vertical centre line keeps its right edge, one right of it its left edge, one
// across it its centre; likewise above, below and across the horizontal line. So two windows
// placed about the centre keep the gap between them.
QRect grownAwayFromCentre(QRect placed, QSize size, QRect monitor);

// Before the first show: places the window as if framed, and placed, like the window framed
// last, so that under the same window manager it stands right from its first show. Nothing
// before any window was framed.
void placeAsLastFramed(QWidget* window, QRect placed, QRect monitor);

// Waits, briefly and bounded, until the window manager has framed the just shown window, then
// moves the window once so that its outer frame stands as `placed` grown away from the centre of
// `monitor`. Both in logical pixels. Nothing happens off X11 or without a frame in time.
void placeFrameOnceMapped(QWidget* window, QRect placed, QRect monitor);

} // namespace rt
