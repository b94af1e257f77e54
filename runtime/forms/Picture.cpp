// LoadPicture: the file is named here and read by the image control that takes it.
#include "forms/Picture.h"

namespace rt {

Picture LoadPicture(const std::string& path) {
    Picture picture;
    picture.m_file = path;
    return picture;
}

} // namespace rt
