// Loading pictures: a regular file only, a known format only, its size checked from the header
// and its data checked to reach the format's end before anything is decoded, and decoded
// straight at the size it will be shown at.
#include "Picture.h"

#include "FileOpen.h"
#include "RuntimeError.h"

#include <QFile>
#include <QImage>
#include <QImageReader>

#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace rt {
namespace {

// No decoder buffer may exceed AllocationLimitMB. PNG, GIF and BMP decode at full size
// (4 bytes a pixel) before they are scaled down, so they are refused from the header when that
// would not fit; JPEG decodes at down to 1/8 of each side, so only the side and pixel limits
// bound it. With the program's own ~30 MB this keeps any picture file under 200 MB.
constexpr int AllocationLimitMB = 128;
constexpr int MaxSide = 30000;
constexpr qint64 MaxPixels = 200'000'000;

int g_shownWidth = 0;
int g_shownHeight = 0;

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

bool knownFormat(const QByteArray& format) {
    return format == "png" || format == "jpeg" || format == "gif" || format == "bmp";
}

// A file's bytes by offset, read through a window with pread so that the descriptor's own
// offset, where the decoder starts, stays put. at() is -1 past the end.
class Bytes {
public:
    explicit Bytes(int fd)
        : m_fd(fd)
        , m_window(64 * 1024) {}

    int at(qint64 pos) {
        if (pos < 0)
            return -1;
        if (pos < m_start || pos >= m_start + m_count) {
            if (!load(pos))
                return -1;
        }
        return m_window[std::size_t(pos - m_start)];
    }
    bool has(qint64 pos) { return at(pos) >= 0; }
    quint32 be16(qint64 pos) { return quint32(at(pos)) << 8 | quint32(at(pos + 1)); }
    quint32 be32(qint64 pos) { return be16(pos) << 16 | be16(pos + 2); }
    quint32 le16(qint64 pos) { return quint32(at(pos)) | quint32(at(pos + 1)) << 8; }
    quint32 le32(qint64 pos) { return le16(pos) | le16(pos + 2) << 16; }
    // The offset of the next byte `value` from pos on, or -1.
    qint64 find(qint64 pos, unsigned char value) {
        while (has(pos)) {
            const unsigned char* from = m_window.data() + (pos - m_start);
            const auto* hit = static_cast<const unsigned char*>(
                std::memchr(from, value, std::size_t(m_start + m_count - pos)));
            if (hit)
                return m_start + (hit - m_window.data());
            pos = m_start + m_count;
        }
        return -1;
    }

private:
    bool load(qint64 pos) {
        ssize_t n;
        do
            n = ::pread(m_fd, m_window.data(), m_window.size(), pos);
        while (n < 0 && errno == EINTR);
        if (n <= 0)
            return false;
        m_start = pos;
        m_count = n;
        return true;
    }

    int m_fd;
    std::vector<unsigned char> m_window;
    qint64 m_start = 0;
    qint64 m_count = 0;
};

// Qt's JPEG, GIF and BMP readers fill a cut-short file with grey or black and report success,
// so each format is walked to its end here; anything after that end is allowed.
// PNG: chunk by chunk up to the whole IEND chunk.
bool pngComplete(Bytes& b) {
    qint64 pos = 8;
    for (;;) {
        if (!b.has(pos + 11))
            return false;
        const quint32 length = b.be32(pos);
        if (b.be32(pos + 4) == 0x49454E44) // "IEND"
            return true;
        if (length > 0x7FFFFFFF)
            return false;
        pos += 12 + qint64(length);
    }
}

// JPEG: marker segment by marker segment, through the entropy-coded data after each scan
// header (where FF is followed by 00 or a restart marker), up to the EOI marker FF D9.
bool jpegComplete(Bytes& b) {
    if (b.at(0) != 0xFF || b.at(1) != 0xD8)
        return false;
    qint64 pos = 2;
    for (;;) {
        pos = b.find(pos, 0xFF); // the decoder skips stray bytes before a marker too
        if (pos < 0)
            return false;
        while (b.at(pos) == 0xFF) // fill bytes
            ++pos;
        const int marker = b.at(pos++);
        if (marker < 0)
            return false;
        if (marker == 0xD9)
            return true;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7))
            continue; // markers without a segment
        if (!b.has(pos + 1))
            return false;
        const qint64 length = b.be16(pos);
        if (length < 2)
            return false;
        pos += length;
        if (marker != 0xDA)
            continue;
        for (;;) {
            pos = b.find(pos, 0xFF);
            if (pos < 0)
                return false;
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
// sub-blocks) up to the trailer 3B.
bool gifComplete(Bytes& b) {
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
        return false;
    qint64 pos = 13 + colourTable(b.at(10));
    for (;;) {
        const int block = b.at(pos);
        if (block == 0x3B)
            return true;
        if (block == 0x21) { // extension: label, sub-blocks
            pos = skipSubBlocks(pos + 2);
        } else if (block == 0x2C) { // image: descriptor, colour table, code size, sub-blocks
            if (!b.has(pos + 9))
                return false;
            pos = skipSubBlocks(pos + 10 + colourTable(b.at(pos + 9)) + 1);
        } else {
            return false;
        }
        if (pos < 0)
            return false;
    }
}

// BMP: the file must hold the pixel data where the header puts it: uncompressed rows padded to
// 4 bytes, or for run-length data the size the header gives.
bool bmpComplete(Bytes& b, qint64 fileSize) {
    if (!b.has(29))
        return false;
    const qint64 offset = b.le32(10);
    const quint32 headerSize = b.le32(14);
    qint64 width, height, bits, compression = 0, dataSize = 0;
    if (headerSize == 12) {
        width = b.le16(18);
        height = b.le16(20);
        bits = b.le16(24);
    } else {
        if (!b.has(37))
            return false;
        width = qint32(b.le32(18));
        height = qint32(b.le32(22));
        bits = b.le16(28);
        compression = b.le32(30);
        dataSize = b.le32(34);
    }
    const bool uncompressed = compression == 0 || compression == 3 || compression == 6;
    if (uncompressed) {
        if (bits <= 0 || bits > 64 || width > MaxSide || height > MaxSide || width < -MaxSide ||
            height < -MaxSide)
            return false;
        dataSize = (std::abs(width) * bits + 31) / 32 * 4 * std::abs(height);
    }
    return offset + dataSize <= fileSize;
}

bool complete(const QByteArray& format, int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return false;
    Bytes bytes(fd);
    if (format == "png")
        return pngComplete(bytes);
    if (format == "jpeg")
        return jpegComplete(bytes);
    if (format == "gif")
        return gifComplete(bytes);
    return bmpComplete(bytes, st.st_size);
}

} // namespace

void notePictureDisplaySize(int width, int height) {
    g_shownWidth = std::max(g_shownWidth, width);
    g_shownHeight = std::max(g_shownHeight, height);
}

Picture LoadPicture(const std::string& path) {
    if (path.empty())
        return {};
    const std::string name = namedFile("picture", path);
    const int fd = openRegularFile(path, "picture");
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    struct stat st {};
    const bool settled = ::fstat(fd, &st) == 0 && st.st_ctim.tv_sec + 1 < now.tv_sec;
    const QSize shown(g_shownWidth, g_shownHeight);
    if (settled && g_last.image && g_last.path == path && g_last.shown == shown &&
        sameFile(g_last.file, st)) {
        ::close(fd);
        Picture picture;
        picture.m_image = g_last.image;
        return picture;
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        raise(ErrorKind::PathAccessError, name + ": cannot be read");
    }
    if (file.size() == 0)
        raise(ErrorKind::InvalidPicture, name + ": the file is empty");

    QImageReader::setAllocationLimit(AllocationLimitMB);
    QImageReader reader(&file);
    reader.setDecideFormatFromContent(true);
    const QByteArray format = reader.format();
    if (!knownFormat(format))
        raise(ErrorKind::InvalidPicture, name + ": is not a PNG, JPEG, GIF or BMP picture");
    const QSize size = reader.size();
    if (!size.isValid() || size.isEmpty())
        raise(ErrorKind::InvalidPicture, name + ": is damaged (its size cannot be read)");
    const qint64 pixels = qint64(size.width()) * size.height();
    // Only Qt's JPEG reader decodes at a smaller size; the others scale a full-size image.
    const bool decodesScaled = g_shownWidth > 0 && format == "jpeg";
    if (size.width() > MaxSide || size.height() > MaxSide || pixels > MaxPixels ||
        (!decodesScaled && pixels * 4 > qint64(AllocationLimitMB) * 1024 * 1024))
        raise(ErrorKind::InvalidPicture, name + ": is too large (" + std::to_string(size.width()) +
                                             " x " + std::to_string(size.height()) + " pixels)");
    if (!complete(format, file.handle()))
        raise(ErrorKind::InvalidPicture, name + ": is cut short (the " +
                                             format.toUpper().toStdString() +
                                             " data ends before the end of the picture)");
    if (g_shownWidth > 0 && (size.width() > g_shownWidth || size.height() > g_shownHeight))
        reader.setScaledSize(QSize(g_shownWidth, g_shownHeight));

    auto image = std::make_shared<QImage>();
    if (!reader.read(image.get()) || image->isNull())
        raise(ErrorKind::InvalidPicture, name + ": is damaged (its " +
                                             format.toUpper().toStdString() +
                                             " data cannot be decoded)");
    // A GIF's frame may stand on a larger screen than its header gave; still no more pixels
    // than shown.
    if (g_shownWidth > 0 && (image->width() > g_shownWidth || image->height() > g_shownHeight))
        *image = image->scaled(g_shownWidth, g_shownHeight, Qt::IgnoreAspectRatio,
                               Qt::SmoothTransformation);
    Picture picture;
    picture.m_image = std::move(image);
    g_last = settled ? LastPicture{path, st, shown, picture.m_image} : LastPicture{};
    return picture;
}

} // namespace rt
