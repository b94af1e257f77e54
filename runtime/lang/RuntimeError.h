// Run-time errors: their kinds, the error that carries one, and raise, which ends the running
// handler with it.
#pragma once

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

// Ends the running handler; the handler guard reports the error and ends the program.
[[noreturn]] void raise(ErrorKind kind, std::string detail);

} // namespace rt
