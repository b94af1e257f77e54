// The table of formats the library reads, in the order they are tried, and of the kinds of
// picture it knows but does not decode.
#include "Formats.h"

#include <algorithm>
#include <vector>

namespace rt::pictures {
namespace {

using namespace std::literals;

const PictureFormat* const Table[] = {
    &PngFormat,  &JpegFormat, &GifFormat,  &BmpFormat, &WebpFormat, &HeifFormat,
    &AvifFormat, &JxlFormat,  &TiffFormat, &IcoFormat, &SvgFormat,
    &DibFormat, // a bare info header: the weakest test, tried last
};

// A picture of a kind that is not shown: what it is, as the report names it, and how it is told.
struct NotShown {
    const char* what;
    bool (*sniff)(std::span<const unsigned char> head);
};

bool at(std::span<const unsigned char> head, std::size_t offset, std::string_view magic) {
    return head.size() >= offset && startsWith(head.subspan(offset), magic);
}

// Tried before the table: some camera raw files are TIFF files underneath.
const NotShown Refused[] = {
    {"a Windows metafile (WMF)",
     [](auto h) {
         return startsWith(h, "\xD7\xCD\xC6\x9A"sv) || startsWith(h, "\x01\0\x09\0\0\x03"sv) ||
                startsWith(h, "\x02\0\x09\0\0\x03"sv);
     }},
    {"an enhanced Windows metafile (EMF)",
     [](auto h) { return startsWith(h, "\x01\0\0\0"sv) && at(h, 40, " EMF"); }},
    {"a Photoshop picture (PSD)", [](auto h) { return startsWith(h, "8BPS"); }},
    {"a PDF document", [](auto h) { return startsWith(h, "%PDF-"); }},
    {"a GIMP picture (XCF)", [](auto h) { return startsWith(h, "gimp xcf "); }},
    {"a JPEG 2000 picture",
     [](auto h) {
         return startsWith(h, "\0\0\0\x0CjP  \r\n\x87\n"sv) || startsWith(h, "\xFF\x4F\xFF\x51"sv);
     }},
    {"a camera's raw picture",
     [](auto h) {
         return (startsWith(h, "II*\0"sv) && at(h, 8, "CR")) || // Canon CR2
                startsWith(h, "II\x1A\0\0\0HEAPCCDR"sv) ||      // Canon CRW
                at(h, 4, "ftypcrx ") ||                         // Canon CR3
                startsWith(h, "FUJIFILMCCD-RAW") || startsWith(h, "IIRO") ||
                startsWith(h, "IIRS") || startsWith(h, "MMOR") || startsWith(h, "IIU\0"sv);
     }},
};

} // namespace

const PictureFormat* formatOf(std::span<const unsigned char> head) {
    for (const NotShown& kind : Refused)
        if (kind.sniff(head))
            fail(FaultKind::NotShown,
                 std::string("is ") + kind.what + ", which is not shown: save it as PNG or JPEG");
    for (const PictureFormat* format : Table)
        if (format->sniff(head))
            return format;
    return nullptr;
}

std::string formatsRead() {
    std::vector<std::string_view> names; // each once: two rows may read one format
    for (const PictureFormat* format : Table)
        if (std::find(names.begin(), names.end(), format->name) == names.end())
            names.push_back(format->name);
    std::string list;
    for (std::size_t i = 0; i < names.size(); ++i) {
        list += i == 0 ? "" : i + 1 < names.size() ? ", " : " or ";
        list += names[i];
    }
    return "a " + list;
}

} // namespace rt::pictures
