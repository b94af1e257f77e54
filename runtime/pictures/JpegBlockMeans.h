// Progressive JPEG pictures from their blocks' means.
#pragma once

#include "Formats.h"
#include "Snapshot.h"

namespace rt::pictures {

// `frame`, `components` and their colours (`rgb`, else YCbCr or grey) as the decode began.
QImage decodeJpegBlockMeans(Load& load, const Snapshot& bytes, QSize frame, int components,
                            bool rgb, QSize target, int orientation);

} // namespace rt::pictures
