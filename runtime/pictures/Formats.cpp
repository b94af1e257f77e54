// The table of formats the library reads, in the order they are tried.
#include "Formats.h"

namespace rt::pictures {
namespace {

const PictureFormat* const Table[] = {
    &PngFormat,  &JpegFormat, &GifFormat,  &BmpFormat,
    &WebpFormat, &HeifFormat, &AvifFormat, &JxlFormat,
};

} // namespace

const PictureFormat* formatOf(std::span<const unsigned char> head) {
    for (const PictureFormat* format : Table)
        if (format->sniff(head))
            return format;
    return nullptr;
}

std::string formatsRead() {
    std::string names;
    const std::size_t count = std::size(Table);
    for (std::size_t i = 0; i < count; ++i) {
        names += i == 0 ? "" : i + 1 < count ? ", " : " or ";
        names += Table[i]->name;
    }
    return "a " + names;
}

} // namespace rt::pictures
