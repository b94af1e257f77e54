// What the per-format decoders share: the limits, the faults they report, and their entries.
#pragma once

#include "Budget.h"
#include "Snapshot.h"

#include <QImage>

#include <cstdint>
#include <string>

namespace rt::pictures {

constexpr int MaxSide = 30000;
constexpr std::int64_t MaxPixels = 200'000'000;

enum class Format { Unknown, Png, Jpeg, Gif, Bmp };
Format formatOf(const Snapshot& bytes);
const char* formatName(Format format);

// Why a picture cannot be shown, as the report words it ("is cut short (...)").
struct Fault {
    std::string cause;
};
[[noreturn]] void fail(std::string cause);
std::string cutShort(Format format);
std::string damaged(Format format); // its data cannot be decoded
std::string tooLarge(std::int64_t width, std::int64_t height);
// Why a picture of this size is not decoded at all, or empty when it may be.
std::string sizeFault(std::int64_t width, std::int64_t height);
// What a picture of `size` is decoded into for an image control of `shown`.
QSize targetFor(QSize size, QSize shown);

// One load: the file's bytes, the memory it may take, the shown size, and the picture's size
// once a decoder has read it (for the report when the budget runs out).
struct Load {
    const Snapshot& bytes;
    Budget& budget;
    QSize shown;
    QSize size;
};

// Each reads its format's structure and decodes it in the same pass; faults are thrown as
// Fault, memory beyond the budget as OverBudget.
QImage decodePng(Load& load);
QImage decodeGif(Load& load);
QImage decodeBmp(Load& load);
QImage decodeJpeg(Load& load);
// A progressive JPEG from its blocks' means; `frame`, `components` and their colours (`rgb`, else
// YCbCr or grey) as the decode began.
QImage decodeJpegBlockMeans(Load& load, QSize frame, int components, bool rgb, QSize target,
                            int orientation);

} // namespace rt::pictures
