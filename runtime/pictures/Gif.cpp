// GIF pictures, first frame only: its LZW codes are unpacked a row at a time into the row
// scaler, so a GIF of any screen size costs a row and a code table. What shows around and
// through the frame is what Qt's own reader shows there.
#include "Formats.h"

#include <array>

namespace rt::pictures {
namespace {

// Qt's colour for an index beyond the colour table, and for transparency.
constexpr QRgb OutOfTable = 0x00FFFFFF;
constexpr QRgb Transparent = 0;

// The frame's LZW codes, sub-block by sub-block, as a stream of pixel indices.
class Lzw {
public:
    Lzw(Bytes& b, qint64 pos, int minimumCodeSize)
        : m_b(b)
        , m_pos(pos)
        , m_clear(1 << minimumCodeSize)
        , m_minimum(minimumCodeSize) {
        reset();
    }

    // The next pixel's index, or -1 when the codes end (an end code, a bad code or the end of
    // the sub-blocks).
    int next() {
        if (m_stackSize > 0)
            return m_stack[std::size_t(--m_stackSize)];
        for (;;) {
            const int code = readCode();
            if (code < 0 || code == m_clear + 1)
                return -1;
            if (code == m_clear) {
                reset();
                continue;
            }
            if (m_previous < 0) { // the first code after a clear is a literal
                if (code > m_clear)
                    return -1;
                m_previous = code;
                m_first = code;
                return code;
            }
            int walk = code;
            if (code >= m_next) {
                if (code > m_next)
                    return -1;
                m_stack[std::size_t(m_stackSize++)] = std::uint8_t(m_first); // KwKwK
                walk = m_previous;
            }
            while (walk > m_clear) {
                m_stack[std::size_t(m_stackSize++)] = m_suffix[std::size_t(walk)];
                walk = m_prefix[std::size_t(walk)];
            }
            m_first = walk;
            if (m_next < 4096) {
                m_prefix[std::size_t(m_next)] = std::uint16_t(m_previous);
                m_suffix[std::size_t(m_next)] = std::uint8_t(m_first);
                if (++m_next == 1 << m_codeSize && m_codeSize < 12)
                    ++m_codeSize;
            }
            m_previous = code;
            return m_first;
        }
    }

private:
    void reset() {
        m_codeSize = m_minimum + 1;
        m_next = m_clear + 2;
        m_previous = -1;
    }

    int readByte() {
        if (m_blockLeft == 0) {
            const int size = m_b.at(m_pos++);
            if (size <= 0)
                return -1;
            m_blockLeft = size;
        }
        --m_blockLeft;
        return m_b.at(m_pos++);
    }

    int readCode() {
        while (m_bitCount < m_codeSize) {
            const int byte = readByte();
            if (byte < 0)
                return -1;
            m_bits |= quint32(byte) << m_bitCount;
            m_bitCount += 8;
        }
        const int code = int(m_bits & ((1u << m_codeSize) - 1));
        m_bits >>= m_codeSize;
        m_bitCount -= m_codeSize;
        return code;
    }

    Bytes& m_b;
    qint64 m_pos;
    int m_blockLeft = 0;
    quint32 m_bits = 0;
    int m_bitCount = 0;
    const int m_clear;
    const int m_minimum;
    int m_codeSize = 0;
    int m_next = 0;
    int m_previous = -1;
    int m_first = 0;
    // Each code's string is its prefix's string and one more index; a string is unwound onto
    // the stack backwards (a string is at most 4096 long).
    std::array<std::uint16_t, 4096> m_prefix{};
    std::array<std::uint8_t, 4096> m_suffix{};
    std::array<std::uint8_t, 4097> m_stack{};
    int m_stackSize = 0;
};

std::vector<QRgb> colourTable(Bytes& b, qint64 pos, int flags) {
    std::vector<QRgb> table;
    if (!(flags & 0x80))
        return table;
    table.resize(std::size_t(2) << (flags & 7));
    for (QRgb& c : table) {
        c = qRgb(b.at(pos), b.at(pos + 1), b.at(pos + 2));
        pos += 3;
    }
    return table;
}

qint64 skipSubBlocks(Bytes& b, qint64 pos) {
    for (int size; (size = b.at(pos)) > 0;)
        pos += 1 + size;
    return pos + 1;
}

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

} // namespace

QImage decodeGif(Bytes& b, QSize size, QSize target) {
    Shrinker into(size, target);
    if (into.isNull())
        return {};
    const std::vector<QRgb> global = colourTable(b, 13, b.at(10));
    qint64 pos = 13 + qint64(global.size()) * 3;
    int transparentIndex = -1;
    for (;;) { // up to the first image; the walk has seen one
        const int block = b.at(pos);
        if (block == 0x2C)
            break;
        if (block != 0x21)
            return {};
        if (b.at(pos + 1) == 0xF9 && b.at(pos + 2) >= 4) // graphic control: transparency
            transparentIndex = (b.at(pos + 3) & 1) ? b.at(pos + 6) : -1;
        pos = skipSubBlocks(b, pos + 2);
    }
    const int left = int(b.le16(pos + 1)), top = int(b.le16(pos + 3));
    const int width = int(b.le16(pos + 5)), height = int(b.le16(pos + 7));
    const int flags = b.at(pos + 9);
    const std::vector<QRgb> local = colourTable(b, pos + 10, flags);
    const std::vector<QRgb>& table = (flags & 0x80) ? local : global;
    pos += 10 + qint64(local.size()) * 3;
    const int minimumCodeSize = b.at(pos);
    if (minimumCodeSize < 1 || minimumCodeSize > 8)
        return {};

    // Qt draws the first frame over the background colour, or over nothing when the frame has
    // transparency; without a global table the screen is black.
    const bool seeThrough = transparentIndex >= 0;
    const int background = b.at(11);
    QRgb around = qRgb(0, 0, 0);
    if (seeThrough)
        around = Transparent;
    else if (!global.empty())
        around = background < int(global.size()) ? global[std::size_t(background)] : OutOfTable;
    const auto colourOf = [&](int index) -> QRgb {
        if (index == transparentIndex)
            return Transparent;
        const QRgb c = index < int(table.size()) ? table[std::size_t(index)] : OutOfTable;
        return seeThrough ? c : c | 0xFF000000;
    };
    if (!seeThrough)
        around |= 0xFF000000;

    std::vector<unsigned char> row(std::size_t(size.width()) * 4);
    const auto fill = [&row](int from, int to, QRgb c) {
        for (int x = from; x < to; ++x) {
            unsigned char* p = row.data() + std::size_t(x) * 4;
            p[0] = uchar(qRed(c));
            p[1] = uchar(qGreen(c));
            p[2] = uchar(qBlue(c));
            p[3] = uchar(qAlpha(c));
        }
    };
    fill(0, size.width(), around);
    for (int y = 0; y < size.height(); ++y)
        if (y < top || y >= top + height)
            into.addRow(y, row.data(), size.width(), 0, 1);

    Lzw codes(b, pos + 1, minimumCodeSize);
    const bool interlaced = (flags & 0x40) != 0;
    bool ended = false;
    for (int n = 0; n < height; ++n) {
        for (int x = 0; x < width; ++x) {
            const int index = ended ? -1 : codes.next();
            ended = index < 0;
            fill(left + x, left + x + 1, ended ? around : colourOf(index));
        }
        into.addRow(top + (interlaced ? interlacedRow(n, height) : n), row.data(), size.width(), 0,
                    1);
    }
    return into.take();
}

} // namespace rt::pictures
