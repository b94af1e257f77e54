// The picture decoded last, kept by path, file identity and shown size.
#pragma once

#include <QImage>
#include <QSize>

#include <sys/stat.h>

#include <memory>
#include <string>

namespace rt::pictures {

// Every new game loads the checked set's picture again; an unchanged file would decode to the
// same pixels, and decoding a large JPEG costs tens of milliseconds at any shown size.
std::shared_ptr<const QImage> cachedPicture(const std::string& path, const struct stat& file,
                                            QSize shown);
void rememberPicture(const std::string& path, const struct stat& file, QSize shown,
                     std::shared_ptr<const QImage> image);

} // namespace rt::pictures
