// The report of a run-time error that ends the program.
#pragma once

#include <functional>

namespace rt {

class RuntimeError;

// Prints the error to stderr and, on a real display, shows it in a modal box.
void reportError(const RuntimeError& error);

// Test seam: a reporter in place of the default; an empty function restores it.
using ErrorReporter = std::function<void(const RuntimeError&)>;
void setErrorReporter(ErrorReporter reporter);

} // namespace rt
