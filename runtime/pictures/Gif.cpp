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
// Each code's string was output once before, at the start of the code before the one that made
// it: it is copied from there while that is still in the window of recent output, and otherwise
// unwound through the table of prefixes.
template <class Index> class Lzw {
public:
    Lzw(const Snapshot& b, std::int64_t pos, int minimumCodeSize, int width)
        : m_data(b.data())
        , m_size(b.size())
        , m_pos(pos)
        , m_clear(1 << minimumCodeSize)
        , m_minimum(minimumCodeSize)
        , m_width(width) {
        m_length.fill(1);
        reset();
    }
    static std::size_t windowSize(int width) {
        return std::size_t(History) + 8 * std::size_t(width) + 4096 + Slack;
    }

    // The next row's indices, m_width of them, or null when the codes end before it is whole
    // (then ending() says how).
    const Index* nextRow() {
        if (m_handedOut)
            m_rowStart += m_width;
        m_handedOut = false;
        while (m_have - m_rowStart < m_width) {
            if (m_have + 4096 + Slack > std::int64_t(m_window.size()))
                compact();
            if (!decodeCode())
                return nullptr;
        }
        m_handedOut = true;
        return m_window.data() + m_rowStart;
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
    // Output kept before the current row for copying strings from, and room to copy 8 at once.
    static constexpr int History = 32768;
    static constexpr int Slack = 16;

    void reset() {
        m_codeSize = m_minimum + 1;
        m_next = m_clear + 2;
        m_previous = -1;
    }

    // Drops output older than History before the current row.
    void compact() {
        const std::int64_t drop = std::max<std::int64_t>(0, m_rowStart - History);
        std::memmove(m_window.data(), m_window.data() + drop,
                     std::size_t(m_have - drop) * sizeof(Index));
        m_base += drop;
        m_have -= drop;
        m_rowStart -= drop;
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
            Index* out = m_window.data() + m_have;
            const std::int64_t start = m_base + m_have; // of this string in the output
            if (m_previous < 0) {                       // the first code after a clear is a literal
                if (code > m_clear)
                    return end(Ending::BadCode);
                *out = Index(code);
                ++m_have;
                m_previous = code;
                m_previousStart = start;
                return true;
            }
            int length;
            if (code < m_clear) {
                length = 1;
                *out = Index(code);
            } else if (code < m_next && code < 4096) {
                length = m_length[std::size_t(code)];
                copyString(out, code, length);
            } else if (code == m_next && m_next < 4096) { // KwKwK: the last string and its start
                length = m_length[std::size_t(m_previous)] + 1;
                const Index* from = m_window.data() + (m_previousStart - m_base);
                for (int i = 0; i < length - 1; ++i) // from ends where out begins
                    out[i] = from[i];
                out[length - 1] = out[0];
            } else {
                return end(Ending::BadCode);
            }
            m_have += length;
            if (m_next < 4096) {
                const std::size_t n = std::size_t(m_next);
                m_prefix[n] = std::uint16_t(m_previous);
                m_suffix[n] = out[0];
                m_length[n] = std::uint16_t(m_length[std::size_t(m_previous)] + 1);
                m_start[n] = m_previousStart;
                if (++m_next == 1 << m_codeSize && m_codeSize < 12)
                    ++m_codeSize;
            }
            m_previous = code;
            m_previousStart = start;
            return true;
        }
    }

    void copyString(Index* out, int code, int length) {
        const std::int64_t from = m_start[std::size_t(code)] - m_base;
        if (from < 0) { // no longer in the window
            int walk = code;
            for (int i = length - 1; i > 0; --i) {
                out[i] = m_suffix[std::size_t(walk)];
                walk = m_prefix[std::size_t(walk)];
            }
            out[0] = Index(walk);
            return;
        }
        const Index* source = m_window.data() + from; // ends at or before out
        if (length * int(sizeof(Index)) <= 8) {
            unsigned char eight[8];
            std::memcpy(eight, source, 8);
            std::memcpy(out, eight, 8);
        } else {
            std::memcpy(out, source, std::size_t(length) * sizeof(Index));
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
    std::int64_t m_previousStart = 0;
    Ending m_ending = Ending::None;
    // Each code's string: its prefix's string and one more index, m_length long (at most
    // 4096), found in the output at m_start.
    std::array<std::uint16_t, 4096> m_prefix{};
    std::array<Index, 4096> m_suffix{};
    std::array<std::uint16_t, 4096> m_length{};
    std::array<std::int64_t, 4096> m_start{};
    // The output: rows handed out and the strings that run past them.
    std::vector<Index> m_window = std::vector<Index>(windowSize(m_width));
    std::int64_t m_base = 0; // where m_window[0] stands in the output
    std::int64_t m_have = 0;
    std::int64_t m_rowStart = 0;
    bool m_handedOut = false;
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
    load.budget.take(sizeof(Lzw<Index>) + Lzw<Index>::windowSize(f.width) * sizeof(Index));
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
