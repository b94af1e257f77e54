// BMP pictures, read and decoded in one pass a row at a time into the area scaler: up to 256
// colours uncompressed or run-length (RLE8, RLE4), and 16, 24 or 32 bits a pixel, with or
// without bit fields. Pixels the run-length data skips take the palette's first colour.
#include "AreaScaler.h"
#include "Formats.h"

#include <bit>

namespace rt::pictures {
namespace {

struct Header {
    std::int64_t offset;      // of the pixel data
    std::uint32_t headerSize; // 12 for the oldest header: 16-bit sides, 3-byte colours
    int width, height;        // height as drawn
    bool topDown;
    int bits;
    std::uint32_t compression; // 0 none, 1 RLE8, 2 RLE4, 3 and 6 bit fields
};

// A colour channel given by a bit mask, as 0-255.
struct Channel {
    std::uint32_t mask = 0;
    int shift = 0;
    std::uint32_t max = 0;
    explicit Channel(std::uint32_t m)
        : mask(m)
        , shift(m ? std::countr_zero(m) : 0)
        , max(m ? m >> shift : 0) {}
    int of(std::uint32_t pixel, int none) const {
        return max ? int(std::uint64_t((pixel & mask) >> shift) * 255 / max) : none;
    }
};

[[noreturn]] void unreadable() {
    fail(damaged(Format::Bmp));
}

void addRow(AreaScaler& into, const Header& h, int stored, const QRgb* row) {
    if (!into.addRow(h.topDown ? stored : h.height - 1 - stored, row, h.width))
        unreadable();
}

// Rows of 16, 24 or 32 bits a pixel, padded to 4 bytes.
void decodeDirect(Load& load, const Header& h, AreaScaler& into) {
    const Snapshot& b = load.bytes;
    std::uint32_t red = 0, green = 0, blue = 0, alpha = 0;
    if (h.compression == 3 || h.compression == 6) {
        red = b.le32(54);
        green = b.le32(58);
        blue = b.le32(62);
        if (h.compression == 6 || h.headerSize >= 56)
            alpha = b.le32(66);
    } else if (h.bits == 16) {
        red = 0x7C00, green = 0x03E0, blue = 0x001F;
    } else {
        red = 0xFF0000, green = 0xFF00, blue = 0xFF;
    }
    const Channel r(red), g(green), bl(blue), a(alpha);
    const std::int64_t stride = (std::int64_t(h.width) * h.bits + 31) / 32 * 4;
    const int bytes = h.bits / 8;
    Buffer<QRgb> row = buffer<QRgb>(load.budget, std::size_t(h.width));
    for (int y = 0; y < h.height; ++y) {
        const unsigned char* p = b.data() + h.offset + y * stride;
        for (int x = 0; x < h.width; ++x, p += bytes) {
            std::uint32_t pixel = p[0] | std::uint32_t(p[1]) << 8;
            if (bytes > 2)
                pixel |= std::uint32_t(p[2]) << 16;
            if (bytes > 3)
                pixel |= std::uint32_t(p[3]) << 24;
            row[std::size_t(x)] =
                qRgba(r.of(pixel, 0), g.of(pixel, 0), bl.of(pixel, 0), a.of(pixel, 255));
        }
        addRow(into, h, y, row.data());
    }
}

// Up to 256 colours, uncompressed or run-length. Rows come bottom first (unless the height is
// negative); each is handed on once it is done, rows jumped over as the first colour.
void decodeIndexed(Load& load, const Header& h, AreaScaler& into) {
    const Snapshot& b = load.bytes;
    const bool core = h.headerSize == 12;
    Buffer<QRgb> palette = buffer<QRgb>(load.budget, 256, qRgb(0, 0, 0));
    const std::uint32_t used = core ? 0 : b.le32(46);
    const std::size_t colours =
        used == 0 ? std::size_t(1) << h.bits : std::min<std::size_t>(used, 256);
    for (std::size_t i = 0; i < colours; ++i) {
        const std::int64_t at = 14 + std::int64_t(h.headerSize) + std::int64_t(i) * (core ? 3 : 4);
        if (b.has(at + 2))
            palette[i] = qRgb(b.at(at + 2), b.at(at + 1), b.at(at));
    }

    Buffer<unsigned char> indices = buffer<unsigned char>(load.budget, std::size_t(h.width));
    Buffer<QRgb> row = buffer<QRgb>(load.budget, std::size_t(h.width));
    int stored = 0;
    const auto flush = [&] {
        if (stored >= h.height)
            return;
        for (int x = 0; x < h.width; ++x)
            row[std::size_t(x)] = palette[indices[std::size_t(x)]];
        addRow(into, h, stored, row.data());
        std::fill(indices.begin(), indices.end(), 0);
        ++stored;
    };
    const auto put = [&](int& x, int index) {
        if (x < h.width)
            indices[std::size_t(x++)] = static_cast<unsigned char>(index);
    };

    std::int64_t pos = h.offset;
    if (h.compression == 0) { // rows of indices packed from the high bit, padded to 4 bytes
        const std::int64_t stride = (std::int64_t(h.width) * h.bits + 31) / 32 * 4;
        const int mask = (1 << h.bits) - 1;
        while (stored < h.height) {
            const unsigned char* p = b.data() + pos;
            for (int x = 0; x < h.width; ++x) {
                const int bit = x * h.bits;
                indices[std::size_t(x)] =
                    static_cast<unsigned char>((p[bit / 8] >> (8 - h.bits - bit % 8)) & mask);
            }
            flush();
            pos += stride;
        }
        return;
    }
    const bool rle8 = h.bits == 8;
    int x = 0;
    while (stored < h.height) {
        const int count = b.at(pos), value = b.at(pos + 1);
        if (value < 0)
            break; // the data ends: the rest as jumped over
        pos += 2;
        if (count > 0) { // a run of one index, or of two alternating ones for RLE4
            for (int i = 0; i < count && x < h.width; ++i)
                put(x, rle8 ? value : (i & 1) ? value & 15 : value >> 4);
        } else if (value == 0) { // end of line
            flush();
            x = 0;
        } else if (value == 1) { // end of picture
            break;
        } else if (value == 2) { // jump right and up
            const int dx = b.at(pos), dy = b.at(pos + 1);
            if (dy < 0)
                break;
            pos += 2;
            for (int i = 0; i < dy && stored < h.height; ++i)
                flush();
            x = std::min(h.width, x + dx);
        } else { // `value` indices as they are, padded to a 16-bit boundary
            const int bytes = rle8 ? value : (value + 1) / 2;
            for (int i = 0; i < value; ++i) {
                const int byte = std::max(0, b.at(pos + (rle8 ? i : i / 2)));
                put(x, rle8 ? byte : (i & 1) ? byte & 15 : byte >> 4);
            }
            pos += (bytes + 1) & ~1;
        }
    }
    while (stored < h.height)
        flush();
}

} // namespace

QImage decodeBmp(Load& load) {
    const Snapshot& b = load.bytes;
    if (!b.has(29))
        fail(sizeFault(0, 0));
    Header h{};
    h.offset = b.le32(10);
    h.headerSize = b.le32(14);
    std::int64_t width, height, dataSize = 0;
    if (h.headerSize == 12) {
        width = b.le16(18);
        height = b.le16(20);
        h.bits = int(b.le16(24));
    } else {
        if (h.headerSize < 40 || !b.has(37))
            fail(sizeFault(0, 0));
        width = std::int32_t(b.le32(18));
        height = std::int32_t(b.le32(22));
        h.bits = int(b.le16(28));
        h.compression = b.le32(30);
        dataSize = b.le32(34);
    }
    if (h.bits <= 0 || h.bits > 32)
        fail(sizeFault(0, 0));
    h.topDown = height < 0;
    height = height < 0 ? -height : height;
    const std::string sizeWrong = sizeFault(width, height);
    if (!sizeWrong.empty())
        fail(sizeWrong);
    h.width = int(width);
    h.height = int(height);
    load.size = QSize(h.width, h.height);

    const bool indexed = (h.compression == 0 && (h.bits == 1 || h.bits == 4 || h.bits == 8)) ||
                         (h.compression == 1 && h.bits == 8) || (h.compression == 2 && h.bits == 4);
    const bool direct = (h.compression == 0 || h.compression == 3 || h.compression == 6) &&
                        (h.bits == 16 || h.bits == 24 || h.bits == 32) &&
                        (h.compression == 0 || h.headerSize >= 40);
    // The file must hold the pixel data where the header puts it: uncompressed rows padded to
    // 4 bytes, or for run-length data the size the header gives.
    if (h.compression == 0 || h.compression == 3 || h.compression == 6)
        dataSize = (width * h.bits + 31) / 32 * 4 * height;
    if (h.offset + dataSize > b.size())
        fail(cutShort(Format::Bmp));
    if (!indexed && !direct)
        unreadable();
    AreaScaler into(load.budget, load.size, targetFor(load.size, load.shown));
    if (indexed)
        decodeIndexed(load, h, into);
    else
        decodeDirect(load, h, into);
    return into.take();
}

} // namespace rt::pictures
