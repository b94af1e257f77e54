// Loading pictures: a regular file only, a known format only, its size checked from the header
// before anything is decoded, and decoded straight at the size it will be shown at.
#include "Picture.h"

#include "FileOpen.h"
#include "RuntimeError.h"

#include <QFile>
#include <QImage>
#include <QImageReader>

#include <unistd.h>

#include <algorithm>

namespace rt {
namespace {

constexpr int MaxSide = 30000;
constexpr qint64 MaxPixels = 200'000'000;
constexpr int AllocationLimitMB = 256;

int g_shownWidth = 0;
int g_shownHeight = 0;

bool knownFormat(const QByteArray& format) {
    return format == "png" || format == "jpeg" || format == "jpg" || format == "gif" ||
           format == "bmp";
}

std::string quoted(const std::string& path) {
    return "picture \"" + path + "\"";
}

} // namespace

void notePictureDisplaySize(int width, int height) {
    g_shownWidth = std::max(g_shownWidth, width);
    g_shownHeight = std::max(g_shownHeight, height);
}

Picture LoadPicture(const std::string& path) {
    if (path.empty())
        return {};
    const int fd = openRegularFile(path, "picture");
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        raise(ErrorKind::PathAccessError, quoted(path) + ": cannot be read");
    }
    if (file.size() == 0)
        raise(ErrorKind::InvalidPicture, quoted(path) + ": the file is empty");

    QImageReader::setAllocationLimit(AllocationLimitMB);
    QImageReader reader(&file);
    reader.setDecideFormatFromContent(true);
    const QByteArray format = reader.format();
    if (!knownFormat(format))
        raise(ErrorKind::InvalidPicture, quoted(path) + ": is not a PNG, JPEG, GIF or BMP picture");
    const QSize size = reader.size();
    if (!size.isValid() || size.isEmpty())
        raise(ErrorKind::InvalidPicture, quoted(path) + ": is damaged (its size cannot be read)");
    if (size.width() > MaxSide || size.height() > MaxSide ||
        qint64(size.width()) * size.height() > MaxPixels)
        raise(ErrorKind::InvalidPicture, quoted(path) + ": is too large (" +
                                             std::to_string(size.width()) + " x " +
                                             std::to_string(size.height()) + " pixels)");
    if (g_shownWidth > 0 && (size.width() > g_shownWidth || size.height() > g_shownHeight))
        reader.setScaledSize(QSize(g_shownWidth, g_shownHeight));

    auto image = std::make_shared<QImage>();
    if (!reader.read(image.get()) || image->isNull())
        raise(ErrorKind::InvalidPicture, quoted(path) + ": is damaged or cut short (" +
                                             std::string(format.constData()) +
                                             " data cannot be decoded)");
    Picture picture;
    picture.m_image = std::move(image);
    return picture;
}

} // namespace rt
