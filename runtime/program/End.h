// The end of the program: End, an end after a run-time error, and whether it has ended.
#pragma once

#include <functional>

namespace rt {

class RuntimeError;

// Ends the program at once: windows vanish, no further event or handler.
[[noreturn]] void End();

// Thrown by End to unwind the running handler; the handler guard swallows it.
struct ProgramEnd {};

// Ends the program with status 1 after reporting error; nothing runs while the report shows.
void endWithError(const RuntimeError& error);

bool programEnded();
int exitStatus();

// Test seam. An empty function restores the default, which hides every window and leaves the
// event loop with the status.
using EndHandler = std::function<void(int status)>;
void setEndHandler(EndHandler handler);

// Lets a fresh program start in the same process (tests start many).
void beginProgram();

} // namespace rt
