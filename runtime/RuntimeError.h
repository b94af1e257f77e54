// Run-time errors, the guard that every event passes through, and the end of the program.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>

namespace rt {

enum class ErrorKind {
    Overflow,
    DivisionByZero,
    SubscriptOutOfRange,
    FloatingPointFault,
    PropertyFailed,
    FileNotFound,
    PathAccessError,
    InputPastEndOfFile,
    LineTooLong,
    InvalidPicture,
    OutOfMemory,
};

const char* errorKindText(ErrorKind kind);

class RuntimeError : public std::runtime_error {
public:
    RuntimeError(ErrorKind kind, std::string detail);
    ErrorKind kind() const { return m_kind; }
    const std::string& detail() const { return m_detail; }

private:
    ErrorKind m_kind;
    std::string m_detail;
};

// Ends the running handler; the guard reports the error and ends the program.
[[noreturn]] void raise(ErrorKind kind, std::string detail);

// Runs one event handler. A run-time error ends the handler, is reported and ends the
// program; once the program has ended no handler runs any more. Nested calls (a window
// loaded inside another window's handler) leave the error to the outermost guard.
void dispatch(const std::function<void()>& handler);

// Ends the program at once: windows vanish, no further event or handler.
[[noreturn]] void End();

bool programEnded();
int exitStatus();

// Test seams. An empty function restores the default: the reporter prints to stderr and,
// on a real display, shows a modal box; the end handler hides every window and leaves the
// event loop with the status.
using ErrorReporter = std::function<void(const RuntimeError&)>;
using EndHandler = std::function<void(int status)>;
void setErrorReporter(ErrorReporter reporter);
void setEndHandler(EndHandler handler);

// Lets a fresh program start in the same process (tests start many).
void beginProgram();

} // namespace rt
