// End: the statement that ends the program.
#pragma once

namespace rt {

// Thrown by End to unwind the running handler; the handler guard ends the program on it.
struct ProgramEnd {};

// Ends the program at once: windows vanish, no further event or handler.
[[noreturn]] inline void End() {
    throw ProgramEnd{};
}

} // namespace rt
