// GIF pictures, first frame only, read and decoded in one pass as the stream comes: the blocks
// up to the frame, then its LZW codes unpacked a row at a time into the area scaler, so a GIF of
// any screen size costs a row and a code table. What shows around and through the frame is what
// viewers show there.
#include "AreaScaler.h"
#include "ByteOrder.h"
#include "Formats.h"
#include "Lzw.h"

#include <array>
#include <cstring>

namespace rt::pictures {
namespace {

// The colour for an index beyond the colour table, and for transparency.
constexpr QRgb OutOfTable = 0x00FFFFFF;
constexpr QRgb Transparent = 0;

// The frame row that the n-th row of an interlaced frame's data is: every 8th row from 0, every
// 8th from 4, every 4th from 2, then every other from 1.
int interlacedRow(int n, int height) {
    const int pass1 = (height + 7) / 8, pass2 = (height + 3) / 8, pass3 = (height + 1) / 4;
    if (n < pass1)
        return n * 8;
    n -= pass1;
    if (n < pass2)
        return 4 + n * 8;
    n -= pass2;
    if (n < pass3)
        return 2 + n * 4;
    return 1 + (n - pass3) * 2;
}

int colourTableBytes(int flags) {
    return (flags & 0x80) ? 3 << ((flags & 7) + 1) : 0;
}

const char* const Name = "GIF";

// `count` bytes from the stream, or the report that the file is cut short.
void readAll(Stream& in, void* into, std::size_t count) {
    if (in.read(into, count) != count)
        fail(cutShort(Name));
}

struct Frame {
    int left, top, width, height;
    bool interlaced;
    int minimumCodeSize;
};

// The frame's rows through the codes into the scaler; `palette` holds a colour for every index.
template <class Index>
void decodeFrame(Load& load, const Frame& f, const Buffer<QRgb>& palette, QRgb around,
                 AreaScaler& into) {
    const int width = load.size.width(), height = load.size.height();
    Buffer<QRgb> row = buffer<QRgb>(load.budget, std::size_t(width), around);
    for (int y = 0; y < height; ++y)
        if ((y < f.top || y >= f.top + f.height) && !into.addRow(y, row.data(), width))
            fail(damaged(Name));
    load.budget.take(Lzw<Index>::bytesFor(f.width));
    auto codes = std::make_unique<Lzw<Index>>(load.in, f.minimumCodeSize, f.width);
    QRgb* frameRow = row.data() + f.left;
    const QRgb* colours = palette.data();
    bool ended = false;
    for (int n = 0; n < f.height; ++n) {
        const Index* indices = ended ? nullptr : codes->nextRow();
        if (!indices) { // the rest as around the frame
            if (codes->ending() == LzwEnding::FileEnd)
                fail(cutShort(Name));
            ended = true;
            std::fill(frameRow, frameRow + f.width, around);
        } else {
            for (int x = 0; x < f.width; ++x)
                frameRow[x] = colours[indices[x]];
        }
        const int y = f.top + (f.interlaced ? interlacedRow(n, f.height) : n);
        if (!into.addRow(y, row.data(), width))
            fail(damaged(Name));
    }
    if (!codes->skipRest())
        fail(cutShort(Name));
}

QImage readGif(Load& load) {
    Stream& in = load.in;
    unsigned char screen[13];
    if (in.read(screen, sizeof screen) != sizeof screen)
        fail(sizeFault(0, 0));
    const int screenWidth = int(le16(screen + 6)), screenHeight = int(le16(screen + 8));
    const int screenFlags = screen[10], background = screen[11];
    const int globalBytes = colourTableBytes(screenFlags);
    std::array<unsigned char, 768> global{};
    const std::size_t globalRead = in.read(global.data(), std::size_t(globalBytes));
    int transparentIndex = -1;
    for (;;) { // up to the first image
        const int block = in.get();
        if (block == 0x2C)
            break;
        if (block == 0x3B)
            fail(screenWidth > 0 && screenHeight > 0 ? damaged(Name) : sizeFault(0, 0));
        if (block < 0 || globalRead < std::size_t(globalBytes))
            fail(cutShort(Name));
        if (block != 0x21)
            fail(damaged(std::string("an unknown block stands before the first GIF image")));
        const int label = in.get();
        if (label == 0xF9 && in.peek() >= 4) { // graphic control: transparency
            unsigned char control[5];
            readAll(in, control, sizeof control);
            transparentIndex = (control[1] & 1) ? control[4] : -1;
            if (!in.skip(control[0] - 4))
                fail(cutShort(Name));
        }
        if (label < 0 || !skipSubBlocks(in))
            fail(cutShort(Name));
    }
    unsigned char descriptor[9];
    readAll(in, descriptor, sizeof descriptor);
    Frame f{};
    f.left = int(le16(descriptor));
    f.top = int(le16(descriptor + 2));
    f.width = int(le16(descriptor + 4));
    f.height = int(le16(descriptor + 6));
    const int flags = descriptor[8];
    f.interlaced = (flags & 0x40) != 0;
    std::array<unsigned char, 768> local{};
    const int localBytes = colourTableBytes(flags);
    readAll(in, local.data(), std::size_t(localBytes));
    const bool ownTable = (flags & 0x80) != 0;
    const unsigned char* table = ownTable ? local.data() : global.data();
    const int tableBytes = ownTable ? localBytes : globalBytes;
    f.minimumCodeSize = in.get();
    if (f.minimumCodeSize < 0)
        fail(cutShort(Name));
    // The picture is the screen, grown to hold the frame.
    const std::int64_t width = std::max<std::int64_t>(screenWidth, f.left + f.width);
    const std::int64_t height = std::max<std::int64_t>(screenHeight, f.top + f.height);
    checkSize(width, height);
    load.size = QSize(int(width), int(height));
    if (f.minimumCodeSize < 1 || f.minimumCodeSize > 12)
        fail(damaged(Name));

    // The frame over the background colour, or over nothing when it has transparency; without a
    // global table the screen is black.
    const bool seeThrough = transparentIndex >= 0;
    QRgb around = qRgb(0, 0, 0);
    if (seeThrough)
        around = Transparent;
    else if (globalBytes > 0)
        around = background < globalBytes / 3 ? qRgb(global[std::size_t(3 * background)],
                                                     global[std::size_t(3 * background + 1)],
                                                     global[std::size_t(3 * background + 2)])
                                              : OutOfTable;
    if (!seeThrough)
        around |= 0xFF000000;
    Buffer<QRgb> palette =
        buffer<QRgb>(load.budget, f.minimumCodeSize > 8 ? 4096 : 256, OutOfTable);
    for (int i = 0; i < tableBytes / 3; ++i)
        palette[std::size_t(i)] = qRgb(table[3 * i], table[3 * i + 1], table[3 * i + 2]);
    if (!seeThrough)
        for (QRgb& c : palette)
            c |= 0xFF000000;
    else if (transparentIndex < int(palette.size()))
        palette[std::size_t(transparentIndex)] = Transparent;

    AreaScaler into(load.budget, load.size, targetFor(load.size, load.shown));
    if (f.minimumCodeSize > 8)
        decodeFrame<std::uint16_t>(load, f, palette, around, into);
    else
        decodeFrame<std::uint8_t>(load, f, palette, around, into);
    return into.take();
}

} // namespace

const PictureFormat GifFormat{
    "GIF", [](auto head) { return startsWith(head, "GIF87a") || startsWith(head, "GIF89a"); },
    readGif};

} // namespace rt::pictures
