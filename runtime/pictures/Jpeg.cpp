// JPEG pictures through libjpeg-turbo, fed from the snapshot, its memory held to what is left of
// the load's budget: scaled down by 2, 4 or 8 while decoding where the shown size allows, turned
// as the EXIF orientation says, rows straight into the area scaler. Large progressive pictures
// go to the blocks' means instead (JpegBlockMeans.cpp).
#include "AreaScaler.h"
#include "Formats.h"
#include "JpegBlockMeans.h"
#include "Limits.h"
#include "Snapshot.h"

#include <cstdio> // jpeglib.h needs FILE

#include <jerror.h>
#include <jpeglib.h>

#include <csetjmp>
#include <cstring>
#include <optional>

namespace rt::pictures {
namespace {

struct ErrorManager {
    jpeg_error_mgr std;
    std::jmp_buf jump;
    bool cutShort = false;
};

[[noreturn]] void errorExit(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}

// Warnings about damaged data are passed over, as viewers do, but for the end of the data.
void emitMessage(j_common_ptr cinfo, int level) {
    auto* e = reinterpret_cast<ErrorManager*>(cinfo->err);
    if (level < 0 && e->std.msg_code == JWRN_JPEG_EOF) {
        e->cutShort = true;
        std::longjmp(e->jump, 1);
    }
}

struct Decompress {
    jpeg_decompress_struct cinfo{};
    ~Decompress() { jpeg_destroy_decompress(&cinfo); }
};

// The orientation (1-8) in the EXIF data of an APP1 segment, or 1.
int exifOrientation(const jpeg_saved_marker_ptr markers) {
    for (jpeg_saved_marker_ptr m = markers; m; m = m->next) {
        const unsigned char* d = m->data;
        const std::int64_t n = m->data_length;
        if (m->marker != JPEG_APP0 + 1 || n < 14 || std::memcmp(d, "Exif\0\0", 6) != 0)
            continue;
        const unsigned char* tiff = d + 6;
        const std::int64_t size = n - 6;
        const bool little = tiff[0] == 'I' && tiff[1] == 'I';
        if (!little && !(tiff[0] == 'M' && tiff[1] == 'M'))
            continue;
        const auto u16 = [&](std::int64_t at) -> std::uint32_t {
            if (at < 0 || at + 2 > size)
                return 0;
            return little ? tiff[at] | tiff[at + 1] << 8 : tiff[at] << 8 | tiff[at + 1];
        };
        const auto u32 = [&](std::int64_t at) -> std::uint32_t {
            return little ? u16(at) | u16(at + 2) << 16 : u16(at) << 16 | u16(at + 2);
        };
        const std::int64_t ifd = u32(4);
        const std::uint32_t entries = u16(ifd);
        for (std::uint32_t i = 0; i < entries; ++i) {
            const std::int64_t at = ifd + 2 + 12 * std::int64_t(i);
            if (at + 12 > size)
                break;
            if (u16(at) == 0x0112 && u16(at + 2) == 3) { // orientation, a SHORT
                const std::uint32_t value = u16(at + 8);
                return value >= 1 && value <= 8 ? int(value) : 1;
            }
        }
    }
    return 1;
}

// What the whole picture's coefficients cost, where a decoder must hold them all.
std::int64_t coefficientBytes(const jpeg_decompress_struct& c) {
    std::int64_t bytes = 0;
    for (int i = 0; i < c.num_components; ++i)
        bytes += std::int64_t(c.comp_info[i].width_in_blocks) * c.comp_info[i].height_in_blocks *
                 DCTSIZE2 * sizeof(JCOEF);
    return bytes;
}

} // namespace

QImage readJpeg(Load& load) {
    Decompress d;
    ErrorManager errors;
    std::optional<AreaScaler> into;
    // Made before setjmp, as all that owns memory here: libjpeg's jump back skips what is made
    // after it (found by fuzzing: a header libjpeg refused left the file's bytes behind).
    std::optional<Snapshot> snapshot;
    Buffer<QRgb> row(BudgetAllocator<QRgb>(load.budget));
    Buffer<JSAMPLE> cmyk(BudgetAllocator<JSAMPLE>(load.budget));
    jpeg_decompress_struct& c = d.cinfo;
    c.err = jpeg_std_error(&errors.std);
    errors.std.error_exit = errorExit;
    errors.std.emit_message = emitMessage;
    if (setjmp(errors.jump)) {
        if (errors.cutShort)
            fail(cutShort(JpegFormat.name));
        const int code = errors.std.msg_code;
        if ((code == JERR_OUT_OF_MEMORY || code == JERR_NO_BACKING_STORE) && !load.size.isEmpty())
            fail(tooLarge(load.size.width(), load.size.height()));
        fail(damaged(JpegFormat.name));
    }
    jpeg_create_decompress(&c);
    // libjpeg-turbo has no backing store: a picture needing more fails with an error.
    c.mem->max_memory_to_use = long(load.budget.left());
    const Snapshot& bytes = snapshot.emplace(load.in.rest());
    jpeg_mem_src(&c, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_save_markers(&c, JPEG_APP0 + 1, 0xFFFF);
    if (jpeg_read_header(&c, TRUE) != JPEG_HEADER_OK)
        fail(damaged(JpegFormat.name));
    // (No object that owns memory is made from here on: libjpeg's jump back skips its frame.)
    checkSize(c.image_width, c.image_height);
    const QSize stored(int(c.image_width), int(c.image_height));
    load.size = stored;
    const int orientation = exifOrientation(c.marker_list);
    const QSize target = targetFor(orientedSize(stored, orientation), load.shown);
    const QSize shownStored = orientedSize(load.shown, orientation);

    // A progressive JPEG shown at an eighth of its size or less needs only each block's mean;
    // so does one whose coefficients would cost more than a game's own memory, shown then a
    // little soft.
    const bool eighth = !load.shown.isEmpty() && stored.width() >= 8 * shownStored.width() &&
                        stored.height() >= 8 * shownStored.height();
    // Its colours as libjpeg reads them (YCbCr, or RGB by Adobe's marker or the components' ids).
    if (c.progressive_mode && !c.arith_code && !load.shown.isEmpty() && c.data_precision == 8 &&
        (c.num_components == 1 || (c.num_components == 3 && (c.jpeg_color_space == JCS_YCbCr ||
                                                             c.jpeg_color_space == JCS_RGB))) &&
        (eighth || coefficientBytes(c) > MaxCoefficientBytes)) {
        const int components = c.num_components;
        const bool rgb = c.jpeg_color_space == JCS_RGB;
        jpeg_destroy_decompress(&c);
        return decodeJpegBlockMeans(load, bytes, stored, components, rgb, target, orientation);
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
    c.mem->max_memory_to_use = long(load.budget.left());
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
            fail(damaged(JpegFormat.name));
        if (inkColours) { // Adobe's inverted CMYK, as such files hold it
            for (std::size_t x = 0; x < c.output_width; ++x) {
                const JSAMPLE* p = cmyk.data() + 4 * x;
                const int k = p[3];
                row[x] = qRgb(p[0] * k / 255, p[1] * k / 255, p[2] * k / 255);
            }
        }
        if (!into->addRow(y, row.data(), decoded.width()))
            fail(damaged(JpegFormat.name));
    }
    jpeg_finish_decompress(&c); // up to the EOI marker
    return into->take();
}

const PictureFormat JpegFormat{"JPEG", [](auto head) { return startsWith(head, "\xFF\xD8\xFF"); },
                               readJpeg};

} // namespace rt::pictures
