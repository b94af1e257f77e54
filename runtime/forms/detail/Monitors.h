// The primary monitor: where it stands on the desktop and its size.
#pragma once

#include <QRect>

namespace rt {

// The primary monitor's rectangle in logical pixels. Where Qt knows only one screen spanning
// several monitors (Xinerama without RandR), the first of Xinerama's heads, which X11 treats as
// the primary one there.
QRect primaryMonitor();

} // namespace rt
