// The picture library's entry: open, identify, snapshot, sniff the format and decode.
#include "PictureFile.h"

#include "DecodeCache.h"
#include "Formats.h"
#include "lang/RegularFile.h"
#include "lang/RuntimeError.h"

#include <sys/stat.h>
#include <unistd.h>

namespace rt::pictures {
namespace {

// What one load may hold at once, the file's bytes included. The game itself takes about
// 35 MB; with this, the decoders' own small state outside the budget (libjpeg's row buffers,
// zlib's window) and the heap's slack, no picture file takes it above 200 MB.
constexpr std::size_t LoadBudget = 128u << 20;

} // namespace

Format formatOf(const Snapshot& b) {
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

void fail(std::string cause) {
    throw Fault{std::move(cause)};
}

std::string cutShort(Format format) {
    return std::string("is cut short (the ") + formatName(format) +
           " data ends before the end of the picture)";
}

std::string damaged(Format format) {
    return std::string("is damaged (its ") + formatName(format) + " data cannot be decoded)";
}

std::string tooLarge(std::int64_t width, std::int64_t height) {
    return "is too large (" + std::to_string(width) + " x " + std::to_string(height) + " pixels)";
}

std::string sizeFault(std::int64_t width, std::int64_t height) {
    if (width <= 0 || height <= 0)
        return "is damaged (its size cannot be read)";
    if (width > MaxSide || height > MaxSide || width * height > MaxPixels)
        return tooLarge(width, height);
    return {};
}

QSize targetFor(QSize size, QSize shown) {
    return shown.isEmpty() ? size : size.boundedTo(shown);
}

std::shared_ptr<const QImage> decodeFile(const std::string& path, QSize shown) {
    const std::string name = namedFile("picture", path);
    const int fd = openRegularFile(path, "picture");
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        raise(ErrorKind::PathAccessError, name + ": cannot be read");
    }
    if (auto known = cachedPicture(path, st, shown)) {
        ::close(fd);
        return known;
    }
    Budget budget(LoadBudget);
    Snapshot bytes(budget);
    bool read = false;
    try {
        read = Snapshot::read(fd, budget, bytes);
    } catch (const std::bad_alloc&) {
        ::close(fd);
        raise(ErrorKind::InvalidPicture, name + ": is too large (a file of more than " +
                                             std::to_string(LoadBudget >> 20) + " MB)");
    }
    ::close(fd);
    if (!read)
        raise(ErrorKind::PathAccessError, name + ": cannot be read");
    if (bytes.size() == 0)
        raise(ErrorKind::InvalidPicture, name + ": the file is empty");

    const Format format = formatOf(bytes);
    Load load{bytes, budget, shown, {}};
    QImage image;
    std::string cause;
    try {
        switch (format) {
        case Format::Png:
            image = decodePng(load);
            break;
        case Format::Jpeg:
            image = decodeJpeg(load);
            break;
        case Format::Gif:
            image = decodeGif(load);
            break;
        case Format::Bmp:
            image = decodeBmp(load);
            break;
        case Format::Unknown:
            cause = "is not a PNG, JPEG, GIF or BMP picture";
            break;
        }
    } catch (const Fault& fault) {
        cause = fault.cause;
    } catch (const std::bad_alloc&) {
        cause = load.size.isEmpty() ? "is too large (more than " +
                                          std::to_string(LoadBudget >> 20) + " MB to decode)"
                                    : tooLarge(load.size.width(), load.size.height());
    }
    if (cause.empty() && image.isNull())
        cause = damaged(format);
    if (!cause.empty())
        raise(ErrorKind::InvalidPicture, name + ": " + cause);
    auto picture = std::make_shared<const QImage>(std::move(image));
    rememberPicture(path, st, shown, picture);
    return picture;
}

} // namespace rt::pictures
