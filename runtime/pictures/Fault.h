// Why a picture cannot be shown: the readers' faults, each with its kind and its report.
#pragma once

#include "PictureFile.h"

#include <cstdint>
#include <string>

namespace rt::pictures {

[[noreturn]] void fail(Fault fault);
[[noreturn]] inline void fail(FaultKind kind, std::string cause) {
    fail(Fault{kind, std::move(cause)});
}

// `format` is the table's name of the format ("PNG").
Fault cutShort(const char* format);
Fault damaged(const char* format); // its data cannot be decoded
Fault damaged(std::string what);   // "is damaged (" what ")"
Fault tooLarge(std::int64_t width, std::int64_t height);
// Why a picture of this size is not decoded at all, or a fault of kind None when it may be.
Fault sizeFault(std::int64_t width, std::int64_t height);
inline void checkSize(std::int64_t width, std::int64_t height) {
    if (Fault f = sizeFault(width, height); f.kind != FaultKind::None)
        fail(std::move(f));
}

} // namespace rt::pictures
