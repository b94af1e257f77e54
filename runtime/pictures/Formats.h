// The table of picture formats: each row a format's name, how its first bytes tell it, and its
// reader, one file each. A new format is one row and one file.
#pragma once

#include "Budget.h"
#include "Fault.h"
#include "Stream.h"

#include <QImage>

#include <span>

namespace rt::pictures {

// One load: the file's bytes as they come, the memory it may take, the shown size, and the
// picture's size once a reader has read it (for the report when the budget runs out).
struct Load {
    Stream& in;
    Budget& budget;
    QSize shown;
    QSize size;
    const char* format = ""; // the table's name for it
};

struct PictureFormat {
    const char* name;
    // Told by the file's first bytes (at most HeadBytes; fewer for a short file).
    bool (*sniff)(std::span<const unsigned char> head);
    // Reads the structure and decodes it in the same pass; faults are thrown as Fault, memory
    // beyond the budget as OverBudget.
    QImage (*read)(Load& load);
};
constexpr std::size_t HeadBytes = 64;

extern const PictureFormat PngFormat;
extern const PictureFormat JpegFormat;
extern const PictureFormat GifFormat;
extern const PictureFormat BmpFormat;
extern const PictureFormat WebpFormat;
extern const PictureFormat HeifFormat;
extern const PictureFormat AvifFormat;
extern const PictureFormat JxlFormat;
extern const PictureFormat TiffFormat;
extern const PictureFormat IcoFormat;
extern const PictureFormat SvgFormat;
extern const PictureFormat DibFormat;

// A bitmap without its file header, the stream at its info header: a .dib file, or the image of
// an icon held in `icon` (its height doubled, its AND mask after the colours as transparency).
QImage readDib(Load& load, std::span<const unsigned char> icon = {});

// The row whose sniff takes `head`, or null.
const PictureFormat* formatOf(std::span<const unsigned char> head);
// "a PNG, JPEG, GIF, BMP, WebP, ... or SVG": the formats read, for the report on any other file.
std::string formatsRead();

// Whether `head` starts with `magic`.
inline bool startsWith(std::span<const unsigned char> head, std::string_view magic) {
    return head.size() >= magic.size() &&
           std::equal(magic.begin(), magic.end(), head.begin(),
                      [](char m, unsigned char h) { return static_cast<unsigned char>(m) == h; });
}

// What a picture of `size` is decoded into for an image control of `shown`.
inline QSize targetFor(QSize size, QSize shown) {
    return shown.isEmpty() ? size : size.boundedTo(shown);
}

} // namespace rt::pictures
