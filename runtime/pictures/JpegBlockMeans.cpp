// Progressive JPEG pictures shown at an eighth of their size or less: only the DC coefficient of
// each block (the block's mean) is decoded, from the DC scans; the AC scans are passed over. A
// block's mean is its pixel at 1/8 scale, so this costs two bytes a block, where a full
// progressive decode holds all 64 coefficients of every block.
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
    std::vector<qint16> dc;
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
    bool rgb = false; // Adobe's transform flag 0: the components are R, G and B
};

// The entropy-coded bytes of a scan as bits: FF 00 stands for FF; at a marker the bits run out
// as zeros, and the marker stays unread.
class BitReader {
public:
    BitReader(Bytes& b, qint64 pos)
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
    Bytes& m_b;
    qint64 m_pos;
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

// The offset of the marker that ends the entropy-coded data from pos.
qint64 endOfScan(Bytes& b, qint64 pos) {
    for (;;) {
        pos = b.find(pos, 0xFF);
        if (pos < 0)
            return -1;
        const int next = b.at(pos + 1);
        if (next != 0x00 && (next < 0xD0 || next > 0xD7))
            return pos;
        pos += 2;
    }
}

bool readFrame(Bytes& b, qint64 at, Frame& f) {
    if (b.at(at + 2) != 8)
        return false;
    f.height = int(b.be16(at + 3));
    f.width = int(b.be16(at + 5));
    const int count = b.at(at + 7);
    if (f.width <= 0 || f.height <= 0 || (count != 1 && count != 3))
        return false;
    for (int i = 0; i < count; ++i) {
        Component c;
        c.id = b.at(at + 8 + 3 * i);
        c.h = std::max(1, b.at(at + 9 + 3 * i) >> 4);
        c.v = std::max(1, b.at(at + 9 + 3 * i) & 15);
        c.table = b.at(at + 10 + 3 * i) & 3;
        if (c.h > 4 || c.v > 4)
            return false;
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
    return true;
}

void readHuffman(Bytes& b, qint64 pos, qint64 end, std::array<Huffman, 4>& dcTables) {
    while (pos + 17 <= end) {
        const int kind = b.at(pos);
        std::array<int, 17> counts{};
        int total = 0;
        for (int i = 1; i <= 16; ++i)
            total += counts[std::size_t(i)] = b.at(pos + i);
        if (kind < 0 || total > 256)
            return;
        if ((kind >> 4) == 0) {
            Huffman& t = dcTables[std::size_t(kind & 3)];
            t = Huffman{};
            for (int i = 0; i < total; ++i)
                t.values[std::size_t(i)] = std::uint8_t(b.at(pos + 17 + i));
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

// One DC scan, first or refining, of the components listed.
void decodeDcScan(Bytes& b, qint64 pos, Frame& f, const std::vector<Component*>& in,
                  const std::vector<const Huffman*>& tables, int restartInterval, bool refine,
                  int shift) {
    BitReader r(b, pos);
    std::vector<int> predictions(in.size(), 0);
    const bool interleaved = in.size() > 1;
    const int unitsWide = interleaved ? f.mcusWide : in[0]->usedWide;
    const int unitsHigh = interleaved ? f.mcusHigh : in[0]->usedHigh;
    const auto decodeBlock = [&](std::size_t i, int bx, int by) {
        qint16& dc = in[i]->dc[std::size_t(by) * std::size_t(in[i]->blocksWide) + std::size_t(bx)];
        if (r.exhausted()) {
            if (!refine)
                dc = qint16(std::clamp(predictions[i] * (1 << shift), -32768, 32767));
            return;
        }
        if (refine) {
            if (r.bit())
                dc = qint16(dc | (1 << shift));
            return;
        }
        const int size = std::min(decodeSymbol(r, *tables[i]), 16);
        if (size > 0)
            predictions[i] += extend(r.bits(size), size);
        predictions[i] = std::clamp(predictions[i], -32768, 32767);
        dc = qint16(std::clamp(predictions[i] * (1 << shift), -32768, 32767));
    };
    qint64 done = 0;
    for (int uy = 0; uy < unitsHigh; ++uy) {
        for (int ux = 0; ux < unitsWide; ++ux, ++done) {
            if (restartInterval > 0 && done > 0 && done % restartInterval == 0) {
                r.restart();
                std::fill(predictions.begin(), predictions.end(), 0);
            }
            if (!interleaved) {
                decodeBlock(0, ux, uy);
                continue;
            }
            for (std::size_t i = 0; i < in.size(); ++i)
                for (int v = 0; v < in[i]->v; ++v)
                    for (int h = 0; h < in[i]->h; ++h)
                        decodeBlock(i, ux * in[i]->h + h, uy * in[i]->v + v);
        }
    }
}

} // namespace

qint64 jpegDcBytes(Bytes& b, qint64 frameHeader) {
    Frame f;
    if (b.at(frameHeader + 1) != 0xC2 || !readFrame(b, frameHeader + 2, f))
        return -1;
    qint64 bytes = 0;
    for (const Component& c : f.components)
        bytes += qint64(c.blocksWide) * c.blocksHigh * 2;
    return bytes + qint64(f.width + 7) / 8 * 4;
}

QImage decodeJpegDc(Bytes& b, QSize target) {
    Frame f;
    std::array<Huffman, 4> dcTables;
    std::array<int, 4> quant{};
    std::array<bool, 4> quantSeen{};
    std::vector<bool> scanned;
    int restartInterval = 0;
    qint64 pos = 2;
    for (;;) {
        pos = b.find(pos, 0xFF);
        if (pos < 0)
            break;
        while (b.at(pos) == 0xFF)
            ++pos;
        const int marker = b.at(pos++);
        if (marker < 0 || marker == 0xD9)
            break;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7))
            continue;
        const qint64 length = b.be16(pos);
        const qint64 end = pos + length;
        if (marker == 0xC2 && f.components.empty()) {
            if (!readFrame(b, pos, f))
                return {};
            for (Component& c : f.components)
                c.dc.assign(std::size_t(c.blocksWide) * std::size_t(c.blocksHigh), 0);
            scanned.assign(f.components.size(), false);
        } else if (marker == 0xC4) {
            readHuffman(b, pos + 2, end, dcTables);
        } else if (marker == 0xDB) {
            for (qint64 at = pos + 2; at < end;) {
                const int kind = b.at(at);
                if (kind < 0)
                    break;
                const int id = kind & 3;
                quant[std::size_t(id)] = (kind >> 4) ? int(b.be16(at + 1)) : b.at(at + 1);
                quantSeen[std::size_t(id)] = true;
                at += 1 + ((kind >> 4) ? 128 : 64);
            }
        } else if (marker == 0xDD) {
            restartInterval = int(b.be16(pos + 2));
        } else if (marker == 0xEE && length >= 12 && b.at(pos + 2) == 'A' && b.at(pos + 3) == 'd' &&
                   b.at(pos + 4) == 'o' && b.at(pos + 5) == 'b' && b.at(pos + 6) == 'e') {
            f.rgb = b.at(pos + 13) == 0;
        } else if (marker == 0xDA && !f.components.empty()) {
            const int count = b.at(pos + 2);
            std::vector<Component*> in;
            std::vector<const Huffman*> tables;
            for (int i = 0; i < count; ++i) {
                const int id = b.at(pos + 3 + 2 * i);
                for (std::size_t k = 0; k < f.components.size(); ++k) {
                    Component& c = f.components[k];
                    if (c.id != id)
                        continue;
                    if (!scanned[k]) {
                        scanned[k] = true;
                        c.quant = quantSeen[std::size_t(c.table)] ? quant[std::size_t(c.table)] : 1;
                    }
                    in.push_back(&c);
                    tables.push_back(&dcTables[std::size_t(b.at(pos + 4 + 2 * i) >> 4 & 3)]);
                    break;
                }
            }
            const qint64 after = pos + 3 + 2 * qint64(count);
            const int start = b.at(after), approximation = b.at(after + 2);
            const bool refine = (approximation >> 4) != 0;
            const bool usable =
                !in.empty() && int(in.size()) == count &&
                std::all_of(tables.begin(), tables.end(),
                            [refine](const Huffman* t) { return refine || t->defined; });
            // A component has at most 14 DC scans (the first, then one a bit); a file with
            // more would only cost time.
            const bool fresh = std::all_of(in.begin(), in.end(),
                                           [](const Component* c) { return c->dcScans < 14; });
            for (Component* c : in)
                c->dcScans += start == 0;
            if (start == 0 && usable && fresh)
                decodeDcScan(b, end, f, in, tables, restartInterval, refine, approximation & 15);
            pos = endOfScan(b, end);
            if (pos < 0)
                break;
            continue;
        }
        pos = end;
    }
    if (f.components.empty())
        return {};

    // Each block's mean as one pixel; chroma of a subsampled picture stands for each of the
    // blocks it covers.
    const QSize size((f.width + 7) / 8, (f.height + 7) / 8);
    Shrinker into(size, size.boundedTo(target));
    if (into.isNull())
        return {};
    std::vector<unsigned char> row(std::size_t(size.width()) * 4);
    const auto sample = [&f](const Component& c, int x, int y) {
        const int bx = std::min(x * c.h / f.hMax, c.blocksWide - 1);
        const int by = std::min(y * c.v / f.vMax, c.blocksHigh - 1);
        const int dc = c.dc[std::size_t(by) * std::size_t(c.blocksWide) + std::size_t(bx)];
        return std::clamp(int(std::lround(dc * c.quant / 8.0)) + 128, 0, 255);
    };
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            unsigned char* p = row.data() + std::size_t(x) * 4;
            p[3] = 255;
            if (f.components.size() == 1) {
                p[0] = p[1] = p[2] = uchar(sample(f.components[0], x, y));
                continue;
            }
            const int c0 = sample(f.components[0], x, y), c1 = sample(f.components[1], x, y),
                      c2 = sample(f.components[2], x, y);
            if (f.rgb) {
                p[0] = uchar(c0);
                p[1] = uchar(c1);
                p[2] = uchar(c2);
                continue;
            }
            const double cb = c1 - 128, cr = c2 - 128;
            p[0] = uchar(std::clamp(int(std::lround(c0 + 1.402 * cr)), 0, 255));
            p[1] = uchar(std::clamp(int(std::lround(c0 - 0.344136 * cb - 0.714136 * cr)), 0, 255));
            p[2] = uchar(std::clamp(int(std::lround(c0 + 1.772 * cb)), 0, 255));
        }
        into.addRow(y, row.data(), size.width(), 0, 1);
    }
    return into.take();
}

} // namespace rt::pictures
