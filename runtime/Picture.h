// Pictures: LoadPicture and the picture object an image control shows.
#pragma once

#include <memory>
#include <string>

class QImage;

namespace rt {

class Picture {
public:
    Picture() = default;
    bool isEmpty() const { return !m_image; }
    const QImage* image() const { return m_image.get(); }

private:
    friend Picture LoadPicture(const std::string& path);
    std::shared_ptr<const QImage> m_image;
};

// Reads a PNG, JPEG, GIF or BMP file into a picture, no larger than the largest image control;
// anything else (not a regular file, another format, a cut-short file, a size beyond the
// limits) is a run-time error that names the file and the cause. An empty path gives an empty
// picture.
Picture LoadPicture(const std::string& path);

// Pictures are only ever shown in image controls, so no picture needs more pixels than the
// largest of them (in device pixels); image controls announce their size here.
void notePictureDisplaySize(int width, int height);

} // namespace rt
