// Randomize and Rnd: the random numbers of the game.
#pragma once

namespace rt {

// Seeds the generator from the clock, mixed with its previous state so that two seeds taken
// within the same clock tick still give different sequences.
void Randomize();

// The next number of the sequence: single precision, 0 <= r < 1.
float Rnd();

} // namespace rt
