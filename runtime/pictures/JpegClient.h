// What libjpeg is given to work with: its bytes from the stream, its memory from the load's
// budget, a watch on its scans, its errors as a jump back, and the EXIF data it passes.
#pragma once

#include "Budget.h"
#include "Stream.h"

#include <cstdio> // jpeglib.h needs FILE

#include <jpeglib.h>

#include <array>
#include <csetjmp>

namespace rt::pictures {

struct JpegClient {
    // Gives `cinfo` its error handler; then jpeg_create_decompress, then install().
    JpegClient(jpeg_decompress_struct& cinfo, Stream& in, Budget& budget, std::size_t share);
    // Has `cinfo` read from `in` and take no more than `share` of `budget`.
    void install();
    // The bytes libjpeg holds but has not read go back to the stream.
    void giveBackUnread();

    // Why libjpeg was stopped, once it has jumped back.
    enum class Stop { Fault, CutShort, OverBudget, TooManyScans };
    Stop stop = Stop::Fault;
    std::jmp_buf jump;

    jpeg_error_mgr errors{};
    jpeg_source_mgr source{};
    jpeg_progress_mgr progress{};
    jpeg_decompress_struct& cinfo;
    Stream& in;
    Budget& budget;
    // libjpeg's own methods, which the charging ones call on.
    jpeg_memory_mgr memory{};
    std::size_t share;
    std::size_t used = 0;
    std::array<std::size_t, JPOOL_NUMPOOLS> pools{};
    // The first EXIF segment's start (at most MaxExifBytes).
    Buffer<unsigned char> exif;
};

// The orientation (1-8) in EXIF data, or 1.
int exifOrientation(const Buffer<unsigned char>& exif);

} // namespace rt::pictures
