// PNG pictures: libpng fed from the stream as it asks, its memory drawn from the load's budget,
// each chunk's claimed length checked as libpng reads it, rows decoded straight into the scaler.
#include "AreaScaler.h"
#include "ByteOrder.h"
#include "Formats.h"
#include "Limits.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <optional>

namespace rt::pictures {
namespace {

struct Reader {
    Stream& in;
    Budget& budget;
    Fault fault; // why libpng was stopped, when we stopped it
    bool overBudget = false;
};

// A chunk's four-letter name for a report; other bytes there as \xNN.
std::string chunkName(const unsigned char* type) {
    std::string name;
    for (int i = 0; i < 4; ++i) {
        const int c = type[i];
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) {
            name += char(c);
        } else {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c & 0xFF);
            name += escaped;
        }
    }
    return name;
}

// What is wrong with the chunk whose header libpng has just read, or nothing: no chunk may claim
// more than the file holds, nor a chunk of metadata more than we would ever read.
Fault chunkFault(const Reader& r, const unsigned char* header) {
    const std::uint32_t length = be32(header);
    const bool ancillary = (header[4] & 0x20) != 0;
    std::string chunk = "\"";
    chunk += chunkName(header + 4);
    chunk += "\" chunk";
    if (length > 0x7FFFFFFF)
        return damaged("its " + chunk + " claims " + std::to_string(length) +
                       " bytes, more than a PNG chunk can hold");
    if (std::int64_t(length) + 4 > r.in.leftHint())
        return ancillary ? damaged("its " + chunk + " claims " + std::to_string(length) +
                                   " bytes, more than the rest of the file")
                         : cutShort(PngFormat.name);
    if (ancillary && length > MaxAncillaryChunk)
        return {FaultKind::TooLarge, "has a " + chunk + " of " + std::to_string(length) +
                                         " bytes, more than the 8 MB such a chunk may hold"};
    return {};
}

// libpng's read function. A fault found here is kept in the reader and libpng stopped by
// png_error, which jumps out: no object that owns memory is alive in this frame then.
void readBytes(png_structp png, png_bytep data, std::size_t length) {
    Reader& r = *static_cast<Reader*>(png_get_io_ptr(png));
    if (r.in.read(data, length) != length) {
        r.fault = cutShort(PngFormat.name);
        png_error(png, "cut short");
    }
    const png_uint_32 state = png_get_io_state(png) & PNG_IO_MASK_LOC;
    if (state == PNG_IO_CHUNK_HDR && length == 8)
        r.fault = chunkFault(r, data);
    else if (state == PNG_IO_CHUNK_DATA && length >= 8 &&
             png_get_io_chunk_type(png) == 0x49484452) // "IHDR"
        r.fault = sizeFault(be32(data), be32(data + 4));
    if (r.fault.kind != FaultKind::None)
        png_error(png, "stopped");
}

// libpng's memory, each block headed by its size, so that freeing it gives back what it took.
constexpr std::size_t Head = 16;

png_voidp allocate(png_structp png, png_alloc_size_t size) {
    Reader& r = *static_cast<Reader*>(png_get_mem_ptr(png));
    if (size > r.budget.left() || !r.budget.tryTake(size + Head)) {
        r.overBudget = true;
        return nullptr;
    }
    auto* block = static_cast<unsigned char*>(std::malloc(size + Head));
    if (!block) {
        r.budget.give(size + Head);
        r.overBudget = true;
        return nullptr;
    }
    std::memcpy(block, &size, sizeof size);
    return block + Head;
}

void release(png_structp png, png_voidp p) {
    if (!p)
        return;
    Reader& r = *static_cast<Reader*>(png_get_mem_ptr(png));
    unsigned char* block = static_cast<unsigned char*>(p) - Head;
    png_alloc_size_t size = 0;
    std::memcpy(&size, block, sizeof size);
    r.budget.give(size + Head);
    std::free(block);
}

struct ReadStruct {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~ReadStruct() { png_destroy_read_struct(&png, info ? &info : nullptr, nullptr); }
};

} // namespace

// Decodes row by row (each pass of an interlaced picture as the rows it holds) as 8-bit colours
// with alpha. libpng leaves by longjmp on any fault, back into this frame only: what lives
// here across setjmp was made before it.
QImage readPng(Load& load) {
    Reader r{load.in, load.budget, {}, false};
    ReadStruct s;
    std::optional<AreaScaler> into;
    Buffer<QRgb> row(BudgetAllocator<QRgb>(load.budget));
    s.png = png_create_read_struct_2(
        PNG_LIBPNG_VER_STRING, nullptr, [](png_structp p, png_const_charp) { png_longjmp(p, 1); },
        [](png_structp, png_const_charp) {}, &r, allocate, release);
    if (!s.png)
        throw OverBudget();
    s.info = png_create_info_struct(s.png);
    if (!s.info)
        throw OverBudget();
    if (setjmp(png_jmpbuf(s.png))) {
        if (r.fault.kind != FaultKind::None)
            fail(r.fault);
        if (r.overBudget)
            throw OverBudget();
        fail(damaged(PngFormat.name));
    }
    png_set_read_fn(s.png, &r, readBytes);
    png_set_user_limits(s.png, MaxSide, MaxSide);
    png_set_chunk_cache_max(s.png, 128);
    png_set_chunk_malloc_max(s.png, MaxAncillaryChunk);
    // Only the pixels matter: text, profiles and the rest are skipped unread.
    png_set_keep_unknown_chunks(s.png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
    png_read_info(s.png, s.info);
    png_uint_32 width = 0, height = 0;
    int depth = 0, colour = 0, interlace = 0;
    png_get_IHDR(s.png, s.info, &width, &height, &depth, &colour, &interlace, nullptr, nullptr);
    load.size = QSize(int(width), int(height));
    png_set_expand(s.png); // palette to colours, grey below 8 bits to bytes, tRNS to alpha
    png_set_scale_16(s.png);
    png_set_gray_to_rgb(s.png);
    png_set_bgr(s.png); // with alpha after: a QRgb in memory
    png_set_add_alpha(s.png, 0xFF, PNG_FILLER_AFTER);
    png_read_update_info(s.png, s.info);
    if (png_get_rowbytes(s.png, s.info) != std::size_t(width) * 4)
        png_error(s.png, "row");
    into.emplace(load.budget, load.size, targetFor(load.size, load.shown));
    row.resize(width);
    const bool adam7 = interlace == PNG_INTERLACE_ADAM7;
    for (int pass = 0; pass < (adam7 ? 7 : 1); ++pass) {
        const png_uint_32 rows = adam7 ? PNG_PASS_ROWS(height, pass) : height;
        const png_uint_32 columns = adam7 ? PNG_PASS_COLS(width, pass) : width;
        if (rows == 0 || columns == 0)
            continue;
        const int x0 = adam7 ? int(PNG_PASS_START_COL(pass)) : 0;
        const int dx = adam7 ? 1 << PNG_PASS_COL_SHIFT(pass) : 1;
        for (png_uint_32 n = 0; n < rows; ++n) {
            png_read_row(s.png, reinterpret_cast<png_bytep>(row.data()), nullptr);
            const png_uint_32 y = adam7 ? PNG_ROW_FROM_PASS_ROW(n, pass) : n;
            if (!into->addRow(int(y), row.data(), int(columns), x0, dx))
                png_error(s.png, "row");
        }
    }
    png_read_end(s.png, nullptr); // up to the IEND chunk
    return into->take();
}

const PictureFormat PngFormat{
    "PNG", [](auto head) { return startsWith(head, "\x89PNG\r\n\x1A\n"); }, readPng};

} // namespace rt::pictures
