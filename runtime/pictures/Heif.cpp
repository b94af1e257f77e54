// HEIF pictures, HEIC (HEVC) and AVIF (AV1), read from a snapshot of the file (its boxes may point
// anywhere in it). The primary picture, whole or a grid of tiles as phones store their photos,
// is decoded one coded picture at a time in the codec's own YCbCr planes and converted a row at
// a time into the area scaler, which also turns and mirrors it as 'irot' and 'imir' say; 'clap'
// crops it, and an alpha picture gives it transparency. Nothing the size of the whole picture
// is held but the planes of a picture that is not tiled.
#include "AreaScaler.h"
#include "ByteOrder.h"
#include "Codecs.h"
#include "Formats.h"
#include "HeifBoxes.h"
#include "HeifCodecs.h"
#include "Limits.h"

#include <QRect>

#include <cmath>
#include <cstring>
#include <future>
#include <optional>
#include <thread>
#include <vector>

namespace rt::pictures {
namespace {
using namespace heif;

// The part of the stored picture that is shown, and how it is turned: flips of the stored
// picture, then rows and columns swapped, as the area scaler takes an orientation.
struct View {
    QRect crop;
    bool flipX = false, flipY = false, swap = false;

    QSize shown() const { return swap ? crop.size().transposed() : crop.size(); }
    int orientation() const {
        if (!swap)
            return flipX ? (flipY ? 3 : 2) : (flipY ? 4 : 1);
        return flipX ? (flipY ? 7 : 8) : (flipY ? 6 : 5);
    }
    void mirrorLeftRight() { (swap ? flipY : flipX) ^= true; }
    void mirrorTopBottom() { (swap ? flipX : flipY) ^= true; }
    void rotateAnticlockwise() {
        swap = !swap;
        mirrorTopBottom();
    }
    // Keeps the rectangle `r` of the picture as it is shown now.
    void cropTo(QRect r) {
        if (swap)
            r = QRect(r.y(), r.x(), r.height(), r.width());
        if (flipX)
            r.moveLeft(crop.width() - r.x() - r.width());
        if (flipY)
            r.moveTop(crop.height() - r.y() - r.height());
        crop = r.translated(crop.topLeft()).intersected(crop);
    }
};

// YCbCr (or RGB, for the identity matrix) samples of any depth to 8-bit RGB, in 16.16 fixed point.
class Colours {
public:
    Colours(int matrix, bool fullRange, int bits) {
        double kr = 0.299, kb = 0.114; // BT.601, also for unspecified matrices
        if (matrix == 1) {
            kr = 0.2126;
            kb = 0.0722;
        } else if (matrix == 4) {
            kr = 0.30;
            kb = 0.11;
        } else if (matrix == 7) {
            kr = 0.212;
            kb = 0.087;
        } else if (matrix == 9 || matrix == 10) {
            kr = 0.2627;
            kb = 0.0593;
        }
        m_identity = matrix == 0;
        const double kg = 1 - kr - kb;
        const double step = double(1 << (bits - 8));
        const double max = double((1 << bits) - 1);
        const double ys = fullRange ? 255 / max : 255 / (219 * step);
        const double cs = fullRange ? 255 / max : 255 / (224 * step);
        m_yOffset = fullRange ? 0 : 16 << (bits - 8);
        m_half = 1 << (bits - 1);
        m_y = fixed(ys);
        m_crR = fixed(2 * (1 - kr) * cs);
        m_cbB = fixed(2 * (1 - kb) * cs);
        m_crG = fixed(-2 * kr * (1 - kr) / kg * cs);
        m_cbG = fixed(-2 * kb * (1 - kb) / kg * cs);
        m_alpha = fixed(255 / max);
    }
    QRgb rgb(int y, int cb, int cr) const {
        if (m_identity) // G, B and R as they are
            return qRgb(clamp((cr - m_yOffset) * m_y), clamp((y - m_yOffset) * m_y),
                        clamp((cb - m_yOffset) * m_y));
        const int l = (y - m_yOffset) * m_y;
        cb -= m_half;
        cr -= m_half;
        return qRgb(clamp(l + cr * m_crR), clamp(l + cr * m_crG + cb * m_cbG),
                    clamp(l + cb * m_cbB));
    }
    int grey(int y) const { return clamp((y - m_yOffset) * m_y); }
    int alpha(int a) const { return clamp(a * m_alpha); }

private:
    static int fixed(double v) { return int(std::lround(v * 65536)); }
    static int clamp(int v) { return std::clamp((v + 32768) >> 16, 0, 255); }

    bool m_identity = false;
    int m_yOffset = 0, m_half = 128;
    int m_y = 0, m_crR = 0, m_cbB = 0, m_crG = 0, m_cbG = 0, m_alpha = 0;
};

template <class Sample> Sample sampleAt(const Planes& p, int c, int x, int y) {
    return reinterpret_cast<const Sample*>(p.plane[c] + p.stride[c] * std::ptrdiff_t(y))[x];
}

// `count` pixels of row y from column x0 on, with the alpha planes' luma as their alpha.
template <class Sample>
void convertRow(const Planes& p, const Planes* alpha, const Colours& colours,
                const Colours& alphaColours, int y, int x0, int count, QRgb* out) {
    const int cy = y >> p.shiftY;
    for (int i = 0; i < count; ++i) {
        const int x = x0 + i;
        const int l = sampleAt<Sample>(p, 0, x, y);
        out[i] = p.monochrome ? qRgb(colours.grey(l), colours.grey(l), colours.grey(l))
                              : colours.rgb(l, sampleAt<Sample>(p, 1, x >> p.shiftX, cy),
                                            sampleAt<Sample>(p, 2, x >> p.shiftX, cy));
    }
    if (!alpha)
        return;
    for (int i = 0; i < count; ++i) {
        const int a = alpha->bits > 8 ? sampleAt<std::uint16_t>(*alpha, 0, x0 + i, y)
                                      : sampleAt<std::uint8_t>(*alpha, 0, x0 + i, y);
        out[i] = (out[i] & 0xFFFFFF) | QRgb(alphaColours.alpha(a)) << 24;
    }
}

// The property's payload bytes.
std::span<const unsigned char> payloadOf(const Snapshot& file, const Property& p) {
    return {file.data() + p.payload.offset, std::size_t(p.payload.size)};
}

// The size an item's 'ispe' gives.
QSize spatialExtent(const Structure& s, const Snapshot& file, const Item& item) {
    const Property* ispe = s.find(item, fourcc("ispe"));
    if (!ispe || ispe->payload.size < 12)
        fail(damaged(std::string("an image of it has no size")));
    const auto p = payloadOf(file, *ispe);
    const std::int64_t width = be32(p.data() + 4), height = be32(p.data() + 8);
    checkSize(width, height);
    return {int(width), int(height)};
}

// What the item's transforms make of its stored picture, in the order 'ipma' lists them.
View viewOf(const Structure& s, const Snapshot& file, const Item& item, QSize stored) {
    View view{QRect(QPoint(0, 0), stored)};
    for (const std::uint32_t index : s.propertiesOf(item)) {
        const Property* p = s.property(index);
        if (!p || p->payload.size < 1)
            continue;
        const auto bytes = payloadOf(file, *p);
        if (p->type == fourcc("irot")) {
            for (int turns = bytes[0] & 3; turns > 0; --turns)
                view.rotateAnticlockwise();
        } else if (p->type == fourcc("imir")) {
            if (bytes[0] & 1)
                view.mirrorLeftRight();
            else
                view.mirrorTopBottom();
        } else if (p->type == fourcc("clap") && p->payload.size >= 32) {
            double v[8];
            for (int i = 0; i < 8; ++i) {
                const std::uint32_t u = be32(bytes.data() + 4 * i);
                v[i] = (i == 4 || i == 6) ? double(std::int32_t(u)) : double(u);
            }
            if (v[1] == 0 || v[3] == 0 || v[5] == 0 || v[7] == 0)
                fail(damaged(std::string("its clean aperture cannot be read")));
            const QSize shown = view.shown();
            const double width = v[0] / v[1], height = v[2] / v[3];
            const double left = v[4] / v[5] + (shown.width() - 1) / 2.0 - (width - 1) / 2;
            const double top = v[6] / v[7] + (shown.height() - 1) / 2.0 - (height - 1) / 2;
            const QRect kept = QRect(int(std::clamp(std::floor(left), -1e9, 1e9)),
                                     int(std::clamp(std::floor(top), -1e9, 1e9)),
                                     int(std::clamp(std::round(width), 0.0, 1e9)),
                                     int(std::clamp(std::round(height), 0.0, 1e9)))
                                   .intersected(QRect(QPoint(0, 0), shown));
            if (kept.isEmpty())
                fail(damaged(std::string("its clean aperture holds no pixel")));
            view.cropTo(kept);
        }
    }
    return view;
}

// The matrix and range an item's 'nclx' colour property gives, if it has one.
struct ColourSpec {
    int matrix = 2;
    bool fullRange = false;
};
std::optional<ColourSpec> nclxOf(const Structure& s, const Snapshot& file, const Item& item) {
    for (const std::uint32_t index : s.propertiesOf(item)) {
        const Property* p = s.property(index);
        if (!p || p->type != fourcc("colr") || p->payload.size < 11)
            continue;
        const auto b = payloadOf(file, *p);
        if (be32(b.data()) == fourcc("nclx"))
            return ColourSpec{int(be16(b.data() + 8)), (b[10] & 0x80) != 0};
    }
    return std::nullopt;
}

// How the coded pictures of the picture lie: one, or a grid of tiles of one size.
struct Layout {
    int rows = 1, columns = 1;
    QSize tile;
    std::span<const std::uint32_t> tiles; // empty: the item itself
};

Layout layoutOf(const Structure& s, const Snapshot& file, const Item& item, QSize size,
                Buffer<unsigned char>& joined, const char* format) {
    Layout layout{1, 1, size, {}};
    if (item.type != fourcc("grid"))
        return layout;
    const auto data = s.bytesOf(item, file, joined);
    if (data.size() < 8)
        fail(damaged(format));
    const bool wide = data[1] & 1;
    if (wide && data.size() < 12)
        fail(damaged(format));
    layout.rows = data[2] + 1;
    layout.columns = data[3] + 1;
    const std::int64_t width = wide ? be32(data.data() + 4) : be16(data.data() + 4);
    const std::int64_t height = wide ? be32(data.data() + 8) : be16(data.data() + 6);
    if (width != size.width() || height != size.height())
        fail(damaged(std::string("its grid is not the size its header gives")));
    const std::int64_t tiles = std::int64_t(layout.rows) * layout.columns;
    if (tiles > MaxHeifTiles)
        fail(FaultKind::TooComplex, "is too complex (a grid of " + std::to_string(tiles) +
                                        " tiles, more than the " + std::to_string(MaxHeifTiles) +
                                        " any photo has)");
    layout.tiles = s.tilesOf(item);
    if (std::int64_t(layout.tiles.size()) != tiles)
        fail(damaged(std::string("its grid does not name a tile for each place")));
    const Item* first = s.item(layout.tiles[0]);
    if (!first)
        fail(damaged(std::string("its grid names a tile it does not hold")));
    layout.tile = spatialExtent(s, file, *first);
    // The tiles cover the grid, the last row and column cut by its edges.
    const auto covers = [](std::int64_t count, std::int64_t side, std::int64_t whole) {
        return count * side >= whole && (count - 1) * side < whole;
    };
    if (!covers(layout.columns, layout.tile.width(), width) ||
        !covers(layout.rows, layout.tile.height(), height))
        fail(damaged(std::string("its tiles do not cover its grid")));
    return layout;
}

// The place of tile `index` in the grid (or of the whole picture).
QRect placeOf(const Layout& l, int index) {
    return {index % l.columns * l.tile.width(), index / l.columns * l.tile.height(), l.tile.width(),
            l.tile.height()};
}

// What one worker holds: its decoders, the bytes of tiles in more than one extent, and its last
// tile: the planes, its colours, its place and the part of it that is kept.
struct TileWork {
    explicit TileWork(Budget& budget)
        : joined(BudgetAllocator<unsigned char>(budget))
        , alphaJoined(BudgetAllocator<unsigned char>(budget)) {}
    std::unique_ptr<Decoder> colour, alpha;
    Buffer<unsigned char> joined, alphaJoined;
    Planes planes;
    std::optional<Planes> alphaPlanes;
    ColourSpec colourSpec;
    QRect place, kept;
};

// The codec of a coded item, with its configuration property.
struct Coded {
    const Item* item = nullptr;
    const Property* config = nullptr;
    bool av1 = false;
};
Coded codedItem(const Structure& s, const Item* item, const char* format) {
    if (!item)
        fail(damaged(std::string("it names a picture it does not hold")));
    if (item->type == fourcc("hvc1"))
        return {item, s.find(*item, fourcc("hvcC")), false};
    if (item->type == fourcc("av01"))
        return {item, s.find(*item, fourcc("av1C")), true};
    std::string type;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const char c = char(item->type >> shift);
        type += c >= ' ' && c <= '~' ? c : '?';
    }
    fail(FaultKind::Unsupported, "cannot be shown (its " + std::string(format) +
                                     " picture is of the kind '" + type + "', which is not shown)");
}

std::unique_ptr<Decoder> decoderFor(bool av1, Budget& budget, const char* format, int threads) {
    auto decoder = av1 ? av1Decoder(budget, format, threads) : hevcDecoder(budget, format, threads);
    if (!decoder) {
        if (av1)
            codecMissing("AV1", "libdav1d.so.6", "libdav1d6");
        codecMissing("HEVC", "libde265.so.0", "libde265-0");
    }
    return decoder;
}

} // namespace

QImage readHeif(Load& load) {
    const char* format = load.format;
    const Snapshot file(load.in.rest());
    const Structure s = readStructure(file, load.budget, format);
    const Item* primary = s.item(s.primary());
    if (!primary)
        fail(damaged(std::string("its primary picture is not among its items")));
    const QSize stored = spatialExtent(s, file, *primary);
    load.size = stored;
    const View view = viewOf(s, file, *primary, stored);
    load.size = view.shown();
    Buffer<unsigned char> joined{BudgetAllocator<unsigned char>(load.budget)};
    const Layout layout = layoutOf(s, file, *primary, stored, joined, format);

    // The alpha picture, when it is laid out as the colours are.
    const Item* alphaItem = s.alphaOf(*primary, file);
    Layout alphaLayout;
    bool withAlpha = false;
    if (alphaItem && spatialExtent(s, file, *alphaItem) == stored) {
        alphaLayout = layoutOf(s, file, *alphaItem, stored, joined, format);
        withAlpha = alphaLayout.rows == layout.rows && alphaLayout.columns == layout.columns &&
                    alphaLayout.tile == layout.tile;
    }
    const auto tileItem = [&](const Layout& l, const Item& whole, int index) {
        return l.tiles.empty() ? &whole : s.item(l.tiles[std::size_t(index)]);
    };
    const Coded first = codedItem(s, tileItem(layout, *primary, 0), format);
    const std::optional<ColourSpec> primaryColours = nclxOf(s, file, *primary);

    // The tiles that hold a kept pixel, decoded a few side by side (as libheif does), each
    // worker with decoders of its own; their rows go to the scaler in order.
    Buffer<int> tiles{BudgetAllocator<int>(load.budget)};
    for (int index = 0; index < layout.rows * layout.columns; ++index)
        if (placeOf(layout, index).intersects(view.crop))
            tiles.push_back(index);
    // A picture that is not tiled has the threads go to its one decoder instead.
    const int cores = int(std::clamp(std::thread::hardware_concurrency(), 1u, MaxHeifWorkers));
    const int workerCount = int(std::min<std::size_t>(tiles.size(), std::size_t(cores)));
    const int threads = workerCount == 1 ? cores : 1;
    std::vector<TileWork> workers;
    for (int k = 0; k < workerCount; ++k) {
        workers.emplace_back(load.budget);
        workers.back().colour = decoderFor(first.av1, load.budget, format, threads);
        if (withAlpha)
            workers.back().alpha =
                decoderFor(codedItem(s, tileItem(alphaLayout, *alphaItem, 0), format).av1,
                           load.budget, format, threads);
    }
    const auto decode = [&](Decoder& decoder, const Item* item, Buffer<unsigned char>& bytes) {
        const Coded coded = codedItem(s, item, format);
        if (!coded.config || coded.av1 != first.av1)
            fail(damaged(std::string("an image of it has no codec configuration")));
        if (spatialExtent(s, file, *item) != layout.tile)
            fail(damaged(std::string("its tiles are not all of one size")));
        return decoder.decode(payloadOf(file, *coded.config), s.bytesOf(*item, file, bytes),
                              layout.tile.width(), layout.tile.height());
    };
    // Decodes a tile: its planes stay in the worker's decoders until its next one.
    const auto decodeTile = [&](TileWork& w, int index) {
        const QRect place = placeOf(layout, index);
        const Item* item = tileItem(layout, *primary, index);
        w.planes = decode(*w.colour, item, w.joined);
        w.alphaPlanes.reset();
        if (w.alpha) {
            w.alphaPlanes =
                decode(*w.alpha, tileItem(alphaLayout, *alphaItem, index), w.alphaJoined);
            if (w.alphaPlanes->width < w.planes.width || w.alphaPlanes->height < w.planes.height)
                w.alphaPlanes.reset();
        }
        const std::optional<ColourSpec> own = nclxOf(s, file, *item);
        w.colourSpec = own              ? *own
                       : primaryColours ? *primaryColours
                                        : ColourSpec{w.planes.matrix, w.planes.fullRange};
        // What of the decoded picture lies in its place and is kept.
        w.kept = QRect(place.topLeft(), QSize(std::min(w.planes.width, place.width()),
                                              std::min(w.planes.height, place.height())))
                     .intersected(view.crop);
        w.place = place;
    };

    AreaScaler into(load.budget, view.crop.size(), targetFor(view.shown(), load.shown),
                    view.orientation());
    Buffer<QRgb> row(std::size_t(layout.tile.width()), 0, BudgetAllocator<QRgb>(load.budget));
    for (std::size_t next = 0; next < tiles.size(); next += workers.size()) {
        const std::size_t count = std::min(workers.size(), tiles.size() - next);
        {
            std::vector<std::future<void>> running;
            for (std::size_t k = 1; k < count; ++k)
                running.push_back(std::async(std::launch::async, decodeTile, std::ref(workers[k]),
                                             tiles[next + k]));
            decodeTile(workers[0], tiles[next]); // on this thread, while the others work
            for (std::future<void>& r : running)
                r.get();
        }
        for (std::size_t k = 0; k < count; ++k) {
            const TileWork& w = workers[k];
            const Planes* alpha = w.alphaPlanes ? &*w.alphaPlanes : nullptr;
            const Colours colours(w.colourSpec.matrix, w.colourSpec.fullRange, w.planes.bits);
            const Colours alphaColours(2, true, alpha ? alpha->bits : 8);
            for (int y = w.kept.top(); y <= w.kept.bottom(); ++y) {
                const int ty = y - w.place.top(), tx = w.kept.left() - w.place.left();
                if (w.planes.bits > 8)
                    convertRow<std::uint16_t>(w.planes, alpha, colours, alphaColours, ty, tx,
                                              w.kept.width(), row.data());
                else
                    convertRow<std::uint8_t>(w.planes, alpha, colours, alphaColours, ty, tx,
                                             w.kept.width(), row.data());
                if (!into.addRow(y - view.crop.top(), row.data(), w.kept.width(),
                                 w.kept.left() - view.crop.left()))
                    fail(damaged(format));
            }
        }
    }
    return into.take();
}

namespace {

// Whether the 'ftyp' box at the start names one of `brands`, as its major brand or a compatible
// one (as far as the first bytes go).
bool hasBrand(std::span<const unsigned char> head, std::initializer_list<const char*> brands) {
    if (head.size() < 16 || !startsWith(head.subspan(4), "ftyp"))
        return false;
    const std::size_t end = std::min<std::size_t>(head.size(), be32(head.data()));
    for (std::size_t at = 8; at + 4 <= end; at += 4) {
        if (at == 12) // the minor version
            continue;
        for (const char* brand : brands)
            if (std::memcmp(head.data() + at, brand, 4) == 0)
                return true;
    }
    return false;
}

bool isAvif(std::span<const unsigned char> head) {
    return hasBrand(head, {"avif", "avis"});
}

bool isHeif(std::span<const unsigned char> head) {
    return !isAvif(head) &&
           hasBrand(head, {"heic", "heix", "heim", "heis", "hevc", "hevx", "mif1", "msf1"});
}

} // namespace

const PictureFormat HeifFormat{"HEIF", isHeif, readHeif};
const PictureFormat AvifFormat{"AVIF", isAvif, readHeif};

} // namespace rt::pictures
