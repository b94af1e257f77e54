// What one picture load may cost: every limit of the picture library, in one place.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rt::pictures {

// Pictures larger than this are refused before any pixel is decoded.
constexpr int MaxSide = 30000;
constexpr std::int64_t MaxPixels = 200'000'000;

// What one load may hold at once: the file's bytes, the decoders' buffers and the C libraries'
// own memory. The game itself takes about 35 MB; with the heap's slack, no picture file takes it
// above 200 MB.
constexpr std::size_t LoadBudget = std::size_t(128) << 20;

// A PNG's text, colour profile or other metadata is never shown; no real one is this long.
constexpr std::uint32_t MaxAncillaryChunk = 8u << 20;

// A JPEG's EXIF data is read for its orientation only; the tag stands near its start.
constexpr std::size_t MaxExifBytes = 64 * 1024;
// Each scan makes a decoder walk every block of the picture again, however little data it
// holds; real files have at most a few dozen (a progressive CMYK one about 40).
constexpr int MaxJpegScans = 100;
// What libjpeg may take of a load's budget for a file of up to 1 MB, so that any such file stays
// within 20 MB of a game; each byte beyond lets it take 32 more, for the coefficients it must
// hold of a large progressive CMYK or multi-scan file (real ones hold 8 to 16 for each byte).
constexpr std::size_t MinJpegShare = std::size_t(14) << 20;
// A progressive JPEG whose coefficients would cost more than this is shown from its blocks'
// means (a 4:2:0 picture of about 5.5 million pixels).
constexpr std::int64_t MaxCoefficientBytes = 16 * 1024 * 1024;

// A drawing's text, once inflated from a .svgz: no real drawing shown in a window is this long.
constexpr std::size_t MaxSvgBytes = std::size_t(8) << 20;
// librsvg takes about 2 KB and 20 to 90 microseconds for each element it draws (a drawing of 99000
// small rectangles: 190 MB and 9 s in rsvg-convert), and its libraries 6 MB more when the first
// drawing loads them: this many keep a drawing within +20 MB of a game and about half a second.
// Counted with every `use` drawn out.
constexpr std::size_t MaxSvgElements = 4'000;
// What librsvg's tree takes for an element, charged since it allocates from the C heap.
constexpr std::size_t SvgElementBytes = 2048;
// libxml2 stops deeper documents itself; we stop them before librsvg sees them.
constexpr std::size_t MaxSvgNesting = 256;
// A TIFF's rows are converted to colours this many bytes at a time at most.
constexpr std::size_t MaxTiffBandBytes = std::size_t(8) << 20;

// A HEIF grid has its tiles decoded one by one; a photo of the largest picture shown, in the
// 512 x 512 tiles phones use, has 3481.
constexpr int MaxHeifTiles = 4096;
// Tiles decoded side by side, as libheif does: each costs a tile's decoder.
constexpr unsigned MaxHeifWorkers = 4;

} // namespace rt::pictures
