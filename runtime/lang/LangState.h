// What the language's services change while a program runs: Rnd's generator and the file open
// for Line Input. One instance, reset as a whole by resetLang when a program begins.
#pragma once

#include "InputFile.h"

#include <cstdint>
#include <functional>

namespace rt {

struct LangState {
    std::uint64_t rnd = 0x9E3779B97F4A7C15ull;
    std::function<float()> rndSource; // replaces the generator where set
    InputFile file;
};

LangState& langState();

} // namespace rt
