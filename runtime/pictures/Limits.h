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
// A progressive JPEG whose coefficients would cost more than this is shown from its blocks'
// means (a 4:2:0 picture of about 5.5 million pixels).
constexpr std::int64_t MaxCoefficientBytes = 16 * 1024 * 1024;

// A HEIF grid has its tiles decoded one by one; a photo of the largest picture shown, in the
// 512 x 512 tiles phones use, has 3481.
constexpr int MaxHeifTiles = 4096;
// Tiles decoded side by side, as libheif does: each costs a tile's decoder.
constexpr unsigned MaxHeifWorkers = 4;

// A file up to this size is read ahead whole before decoding when the last game showed the same
// path, so that unchanged bytes are known by their hash and not decoded again.
constexpr std::size_t MaxCheckedAhead = std::size_t(16) << 20;

} // namespace rt::pictures
