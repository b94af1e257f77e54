// LoadPicture for the game: the picture library's decodeFile at the largest image control's size.
#include "Picture.h"

#include "runtime/pictures/PictureFile.h"

#include <algorithm>

namespace rt {
namespace {

int g_shownWidth = 0;
int g_shownHeight = 0;

} // namespace

void notePictureDisplaySize(int width, int height) {
    g_shownWidth = std::max(g_shownWidth, width);
    g_shownHeight = std::max(g_shownHeight, height);
}

Picture LoadPicture(const std::string& path) {
    if (path.empty())
        return {};
    Picture picture;
    picture.m_image = pictures::decodeFile(path, QSize(g_shownWidth, g_shownHeight));
    return picture;
}

} // namespace rt
