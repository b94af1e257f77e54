// The decoders of our own, each straight into a picture of the size it is shown at.
#pragma once

#include "AreaScaler.h"
#include "ByteWindow.h"

#include <QImage>

namespace rt::pictures {

// Decoders of our own, each straight into a picture of `target`. The walk has checked the file
// first; `size` is the picture's size as the walk found it. A null image means the data cannot
// be decoded.
QImage decodeGif(Bytes& b, QSize size, QSize target);
// BMPs of up to 256 colours, uncompressed or run-length.
bool isIndexedBmp(Bytes& b);
QImage decodeIndexedBmp(Bytes& b, QSize target);
// A progressive JPEG at 1/8 of its size (or less): the frame header's marker is at
// frameHeader. The bytes the decoder will hold, or -1 for a JPEG it does not read (not
// progressive, not 8-bit, CMYK).
qint64 jpegDcBytes(Bytes& b, qint64 frameHeader);
QImage decodeJpegDc(Bytes& b, QSize target);

} // namespace rt::pictures
