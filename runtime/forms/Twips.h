// Twips and pixels: 15 twips make one logical pixel; Qt maps logical pixels to the device.
#pragma once

#include <cmath>

namespace rt {

constexpr int TwipsPerPixel = 15;

// Positions between pixels go to the nearest pixel.
inline int twipsToPixels(double twips) {
    return static_cast<int>(std::lround(twips / TwipsPerPixel));
}
inline float pixelsToTwips(int pixels) {
    return static_cast<float>(pixels * TwipsPerPixel);
}

} // namespace rt
