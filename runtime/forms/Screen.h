// The size of the screen, in twips: the primary monitor's, wherever it stands.
#pragma once

namespace rt::Screen {

float Width();
float Height();

} // namespace rt::Screen
