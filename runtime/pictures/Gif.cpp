// GIF pictures, first frame only, read and decoded in one pass: the blocks up to the frame, then
// its LZW codes unpacked a row at a time into the area scaler, so a GIF of any screen size costs
// a row and a code table. What shows around and through the frame is what viewers show there.
#include "AreaScaler.h"
#include "Formats.h"

#include <array>
#include <cstring>

namespace rt::pictures {
namespace {

// The colour for an index beyond the colour table, and for transparency.
constexpr QRgb OutOfTable = 0x00FFFFFF;
constexpr QRgb Transparent = 0;

// How the frame's codes ended before its last pixel, if they did.
enum class Ending { None, EndCode, Terminator, FileEnd, BadCode };

// The frame's LZW codes, sub-block by sub-block, unpacked into rows of indices. Index is a byte
// for minimum code sizes up to 8; larger ones (up to 12, as browsers take) give wider literals.
template <class Index> class Lzw {
public:
    Lzw(const Snapshot& b, std::int64_t pos, int minimumCodeSize, int width)
        : m_data(b.data())
        , m_size(b.size())
        , m_pos(pos)
        , m_clear(1 << minimumCodeSize)
        , m_minimum(minimumCodeSize)
        , m_width(width) {
        for (int i = 0; i < 4096; ++i)
            m_length[std::size_t(i)] = 1;
        reset();
    }

    // The next row's indices, m_width of them, or null when the codes end before it is whole
    // (then ending() says how).
    const Index* nextRow() {
        if (m_have > m_width) { // what the last string left beyond the last row
            std::memmove(m_out.data(), m_out.data() + m_width,
                         std::size_t(m_have - m_width) * sizeof(Index));
            m_have -= m_width;
        } else {
            m_have = 0;
        }
        while (m_have < m_width)
            if (!decodeCode())
                return nullptr;
        return m_out.data();
    }
    Ending ending() const { return m_ending; }

    // Past the rest of the frame's sub-blocks; false when the file ends first.
    bool skipRest() {
        if (m_ending == Ending::Terminator)
            return true;
        m_pos += m_blockLeft;
        for (;;) {
            if (m_pos >= m_size)
                return false;
            const int size = m_data[m_pos];
            m_pos += 1 + size;
            if (size == 0)
                return true;
        }
    }

private:
    void reset() {
        m_codeSize = m_minimum + 1;
        m_next = m_clear + 2;
        m_previous = -1;
    }

    // One code's string onto the end of the output; false at the end of the codes.
    bool decodeCode() {
        for (;;) {
            while (m_bitCount < m_codeSize) {
                if (m_blockLeft == 0) {
                    if (m_pos >= m_size)
                        return end(Ending::FileEnd);
                    m_blockLeft = m_data[m_pos++];
                    if (m_blockLeft == 0)
                        return end(Ending::Terminator);
                }
                if (m_pos >= m_size)
                    return end(Ending::FileEnd);
                m_bits |= std::uint32_t(m_data[m_pos++]) << m_bitCount;
                m_bitCount += 8;
                --m_blockLeft;
            }
            const int code = int(m_bits & ((1u << m_codeSize) - 1));
            m_bits >>= m_codeSize;
            m_bitCount -= m_codeSize;
            if (code == m_clear) {
                reset();
                continue;
            }
            if (code == m_clear + 1)
                return end(Ending::EndCode);
            Index* out = m_out.data() + m_have;
            if (m_previous < 0) { // the first code after a clear is a literal
                if (code > m_clear)
                    return end(Ending::BadCode);
                *out = Index(code);
                ++m_have;
                m_previous = m_first = code;
                return true;
            }
            int length;
            if (code < m_next && code < 4096) {
                length = m_length[std::size_t(code)];
                int walk = code;
                for (int i = length - 1; i > 0; --i) {
                    out[i] = m_suffix[std::size_t(walk)];
                    walk = m_prefix[std::size_t(walk)];
                }
                out[0] = Index(walk);
                m_first = walk;
            } else if (code == m_next && m_next < 4096) { // KwKwK: the last string and its start
                length = m_length[std::size_t(m_previous)] + 1;
                int walk = m_previous;
                for (int i = length - 2; i > 0; --i) {
                    out[i] = m_suffix[std::size_t(walk)];
                    walk = m_prefix[std::size_t(walk)];
                }
                out[0] = Index(walk);
                out[length - 1] = Index(walk);
                m_first = walk;
            } else {
                return end(Ending::BadCode);
            }
            m_have += length;
            if (m_next < 4096) {
                m_prefix[std::size_t(m_next)] = std::uint16_t(m_previous);
                m_suffix[std::size_t(m_next)] = Index(m_first);
                m_length[std::size_t(m_next)] =
                    std::uint16_t(m_length[std::size_t(m_previous)] + 1);
                if (++m_next == 1 << m_codeSize && m_codeSize < 12)
                    ++m_codeSize;
            }
            m_previous = code;
            return true;
        }
    }

    bool end(Ending how) {
        m_ending = how;
        return false;
    }

    const unsigned char* m_data;
    std::int64_t m_size;
    std::int64_t m_pos;
    int m_blockLeft = 0;
    std::uint32_t m_bits = 0;
    int m_bitCount = 0;
    const int m_clear;
    const int m_minimum;
    const int m_width;
    int m_codeSize = 0;
    int m_next = 0;
    int m_previous = -1;
    int m_first = 0;
    Ending m_ending = Ending::None;
    // Each code's string is its prefix's string and one more index, m_length long (at most
    // 4096); it is written straight into the output from its end back.
    std::array<std::uint16_t, 4096> m_prefix{};
    std::array<Index, 4096> m_suffix{};
    std::array<std::uint16_t, 4096> m_length{};
    // A row and the longest string that may run past it.
    std::vector<Index> m_out = std::vector<Index>(std::size_t(m_width) + 4097);
    int m_have = 0;
};

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

std::int64_t colourTableBytes(int flags) {
    return (flags & 0x80) ? 3 << ((flags & 7) + 1) : 0;
}

// Past an extension's sub-blocks from pos; -1 when the file ends first.
std::int64_t skipSubBlocks(const Snapshot& b, std::int64_t pos) {
    for (;;) {
        const int size = b.at(pos);
        if (size < 0)
            return -1;
        pos += 1 + size;
        if (size == 0)
            return pos;
    }
}

struct Frame {
    int left, top, width, height;
    bool interlaced;
    std::int64_t codes; // where the LZW data starts, after the minimum code size
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
            fail(damaged(Format::Gif));
    load.budget.take(sizeof(Lzw<Index>) + (std::size_t(f.width) + 4097) * sizeof(Index));
    auto codes = std::make_unique<Lzw<Index>>(load.bytes, f.codes, f.minimumCodeSize, f.width);
    QRgb* frameRow = row.data() + f.left;
    const QRgb* colours = palette.data();
    bool ended = false;
    for (int n = 0; n < f.height; ++n) {
        const Index* indices = ended ? nullptr : codes->nextRow();
        if (!indices) { // the rest as around the frame
            if (codes->ending() == Ending::FileEnd)
                fail(cutShort(Format::Gif));
            ended = true;
            std::fill(frameRow, frameRow + f.width, around);
        } else {
            for (int x = 0; x < f.width; ++x)
                frameRow[x] = colours[indices[x]];
        }
        const int y = f.top + (f.interlaced ? interlacedRow(n, f.height) : n);
        if (!into.addRow(y, row.data(), width))
            fail(damaged(Format::Gif));
    }
    if (!codes->skipRest())
        fail(cutShort(Format::Gif));
}

} // namespace

QImage decodeGif(Load& load) {
    const Snapshot& b = load.bytes;
    if (!b.has(12))
        fail(sizeFault(0, 0));
    const int screenWidth = int(b.le16(6)), screenHeight = int(b.le16(8));
    const int screenFlags = b.at(10), background = b.at(11);
    const std::int64_t globalBytes = colourTableBytes(screenFlags);
    std::int64_t pos = 13 + globalBytes;
    int transparentIndex = -1;
    for (;;) { // up to the first image
        const int block = b.at(pos);
        if (block == 0x2C)
            break;
        if (block == 0x3B)
            fail(screenWidth > 0 && screenHeight > 0 ? damaged(Format::Gif) : sizeFault(0, 0));
        if (block < 0)
            fail(cutShort(Format::Gif));
        if (block != 0x21)
            fail("is damaged (an unknown block stands before the first GIF image)");
        if (b.at(pos + 1) == 0xF9 && b.at(pos + 2) >= 4) // graphic control: transparency
            transparentIndex = (b.at(pos + 3) & 1) ? b.at(pos + 6) : -1;
        pos = skipSubBlocks(b, pos + 2);
        if (pos < 0)
            fail(cutShort(Format::Gif));
    }
    if (!b.has(pos + 10))
        fail(cutShort(Format::Gif));
    Frame f{};
    f.left = int(b.le16(pos + 1));
    f.top = int(b.le16(pos + 3));
    f.width = int(b.le16(pos + 5));
    f.height = int(b.le16(pos + 7));
    const int flags = b.at(pos + 9);
    f.interlaced = (flags & 0x40) != 0;
    const std::int64_t localBytes = colourTableBytes(flags);
    const std::int64_t tableAt = (flags & 0x80) ? pos + 10 : 13;
    const std::int64_t tableBytes = (flags & 0x80) ? localBytes : globalBytes;
    pos += 10 + localBytes;
    f.minimumCodeSize = b.at(pos);
    f.codes = pos + 1;
    if (f.minimumCodeSize < 0)
        fail(cutShort(Format::Gif));
    // The picture is the screen, grown to hold the frame.
    const std::int64_t width = std::max<std::int64_t>(screenWidth, f.left + f.width);
    const std::int64_t height = std::max<std::int64_t>(screenHeight, f.top + f.height);
    const std::string sizeWrong = sizeFault(width, height);
    if (!sizeWrong.empty())
        fail(sizeWrong);
    load.size = QSize(int(width), int(height));
    if (f.minimumCodeSize < 1 || f.minimumCodeSize > 12)
        fail(damaged(Format::Gif));

    // The frame over the background colour, or over nothing when it has transparency; without a
    // global table the screen is black.
    const bool seeThrough = transparentIndex >= 0;
    QRgb around = qRgb(0, 0, 0);
    if (seeThrough)
        around = Transparent;
    else if (globalBytes > 0)
        around = background < globalBytes / 3
                     ? qRgb(b.at(13 + 3 * background), b.at(14 + 3 * background),
                            b.at(15 + 3 * background))
                     : OutOfTable;
    if (!seeThrough)
        around |= 0xFF000000;
    Buffer<QRgb> palette =
        buffer<QRgb>(load.budget, f.minimumCodeSize > 8 ? 4096 : 256, OutOfTable);
    for (std::int64_t i = 0; i < tableBytes / 3; ++i) {
        const std::int64_t at = tableAt + 3 * i;
        palette[std::size_t(i)] =
            qRgb(std::max(0, b.at(at)), std::max(0, b.at(at + 1)), std::max(0, b.at(at + 2)));
    }
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

} // namespace rt::pictures
