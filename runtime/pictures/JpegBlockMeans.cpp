// Progressive JPEG pictures from their blocks' means: only the DC coefficient of each block is
// decoded, from the DC scans; every scan's entropy-coded data is passed over to the next marker,
// the way libjpeg finds markers. A block's mean is its pixel at 1/8 scale, so this costs two
// bytes a block, where a full progressive decode holds all 64 coefficients of every block. The
// frame, the tables and the first scan come from libjpeg, which read them; the rest from the
// stream, where it stopped.
#include "JpegBlockMeans.h"

#include "AreaScaler.h"
#include "ByteOrder.h"
#include "JpegMarkers.h"
#include "Limits.h"

#include <array>
#include <cmath>
#include <cstring>

namespace rt::pictures {
namespace {

const char* const Name = "JPEG";

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

// A scan's header: its components, their DC tables, and which bits of which coefficients.
struct Scan {
    int count = 0;
    std::array<int, 4> ids{};
    std::array<int, 4> dcTables{};
    int start = 0;         // the first coefficient: 0 for a DC scan
    int approximation = 0; // high nibble: refining; low: the bit it gives
};

// What the block means read as they go.
struct State {
    Frame frame;
    std::vector<Buffer<std::int16_t>> dc; // each component's block means
    std::array<Huffman, 4> dcTables;
    std::array<int, 4> quant{};
    std::array<bool, 4> quantSeen{};
    int restartInterval = 0;
    int scans = 0;
};

[[noreturn]] void unreadable() {
    fail(damaged(Name));
}

// The entropy-coded bytes of a scan as bits: FF 00 stands for FF; at a marker the bits run out
// as zeros, and the marker stays unread.
class BitReader {
public:
    explicit BitReader(Stream& in)
        : m_in(in) {}

    int bit() {
        if (m_count == 0) {
            m_byte = 0;
            m_count = 8;
            const int c = m_exhausted ? -1 : m_in.peek();
            if (c == 0xFF && m_in.peek(1) == 0x00) {
                m_byte = 0xFF;
                m_in.skip(2);
            } else if (c >= 0 && c != 0xFF) {
                m_byte = c;
                m_in.get();
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
    // A restart: the rest of the byte is padding, then the RSTn marker. Data that ran out at any
    // other marker stays run out, so the blocks after it cost nothing to read.
    void restart() {
        m_count = 0;
        if (m_in.peek() == 0xFF && jpeg::isRestart(m_in.peek(1))) {
            m_in.skip(2);
            m_exhausted = false;
        }
    }

private:
    Stream& m_in;
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

// The next marker as libjpeg finds it: bytes before an FF are passed over (a scan's entropy-coded
// data among them), FF fill bytes too, and neither FF 00 nor a restart marker ends a scan. Its
// code, consumed; -1 at the file's end.
int nextMarker(Stream& in) {
    for (;;) {
        const std::span<const unsigned char> chunk = in.chunk();
        if (chunk.empty())
            return -1;
        const auto* hit =
            static_cast<const unsigned char*>(std::memchr(chunk.data(), 0xFF, chunk.size()));
        if (!hit)
            continue;
        in.giveBack(std::size_t(chunk.data() + chunk.size() - hit - 1)); // past the FF
        int marker;
        while ((marker = in.get()) == 0xFF) {
        }
        if (marker < 0)
            return -1;
        if (marker != 0x00 && !jpeg::isRestart(marker))
            return marker;
    }
}

// A marker's segment, without its length bytes.
void readSegment(Stream& in, Buffer<unsigned char>& into) {
    unsigned char length[2];
    if (in.read(length, 2) != 2)
        fail(cutShort(Name));
    if (be16(length) < 2)
        unreadable();
    into.resize(be16(length) - 2);
    if (in.read(into.data(), into.size()) != into.size())
        fail(cutShort(Name));
}

void defineHuffman(Huffman& t, const unsigned char* counts, const unsigned char* values) {
    t = Huffman{};
    int code = 0, index = 0;
    for (int length = 1; length <= 16; ++length) {
        const int n = counts[length - 1];
        t.offset[std::size_t(length)] = index - code;
        t.maxCode[std::size_t(length)] = n ? code + n - 1 : -1;
        index += n;
        code = (code + n) << 1;
    }
    std::copy(values, values + std::min(index, 256), t.values.begin());
    t.defined = true;
}

// DHT: the DC tables among those it defines.
void readHuffman(State& s, const Buffer<unsigned char>& b) {
    std::size_t pos = 0;
    while (pos + 17 <= b.size()) {
        const int kind = b[pos];
        int total = 0;
        for (std::size_t i = 1; i <= 16; ++i)
            total += b[pos + i];
        if (total > 256 || pos + 17 + std::size_t(total) > b.size())
            unreadable();
        if ((kind >> 4) == 0)
            defineHuffman(s.dcTables[std::size_t(kind & 3)], &b[pos + 1], &b[pos + 17]);
        pos += 17 + std::size_t(total);
    }
}

// DQT: each table's DC step.
void readQuantisation(State& s, const Buffer<unsigned char>& b) {
    for (std::size_t at = 0; at + 1 < b.size();) {
        const int kind = b[at];
        const std::size_t id = std::size_t(kind & 3);
        const bool wide = (kind >> 4) != 0;
        if (wide && at + 2 >= b.size())
            break;
        s.quant[id] = wide ? int(be16(&b[at + 1])) : b[at + 1];
        s.quantSeen[id] = true;
        at += 1 + (wide ? 128 : 64);
    }
}

Scan readScanHeader(const Buffer<unsigned char>& b) {
    Scan scan;
    scan.count = b.empty() ? 0 : b[0];
    if (scan.count < 1 || scan.count > 4 || b.size() < std::size_t(4 + 2 * scan.count))
        unreadable();
    for (std::size_t i = 0; i < std::size_t(scan.count); ++i) {
        scan.ids[i] = b[1 + 2 * i];
        scan.dcTables[i] = b[2 + 2 * i] >> 4 & 3;
    }
    const std::size_t after = 1 + 2 * std::size_t(scan.count);
    scan.start = b[after];
    scan.approximation = b[after + 2];
    return scan;
}

int extend(int value, int size) {
    return value < (1 << (size - 1)) ? value - (1 << size) + 1 : value;
}

// One DC scan, first or refining, of the components listed.
void decodeDcScan(Stream& in, State& s, const std::vector<std::size_t>& inScan,
                  const std::vector<const Huffman*>& tables, bool refine, int shift) {
    const Frame& f = s.frame;
    BitReader r(in);
    std::array<int, 4> predictions{};
    const bool interleaved = inScan.size() > 1;
    const Component& only = f.components[inScan[0]];
    const int unitsWide = interleaved ? f.mcusWide : only.usedWide;
    const int unitsHigh = interleaved ? f.mcusHigh : only.usedHigh;
    const auto decodeBlock = [&](std::size_t i, int bx, int by) {
        const Component& c = f.components[inScan[i]];
        std::int16_t& mean =
            s.dc[inScan[i]][std::size_t(by) * std::size_t(c.blocksWide) + std::size_t(bx)];
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
            if (s.restartInterval > 0 && done > 0 && done % s.restartInterval == 0) {
                r.restart();
                predictions.fill(0);
            }
            if (!interleaved) {
                decodeBlock(0, ux, uy);
                continue;
            }
            for (std::size_t i = 0; i < inScan.size(); ++i) {
                const Component& c = f.components[inScan[i]];
                for (int v = 0; v < c.v; ++v)
                    for (int h = 0; h < c.h; ++h)
                        decodeBlock(i, ux * c.h + h, uy * c.v + v);
            }
        }
    }
}

// A scan whose header has been read, with the stream at its data: its DC means decoded, the rest
// passed over. The marker after it, or -1.
int readScan(Stream& in, State& s, const Scan& scan) {
    if (++s.scans > MaxJpegScans)
        fail(FaultKind::TooComplex, "is too complex (its JPEG data has more than " +
                                        std::to_string(MaxJpegScans) + " scans)");
    // As libjpeg: a scan of 1 to 4 different components of the frame, at most 10 blocks to an MCU.
    Frame& f = s.frame;
    std::vector<std::size_t> inScan;
    std::vector<const Huffman*> tables;
    int blocks = 0;
    for (int i = 0; i < scan.count; ++i) {
        std::size_t k = 0;
        while (k < f.components.size() && f.components[k].id != scan.ids[std::size_t(i)])
            ++k;
        if (k == f.components.size() || std::find(inScan.begin(), inScan.end(), k) != inScan.end())
            unreadable();
        Component& c = f.components[k];
        if (!c.scanned) {
            c.scanned = true;
            c.quant = s.quantSeen[std::size_t(c.table)] ? s.quant[std::size_t(c.table)] : 1;
        }
        inScan.push_back(k);
        tables.push_back(&s.dcTables[std::size_t(scan.dcTables[std::size_t(i)])]);
        blocks += c.h * c.v;
    }
    if (scan.count > 1 && blocks > 10)
        unreadable();
    const bool refine = (scan.approximation >> 4) != 0;
    const bool usable = std::all_of(tables.begin(), tables.end(),
                                    [refine](const Huffman* t) { return refine || t->defined; });
    // A component has at most 14 DC scans (the first, then one a bit); a file with more would
    // only cost time.
    bool fresh = true;
    for (std::size_t k : inScan)
        fresh = fresh && f.components[k].dcScans < 14;
    for (std::size_t k : inScan)
        f.components[k].dcScans += scan.start == 0;
    if (scan.start == 0 && usable && fresh)
        decodeDcScan(in, s, inScan, tables, refine, scan.approximation & 15);
    return nextMarker(in);
}

// The frame, tables and first scan as libjpeg read them.
State stateOf(Load& load, const jpeg_decompress_struct& c) {
    State s;
    Frame& f = s.frame;
    f.width = int(c.image_width);
    f.height = int(c.image_height);
    for (int i = 0; i < c.num_components; ++i) {
        const jpeg_component_info& info = c.comp_info[i];
        Component k;
        k.id = info.component_id;
        k.h = std::clamp(info.h_samp_factor, 1, 4);
        k.v = std::clamp(info.v_samp_factor, 1, 4);
        k.table = info.quant_tbl_no & 3;
        for (const Component& other : f.components)
            if (other.id == k.id)
                unreadable();
        f.hMax = std::max(f.hMax, k.h);
        f.vMax = std::max(f.vMax, k.v);
        f.components.push_back(k);
    }
    if (f.components.size() == 1) { // a single component is its own MCU whatever its sampling
        f.components[0].h = f.components[0].v = 1;
        f.hMax = f.vMax = 1;
    }
    f.mcusWide = (f.width + 8 * f.hMax - 1) / (8 * f.hMax);
    f.mcusHigh = (f.height + 8 * f.vMax - 1) / (8 * f.vMax);
    for (Component& k : f.components) {
        k.blocksWide = f.mcusWide * k.h;
        k.blocksHigh = f.mcusHigh * k.v;
        k.usedWide = ((f.width * k.h + f.hMax - 1) / f.hMax + 7) / 8;
        k.usedHigh = ((f.height * k.v + f.vMax - 1) / f.vMax + 7) / 8;
        s.dc.push_back(buffer<std::int16_t>(load.budget,
                                            std::size_t(k.blocksWide) * std::size_t(k.blocksHigh)));
    }
    for (std::size_t i = 0; i < 4; ++i) {
        if (const JHUFF_TBL* t = c.dc_huff_tbl_ptrs[i])
            defineHuffman(s.dcTables[i], t->bits + 1, t->huffval);
        if (const JQUANT_TBL* q = c.quant_tbl_ptrs[i]) {
            s.quant[i] = q->quantval[0];
            s.quantSeen[i] = true;
        }
    }
    s.restartInterval = int(c.restart_interval);
    return s;
}

Scan firstScanOf(const jpeg_decompress_struct& c) {
    Scan scan;
    scan.count = c.comps_in_scan;
    for (int i = 0; i < scan.count && i < 4; ++i) {
        scan.ids[std::size_t(i)] = c.cur_comp_info[i]->component_id;
        scan.dcTables[std::size_t(i)] = c.cur_comp_info[i]->dc_tbl_no & 3;
    }
    scan.start = c.Ss;
    scan.approximation = c.Ah << 4 | c.Al;
    return scan;
}

} // namespace

QImage readJpegBlockMeans(Load& load, const jpeg_decompress_struct& c, QSize target,
                          int orientation) {
    using namespace jpeg;
    Stream& in = load.in;
    State s = stateOf(load, c);
    const J_COLOR_SPACE colours = c.jpeg_color_space;
    Buffer<unsigned char> segment(BudgetAllocator<unsigned char>(load.budget));
    int marker = readScan(in, s, firstScanOf(c));
    for (;;) {
        if (marker < 0)
            fail(cutShort(Name));
        if (marker == EOI)
            break;
        if (marker == TEM) {
            marker = nextMarker(in);
            continue;
        }
        if (marker == SOI || marker < SOF0 || isFrame(marker)) // a second start or frame, or
            unreadable();                                      // a marker libjpeg does not know
        readSegment(in, segment);
        if (marker == SOS) {
            marker = readScan(in, s, readScanHeader(segment));
            continue;
        }
        if (marker == DHT)
            readHuffman(s, segment);
        else if (marker == DQT)
            readQuantisation(s, segment);
        else if (marker == DRI && segment.size() >= 2)
            s.restartInterval = int(be16(segment.data()));
        marker = nextMarker(in);
    }
    const Frame& f = s.frame;
    const auto& dc = s.dc;

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
            if (colours == JCS_RGB || colours == JCS_CMYK) {
                p = qRgb(c0, c1, c2);
            } else {
                const double cb = c1 - 128, cr = c2 - 128;
                p = qRgb(std::clamp(int(std::lround(c0 + 1.402 * cr)), 0, 255),
                         std::clamp(int(std::lround(c0 - 0.344136 * cb - 0.714136 * cr)), 0, 255),
                         std::clamp(int(std::lround(c0 + 1.772 * cb)), 0, 255));
            }
            if (colours == JCS_YCCK) // the colours were C, M and Y inverted, as RGB
                p = qRgb(255 - qRed(p), 255 - qGreen(p), 255 - qBlue(p));
            if (colours == JCS_CMYK || colours == JCS_YCCK) { // Adobe's inverted ink, as stored
                const int k = sample(3, x, y);
                p = qRgb(qRed(p) * k / 255, qGreen(p) * k / 255, qBlue(p) * k / 255);
            }
        }
        if (!into.addRow(y, row.data(), size.width()))
            unreadable();
    }
    return into.take();
}

} // namespace rt::pictures
