// BMP pictures of up to 256 colours: uncompressed or with run-length data (RLE8, RLE4), decoded
// a row at a time into the row scaler, so that a picture of any size costs one row of indices.
// Pixels the run-length data skips (an early end of line, a jump, an early end of the picture)
// take the palette's first colour.
#include "Formats.h"

namespace rt::pictures {

bool isIndexedBmp(Bytes& b) {
    const quint32 headerSize = b.le32(14);
    if (headerSize == 12) {
        const quint32 bits = b.le16(24);
        return bits == 1 || bits == 4 || bits == 8;
    }
    const quint32 compression = b.le32(30), bits = b.le16(28);
    return headerSize >= 40 && ((compression == 0 && (bits == 1 || bits == 4 || bits == 8)) ||
                                (compression == 1 && bits == 8) || (compression == 2 && bits == 4));
}

QImage decodeIndexedBmp(Bytes& b, QSize target) {
    if (!isIndexedBmp(b))
        return {};
    const quint32 headerSize = b.le32(14);
    const bool core = headerSize == 12; // the oldest header: 16-bit sides, 3-byte colours
    const int width = core ? int(b.le16(18)) : int(qint32(b.le32(18)));
    const int storedHeight = core ? int(b.le16(20)) : int(qint32(b.le32(22)));
    const int height = std::abs(storedHeight);
    const int bits = int(b.le16(core ? 24 : 28));
    const quint32 compression = core ? 0 : b.le32(30);
    const QSize size(width, height);
    Shrinker into(size, target);
    if (into.isNull())
        return {};

    std::vector<QRgb> palette(std::size_t(1) << bits, qRgb(0, 0, 0));
    const quint32 used = core ? 0 : b.le32(46);
    const std::size_t colours = used == 0 ? palette.size() : std::min<std::size_t>(used, 256);
    palette.resize(std::max(palette.size(), colours), qRgb(0, 0, 0));
    for (std::size_t i = 0; i < colours; ++i) {
        const qint64 at = 14 + qint64(headerSize) + qint64(i) * (core ? 3 : 4);
        if (b.has(at + 2))
            palette[i] = qRgb(b.at(at + 2), b.at(at + 1), b.at(at));
    }

    // Rows come bottom first (unless the height is negative); each is handed on once it is
    // done, rows jumped over as the first colour.
    std::vector<unsigned char> indices(std::size_t(width), 0);
    std::vector<unsigned char> rgba(std::size_t(width) * 4);
    int row = 0; // counted in the order stored
    const auto flush = [&] {
        if (row >= height)
            return;
        for (int x = 0; x < width; ++x) {
            const QRgb c = palette[indices[std::size_t(x)] % palette.size()];
            unsigned char* p = rgba.data() + std::size_t(x) * 4;
            p[0] = uchar(qRed(c));
            p[1] = uchar(qGreen(c));
            p[2] = uchar(qBlue(c));
            p[3] = 255;
        }
        into.addRow(storedHeight > 0 ? height - 1 - row : row, rgba.data(), width, 0, 1);
        std::fill(indices.begin(), indices.end(), 0);
        ++row;
    };
    const auto put = [&](int& x, int index) {
        if (x < width)
            indices[std::size_t(x++)] = uchar(index);
    };

    qint64 pos = b.le32(10);
    if (compression == 0) { // rows of indices packed from the high bit, padded to 4 bytes
        const qint64 stride = (qint64(width) * bits + 31) / 32 * 4;
        while (row < height) { // flush moves on to the next row
            for (int x = 0; x < width; ++x) {
                const int byte = b.at(pos + qint64(x) * bits / 8);
                const int shift = 8 - bits - (x * bits) % 8;
                indices[std::size_t(x)] = uchar((byte >> shift) & ((1 << bits) - 1));
            }
            flush();
            pos += stride;
        }
        return into.take();
    }
    int x = 0;
    while (row < height) {
        const int count = b.at(pos), value = b.at(pos + 1);
        if (value < 0)
            break; // the data ends: the rest as jumped over
        pos += 2;
        if (count > 0) { // a run of one index, or of two alternating ones for RLE4
            for (int i = 0; i < count && x < width; ++i)
                put(x, bits == 8 ? value : (i & 1) ? value & 15 : value >> 4);
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
            for (int i = 0; i < dy && row < height; ++i)
                flush();
            x = std::min(width, x + dx);
        } else { // `value` indices as they are, padded to a 16-bit boundary
            const int bytes = bits == 8 ? value : (value + 1) / 2;
            for (int i = 0; i < value; ++i) {
                const int byte = b.at(pos + (bits == 8 ? i : i / 2));
                put(x, bits == 8 ? byte : (i & 1) ? byte & 15 : byte >> 4);
            }
            pos += (bytes + 1) & ~1;
        }
    }
    while (row < height)
        flush();
    return into.take();
}

} // namespace rt::pictures
