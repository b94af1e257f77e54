// The report of a run-time error that ends the program.
#pragma once

namespace rt {

class RuntimeError;

// Prints the error to stderr and, on a real display, shows it in a modal box titled with the
// application's name; a test's report seam stands in for both.
void reportError(const RuntimeError& error);

} // namespace rt
