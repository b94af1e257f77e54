// Progressive JPEG pictures from their blocks' means: only the DC coefficient of each block is
// decoded, from the DC scans; every scan's entropy-coded data is passed over to the next marker,
// the way libjpeg finds markers. A block's mean is its pixel at 1/8 scale, so this costs two
// bytes a block, where a full progressive decode holds all 64 coefficients of every block.
#include "JpegBlockMeans.h"

#include "AreaScaler.h"
#include "Formats.h"

#include <array>
#include <cmath>

namespace rt::pictures {
namespace {

struct Component {
    int id = 0;
    int h = 1, v = 1;
    int table = 0; // quantisation table
    int quant = 0; // its DC step, taken at the component's first scan
    int dcScans = 0;
    int blocksWide = 0; // as stored: whole MCUs when interleaved
    int blocksHigh = 0;
    int usedWide = 0; // the blocks that hold the picture
    int usedHigh = 0;
    bool scanned = false;
};

// A DC Huffman table: codes of each length are consecutive, from the shortest.
struct Huffman {
    std::array<int, 17> maxCode{};
    std::array<int, 17> offset{};
    std::array<std::uint8_t, 256> values{};
    bool defined = false;
};

struct Frame {
    int width = 0, height = 0;
    int hMax = 1, vMax = 1;
    int mcusWide = 0, mcusHigh = 0;
    std::vector<Component> components;
};

[[noreturn]] void unreadable() {
    fail(damaged(JpegFormat.name));
}

// The entropy-coded bytes of a scan as bits: FF 00 stands for FF; at a marker the bits run out
// as zeros, and the marker stays unread.
class BitReader {
public:
    BitReader(const Snapshot& b, std::int64_t pos)
        : m_b(b)
        , m_pos(pos) {}

    int bit() {
        if (m_count == 0) {
            m_byte = 0;
            m_count = 8;
            const int c = m_b.at(m_pos);
            if (c == 0xFF && m_b.at(m_pos + 1) == 0x00) {
                m_byte = 0xFF;
                m_pos += 2;
            } else if (c >= 0 && c != 0xFF) {
                m_byte = c;
                ++m_pos;
            } else {
                m_exhausted = true;
            }
        }
        --m_count;
        return (m_byte >> m_count) & 1;
    }
    int bits(int n) {
        int value = 0;
        for (int i = 0; i < n; ++i)
            value = value << 1 | bit();
        return value;
    }
    // At a marker or the end of the file: the blocks left keep what they have.
    bool exhausted() const { return m_exhausted; }
    // A restart: the rest of the byte is padding, then the RSTn marker.
    void restart() {
        m_count = 0;
        m_exhausted = false;
        if (m_b.at(m_pos) == 0xFF && (m_b.at(m_pos + 1) & 0xF8) == 0xD0)
            m_pos += 2;
    }

private:
    const Snapshot& m_b;
    std::int64_t m_pos;
    int m_byte = 0;
    int m_count = 0;
    bool m_exhausted = false;
};

int decodeSymbol(BitReader& r, const Huffman& t) {
    int code = 0;
    for (int length = 1; length <= 16; ++length) {
        code = code << 1 | r.bit();
        if (code <= t.maxCode[std::size_t(length)])
            return t.values[std::size_t(t.offset[std::size_t(length)] + code) & 255];
    }
    return 0; // not a code of the table: broken data, read as no change
}

// The offset of the marker that ends the entropy-coded data from pos, or -1 at the file's end.
// As in libjpeg's entropy decoders, FF fill bytes may stand before a stuffed 00 or a restart.
std::int64_t endOfScan(const Snapshot& b, std::int64_t pos) {
    for (;;) {
        pos = b.find(pos, 0xFF);
        if (pos < 0)
            return -1;
        std::int64_t at = pos;
        while (b.at(at) == 0xFF)
            ++at;
        const int next = b.at(at);
        if (next < 0)
            return -1;
        if (next != 0x00 && (next < 0xD0 || next > 0xD7))
            return pos;
        pos = at + 1;
    }
}

// The next marker from pos as libjpeg finds it: bytes before an FF are passed over, FF fill
// bytes too, and FF 00 is no marker. Its code, with pos just after it; -1 at the file's end.
int nextMarker(const Snapshot& b, std::int64_t& pos) {
    for (;;) {
        pos = b.find(pos, 0xFF);
        if (pos < 0)
            return -1;
        while (b.at(pos) == 0xFF)
            ++pos;
        const int marker = b.at(pos++);
        if (marker != 0x00)
            return marker;
    }
}

void readFrame(const Snapshot& b, std::int64_t at, std::int64_t end, Frame& f) {
    if (b.at(at + 2) != 8)
        unreadable();
    f.height = int(b.be16(at + 3));
    f.width = int(b.be16(at + 5));
    const int count = b.at(at + 7);
    if (f.width <= 0 || f.height <= 0 || (count != 1 && count != 3) || at + 8 + 3 * count > end)
        unreadable();
    for (int i = 0; i < count; ++i) {
        Component c;
        c.id = b.at(at + 8 + 3 * i);
        c.h = std::max(1, b.at(at + 9 + 3 * i) >> 4);
        c.v = std::max(1, b.at(at + 9 + 3 * i) & 15);
        c.table = b.at(at + 10 + 3 * i) & 3;
        if (c.h > 4 || c.v > 4)
            unreadable();
        for (const Component& other : f.components)
            if (other.id == c.id)
                unreadable();
        f.hMax = std::max(f.hMax, c.h);
        f.vMax = std::max(f.vMax, c.v);
        f.components.push_back(c);
    }
    if (count == 1) { // a single component is its own MCU whatever its sampling says
        f.components[0].h = f.components[0].v = 1;
        f.hMax = f.vMax = 1;
    }
    f.mcusWide = (f.width + 8 * f.hMax - 1) / (8 * f.hMax);
    f.mcusHigh = (f.height + 8 * f.vMax - 1) / (8 * f.vMax);
    for (Component& c : f.components) {
        c.blocksWide = f.mcusWide * c.h;
        c.blocksHigh = f.mcusHigh * c.v;
        c.usedWide = ((f.width * c.h + f.hMax - 1) / f.hMax + 7) / 8;
        c.usedHigh = ((f.height * c.v + f.vMax - 1) / f.vMax + 7) / 8;
    }
}

void readHuffman(const Snapshot& b, std::int64_t pos, std::int64_t end,
                 std::array<Huffman, 4>& dcTables) {
    while (pos + 17 <= end) {
        const int kind = b.at(pos);
        std::array<int, 17> counts{};
        int total = 0;
        for (int i = 1; i <= 16; ++i)
            total += counts[std::size_t(i)] = std::max(0, b.at(pos + i));
        if (kind < 0 || total > 256)
            unreadable();
        if ((kind >> 4) == 0) {
            Huffman& t = dcTables[std::size_t(kind & 3)];
            t = Huffman{};
            for (int i = 0; i < total; ++i)
                t.values[std::size_t(i)] = std::uint8_t(std::max(0, b.at(pos + 17 + i)));
            int code = 0, index = 0;
            for (int length = 1; length <= 16; ++length) {
                const int n = counts[std::size_t(length)];
                t.offset[std::size_t(length)] = index - code;
                t.maxCode[std::size_t(length)] = n ? code + n - 1 : -1;
                index += n;
                code = (code + n) << 1;
            }
            t.defined = true;
        }
        pos += 17 + total;
    }
}

int extend(int value, int size) {
    return value < (1 << (size - 1)) ? value - (1 << size) + 1 : value;
}

using Means = Buffer<std::int16_t>;

// One DC scan, first or refining, of the components listed.
void decodeDcScan(const Snapshot& b, std::int64_t pos, const Frame& f,
                  const std::vector<std::size_t>& in, std::vector<Means>& dc,
                  const std::vector<const Huffman*>& tables, int restartInterval, bool refine,
                  int shift) {
    BitReader r(b, pos);
    std::array<int, 4> predictions{};
    const bool interleaved = in.size() > 1;
    const Component& only = f.components[in[0]];
    const int unitsWide = interleaved ? f.mcusWide : only.usedWide;
    const int unitsHigh = interleaved ? f.mcusHigh : only.usedHigh;
    const auto decodeBlock = [&](std::size_t i, int bx, int by) {
        const Component& c = f.components[in[i]];
        std::int16_t& mean =
            dc[in[i]][std::size_t(by) * std::size_t(c.blocksWide) + std::size_t(bx)];
        if (r.exhausted()) {
            if (!refine)
                mean = std::int16_t(std::clamp(predictions[i] * (1 << shift), -32768, 32767));
            return;
        }
        if (refine) {
            if (r.bit())
                mean = std::int16_t(mean | (1 << shift));
            return;
        }
        const int size = std::min(decodeSymbol(r, *tables[i]), 16);
        if (size > 0)
            predictions[i] += extend(r.bits(size), size);
        predictions[i] = std::clamp(predictions[i], -32768, 32767);
        mean = std::int16_t(std::clamp(predictions[i] * (1 << shift), -32768, 32767));
    };
    std::int64_t done = 0;
    for (int uy = 0; uy < unitsHigh; ++uy) {
        for (int ux = 0; ux < unitsWide; ++ux, ++done) {
            if (restartInterval > 0 && done > 0 && done % restartInterval == 0) {
                r.restart();
                predictions.fill(0);
            }
            if (!interleaved) {
                decodeBlock(0, ux, uy);
                continue;
            }
            for (std::size_t i = 0; i < in.size(); ++i) {
                const Component& c = f.components[in[i]];
                for (int v = 0; v < c.v; ++v)
                    for (int h = 0; h < c.h; ++h)
                        decodeBlock(i, ux * c.h + h, uy * c.v + v);
            }
        }
    }
}

} // namespace

QImage decodeJpegBlockMeans(Load& load, const Snapshot& b, QSize frame, int components, bool rgb,
                            QSize target, int orientation) {
    Frame f;
    std::vector<Means> dc;
    std::array<Huffman, 4> dcTables;
    std::array<int, 4> quant{};
    std::array<bool, 4> quantSeen{};
    int restartInterval = 0;
    std::int64_t pos = 2;
    for (;;) {
        const int marker = nextMarker(b, pos);
        if (marker < 0)
            fail(cutShort(JpegFormat.name));
        if (marker == 0xD9)
            break;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7))
            continue;
        if (marker == 0xD8 || marker < 0xC0) // a second start, or a marker libjpeg does not know
            unreadable();
        if (!b.has(pos + 1))
            fail(cutShort(JpegFormat.name));
        const std::int64_t length = b.be16(pos);
        const std::int64_t end = pos + length;
        if (length < 2)
            unreadable();
        if (end > b.size())
            fail(cutShort(JpegFormat.name));
        const bool frameHeader =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frameHeader) {
            // One frame, the one the decode began with.
            if (marker != 0xC2 || !f.components.empty())
                unreadable();
            readFrame(b, pos, end, f);
            if (QSize(f.width, f.height) != frame || int(f.components.size()) != components)
                unreadable();
            for (const Component& c : f.components)
                dc.push_back(buffer<std::int16_t>(load.budget, std::size_t(c.blocksWide) *
                                                                   std::size_t(c.blocksHigh)));
        } else if (marker == 0xC4) {
            readHuffman(b, pos + 2, end, dcTables);
        } else if (marker == 0xDB) {
            for (std::int64_t at = pos + 2; at < end;) {
                const int kind = b.at(at);
                const int id = kind & 3;
                quant[std::size_t(id)] = (kind >> 4) ? int(b.be16(at + 1)) : b.at(at + 1);
                quantSeen[std::size_t(id)] = true;
                at += 1 + ((kind >> 4) ? 128 : 64);
            }
        } else if (marker == 0xDD) {
            restartInterval = int(b.be16(pos + 2));
        } else if (marker == 0xDA) {
            // As libjpeg: a scan after the frame, of 1 to 4 different components of it, at
            // most 10 blocks to an MCU.
            const int count = b.at(pos + 2);
            if (f.components.empty() || count < 1 || count > 4 || length < 6 + 2 * count)
                unreadable();
            std::vector<std::size_t> in;
            std::vector<const Huffman*> tables;
            int blocks = 0;
            for (int i = 0; i < count; ++i) {
                const int id = b.at(pos + 3 + 2 * i);
                std::size_t k = 0;
                while (k < f.components.size() && f.components[k].id != id)
                    ++k;
                if (k == f.components.size() || std::find(in.begin(), in.end(), k) != in.end())
                    unreadable();
                Component& c = f.components[k];
                if (!c.scanned) {
                    c.scanned = true;
                    c.quant = quantSeen[std::size_t(c.table)] ? quant[std::size_t(c.table)] : 1;
                }
                in.push_back(k);
                tables.push_back(&dcTables[std::size_t(b.at(pos + 4 + 2 * i) >> 4 & 3)]);
                blocks += c.h * c.v;
            }
            if (count > 1 && blocks > 10)
                unreadable();
            const std::int64_t after = pos + 3 + 2 * std::int64_t(count);
            const int start = b.at(after), approximation = b.at(after + 2);
            const bool refine = (approximation >> 4) != 0;
            const bool usable =
                std::all_of(tables.begin(), tables.end(),
                            [refine](const Huffman* t) { return refine || t->defined; });
            // A component has at most 14 DC scans (the first, then one a bit); a file with
            // more would only cost time.
            bool fresh = true;
            for (std::size_t k : in)
                fresh = fresh && f.components[k].dcScans < 14;
            for (std::size_t k : in)
                f.components[k].dcScans += start == 0;
            if (start == 0 && usable && fresh)
                decodeDcScan(b, end, f, in, dc, tables, restartInterval, refine,
                             approximation & 15);
            pos = endOfScan(b, end);
            if (pos < 0)
                fail(cutShort(JpegFormat.name));
            continue;
        }
        pos = end;
    }
    if (f.components.empty())
        unreadable();

    // Each block's mean as one pixel; chroma of a subsampled picture stands for each of the
    // blocks it covers.
    const QSize size((f.width + 7) / 8, (f.height + 7) / 8);
    AreaScaler into(load.budget, size, orientedSize(size, orientation).boundedTo(target),
                    orientation);
    Buffer<QRgb> row = buffer<QRgb>(load.budget, std::size_t(size.width()));
    const auto sample = [&f, &dc](std::size_t k, int x, int y) {
        const Component& c = f.components[k];
        const int bx = std::min(x * c.h / f.hMax, c.blocksWide - 1);
        const int by = std::min(y * c.v / f.vMax, c.blocksHigh - 1);
        const int mean = dc[k][std::size_t(by) * std::size_t(c.blocksWide) + std::size_t(bx)];
        return std::clamp(int(std::lround(mean * c.quant / 8.0)) + 128, 0, 255);
    };
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            QRgb& p = row[std::size_t(x)];
            if (f.components.size() == 1) {
                const int grey = sample(0, x, y);
                p = qRgb(grey, grey, grey);
                continue;
            }
            const int c0 = sample(0, x, y), c1 = sample(1, x, y), c2 = sample(2, x, y);
            if (rgb) {
                p = qRgb(c0, c1, c2);
                continue;
            }
            const double cb = c1 - 128, cr = c2 - 128;
            p = qRgb(std::clamp(int(std::lround(c0 + 1.402 * cr)), 0, 255),
                     std::clamp(int(std::lround(c0 - 0.344136 * cb - 0.714136 * cr)), 0, 255),
                     std::clamp(int(std::lround(c0 + 1.772 * cb)), 0, 255));
        }
        if (!into.addRow(y, row.data(), size.width()))
            unreadable();
    }
    return into.take();
}

} // namespace rt::pictures
