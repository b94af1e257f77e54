// The picture library's one entry: a picture file read and decoded for an image control.
#pragma once

#include <QImage>
#include <QSize>

#include <memory>
#include <string>

namespace rt::pictures {

// Reads the picture file at path and decodes it for an image control of `shown` device pixels:
// never more pixels than `shown` on either side (a smaller picture keeps its size; the control
// stretches it); an empty `shown` means the picture's own size, within the limits. Anything that
// cannot be shown raises the run-time error `picture "path": cause`.
std::shared_ptr<const QImage> decodeFile(const std::string& path, QSize shown);

} // namespace rt::pictures
