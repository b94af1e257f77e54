// BMP pictures, read and decoded in one pass as the stream comes, a row at a time into the area
// scaler: up to 256 colours uncompressed or run-length (RLE8, RLE4), and 16, 24 or 32 bits a
// pixel, with or without bit fields. Pixels the run-length data skips take the palette's first
// colour.
#include "AreaScaler.h"
#include "ByteOrder.h"
#include "Formats.h"

#include <array>
#include <bit>

namespace rt::pictures {
namespace {

const char* const Name = "BMP";

// The compression field of the info header.
enum Compression : std::uint32_t {
    Uncompressed = 0,
    Rle8 = 1,
    Rle4 = 2,
    BitFields = 3,
    AlphaBitFields = 6,
};

// The file header, then the info header: its size tells its kind.
constexpr int FileHeaderBytes = 14;
constexpr std::uint32_t CoreHeaderBytes = 12; // the oldest: 16-bit sides, 3-byte colours
constexpr std::uint32_t InfoHeaderBytes = 40;
// What is read before the pixels at most: the largest header, bit masks and 256 colours.
constexpr std::size_t MostBeforePixels = FileHeaderBytes + 124 + 16 + 256 * 4;

struct Header {
    std::int64_t offset; // of the pixel data
    std::uint32_t headerSize;
    int width, height; // height as drawn
    bool topDown;
    int bits;
    std::uint32_t compression;
    std::array<std::uint32_t, 4> masks; // red, green, blue, alpha for bit fields
    std::array<QRgb, 256> palette;
    // An icon's AND mask, rows as the colours' rows, a set bit transparent; null for a bitmap.
    const unsigned char* mask = nullptr;
    std::int64_t maskStride = 0;
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
    fail(damaged(Name));
}

void addRow(AreaScaler& into, const Header& h, int stored, QRgb* row) {
    if (h.mask) {
        const unsigned char* bits = h.mask + stored * h.maskStride;
        for (int x = 0; x < h.width; ++x)
            if (bits[x / 8] & (0x80 >> (x % 8)))
                row[x] = 0;
    }
    if (!into.addRow(h.topDown ? stored : h.height - 1 - stored, row, h.width))
        unreadable();
}

// Rows of 16, 24 or 32 bits a pixel, padded to 4 bytes.
void decodeDirect(Load& load, const Header& h, AreaScaler& into) {
    std::uint32_t red = 0, green = 0, blue = 0, alpha = 0;
    if (h.compression == BitFields || h.compression == AlphaBitFields) {
        red = h.masks[0];
        green = h.masks[1];
        blue = h.masks[2];
        if (h.compression == AlphaBitFields || h.headerSize >= 56)
            alpha = h.masks[3];
    } else if (h.bits == 16) {
        red = 0x7C00, green = 0x03E0, blue = 0x001F;
    } else {
        red = 0xFF0000, green = 0xFF00, blue = 0xFF;
    }
    const Channel r(red), g(green), bl(blue), a(alpha);
    const std::int64_t stride = paddedRowBytes(h.width, h.bits);
    const int bytes = h.bits / 8;
    Buffer<QRgb> row = buffer<QRgb>(load.budget, std::size_t(h.width));
    Buffer<unsigned char> stored = buffer<unsigned char>(load.budget, std::size_t(stride));
    for (int y = 0; y < h.height; ++y) {
        if (load.in.read(stored.data(), stored.size()) != stored.size())
            fail(cutShort(Name));
        const unsigned char* p = stored.data();
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
    Stream& in = load.in;
    const auto& palette = h.palette;
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

    if (h.compression == Uncompressed) { // rows of indices packed from the high bit, padded
        const std::int64_t stride = paddedRowBytes(h.width, h.bits);
        const int mask = (1 << h.bits) - 1;
        Buffer<unsigned char> bytes = buffer<unsigned char>(load.budget, std::size_t(stride));
        while (stored < h.height) {
            if (in.read(bytes.data(), bytes.size()) != bytes.size())
                fail(cutShort(Name));
            const unsigned char* p = bytes.data();
            for (int x = 0; x < h.width; ++x) {
                const int bit = x * h.bits;
                indices[std::size_t(x)] =
                    static_cast<unsigned char>((p[bit / 8] >> (8 - h.bits - bit % 8)) & mask);
            }
            flush();
        }
        return;
    }
    const bool rle8 = h.bits == 8;
    int x = 0;
    while (stored < h.height) {
        const int count = in.get(), value = in.get();
        if (value < 0)
            break;       // the data ends: the rest as jumped over
        if (count > 0) { // a run of one index, or of two alternating ones for RLE4
            for (int i = 0; i < count && x < h.width; ++i)
                put(x, rle8 ? value : (i & 1) ? value & 15 : value >> 4);
        } else if (value == 0) { // end of line
            flush();
            x = 0;
        } else if (value == 1) { // end of picture
            break;
        } else if (value == 2) { // jump right and up
            const int dx = in.get(), dy = in.get();
            if (dy < 0)
                break;
            for (int i = 0; i < dy && stored < h.height; ++i)
                flush();
            x = std::min(h.width, x + dx);
        } else { // `value` indices as they are, padded to a 16-bit boundary
            const int bytes = rle8 ? value : (value + 1) / 2;
            std::array<unsigned char, 256> literal{};
            in.read(literal.data(), std::size_t(bytes)); // what the file lacks reads as 0
            for (int i = 0; i < value; ++i) {
                const int byte = literal[std::size_t(rle8 ? i : i / 2)];
                put(x, rle8 ? byte : (i & 1) ? byte & 15 : byte >> 4);
            }
            if (bytes & 1)
                in.get();
        }
    }
    while (stored < h.height)
        flush();
}

// The headers, bit masks and palette, from the bytes before the pixels (`fileHeader` bytes of
// file header first: none for a bare info header); the stream is left at the first pixel byte.
Header readHeader(Load& load, std::size_t fileHeader, std::span<const unsigned char> icon) {
    Stream& in = load.in;
    const std::span<const unsigned char> whole = in.head(MostBeforePixels);
    // Seen as a BMP file from its start: a bare header sits where the file header would end.
    Buffer<unsigned char> headed(BudgetAllocator<unsigned char>(load.budget));
    if (fileHeader == 0) {
        headed.assign(FileHeaderBytes, 0);
        headed.insert(headed.end(), whole.begin(), whole.end());
    }
    const std::span<const unsigned char> head =
        fileHeader == 0 ? std::span<const unsigned char>(headed) : whole;
    const auto le16At = [&head](std::size_t at) {
        return at + 2 <= head.size() ? le16(&head[at]) : 0;
    };
    const auto le32At = [&head](std::size_t at) {
        return at + 4 <= head.size() ? le32(&head[at]) : 0;
    };
    if (head.size() < 30)
        fail(sizeFault(0, 0));
    Header h{};
    h.offset = le32At(10);
    h.headerSize = le32At(14);
    std::int64_t width, height, dataSize = 0;
    const bool core = h.headerSize == CoreHeaderBytes;
    if (core) {
        width = le16At(18);
        height = le16At(20);
        h.bits = int(le16At(24));
    } else {
        if (h.headerSize < InfoHeaderBytes || head.size() < 38)
            fail(sizeFault(0, 0));
        width = std::int32_t(le32At(18));
        height = std::int32_t(le32At(22));
        h.bits = int(le16At(28));
        h.compression = le32At(30);
        dataSize = le32At(34);
    }
    if (h.bits <= 0 || h.bits > 32)
        fail(sizeFault(0, 0));
    h.topDown = height < 0;
    height = height < 0 ? -height : height;
    if (!icon.empty()) // the colours' rows, then the mask's
        height /= 2;
    checkSize(width, height);
    h.width = int(width);
    h.height = int(height);
    load.size = QSize(h.width, h.height);
    // Bit masks stand right after a 40-byte header, or in the larger headers at the same place.
    for (std::size_t i = 0; i < 4; ++i)
        h.masks[i] = le32At(54 + 4 * i);
    // As many colours as the header says, up to 256, but none from beyond the file.
    h.palette.fill(qRgb(0, 0, 0));
    const std::uint32_t used = core ? 0 : le32At(46);
    const std::size_t colours = h.bits > 8  ? 0
                                : used == 0 ? std::size_t(1) << h.bits
                                            : std::min<std::size_t>(used, 256);
    const std::size_t entry = core ? 3 : 4;
    if (fileHeader == 0) { // pixels right after the header, its bit masks and its colours
        const bool masks = !core && h.headerSize == InfoHeaderBytes &&
                           (h.compression == BitFields || h.compression == AlphaBitFields);
        h.offset = FileHeaderBytes + h.headerSize +
                   (masks ? (h.compression == BitFields ? 12 : 16) : 0) + colours * entry;
        // An icon's 32-bit colours carry alpha, unless all of it is 0 (older icons: the mask
        // alone tells what is transparent).
        const auto anyAlpha = [&] {
            const std::size_t from = std::size_t(h.offset) - FileHeaderBytes;
            const std::size_t end =
                std::min<std::size_t>(icon.size(), from + std::size_t(width * height * 4));
            for (std::size_t i = from + 3; i < end; i += 4)
                if (icon[i] != 0)
                    return true;
            return false;
        };
        if (!icon.empty() && h.bits == 32 && h.compression == Uncompressed && anyAlpha()) {
            h.compression = BitFields;
            h.masks = {0xFF0000, 0xFF00, 0xFF, 0xFF000000};
            h.headerSize = std::max<std::uint32_t>(h.headerSize, 56);
        }
    }
    for (std::size_t i = 0; i < colours; ++i) {
        const std::size_t at = FileHeaderBytes + h.headerSize + i * entry;
        if (at + 3 <= head.size())
            h.palette[i] = qRgb(head[at + 2], head[at + 1], head[at]);
    }

    // The file must hold the pixel data where the header puts it: uncompressed rows padded to
    // 4 bytes, or for run-length data the size the header gives.
    if (h.compression == Uncompressed || h.compression == BitFields ||
        h.compression == AlphaBitFields)
        dataSize = paddedRowBytes(width, h.bits) * height;
    if (!icon.empty()) {
        h.maskStride = paddedRowBytes(width, 1);
        const std::int64_t mask = h.offset - std::int64_t(FileHeaderBytes) + dataSize;
        if (mask + h.maskStride * height <= std::int64_t(icon.size()))
            h.mask = icon.data() + mask; // an icon without its mask is opaque
    }
    const std::int64_t skip = h.offset - std::int64_t(FileHeaderBytes - fileHeader);
    if (skip + dataSize > in.sizeHint())
        fail(cutShort(Name));
    if (!in.skip(skip))
        fail(cutShort(Name));
    return h;
}

QImage decode(Load& load, std::size_t fileHeader, std::span<const unsigned char> icon) {
    const Header h = readHeader(load, fileHeader, icon);
    const bool indexed =
        (h.compression == Uncompressed && (h.bits == 1 || h.bits == 4 || h.bits == 8)) ||
        (h.compression == Rle8 && h.bits == 8) || (h.compression == Rle4 && h.bits == 4);
    const bool direct = (h.compression == Uncompressed || h.compression == BitFields ||
                         h.compression == AlphaBitFields) &&
                        (h.bits == 16 || h.bits == 24 || h.bits == 32) &&
                        (h.compression == Uncompressed || h.headerSize >= InfoHeaderBytes);
    if (!indexed && !direct)
        unreadable();
    AreaScaler into(load.budget, load.size, targetFor(load.size, load.shown));
    if (indexed)
        decodeIndexed(load, h, into);
    else
        decodeDirect(load, h, into);
    return into.take();
}

QImage readBmp(Load& load) {
    return decode(load, FileHeaderBytes, {});
}

// A bare info header: of a size Windows writes, one plane, a depth bitmaps have.
bool sniffDib(std::span<const unsigned char> head) {
    if (head.size() < InfoHeaderBytes)
        return false;
    const std::uint32_t size = le32(&head[0]);
    const std::uint32_t bits = le16(&head[14]);
    return (size == InfoHeaderBytes || size == 108 || size == 124) && le16(&head[12]) == 1 &&
           (bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32) &&
           le32(&head[16]) <= AlphaBitFields;
}

} // namespace

QImage readDib(Load& load, std::span<const unsigned char> icon) {
    return decode(load, 0, icon);
}

const PictureFormat BmpFormat{"BMP", [](auto head) { return startsWith(head, "BM"); }, readBmp};
const PictureFormat DibFormat{"BMP", sniffDib, [](Load& load) { return readDib(load); }};

} // namespace rt::pictures
