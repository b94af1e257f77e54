// Decoding a picture file: a regular file only, a known format only, the whole file walked first
// (its size, every length and count its headers give checked against the file and our limits, its
// data checked to reach the format's end), and only then decoded, straight at the size it will
// be shown at.
#include "pictures/PictureFile.h"

#include "Formats.h"
#include "lang/RegularFile.h"
#include "lang/RuntimeError.h"

#include <QFile>
#include <QImage>
#include <QImageReader>

#include <png.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstring>
#include <vector>

namespace rt::pictures {
namespace {

// What a decoder may hold at once. Qt's JPEG reader decodes at down to 1/8 of each side, but a
// progressive JPEG keeps all its coefficients (unless only its blocks' means are read); Qt's
// BMP reader decodes uncompressed pictures at full size before scaling. PNG, GIF and
// run-length BMP are decoded here row by row straight into the shown size. With the program's
// own ~30 MB this keeps any picture file under 200 MB.
constexpr qint64 AllocationLimit = 128 * 1024 * 1024;
constexpr int MaxSide = 30000;
constexpr qint64 MaxPixels = 200'000'000;
// A PNG's text, colour profile or other metadata is never shown; no real one is this long.
constexpr qint64 MaxAncillaryChunk = 8 * 1024 * 1024;
// A progressive JPEG whose coefficients would cost more than this is shown from its blocks'
// means (a 4:2:0 picture of about 5.5 million pixels).
constexpr qint64 MaxCoefficientBytes = 16 * 1024 * 1024;

// The picture decoded last and its file's identity then. Every new game loads the checked
// set's picture again; an unchanged file would decode to the same pixels, and decoding a large
// JPEG costs tens of milliseconds at any shown size. Any write to a file moves its ctime, but
// only in steps of a few milliseconds, so a file changed just now is not taken as known.
struct LastPicture {
    std::string path;
    struct stat file {};
    QSize shown;
    std::shared_ptr<const QImage> image;
};
LastPicture g_last;

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
           a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

enum class Format { Unknown, Png, Jpeg, Gif, Bmp };

const char* formatName(Format format) {
    switch (format) {
    case Format::Png:
        return "PNG";
    case Format::Jpeg:
        return "JPEG";
    case Format::Gif:
        return "GIF";
    case Format::Bmp:
        return "BMP";
    case Format::Unknown:
        break;
    }
    return "";
}

Format formatOf(Bytes& b) {
    const auto starts = [&b](const char* magic) {
        for (int i = 0; magic[i]; ++i)
            if (b.at(i) != static_cast<unsigned char>(magic[i]))
                return false;
        return true;
    };
    if (starts("\x89PNG\r\n\x1A\n"))
        return Format::Png;
    if (starts("\xFF\xD8\xFF"))
        return Format::Jpeg;
    if (starts("GIF87a") || starts("GIF89a"))
        return Format::Gif;
    if (starts("BM"))
        return Format::Bmp;
    return Format::Unknown;
}

// What the walk through a file learns before any decoder sees it.
struct Header {
    qint64 width = 0; // as drawn; 0 when the header cannot be read
    qint64 height = 0;
    qint64 decoderBytes = 0; // the most the decoder will hold at once
    qint64 frameHeader = -1; // of a JPEG, where its frame header's marker stands
    std::string fault;       // why the file cannot be shown, when its size can
};

std::string cutShort(Format format) {
    return std::string("is cut short (the ") + formatName(format) +
           " data ends before the end of the picture)";
}

// A PNG chunk's four-letter name for a report; other bytes there as \xNN.
std::string chunkName(Bytes& b, qint64 pos) {
    std::string name;
    for (int i = 0; i < 4; ++i) {
        const int c = b.at(pos + i);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) {
            name += char(c);
        } else {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c & 0xFF);
            name += escaped;
        }
    }
    return name;
}

// PNG: the header chunk, then chunk by chunk up to the whole IEND chunk; no chunk may claim
// more than the file holds, nor a chunk of metadata more than we would ever read.
Header pngHeader(Bytes& b, qint64 fileSize) {
    Header h;
    if (!b.has(32) || b.be32(8) != 13 || b.be32(12) != 0x49484452) // "IHDR"
        return h;
    h.width = b.be32(16);
    h.height = b.be32(20);
    // Decoded a row at a time: one row as stored (up to 8 bytes a pixel) and one as colours.
    h.decoderBytes = h.width * 12;
    for (qint64 pos = 8;;) {
        if (!b.has(pos + 7)) {
            h.fault = cutShort(Format::Png);
            return h;
        }
        const qint64 length = b.be32(pos);
        const bool ancillary = (b.at(pos + 4) & 0x20) != 0;
        // Appended, not concatenated: GCC 12 at -O3 takes the chain for an overlapping copy.
        std::string chunk = "\"";
        chunk += chunkName(b, pos + 4);
        chunk += "\" chunk";
        if (length > 0x7FFFFFFF) {
            h.fault = "is damaged (its " + chunk + " claims " + std::to_string(length) +
                      " bytes, more than a PNG chunk can hold)";
            return h;
        }
        if (pos + 12 + length > fileSize) {
            h.fault = ancillary ? "is damaged (its " + chunk + " claims " + std::to_string(length) +
                                      " bytes, more than the rest of the file)"
                                : cutShort(Format::Png);
            return h;
        }
        if (ancillary && length > MaxAncillaryChunk) {
            h.fault = "has a " + chunk + " of " + std::to_string(length) +
                      " bytes, more than the 8 MB such a chunk may hold";
            return h;
        }
        if (b.be32(pos + 4) == 0x49454E44) // "IEND"
            return h;
        pos += 12 + length;
    }
}

// The coefficients a JPEG decoder keeps for the whole picture when it cannot finish a block
// row at once: with progressive coding, or with components in scans of their own.
qint64 jpegCoefficientBytes(Bytes& b, qint64 sof, qint64 width, qint64 height) {
    const int components = b.at(sof + 7);
    int hMax = 1, vMax = 1;
    for (int i = 0; i < components; ++i) {
        const int sampling = b.at(sof + 9 + 3 * i);
        hMax = std::max(hMax, sampling >> 4);
        vMax = std::max(vMax, sampling & 15);
    }
    qint64 bytes = 0;
    for (int i = 0; i < components; ++i) {
        const int sampling = b.at(sof + 9 + 3 * i);
        const qint64 h = std::max(1, sampling >> 4), v = std::max(1, sampling & 15);
        bytes += ((width * h + 8 * hMax - 1) / (8 * hMax) + h) *
                 ((height * v + 8 * vMax - 1) / (8 * vMax) + v) * 128;
    }
    return bytes;
}

// JPEG: marker segment by marker segment, through the entropy-coded data after each scan
// header (where FF is followed by 00 or a restart marker), up to the EOI marker FF D9. The
// first frame header gives the size.
Header jpegHeader(Bytes& b) {
    Header h;
    qint64 sof = -1;
    bool progressive = false;
    int scans = 0;
    const auto finish = [&](std::string fault) {
        if (sof >= 0 && (progressive || scans > 1))
            h.decoderBytes = jpegCoefficientBytes(b, sof, h.width, h.height);
        h.frameHeader = sof;
        h.fault = std::move(fault);
        return h;
    };
    qint64 pos = 2;
    for (;;) {
        pos = b.find(pos, 0xFF); // the decoder skips stray bytes before a marker too
        if (pos < 0)
            return finish(cutShort(Format::Jpeg));
        while (b.at(pos) == 0xFF) // fill bytes
            ++pos;
        const int marker = b.at(pos++);
        if (marker < 0)
            return finish(cutShort(Format::Jpeg));
        if (marker == 0xD9)
            return finish({});
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7))
            continue; // markers without a segment
        if (!b.has(pos + 1))
            return finish(cutShort(Format::Jpeg));
        const qint64 length = b.be16(pos);
        if (length < 2)
            return finish("is damaged (a JPEG segment claims less than its own length field)");
        const bool frame =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame && sof < 0 && b.has(pos + 7)) {
            const int components = b.at(pos + 7);
            if (components < 1 || components > 4 || length < 8 + 3 * components)
                return finish("is damaged (its JPEG frame header is not valid)");
            sof = pos - 2;
            h.height = b.be16(pos + 3);
            h.width = b.be16(pos + 5);
            progressive = (marker & 3) == 2;
        }
        pos += length;
        if (marker != 0xDA)
            continue;
        ++scans;
        for (;;) {
            pos = b.find(pos, 0xFF);
            if (pos < 0)
                return finish(cutShort(Format::Jpeg));
            const int next = b.at(pos + 1);
            if (next == 0x00 || (next >= 0xD0 && next <= 0xD7)) {
                pos += 2;
                continue;
            }
            break; // a marker: the scan is over
        }
    }
}

// GIF: the blocks after the screen descriptor (extensions and images, each a chain of
// sub-blocks) up to the trailer 3B. Many GIFs end without the trailer; once an image is
// whole, the end of the file (or anything but a block) ends the picture as it does for
// viewers. The size is the screen's, grown to hold the first frame.
Header gifHeader(Bytes& b) {
    Header h;
    auto skipSubBlocks = [&b](qint64 pos) -> qint64 {
        for (;;) {
            const int size = b.at(pos);
            if (size < 0)
                return -1;
            pos += 1 + size;
            if (size == 0)
                return pos;
        }
    };
    auto colourTable = [](int flags) -> qint64 {
        return (flags & 0x80) ? 3 << ((flags & 7) + 1) : 0;
    };
    if (!b.has(12))
        return h;
    h.width = b.le16(6);
    h.height = b.le16(8);
    bool imageSeen = false;
    const auto finish = [&](std::string fault) {
        if (!imageSeen && (h.width == 0 || h.height == 0))
            h.width = h.height = 0;
        // Decoded a row at a time: a row of colours and the code table.
        h.decoderBytes = h.width * 4 + 16 * 1024;
        h.fault = std::move(fault);
        return h;
    };
    qint64 pos = 13 + colourTable(b.at(10));
    for (;;) {
        const int block = b.at(pos);
        if (block == 0x3B || (imageSeen && block != 0x21 && block != 0x2C))
            return finish({});
        if (block == 0x21) { // extension: label, sub-blocks
            pos = skipSubBlocks(pos + 2);
        } else if (block == 0x2C) { // image: descriptor, colour table, code size, sub-blocks
            if (!b.has(pos + 9))
                return finish(cutShort(Format::Gif));
            if (!imageSeen) {
                h.width = std::max<qint64>(h.width, b.le16(pos + 1) + b.le16(pos + 5));
                h.height = std::max<qint64>(h.height, b.le16(pos + 3) + b.le16(pos + 7));
            }
            pos = skipSubBlocks(pos + 10 + colourTable(b.at(pos + 9)) + 1);
            imageSeen = pos >= 0;
        } else if (block < 0) {
            return finish(cutShort(Format::Gif));
        } else {
            return finish("is damaged (an unknown block stands before the first GIF image)");
        }
        if (pos < 0)
            return finish(cutShort(Format::Gif));
    }
}

// BMP: the file must hold the pixel data where the header puts it: uncompressed rows padded to
// 4 bytes, or for run-length data the size the header gives. A negative height means the rows
// are stored from the top down.
Header bmpHeader(Bytes& b, qint64 fileSize) {
    Header h;
    if (!b.has(29))
        return h;
    const qint64 offset = b.le32(10);
    const quint32 headerSize = b.le32(14);
    qint64 width, height, bits, compression = 0, dataSize = 0;
    if (headerSize == 12) {
        width = b.le16(18);
        height = b.le16(20);
        bits = b.le16(24);
    } else {
        if (headerSize < 40 || !b.has(37))
            return h;
        width = qint32(b.le32(18));
        height = qint32(b.le32(22));
        bits = b.le16(28);
        compression = b.le32(30);
        dataSize = b.le32(34);
    }
    if (width <= 0 || height == 0 || bits <= 0 || bits > 32)
        return h;
    h.width = width;
    h.height = std::abs(height);
    if (h.width > MaxSide || h.height > MaxSide)
        return h; // too large, whatever else it says
    // Up to 256 colours are decoded here a row at a time. Qt reads the rest whole, other data
    // of up to 8 bits a pixel into one byte a pixel, then scales from 4 bytes a pixel.
    h.decoderBytes = isIndexedBmp(b) ? h.width * 5 : h.width * h.height * (bits <= 8 ? 6 : 4);
    const bool uncompressed = compression == 0 || compression == 3 || compression == 6;
    if (uncompressed)
        dataSize = (h.width * bits + 31) / 32 * 4 * h.height;
    if (offset + dataSize > fileSize)
        h.fault = cutShort(Format::Bmp);
    return h;
}

Header headerOf(Format format, Bytes& b, qint64 fileSize) {
    switch (format) {
    case Format::Png:
        return pngHeader(b, fileSize);
    case Format::Jpeg:
        return jpegHeader(b);
    case Format::Gif:
        return gifHeader(b);
    case Format::Bmp:
        return bmpHeader(b, fileSize);
    case Format::Unknown:
        break;
    }
    return {};
}

struct PngSource {
    int fd;
    qint64 offset = 0;
};

void pngRead(png_structp png, png_bytep data, png_size_t length) {
    auto* source = static_cast<PngSource*>(png_get_io_ptr(png));
    std::size_t done = 0;
    while (done < length) {
        const ssize_t n = ::pread(source->fd, data + done, length - done, source->offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            png_error(png, "read");
        done += std::size_t(n);
        source->offset += n;
    }
}

// Decodes a PNG row by row (each pass of an interlaced one as the rows it holds) as 8-bit
// colours with alpha, into `into`. libpng leaves by longjmp on any fault: only plain data lives
// in this frame across setjmp, and nothing here owns memory that the jump would skip.
bool decodePngRows(int fd, Shrinker& into, std::vector<unsigned char>& row) {
    PngSource source{fd};
    png_structp png = png_create_read_struct(
        PNG_LIBPNG_VER_STRING, nullptr, [](png_structp p, png_const_charp) { png_longjmp(p, 1); },
        [](png_structp, png_const_charp) {});
    if (!png)
        return false;
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
        return false;
    }
    png_set_read_fn(png, &source, pngRead);
    png_set_user_limits(png, MaxSide, MaxSide);
    png_set_chunk_malloc_max(png, MaxAncillaryChunk);
    // Only the pixels matter: text, profiles and the rest are skipped unread.
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
    png_read_info(png, info);
    png_uint_32 width = 0, height = 0;
    int depth = 0, colour = 0, interlace = 0;
    png_get_IHDR(png, info, &width, &height, &depth, &colour, &interlace, nullptr, nullptr);
    png_set_expand(png); // palette to colours, grey below 8 bits to bytes, tRNS to alpha
    png_set_scale_16(png);
    png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != std::size_t(width) * 4)
        png_error(png, "row");
    row.resize(std::size_t(width) * 4);
    const bool adam7 = interlace == PNG_INTERLACE_ADAM7;
    for (int pass = 0; pass < (adam7 ? 7 : 1); ++pass) {
        const png_uint_32 rows = adam7 ? PNG_PASS_ROWS(height, pass) : height;
        const png_uint_32 columns = adam7 ? PNG_PASS_COLS(width, pass) : width;
        if (rows == 0 || columns == 0)
            continue;
        const int x0 = adam7 ? int(PNG_PASS_START_COL(pass)) : 0;
        const int dx = adam7 ? 1 << PNG_PASS_COL_SHIFT(pass) : 1;
        for (png_uint_32 r = 0; r < rows; ++r) {
            png_read_row(png, row.data(), nullptr);
            const png_uint_32 y = adam7 ? PNG_ROW_FROM_PASS_ROW(r, pass) : r;
            into.addRow(int(y), row.data(), int(columns), x0, dx);
        }
    }
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

} // namespace

std::shared_ptr<const QImage> decodeFile(const std::string& path, QSize shown) {
    const int shownWidth = shown.width(), shownHeight = shown.height();
    const std::string name = namedFile("picture", path);
    const int fd = openRegularFile(path, "picture");
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    struct stat st {};
    const bool settled = ::fstat(fd, &st) == 0 && st.st_ctim.tv_sec + 1 < now.tv_sec;
    if (settled && g_last.image && g_last.path == path && g_last.shown == shown &&
        sameFile(g_last.file, st)) {
        ::close(fd);
        return g_last.image;
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        raise(ErrorKind::PathAccessError, name + ": cannot be read");
    }
    if (file.size() == 0)
        raise(ErrorKind::InvalidPicture, name + ": the file is empty");

    // Walk first: no decoder sees the file before its header and its lengths have been checked.
    Bytes bytes(fd);
    const Format format = formatOf(bytes);
    if (format == Format::Unknown)
        raise(ErrorKind::InvalidPicture, name + ": is not a PNG, JPEG, GIF or BMP picture");
    const std::string kind = formatName(format);
    Header header = headerOf(format, bytes, file.size());
    if (header.width <= 0 || header.height <= 0)
        raise(ErrorKind::InvalidPicture, name + ": is damaged (its size cannot be read)");
    const auto tooLarge = [&] {
        raise(ErrorKind::InvalidPicture, name + ": is too large (" + std::to_string(header.width) +
                                             " x " + std::to_string(header.height) + " pixels)");
    };
    if (header.width > MaxSide || header.height > MaxSide)
        tooLarge();
    // A progressive JPEG shown at an eighth of its size or less needs only each block's mean;
    // so does one whose coefficients would cost more than a game's own memory, shown then a
    // little soft.
    const bool eighth = shownWidth > 0 && header.width >= 8 * qint64(shownWidth) &&
                        header.height >= 8 * qint64(shownHeight);
    bool blockMeans = false;
    if (format == Format::Jpeg && shownWidth > 0 && header.frameHeader >= 0 &&
        (eighth || header.decoderBytes > MaxCoefficientBytes)) {
        const qint64 held = jpegDcBytes(bytes, header.frameHeader);
        if (held >= 0) {
            blockMeans = true;
            header.decoderBytes = held;
        }
    }
    // Without a shown size, JPEG and PNG are decoded at full size too.
    if ((format == Format::Jpeg || format == Format::Png) && shownWidth <= 0)
        header.decoderBytes = std::max(header.decoderBytes, header.width * header.height * 4);
    if (header.width * header.height > MaxPixels || header.decoderBytes > AllocationLimit)
        tooLarge();
    if (!header.fault.empty())
        raise(ErrorKind::InvalidPicture, name + ": " + header.fault);

    const QSize size(int(header.width), int(header.height));
    const bool larger =
        shownWidth > 0 && (size.width() > shownWidth || size.height() > shownHeight);
    auto image = std::make_shared<QImage>();
    const QSize target = larger ? size.boundedTo(shown) : size;
    if (format == Format::Png) {
        Shrinker shrinker(size, target);
        std::vector<unsigned char> row;
        if (!shrinker.isNull() && decodePngRows(fd, shrinker, row))
            *image = shrinker.take();
    } else if (blockMeans) {
        *image = decodeJpegDc(bytes, target);
    } else if (format == Format::Gif) {
        *image = decodeGif(bytes, size, target);
    } else if (format == Format::Bmp && isIndexedBmp(bytes)) {
        *image = decodeIndexedBmp(bytes, target);
    } else {
        QImageReader::setAllocationLimit(int(AllocationLimit / (1024 * 1024)));
        QImageReader reader(&file, QByteArray(kind.c_str()).toLower());
        if (larger)
            reader.setScaledSize(shown);
        if (!reader.read(image.get()))
            *image = QImage();
    }
    if (image->isNull())
        raise(ErrorKind::InvalidPicture,
              name + ": is damaged (its " + kind + " data cannot be decoded)");
    // A GIF's frame may stand on a larger screen than its header gave; still no more pixels
    // than shown.
    if (shownWidth > 0 && (image->width() > shownWidth || image->height() > shownHeight))
        *image =
            image->scaled(shownWidth, shownHeight, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    g_last = settled ? LastPicture{path, st, shown, image} : LastPicture{};
    return image;
}

} // namespace rt::pictures
