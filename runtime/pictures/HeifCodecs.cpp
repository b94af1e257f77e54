// libde265 and dav1d behind one small interface. libde265 takes no allocator: a picture's cost
// is charged from the size its sequence parameter set gives, read here before the decoder sees
// it. dav1d allocates its pictures through ours, within the budget, and refuses frames larger
// than the item says.
#include "HeifCodecs.h"

#include "Codecs.h"
#include "Fault.h"

#include <QSize>

#include <cstdarg>
#include <cstdlib>
#include <cstring>

namespace rt::pictures::heif {
namespace {

// What libde265 holds for a picture: its planes twice (the sample adaptive offset filter works
// from a copy), motion, modes and filter flags for each 4 x 4 block, about 3 bytes a pixel in
// all, and its fixed tables; as measured on Debian's 1.0.11 (a 12-megapixel 4:2:0 picture,
// 69 MB).
constexpr std::size_t De265BytesPerPixel = 3;
constexpr std::size_t De265Fixed = std::size_t(4) << 20;
// Each of its worker threads holds a context of its own (6 MB each, measured).
constexpr std::size_t De265PerThread = std::size_t(8) << 20;
// What dav1d holds beside the pictures it allocates through us: block and filter
// data of the frame, as measured on Debian's 1.0.0 (a 12-megapixel 4:4:4 picture, 82 MB).
constexpr std::size_t Dav1dBytesPerPixel = 4;
constexpr std::size_t Dav1dFixed = std::size_t(6) << 20;

// A charge to the budget, given back when replaced or dropped.
class Charge {
public:
    explicit Charge(Budget& budget)
        : m_budget(budget) {}
    ~Charge() { m_budget.give(m_bytes); }
    void set(std::size_t bytes) {
        m_budget.give(m_bytes);
        m_bytes = 0;
        m_budget.take(bytes);
        m_bytes = bytes;
    }

private:
    Budget& m_budget;
    std::size_t m_bytes = 0;
};

// Bits of an RBSP (emulation prevention bytes dropped) read from the front; past the end, zeros.
class BitReader {
public:
    explicit BitReader(std::span<const unsigned char> nal) {
        int zeros = 0;
        for (const unsigned char b : nal) {
            if (zeros >= 2 && b == 3) {
                zeros = 0;
                continue;
            }
            zeros = b == 0 ? zeros + 1 : 0;
            m_bytes[m_size++] = b;
            if (m_size == sizeof m_bytes)
                break;
        }
    }
    std::uint32_t bits(int n) {
        std::uint32_t v = 0;
        for (int i = 0; i < n; ++i, ++m_bit)
            v = v << 1 | (m_bit / 8 < m_size ? (m_bytes[m_bit / 8] >> (7 - m_bit % 8)) & 1 : 0);
        return v;
    }
    void skip(int n) { m_bit += std::size_t(n); }
    // ue(v); a code of more than 31 leading zeros gives a value no header has.
    std::uint64_t ue() {
        int zeros = 0;
        while (bits(1) == 0) {
            if (++zeros > 31)
                return std::uint64_t(1) << 40;
        }
        return (std::uint64_t(1) << zeros) - 1 + bits(zeros);
    }

private:
    unsigned char m_bytes[256] = {};
    std::size_t m_size = 0;
    std::size_t m_bit = 0;
};

struct SpsSize {
    std::uint64_t width = 0, height = 0;
    std::uint64_t chroma = 1, bits = 8;
};

// The picture size and sampling an HEVC sequence parameter set gives (H.265 7.3.2.2).
SpsSize readSps(std::span<const unsigned char> nal) {
    BitReader r(nal.subspan(2)); // after the NAL unit header
    r.skip(4);
    const int subLayers = int(r.bits(3));
    r.skip(1);
    r.skip(96); // the general profile, tier and level
    bool profile[8] = {}, level[8] = {};
    for (int i = 0; i < subLayers; ++i) {
        profile[i] = r.bits(1);
        level[i] = r.bits(1);
    }
    if (subLayers > 0)
        r.skip(2 * (8 - subLayers));
    for (int i = 0; i < subLayers; ++i)
        r.skip((profile[i] ? 88 : 0) + (level[i] ? 8 : 0));
    SpsSize s;
    r.ue(); // its id
    s.chroma = r.ue();
    if (s.chroma == 3)
        r.skip(1);
    s.width = r.ue();
    s.height = r.ue();
    if (r.bits(1)) // the conformance window
        for (int i = 0; i < 4; ++i)
            r.ue();
    s.bits = r.ue() + 8;
    s.bits = std::max(s.bits, r.ue() + 8);
    return s;
}

class Hevc : public Decoder {
public:
    Hevc(const De265Library& de265, Budget& budget, const char* format, int threads)
        : m_de265(de265)
        , m_charge(budget)
        , m_format(format)
        , m_threads(threads) {}
    ~Hevc() override { close(); }

    Planes decode(std::span<const unsigned char> config, std::span<const unsigned char> data,
                  int width, int height) override {
        // 'hvcC': 22 bytes of profile and format, the NAL length size, then arrays of NAL units
        // (the parameter sets), each unit after a 16-bit length.
        if (config.size() < 23)
            fail(damaged(m_format));
        const std::size_t lengthSize = (config[21] & 3) + 1;
        const auto take = [&](std::span<const unsigned char> from, std::size_t& pos,
                              std::size_t size) {
            if (from.size() - pos < size)
                fail(damaged(m_format));
            const auto bytes = from.subspan(pos, size);
            pos += size;
            return bytes;
        };
        const auto number = [&](std::span<const unsigned char> bytes) {
            std::size_t n = 0;
            for (const unsigned char b : bytes)
                n = n << 8 | b;
            return n;
        };
        // Every unit is looked at before the decoder sees any: a parameter set may claim a
        // picture larger than the item's.
        const auto each = [&](auto visit) {
            std::size_t pos = 23;
            for (std::size_t arrays = config[22]; arrays > 0; --arrays) {
                take(config, pos, 1);
                for (std::size_t n = number(take(config, pos, 2)); n > 0; --n)
                    visit(take(config, pos, number(take(config, pos, 2))));
            }
            for (std::size_t pos2 = 0; pos2 < data.size();)
                visit(take(data, pos2, number(take(data, pos2, lengthSize))));
        };
        bool sized = false;
        each([&](std::span<const unsigned char> nal) {
            if (nal.size() < 3 || (nal[0] >> 1 & 0x3F) != 33)
                return;
            const SpsSize s = readSps(nal);
            // The coded size is the shown one rounded up to whole coding blocks (8 pixels at
            // least, 64 at most); a tile may be cut by the grid.
            if (s.width == 0 || s.height == 0 || s.width > std::uint64_t(width) + 64 ||
                s.height > std::uint64_t(height) + 64 || s.chroma > 3 || s.bits > 16)
                fail(damaged(std::string("its coded picture is not the size its header gives")));
            const std::size_t pixels = std::size_t(s.width) * std::size_t(s.height);
            const std::size_t chroma = s.chroma == 0   ? 0
                                       : s.chroma == 1 ? pixels / 2
                                                       : pixels * (s.chroma - 1);
            const std::size_t planes = (pixels + chroma) * (s.bits > 8 ? 2 : 1);
            m_charge.set(2 * planes + pixels * De265BytesPerPixel + De265Fixed +
                         (m_threads > 1 ? std::size_t(m_threads) * De265PerThread : 0));
            sized = true;
        });
        if (!sized)
            fail(damaged(std::string("an image holds no HEVC parameter set")));
        // One decoder for all the tiles of a grid, reset between them.
        if (m_decoder)
            m_de265.de265_reset(m_decoder);
        else if ((m_decoder = m_de265.de265_new_decoder()) && m_threads > 1)
            m_de265.de265_start_worker_threads(m_decoder, m_threads); // rows of CTBs (WPP)
        if (!m_decoder)
            throw OverBudget();
        each([&](std::span<const unsigned char> nal) {
            if (m_de265.de265_push_NAL(m_decoder, nal.data(), int(nal.size()), 0, nullptr) !=
                DE265_OK)
                fail(damaged(m_format));
        });
        m_de265.de265_flush_data(m_decoder);
        const de265_image* image = nullptr;
        for (int more = 1; more && !image;) {
            const de265_error e = m_de265.de265_decode(m_decoder, &more);
            image = m_de265.de265_get_next_picture(m_decoder);
            if (e != DE265_OK && !image)
                break;
        }
        if (!image)
            fail(damaged(m_format));
        Planes p;
        const de265_chroma chroma = m_de265.de265_get_chroma_format(image);
        p.monochrome = chroma == de265_chroma_mono;
        p.shiftX = chroma == de265_chroma_420 || chroma == de265_chroma_422;
        p.shiftY = chroma == de265_chroma_420;
        p.width = m_de265.de265_get_image_width(image, 0);
        p.height = m_de265.de265_get_image_height(image, 0);
        p.bits = m_de265.de265_get_bits_per_pixel(image, 0);
        if (p.bits < 8 || p.bits > 16 || p.width <= 0 || p.height <= 0)
            fail(damaged(m_format));
        for (int c = 0; c < (p.monochrome ? 1 : 3); ++c) {
            int stride = 0;
            p.plane[c] = m_de265.de265_get_image_plane(image, c, &stride);
            p.stride[c] = stride;
            if (!p.plane[c] || m_de265.de265_get_bits_per_pixel(image, c) != p.bits)
                fail(damaged(m_format));
        }
        p.matrix = m_de265.de265_get_image_matrix_coefficients(image);
        p.fullRange = m_de265.de265_get_image_full_range_flag(image) != 0;
        return p;
    }

private:
    void close() {
        if (m_decoder)
            m_de265.de265_free_decoder(m_decoder);
        m_decoder = nullptr;
    }

    const De265Library& m_de265;
    Charge m_charge;
    const char* m_format;
    int m_threads;
    de265_decoder_context* m_decoder = nullptr;
};

class Av1 : public Decoder {
public:
    Av1(const Dav1dLibrary& dav1d, Budget& budget, const char* format, int threads)
        : m_dav1d(dav1d)
        , m_budget(budget)
        , m_charge(budget)
        , m_format(format)
        , m_threads(threads) {}
    ~Av1() override { close(); }

    Planes decode(std::span<const unsigned char> config, std::span<const unsigned char> data,
                  int width, int height) override {
        // One decoder for all the tiles of a grid (they are of one size), emptied between them.
        if (m_hasPicture)
            m_dav1d.dav1d_picture_unref(&m_picture);
        m_hasPicture = false;
        if (m_context && QSize(width, height) == m_size)
            m_dav1d.dav1d_flush(m_context);
        else
            open(width, height);
        // 'av1C': 4 bytes of profile and format, then the sequence header's OBUs, which the
        // item's own data may repeat.
        if (config.size() < 4)
            fail(damaged(m_format));
        bool got = false;
        for (const auto bytes : {config.subspan(4), data}) {
            if (bytes.empty() || got)
                continue;
            Dav1dData d{};
            if (m_dav1d.dav1d_data_wrap(
                    &d, bytes.data(), bytes.size(), [](const uint8_t*, void*) {}, nullptr) < 0)
                throw OverBudget();
            while (d.sz > 0 && !got) {
                const int sent = m_dav1d.dav1d_send_data(m_context, &d);
                if (sent < 0 && sent != DAV1D_ERR(EAGAIN)) {
                    m_dav1d.dav1d_data_unref(&d);
                    rethrow();
                    fail(damaged(m_format));
                }
                got = take();
            }
            m_dav1d.dav1d_data_unref(&d);
        }
        for (int i = 0; i < 4 && !got; ++i) // what the decoder still holds back
            got = take();
        rethrow();
        if (!got)
            fail(damaged(m_format));
        Planes p;
        const Dav1dPictureParameters& pp = m_picture.p;
        p.monochrome = pp.layout == DAV1D_PIXEL_LAYOUT_I400;
        p.shiftX = pp.layout == DAV1D_PIXEL_LAYOUT_I420 || pp.layout == DAV1D_PIXEL_LAYOUT_I422;
        p.shiftY = pp.layout == DAV1D_PIXEL_LAYOUT_I420;
        p.width = pp.w;
        p.height = pp.h;
        p.bits = pp.bpc;
        if (p.bits < 8 || p.bits > 16 || p.width <= 0 || p.height <= 0)
            fail(damaged(m_format));
        for (int c = 0; c < 3; ++c) {
            p.plane[c] = static_cast<const unsigned char*>(m_picture.data[c]);
            p.stride[c] = m_picture.stride[c == 0 ? 0 : 1];
        }
        if (m_picture.seq_hdr) {
            p.matrix = m_picture.seq_hdr->mtrx;
            p.fullRange = m_picture.seq_hdr->color_range != 0;
        }
        return p;
    }

private:
    void open(int width, int height) {
        close();
        Dav1dSettings s{};
        m_dav1d.dav1d_default_settings(&s);
        // A still picture is one frame: its tiles and filters go to the threads, no frame waits.
        s.n_threads = m_threads;
        s.max_frame_delay = 1;
        s.all_layers = 0;
        // AV1 frames come in whole 8 x 8 blocks at most.
        s.frame_size_limit = unsigned(std::size_t(width + 8) * std::size_t(height + 8));
        s.logger.callback = [](void*, const char*, va_list) {}; // faults come back as results
        s.allocator.cookie = this;
        s.allocator.alloc_picture_callback = allocate;
        s.allocator.release_picture_callback = release;
        m_charge.set(std::size_t(width) * std::size_t(height) * Dav1dBytesPerPixel + Dav1dFixed);
        if (m_dav1d.dav1d_open(&m_context, &s) < 0)
            throw OverBudget();
        m_size = QSize(width, height);
    }

    bool take() {
        const int got = m_dav1d.dav1d_get_picture(m_context, &m_picture);
        if (got == 0) {
            m_hasPicture = true;
            return true;
        }
        if (got != DAV1D_ERR(EAGAIN)) {
            rethrow();
            fail(damaged(m_format));
        }
        return false;
    }

    // A picture's planes as dav1d's own allocator lays them out, charged to the budget.
    static int allocate(Dav1dPicture* p, void* cookie) {
        auto* self = static_cast<Av1*>(cookie);
        const int hbd = p->p.bpc > 8;
        const std::size_t w = std::size_t(p->p.w + 127) & ~std::size_t(127);
        const std::size_t h = std::size_t(p->p.h + 127) & ~std::size_t(127);
        const bool chroma = p->p.layout != DAV1D_PIXEL_LAYOUT_I400;
        const int ssVer = p->p.layout == DAV1D_PIXEL_LAYOUT_I420;
        const int ssHor = p->p.layout != DAV1D_PIXEL_LAYOUT_I444;
        std::ptrdiff_t yStride = std::ptrdiff_t(w << hbd);
        std::ptrdiff_t uvStride = chroma ? yStride >> ssHor : 0;
        if (!(yStride & 1023))
            yStride += DAV1D_PICTURE_ALIGNMENT;
        if (chroma && !(uvStride & 1023))
            uvStride += DAV1D_PICTURE_ALIGNMENT;
        const std::size_t ySize = std::size_t(yStride) * h;
        const std::size_t uvSize = std::size_t(uvStride) * (h >> ssVer);
        const std::size_t size = ySize + 2 * uvSize + DAV1D_PICTURE_ALIGNMENT;
        if (!self->m_budget.tryTake(size + sizeof(std::size_t) * 8)) {
            self->m_overBudget = true;
            return DAV1D_ERR(ENOMEM);
        }
        auto* block = static_cast<unsigned char*>(std::aligned_alloc(
            DAV1D_PICTURE_ALIGNMENT,
            (size + DAV1D_PICTURE_ALIGNMENT * 2) & ~std::size_t(DAV1D_PICTURE_ALIGNMENT - 1)));
        if (!block) {
            self->m_budget.give(size + sizeof(std::size_t) * 8);
            self->m_overBudget = true;
            return DAV1D_ERR(ENOMEM);
        }
        std::memcpy(block, &size, sizeof size);
        unsigned char* data = block + DAV1D_PICTURE_ALIGNMENT;
        p->data[0] = data;
        p->data[1] = chroma ? data + ySize : nullptr;
        p->data[2] = chroma ? data + ySize + uvSize : nullptr;
        p->stride[0] = yStride;
        p->stride[1] = uvStride;
        p->allocator_data = block;
        return 0;
    }
    static void release(Dav1dPicture* p, void* cookie) {
        auto* self = static_cast<Av1*>(cookie);
        auto* block = static_cast<unsigned char*>(p->allocator_data);
        std::size_t size = 0;
        std::memcpy(&size, block, sizeof size);
        std::free(block);
        self->m_budget.give(size + sizeof(std::size_t) * 8);
    }

    void rethrow() {
        if (m_overBudget)
            throw OverBudget();
    }
    void close() {
        if (m_hasPicture)
            m_dav1d.dav1d_picture_unref(&m_picture);
        m_hasPicture = false;
        if (m_context)
            m_dav1d.dav1d_close(&m_context);
        m_context = nullptr;
        m_size = QSize();
    }

    const Dav1dLibrary& m_dav1d;
    Budget& m_budget;
    Charge m_charge;
    const char* m_format;
    int m_threads;
    Dav1dContext* m_context = nullptr;
    QSize m_size; // what the decoder was opened for
    Dav1dPicture m_picture{};
    bool m_hasPicture = false;
    bool m_overBudget = false;
};

} // namespace

std::unique_ptr<Decoder> hevcDecoder(Budget& budget, const char* format, int threads) {
    const De265Library* de265 = de265Library();
    return de265 ? std::make_unique<Hevc>(*de265, budget, format, threads) : nullptr;
}

std::unique_ptr<Decoder> av1Decoder(Budget& budget, const char* format, int threads) {
    const Dav1dLibrary* dav1d = dav1dLibrary();
    return dav1d ? std::make_unique<Av1>(*dav1d, budget, format, threads) : nullptr;
}

} // namespace rt::pictures::heif
