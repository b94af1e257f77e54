// The end of the program: an end after a run-time error, and whether and how it has ended.
// End itself is the language's (lang/End.h); the handler guard ends the program on it.
#pragma once

namespace rt {

class RuntimeError;

// Ends the program with status; nothing more if it has ended already.
void endProgram(int status);

// Ends the program with status 1 after reporting error; nothing runs while the report shows.
void endWithError(const RuntimeError& error);

bool programEnded();
int exitStatus();

} // namespace rt
