// The picture library's entries: a picture file, or its bytes, decoded for an image control.
#pragma once

#include "DecodeCache.h"

#include <QImage>
#include <QSize>

#include <memory>
#include <span>
#include <string>

namespace rt::pictures {

// What kind of thing kept a picture from being shown; the cause words it for the report.
enum class FaultKind {
    None,
    CannotRead,  // the file could not be read to its end
    Empty,       // the file holds no byte
    NotAPicture, // no format the library reads
    NotShown,    // a picture of a kind the library knows but does not decode (PSD, PDF...)
    CutShort,    // the data ends before the picture does
    Damaged,     // the data cannot be decoded
    TooLarge,    // more pixels than are decoded, or more memory than a load may take
    TooComplex,  // more work than any real picture asks for (a JPEG's scans, a HEIF's tiles)
    Unsupported, // a kind of picture not shown (a HEIF overlay), or its codec is not installed
};

struct Fault {
    FaultKind kind = FaultKind::None;
    std::string cause; // as the report words it: "is cut short (...)"
};

// A picture, or why there is none.
struct Decoded {
    std::shared_ptr<const QImage> picture;
    Fault fault;
};

// Decodes for an image control of `shown` device pixels: never more pixels than `shown` on
// either side (a smaller picture keeps its size; the control stretches it); an empty `shown`
// means the picture's own size, within the limits.
Decoded decodeBytes(std::span<const unsigned char> bytes, QSize shown);

// Reads the picture file at path once, front to back, and decodes it as decodeBytes does; the
// same bytes at the same path and size as `last` are not decoded again, and `last` then keeps
// what was decoded. Anything that cannot be shown raises the run-time error
// `picture "path": cause`.
std::shared_ptr<const QImage> decodeFile(const std::string& path, QSize shown, DecodeCache& last);

} // namespace rt::pictures
