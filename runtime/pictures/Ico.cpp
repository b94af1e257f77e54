// Icons and cursors (ICO, CUR): of the images the directory lists, the largest (the deepest of
// equal size), read by the BMP reader as a bitmap without its file header, or by the PNG reader.
#include "ByteOrder.h"
#include "Formats.h"
#include "Limits.h"

#include <vector>

namespace rt::pictures {
namespace {

const char* const Name = "ICO";

struct Entry {
    int width, height; // as the directory gives them
    int depth;
    std::uint32_t size, offset;
};

bool sniffIco(std::span<const unsigned char> head) {
    using namespace std::literals;
    return head.size() >= 22 &&
           (startsWith(head, "\0\0\1\0"sv) || startsWith(head, "\0\0\2\0"sv)) &&
           le16(&head[4]) > 0 && head[9] == 0; // an entry's reserved byte
}

QImage readIco(Load& load) {
    Stream& in = load.in;
    unsigned char header[6];
    if (in.read(header, 6) != 6)
        fail(cutShort(Name));
    const bool cursor = header[2] == 2;
    const int count = int(le16(header + 4));
    Buffer<Entry> entries(BudgetAllocator<Entry>(load.budget));
    entries.reserve(std::size_t(count));
    for (int i = 0; i < count; ++i) {
        unsigned char e[16];
        if (in.read(e, 16) != 16)
            fail(cutShort(Name));
        // A cursor keeps its hot spot where an icon keeps planes and depth: its colour count
        // tells depth there.
        const int colours = e[2] == 0 ? 256 : e[2];
        const int depth = cursor ? (colours <= 2 ? 1 : colours <= 16 ? 4 : 8) : int(le16(e + 6));
        entries.push_back(
            {e[0] == 0 ? 256 : e[0], e[1] == 0 ? 256 : e[1], depth, le32(e + 8), le32(e + 12)});
    }
    const Entry* best = &entries[0];
    for (const Entry& e : entries) {
        const std::int64_t area = std::int64_t(e.width) * e.height,
                           bestArea = std::int64_t(best->width) * best->height;
        if (area > bestArea || (area == bestArea && e.depth > best->depth))
            best = &e;
    }
    // The stream only goes forward: the chosen image is skipped to, wherever it lies after the
    // directory.
    const std::int64_t gap = std::int64_t(best->offset) - in.position();
    if (gap < 0)
        fail(damaged(std::string("its image lies inside its directory")));
    if (std::int64_t(best->size) > in.leftHint() - gap || !in.skip(gap))
        fail(cutShort(Name));
    Buffer<unsigned char> image = buffer<unsigned char>(load.budget, best->size);
    if (in.read(image.data(), image.size()) != image.size())
        fail(cutShort(Name));

    Stream bytes(image, load.budget);
    Load inner{bytes, load.budget, load.shown, {}, load.format};
    struct Size { // the image's size for the report, whichever way the reader leaves
        Load& outer;
        Load& inner;
        ~Size() { outer.size = inner.size; }
    } size{load, inner};
    if (PngFormat.sniff(bytes.head(HeadBytes)))
        return PngFormat.read(inner);
    return readDib(inner, image);
}

} // namespace

const PictureFormat IcoFormat{Name, sniffIco, readIco};

} // namespace rt::pictures
