// The program as a whole: what main runs.
#pragma once

namespace kelvora {

// The reverse-DNS id under which the desktop knows the program.
constexpr const char* AppId = "io.github.kelvoradx.KelvoraDX";

// Starts the program with the board window and runs it until it ends; the exit status.
int runProgram(char* argv0);

} // namespace kelvora
