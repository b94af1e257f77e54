// The texts of the error kinds, and raising an error.
#include "lang/RuntimeError.h"

namespace rt {

const char* errorKindText(ErrorKind kind) {
    switch (kind) {
    case ErrorKind::Overflow:
        return "Overflow";
    case ErrorKind::DivisionByZero:
        return "Division by zero";
    case ErrorKind::SubscriptOutOfRange:
        return "Subscript out of range";
    case ErrorKind::FloatingPointFault:
        return "Floating-point fault";
    case ErrorKind::PropertyFailed:
        return "Property call failed";
    case ErrorKind::FileNotFound:
        return "File not found";
    case ErrorKind::PathAccessError:
        return "Path/file access error";
    case ErrorKind::InputPastEndOfFile:
        return "Input past end of file";
    case ErrorKind::InvalidPicture:
        return "Invalid picture";
    case ErrorKind::OutOfMemory:
        return "Out of memory";
    }
    return "Unknown error";
}

RuntimeError::RuntimeError(ErrorKind kind, std::string detail)
    : std::runtime_error(std::string(errorKindText(kind)) + ": " + detail)
    , m_kind(kind)
    , m_detail(std::move(detail)) {}

void raise(ErrorKind kind, std::string detail) {
    throw RuntimeError(kind, std::move(detail));
}

} // namespace rt
