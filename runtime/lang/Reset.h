// The one reset of the language's state (Rnd's generator, the open file), which the program
// calls when it begins.
#pragma once

#include <functional>

namespace rt {

// Closes the open file and restarts Rnd's generator; a source given replaces the generator
// (Randomize then has no effect on Rnd).
void resetLang(std::function<float()> rndSource = {});

} // namespace rt
