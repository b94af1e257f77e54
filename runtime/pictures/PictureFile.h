// The picture library's one entry: a picture file decoded for the size it is shown at.
#pragma once

#include <QSize>

#include <memory>
#include <string>

class QImage;

namespace rt::pictures {

// Reads the PNG, JPEG, GIF or BMP file at path and decodes it for an image control of `shown`
// device pixels: never more pixels than shown on either side (a smaller picture keeps its size;
// the control stretches it); an empty `shown` keeps the picture's own size. A file that cannot
// be shown raises a run-time error whose detail names the file and the cause.
std::shared_ptr<const QImage> decodeFile(const std::string& path, QSize shown);

} // namespace rt::pictures
