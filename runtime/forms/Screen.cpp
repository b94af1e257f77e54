// The primary monitor's full size (not its work area), in twips.
#include "forms/Screen.h"

#include "detail/WindowFrame.h"
#include "forms/Twips.h"
#include "program/Program.h"

namespace rt::Screen {

float Width() {
    const float given = seams().screenWidth;
    return given > 0 ? given : pixelsToTwips(primaryMonitor().width());
}
float Height() {
    const float given = seams().screenHeight;
    return given > 0 ? given : pixelsToTwips(primaryMonitor().height());
}

} // namespace rt::Screen
