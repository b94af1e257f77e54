// Pictures as the forms know them: what LoadPicture names, and what an image control shows.
#pragma once

#include <memory>
#include <string>

class QImage;

namespace rt {

class Image;

class Picture {
public:
    Picture() = default;
    bool isEmpty() const { return !m_image && m_file.empty(); }
    // Null until an image control has read the picture.
    const QImage* image() const { return m_image.get(); }

private:
    friend Picture LoadPicture(const std::string& path);
    friend class Image;
    std::string m_file; // still to be read, at the size of the image control that takes it
    std::shared_ptr<const QImage> m_image;
};

// The picture in a file of any format the picture library reads (PNG, JPEG, GIF, BMP, WebP,
// HEIF, AVIF, JPEG XL, TIFF, ICO, SVG...). The image control
// that takes it reads the file, at the control's own size, so that no picture is decoded larger
// than it is shown; a file that cannot be shown (not a regular file, another format, cut short,
// beyond the limits) is a run-time error there, naming the file and the cause. An empty path gives
// an empty picture.
Picture LoadPicture(const std::string& path);

} // namespace rt
