// JPEG pictures through libjpeg-turbo, fed from the stream, its memory charged to the load's
// budget: scaled down by 2, 4 or 8 while decoding where the shown size allows, turned as the
// EXIF orientation says, rows straight into the area scaler. Large progressive pictures go to
// the blocks' means instead (JpegBlockMeans.cpp), which read on from where libjpeg stopped.
#include "AreaScaler.h"
#include "Formats.h"
#include "JpegBlockMeans.h"
#include "JpegClient.h"
#include "Limits.h"

#include <optional>

namespace rt::pictures {
namespace {

const char* const Name = "JPEG";

// Destroys the decompressor before the client its memory methods call on goes.
struct Decompress {
    jpeg_decompress_struct& cinfo;
    ~Decompress() { jpeg_destroy_decompress(&cinfo); }
};

// What libjpeg may take of what is left of the budget: more as the file is larger.
std::size_t libraryShare(const Load& load) {
    const std::int64_t beyond = std::max<std::int64_t>(0, load.in.sizeHint() - (1 << 20));
    const std::int64_t share = std::int64_t(MinJpegShare) + 32 * beyond;
    return std::size_t(std::min<std::int64_t>(share, std::int64_t(load.budget.left())));
}

// What the whole picture's coefficients cost, where a decoder must hold them all.
std::int64_t coefficientBytes(const jpeg_decompress_struct& c) {
    std::int64_t bytes = 0;
    for (int i = 0; i < c.num_components; ++i)
        bytes += std::int64_t(c.comp_info[i].width_in_blocks) * c.comp_info[i].height_in_blocks *
                 DCTSIZE2 * sizeof(JCOEF);
    return bytes;
}

// A progressive JPEG shown at an eighth of its size or less needs only each block's mean; so
// does one whose coefficients would cost more than a game's own memory, shown then a little soft.
// Its colours as libjpeg reads them (YCbCr, RGB by Adobe's marker or the components' ids, CMYK
// or YCCK).
bool byBlockMeans(const jpeg_decompress_struct& c, QSize stored, QSize shownStored) {
    const bool eighth = !shownStored.isEmpty() && stored.width() >= 8 * shownStored.width() &&
                        stored.height() >= 8 * shownStored.height();
    const J_COLOR_SPACE colours = c.jpeg_color_space;
    const bool known = c.num_components == 1 ||
                       (c.num_components == 3 && (colours == JCS_YCbCr || colours == JCS_RGB)) ||
                       (c.num_components == 4 && (colours == JCS_CMYK || colours == JCS_YCCK));
    return c.progressive_mode && !c.arith_code && !shownStored.isEmpty() && c.data_precision == 8 &&
           known && (eighth || coefficientBytes(c) > MaxCoefficientBytes);
}

QImage readJpeg(Load& load) {
    jpeg_decompress_struct c{};
    JpegClient client(c, load.in, load.budget, libraryShare(load));
    Decompress d{c};
    std::optional<AreaScaler> into;
    Buffer<QRgb> row(BudgetAllocator<QRgb>(load.budget));
    Buffer<JSAMPLE> cmyk(BudgetAllocator<JSAMPLE>(load.budget));
    if (setjmp(client.jump)) {
        switch (client.stop) {
        case JpegClient::Stop::CutShort:
            fail(cutShort(Name));
        case JpegClient::Stop::TooManyScans:
            fail(FaultKind::TooComplex, "is too complex (its JPEG data has more than " +
                                            std::to_string(MaxJpegScans) + " scans)");
        case JpegClient::Stop::OverBudget:
            if (!load.size.isEmpty())
                fail(tooLarge(load.size.width(), load.size.height()));
            throw OverBudget();
        case JpegClient::Stop::Fault:
            break;
        }
        fail(damaged(Name));
    }
    jpeg_create_decompress(&c);
    client.install();
    if (jpeg_read_header(&c, TRUE) != JPEG_HEADER_OK)
        fail(damaged(Name));
    // (No object that owns memory is made from here on: libjpeg's jump back skips its frame.)
    checkSize(c.image_width, c.image_height);
    const QSize stored(int(c.image_width), int(c.image_height));
    load.size = stored;
    const int orientation = exifOrientation(client.exif);
    const QSize target = targetFor(orientedSize(stored, orientation), load.shown);
    if (byBlockMeans(c, stored, orientedSize(load.shown, orientation))) {
        client.giveBackUnread();
        return readJpegBlockMeans(load, c, target, orientation);
    }

    // The largest scale that still gives at least the target's pixels.
    const QSize wanted = orientedSize(target, orientation);
    c.scale_num = 1;
    c.scale_denom = 1;
    for (unsigned denom : {8u, 4u, 2u}) {
        if ((c.image_width + denom - 1) / denom >= unsigned(wanted.width()) &&
            (c.image_height + denom - 1) / denom >= unsigned(wanted.height())) {
            c.scale_denom = denom;
            break;
        }
    }
    const bool inkColours = c.jpeg_color_space == JCS_CMYK || c.jpeg_color_space == JCS_YCCK;
    c.out_color_space = inkColours ? JCS_CMYK : JCS_EXT_BGRA; // BGRA bytes: a QRgb in memory
    jpeg_start_decompress(&c);
    const QSize decoded(int(c.output_width), int(c.output_height));
    into.emplace(load.budget, decoded, target, orientation);
    row.resize(c.output_width);
    if (inkColours)
        cmyk.resize(std::size_t(c.output_width) * 4);
    while (c.output_scanline < c.output_height) {
        const int y = int(c.output_scanline);
        JSAMPROW line = inkColours ? cmyk.data() : reinterpret_cast<JSAMPROW>(row.data());
        if (jpeg_read_scanlines(&c, &line, 1) != 1)
            fail(damaged(Name));
        if (inkColours) { // Adobe's inverted CMYK, as such files hold it
            for (std::size_t x = 0; x < c.output_width; ++x) {
                const JSAMPLE* p = cmyk.data() + 4 * x;
                const int k = p[3];
                row[x] = qRgb(p[0] * k / 255, p[1] * k / 255, p[2] * k / 255);
            }
        }
        if (!into->addRow(y, row.data(), decoded.width()))
            fail(damaged(Name));
    }
    jpeg_finish_decompress(&c); // up to the EOI marker
    return into->take();
}

} // namespace

const PictureFormat JpegFormat{"JPEG", [](auto head) { return startsWith(head, "\xFF\xD8\xFF"); },
                               readJpeg};

} // namespace rt::pictures
