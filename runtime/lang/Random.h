// Randomize and Rnd: the random numbers of the game.
#pragma once

#include <functional>

namespace rt {

// Seeds the generator from the clock, mixed with its previous state so that two seeds taken
// within the same clock tick still give different sequences.
void Randomize();

// The next number of the sequence: single precision, 0 <= r < 1.
float Rnd();

// Test seam: a source that replaces the generator (Randomize then has no effect on Rnd).
// An empty function restores the generator.
void setRndSource(std::function<float()> source);

} // namespace rt
