// WebP pictures through libwebp, read as the stream comes. The RIFF chunks are walked here; the
// image's chunks (of an animated WebP, its first frame's) go to libwebp's incremental decoder as
// they arrive, which scales straight to the shown size into the picture's own pixels. libwebp
// takes no allocator: what it will hold is charged first, from the size the bitstream's header
// gives, which is checked against the size the file's header gives.
#include "ByteOrder.h"
#include "Codecs.h"
#include "Formats.h"
#include "Limits.h"

#include <QRect>

#include <cstring>

namespace rt::pictures {
namespace {

const char* const Name = "WebP";

// What libwebp holds beside the input and the output: for a lossy picture rows of macroblocks
// (about a hundred bytes a column) and the scaler's; for a lossless one every pixel as ARGB; for
// the alpha of a lossy one its plane, twice, and its lossless decoder's pixels.
constexpr std::size_t WebpFixed = std::size_t(1) << 20;
std::size_t decoderBytes(const WebPBitstreamFeatures& f, bool alpha) {
    const std::size_t w = std::size_t(f.width), h = std::size_t(f.height);
    if (f.format == 2) // lossless
        return 4 * w * h + 4 * 17 * w + WebpFixed;
    return 128 * w + (alpha ? 6 * w * h : 0) + WebpFixed;
}

std::uint32_t le24(const unsigned char* p) {
    return le16(p) | std::uint32_t(p[2]) << 16;
}

void readAll(Stream& in, void* into, std::size_t count) {
    if (in.read(into, count) != count)
        fail(cutShort(Name));
}

std::string chunkName(const unsigned char* type) {
    std::string name;
    for (int i = 0; i < 4; ++i)
        name += type[i] >= ' ' && type[i] <= '~' ? char(type[i]) : '?';
    return "\"" + name + "\"";
}

// A chunk's header, read: its type and the bytes its payload takes (with the pad byte).
struct Chunk {
    unsigned char header[8];
    std::int64_t end = 0; // where the payload and its pad end in the file
    std::uint32_t size() const { return le32(header + 4); }
    bool is(const char* type) const { return std::memcmp(header, type, 4) == 0; }
};

class Reader {
public:
    Reader(Load& load, const WebpLibrary& webp)
        : m_load(load)
        , m_webp(webp)
        , m_input(BudgetAllocator<unsigned char>(load.budget))
        , m_alpha(BudgetAllocator<unsigned char>(load.budget)) {}

    QImage read() {
        Stream& in = m_load.in;
        unsigned char riff[12];
        readAll(in, riff, sizeof riff);
        if (std::memcmp(riff + 8, "WEBP", 4) != 0)
            fail(damaged(Name));
        m_riffEnd = 8 + std::int64_t(le32(riff + 4));
        bool first = true, animated = false;
        for (;; first = false) {
            const Chunk chunk = next(m_riffEnd);
            if (chunk.is("VP8X") && first) {
                unsigned char x[10];
                if (chunk.size() < sizeof x)
                    fail(damaged(Name));
                readAll(in, x, sizeof x);
                m_canvas = QSize(int(le24(x + 4) + 1), int(le24(x + 7) + 1));
                checkSize(m_canvas.width(), m_canvas.height());
                m_load.size = m_canvas;
                animated = (x[0] & 0x02) != 0;
                skipTo(chunk.end);
            } else if (chunk.is("ANMF") && animated) {
                unsigned char f[16];
                if (chunk.size() < sizeof f)
                    fail(damaged(Name));
                readAll(in, f, sizeof f);
                m_frame = QRect(int(2 * le24(f)), int(2 * le24(f + 3)), int(le24(f + 6) + 1),
                                int(le24(f + 9) + 1));
                if (!QRect(QPoint(0, 0), m_canvas).contains(m_frame))
                    fail(damaged(std::string("its first frame lies outside its canvas")));
                for (;;) { // the frame's own chunks
                    const Chunk inner = next(chunk.end);
                    if (inner.is("VP8 ") || inner.is("VP8L"))
                        return decode(inner);
                    if (inner.is("ALPH"))
                        holdAlpha(inner);
                    else
                        skipTo(inner.end);
                }
            } else if (chunk.is("VP8 ") || chunk.is("VP8L")) {
                if (animated)
                    fail(damaged(std::string("its animation holds a picture outside a frame")));
                return decode(chunk);
            } else if (chunk.is("ALPH") && !animated) {
                holdAlpha(chunk);
            } else {
                skipTo(chunk.end);
            }
        }
    }

private:
    // The next chunk's header, which must end, with its payload, by `end`.
    Chunk next(std::int64_t end) {
        Stream& in = m_load.in;
        if (end - in.position() < 8) {
            if (in.peek() < 0)
                fail(cutShort(Name));
            fail(damaged(std::string("its chunks end before its picture")));
        }
        Chunk c;
        readAll(in, c.header, sizeof c.header);
        const std::int64_t padded = std::int64_t(c.size()) + (c.size() & 1);
        c.end = in.position() + padded;
        if (c.end > end) {
            // The last chunk's pad byte is often left out.
            if (c.end - 1 == end && (c.size() & 1))
                c.end = end;
            else
                fail(damaged("its " + chunkName(c.header) + " chunk claims " +
                             std::to_string(c.size()) + " bytes, more than hold it"));
        }
        return c;
    }

    void skipTo(std::int64_t end) {
        if (!m_load.in.skip(end - m_load.in.position()))
            fail(cutShort(Name));
    }

    // An ALPH chunk, header, pad byte and all (as libwebp reads it), kept until the picture's
    // chunk that follows it.
    void holdAlpha(const Chunk& c) {
        m_alpha.assign(c.header, c.header + sizeof c.header);
        const std::size_t start = m_alpha.size();
        const std::size_t size = std::size_t(c.end - m_load.in.position());
        m_alpha.resize(start + size);
        readAll(m_load.in, m_alpha.data() + start, size);
    }

    QImage decode(const Chunk& c) {
        Stream& in = m_load.in;
        // The bitstream's header: enough of the payload to tell its size and kind.
        unsigned char head[8 + 30];
        std::memcpy(head, c.header, 8);
        const std::size_t headBytes = std::min<std::size_t>(30, c.size());
        readAll(in, head + 8, headBytes);
        WebPBitstreamFeatures features{};
        const VP8StatusCode status = m_webp.WebPGetFeaturesInternal(head, 8 + headBytes, &features,
                                                                    WEBP_DECODER_ABI_VERSION);
        if (status != VP8_STATUS_OK)
            fail(damaged(Name));
        checkSize(features.width, features.height);
        const QSize size(features.width, features.height);
        const bool placed = !m_frame.isEmpty();
        if (!m_canvas.isEmpty() && size != (placed ? m_frame.size() : m_canvas))
            fail(damaged(std::string("its picture is not the size its header gives")));
        if (m_canvas.isEmpty())
            m_canvas = size;
        if (!placed)
            m_frame = QRect(QPoint(0, 0), m_canvas);
        m_load.size = m_canvas;

        // The picture, transparent where the first frame does not reach, and the frame's place
        // in it at the shown size.
        const QSize target = targetFor(m_canvas, m_load.shown);
        const auto scaled = [](int v, int from, int to) {
            return int(std::int64_t(v) * to / from);
        };
        QRect into(QPoint(scaled(m_frame.left(), m_canvas.width(), target.width()),
                          scaled(m_frame.top(), m_canvas.height(), target.height())),
                   QPoint(scaled(m_frame.right() + 1, m_canvas.width(), target.width()) - 1,
                          scaled(m_frame.bottom() + 1, m_canvas.height(), target.height()) - 1));
        into.setWidth(std::max(1, into.width()));
        into.setHeight(std::max(1, into.height()));
        into = into.intersected(QRect(QPoint(0, 0), target));
        m_load.budget.take(std::size_t(target.width()) * std::size_t(target.height()) * 4);
        QImage image(target, QImage::Format_ARGB32_Premultiplied);
        if (image.isNull())
            throw OverBudget();
        image.fill(0);
        m_load.budget.take(decoderBytes(features, !m_alpha.empty()));

        WebPDecoderConfig config;
        if (!m_webp.WebPInitDecoderConfigInternal(&config, WEBP_DECODER_ABI_VERSION))
            fail(damaged(Name));
        config.options.use_scaling = into.size() != size;
        config.options.scaled_width = into.width();
        config.options.scaled_height = into.height();
        // Premultiplied BGRA bytes are a premultiplied QRgb in memory on a little-endian machine.
        config.output.colorspace = Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? MODE_bgrA : MODE_Argb;
        config.output.is_external_memory = 1;
        const int stride = int(image.bytesPerLine());
        config.output.u.RGBA.rgba =
            image.bits() + std::ptrdiff_t(into.top()) * stride + std::ptrdiff_t(into.left()) * 4;
        config.output.u.RGBA.stride = stride;
        config.output.u.RGBA.size =
            std::size_t(stride) * std::size_t(into.height() - 1) + std::size_t(into.width()) * 4;
        WebPIDecoder* decoder = m_webp.WebPIDecode(nullptr, 0, &config);
        if (!decoder)
            throw OverBudget();
        struct Delete {
            const WebpLibrary& webp;
            WebPIDecoder* decoder;
            WebPDecoderConfig& config;
            ~Delete() {
                webp.WebPIDelete(decoder);
                webp.WebPFreeDecBuffer(&config.output);
            }
        } deleter{m_webp, decoder, config};

        // Fed as the chunk's bytes come, the alpha chunk first: the decoder reads from our buffer,
        // which holds everything it was given (it may move as it grows: the decoder is told).
        std::int64_t left = std::int64_t(c.size()) - std::int64_t(headBytes);
        const std::size_t expected =
            m_alpha.size() + sizeof head + std::size_t(std::min<std::int64_t>(left, in.leftHint()));
        if (expected > m_load.budget.left())
            throw OverBudget();
        m_input.reserve(expected);
        m_input.assign(m_alpha.begin(), m_alpha.end());
        Buffer<unsigned char>(BudgetAllocator<unsigned char>(m_load.budget)).swap(m_alpha);
        m_input.insert(m_input.end(), head, head + 8 + headBytes);
        VP8StatusCode state = m_webp.WebPIUpdate(decoder, m_input.data(), m_input.size());
        while (state == VP8_STATUS_SUSPENDED && left > 0) {
            std::span<const unsigned char> bytes = in.chunk();
            if (bytes.empty())
                fail(cutShort(Name));
            if (std::int64_t(bytes.size()) > left) {
                in.giveBack(bytes.size() - std::size_t(left));
                bytes = bytes.first(std::size_t(left));
            }
            left -= std::int64_t(bytes.size());
            m_input.insert(m_input.end(), bytes.begin(), bytes.end());
            state = m_webp.WebPIUpdate(decoder, m_input.data(), m_input.size());
        }
        if (state == VP8_STATUS_OUT_OF_MEMORY)
            throw OverBudget();
        if (state == VP8_STATUS_SUSPENDED)
            fail(damaged(std::string("its picture's data ends before the picture does")));
        if (state != VP8_STATUS_OK)
            fail(damaged(Name));
        return image;
    }

    Load& m_load;
    const WebpLibrary& m_webp;
    std::int64_t m_riffEnd = 0;
    QSize m_canvas;
    QRect m_frame;
    Buffer<unsigned char> m_input;
    Buffer<unsigned char> m_alpha;
};

} // namespace

QImage readWebp(Load& load) {
    const WebpLibrary* webp = webpLibrary();
    if (!webp)
        codecMissing("WebP", "libwebp.so.7", "libwebp7");
    return Reader(load, *webp).read();
}

const PictureFormat WebpFormat{"WebP",
                               [](auto head) {
                                   return head.size() >= 12 && startsWith(head, "RIFF") &&
                                          startsWith(head.subspan(8), "WEBP");
                               },
                               readWebp};

} // namespace rt::pictures
