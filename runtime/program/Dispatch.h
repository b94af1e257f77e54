// The guard that every event handler runs inside.
#pragma once

#include <functional>

namespace rt {

// Runs one event handler. A run-time error ends the handler, is reported and ends the
// program; once the program has ended no handler runs any more. Nested calls (a window
// loaded inside another window's handler) leave the error to the outermost guard.
void dispatch(const std::function<void()>& handler);

} // namespace rt
