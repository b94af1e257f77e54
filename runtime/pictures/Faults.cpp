// The reports of the readers' faults.
#include "Fault.h"

#include "Limits.h"

namespace rt::pictures {

void fail(Fault fault) {
    throw fault;
}

Fault cutShort(const char* format) {
    return {FaultKind::CutShort, std::string("is cut short (the ") + format +
                                     " data ends before the end of the picture)"};
}

Fault damaged(const char* format) {
    return {FaultKind::Damaged,
            std::string("is damaged (its ") + format + " data cannot be decoded)"};
}

Fault damaged(std::string what) {
    return {FaultKind::Damaged, "is damaged (" + std::move(what) + ")"};
}

Fault tooLarge(std::int64_t width, std::int64_t height) {
    return {FaultKind::TooLarge,
            "is too large (" + std::to_string(width) + " x " + std::to_string(height) + " pixels)"};
}

Fault sizeFault(std::int64_t width, std::int64_t height) {
    if (width <= 0 || height <= 0)
        return damaged(std::string("its size cannot be read"));
    if (width > MaxSide || height > MaxSide || width * height > MaxPixels)
        return tooLarge(width, height);
    return {};
}

} // namespace rt::pictures
