// Progressive JPEG pictures from their blocks' means.
#pragma once

#include "Formats.h"

#include <cstdio> // jpeglib.h needs FILE

#include <jpeglib.h>

namespace rt::pictures {

// Goes on from where libjpeg read the header up to its first scan, `cinfo` holding the frame,
// the tables and that scan; the stream stands at the scan's data.
QImage readJpegBlockMeans(Load& load, const jpeg_decompress_struct& cinfo, QSize target,
                          int orientation);

} // namespace rt::pictures
