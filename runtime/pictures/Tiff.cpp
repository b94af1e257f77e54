// TIFF pictures through libtiff, from the file's bytes held in memory (TIFF must seek): the first
// page, a band of strips or tiles at a time converted to colours by libtiff's RGBA reader (every
// compression, sample layout and photometric it knows) and fed to the area scaler, turned as the
// Orientation tag says.
#include "AreaScaler.h"
#include "Codecs.h"
#include "Formats.h"
#include "Limits.h"

#include <tiffio.h>

#include <cstring>

namespace rt::pictures {
namespace {

const char* const Name = "TIFF";

// libtiff, opened by the first TIFF (readTiff checks that it is there).
const TiffLibrary& tiff() {
    return *tiffLibrary();
}

// The file in memory, as libtiff's client reads it.
struct Source {
    const unsigned char* data;
    toff_t size;
    toff_t at = 0;
};

tsize_t readProc(thandle_t h, tdata_t into, tsize_t count) {
    auto& s = *static_cast<Source*>(h);
    const toff_t n = s.at >= s.size ? 0 : std::min<toff_t>(toff_t(count), s.size - s.at);
    std::memcpy(into, s.data + s.at, n);
    s.at += n;
    return tsize_t(n);
}

tsize_t writeProc(thandle_t, tdata_t, tsize_t) {
    return 0;
}

toff_t seekProc(thandle_t h, toff_t offset, int whence) {
    auto& s = *static_cast<Source*>(h);
    const toff_t base = whence == SEEK_CUR ? s.at : whence == SEEK_END ? s.size : 0;
    s.at = base + offset;
    return s.at;
}

int closeProc(thandle_t) {
    return 0;
}

toff_t sizeProc(thandle_t h) {
    return static_cast<Source*>(h)->size;
}

int mapProc(thandle_t h, tdata_t* base, toff_t* size) {
    auto& s = *static_cast<Source*>(h);
    *base = const_cast<unsigned char*>(s.data);
    *size = s.size;
    return 1;
}

void unmapProc(thandle_t, tdata_t, toff_t) {}

// libtiff prints nothing: its errors become our report.
int quiet(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

struct Closer {
    TIFF* tif = nullptr;
    TIFFOpenOptions* options = nullptr;
    TIFFRGBAImage* image = nullptr;
    ~Closer() {
        if (image)
            tiff().TIFFRGBAImageEnd(image);
        if (tif)
            tiff().TIFFClose(tif);
        if (options)
            tiff().TIFFOpenOptionsFree(options);
    }
};

QImage readTiff(Load& load) {
    if (!tiffLibrary())
        codecMissing(Name, "libtiff.so.6", "libtiff6");
    const Buffer<unsigned char> file = load.in.rest();
    Source source{file.data(), toff_t(file.size())};
    Closer c;
    c.options = tiff().TIFFOpenOptionsAlloc();
    if (!c.options)
        throw OverBudget();
    // No one block libtiff takes may be more than half of what is left; what it holds across
    // the load (a strip or tile) is charged below from the sizes it reports.
    tiff().TIFFOpenOptionsSetMaxSingleMemAlloc(c.options, tmsize_t(load.budget.left() / 2));
    tiff().TIFFOpenOptionsSetErrorHandlerExtR(c.options, quiet, nullptr);
    tiff().TIFFOpenOptionsSetWarningHandlerExtR(c.options, quiet, nullptr);
    c.tif = tiff().TIFFClientOpenExt("picture", "r", &source, readProc, writeProc, seekProc,
                                     closeProc, sizeProc, mapProc, unmapProc, c.options);
    if (!c.tif)
        fail(damaged(Name));
    TIFF* tif = c.tif;
    std::uint32_t width = 0, height = 0;
    if (!tiff().TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width) ||
        !tiff().TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height))
        fail(sizeFault(0, 0));
    checkSize(width, height);
    load.size = QSize(int(width), int(height));

    // Rows come a band at a time: a row of tiles, or a strip.
    std::uint32_t band = 0;
    std::uint64_t held = 0; // what libtiff holds to decode one band
    if (tiff().TIFFIsTiled(tif)) {
        std::uint32_t tileWidth = 0;
        tiff().TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth);
        tiff().TIFFGetField(tif, TIFFTAG_TILELENGTH, &band);
        held = std::uint64_t(tiff().TIFFTileSize64(tif)) * 2;
    } else {
        tiff().TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &band);
        held = std::uint64_t(tiff().TIFFStripSize64(tif)) * 2;
    }
    // A band of colours is held at once: a strip or row of tiles, or fewer rows of a larger one
    // (read again from its start for each band: slower, but no picture is held whole). A
    // multiple of 4 rows, as colour subsampling asks.
    const std::uint64_t most =
        std::max<std::uint64_t>(4, MaxTiffBandBytes / (std::uint64_t(width) * 4) / 4 * 4);
    // Small strips or tiles are taken as many at once as fit: each band costs a call.
    if (band > 0 && band < most)
        band = std::uint32_t(most / band * band);
    band = std::uint32_t(std::max<std::uint64_t>(1, std::min<std::uint64_t>({band, height, most})));
    if (held > load.budget.left())
        throw OverBudget();
    load.budget.take(std::size_t(held));

    char why[1024] = "";
    if (!tiff().TIFFRGBAImageOK(tif, why))
        fail(damaged(std::string("its kind of TIFF cannot be decoded: ") + why));
    TIFFRGBAImage image{};
    if (!tiff().TIFFRGBAImageBegin(&image, tif, 1, why))
        fail(damaged(Name));
    c.image = &image;
    // Rows as stored, top first; the scaler turns them as the tag says.
    const int orientation =
        image.orientation >= 1 && image.orientation <= 8 ? image.orientation : 1;
    image.req_orientation = std::uint16_t(orientation);

    const QSize turned = orientedSize(load.size, orientation);
    AreaScaler into(load.budget, load.size, targetFor(turned, load.shown), orientation);
    Buffer<std::uint32_t> raster =
        buffer<std::uint32_t>(load.budget, std::size_t(width) * std::size_t(band));
    Buffer<QRgb> row = buffer<QRgb>(load.budget, width);
    for (std::uint32_t top = 0; top < height; top += band) {
        const std::uint32_t rows = std::min(band, height - top);
        image.row_offset = int(top);
        image.col_offset = 0;
        if (!tiff().TIFFRGBAImageGet(&image, raster.data(), width, rows))
            fail(damaged(Name));
        for (std::uint32_t y = 0; y < rows; ++y) {
            const std::uint32_t* p = raster.data() + std::size_t(y) * width;
            for (std::uint32_t x = 0; x < width; ++x) {
                const std::uint32_t c = p[x]; // red in the low byte, alpha in the high one
                const std::uint32_t a = TIFFGetA(c);
                if (a == 255) {
                    row[x] = (c & 0xFF00FF00) | (c & 0xFF) << 16 | (c >> 16 & 0xFF);
                    continue;
                }
                // libtiff gives colours multiplied by alpha; the scaler takes them straight.
                const auto straight = [a](std::uint32_t v) {
                    return a == 0 ? 0 : int(std::min<std::uint32_t>(255, v * 255 / a));
                };
                row[x] = qRgba(straight(TIFFGetR(c)), straight(TIFFGetG(c)), straight(TIFFGetB(c)),
                               int(a));
            }
            if (!into.addRow(int(top + y), row.data(), int(width)))
                fail(damaged(Name));
        }
    }
    return into.take();
}

} // namespace

const PictureFormat TiffFormat{Name,
                               [](auto head) {
                                   using namespace std::literals;
                                   return startsWith(head, "II*\0"sv) ||
                                          startsWith(head, "MM\0*"sv) ||
                                          startsWith(head, "II+\0"sv) ||
                                          startsWith(head, "MM\0+"sv);
                               },
                               readTiff};

} // namespace rt::pictures
