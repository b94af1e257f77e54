// The primary monitor's full size (not its work area), in twips.
#include "forms/Screen.h"

#include "detail/Monitors.h"
#include "forms/Twips.h"

namespace rt::Screen {
namespace {
float g_width = 0;
float g_height = 0;

QSize screenSize() {
    return primaryMonitor().size();
}
} // namespace

float Width() {
    return g_width > 0 ? g_width : pixelsToTwips(screenSize().width());
}
float Height() {
    return g_height > 0 ? g_height : pixelsToTwips(screenSize().height());
}

void setSizeForTesting(float width, float height) {
    g_width = width;
    g_height = height;
}

} // namespace rt::Screen
