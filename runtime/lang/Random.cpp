// The generator behind Rnd: splitmix64, seeded from the high-resolution clock.
#include "lang/Random.h"

#include "LangState.h"

#include <chrono>
#include <cstdint>

namespace rt {
namespace {

std::uint64_t next() {
    std::uint64_t z = (langState().rnd += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

} // namespace

void Randomize() {
    const auto now = std::chrono::high_resolution_clock::now().time_since_epoch().count();
    langState().rnd ^= static_cast<std::uint64_t>(now) * 0xD1B54A32D192ED03ull;
    next();
}

float Rnd() {
    if (const auto& source = langState().rndSource) {
        const float r = source();
        // A replaced source must still keep the promise 0 <= r < 1.
        return (r >= 0.0f && r < 1.0f) ? r : 0.0f;
    }
    // 24 bits fill a float's mantissa exactly, so the result is always below 1.
    return static_cast<float>(next() >> 40) * (1.0f / 16777216.0f);
}

} // namespace rt
