// The size of the screen, in twips: the primary monitor's, wherever it stands.
#pragma once

namespace rt::Screen {

float Width();
float Height();

// Test seam: a screen of the given size in twips; zero or less restores the real screen.
void setSizeForTesting(float width, float height);

} // namespace rt::Screen
