// What the picture decoders share: the file read by offset and the row scaler that every
// decoder of our own feeds, so that no picture exists at its own size.
#pragma once

#include <QImage>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace rt::pictures {

// A file's bytes by offset, read through a window with pread so that the descriptor's own
// offset, where the decoder starts, stays put. at() is -1 past the end.
class Bytes {
public:
    explicit Bytes(int fd)
        : m_fd(fd)
        , m_window(64 * 1024) {}

    int at(qint64 pos) {
        if (pos < 0)
            return -1;
        if (pos < m_start || pos >= m_start + m_count) {
            if (!load(pos))
                return -1;
        }
        return m_window[std::size_t(pos - m_start)];
    }
    bool has(qint64 pos) { return at(pos) >= 0; }
    quint32 be16(qint64 pos) { return quint32(at(pos)) << 8 | quint32(at(pos + 1)); }
    quint32 be32(qint64 pos) { return be16(pos) << 16 | be16(pos + 2); }
    quint32 le16(qint64 pos) { return quint32(at(pos)) | quint32(at(pos + 1)) << 8; }
    quint32 le32(qint64 pos) { return le16(pos) | le16(pos + 2) << 16; }
    // The offset of the next byte `value` from pos on, or -1.
    qint64 find(qint64 pos, unsigned char value) {
        while (has(pos)) {
            const unsigned char* from = m_window.data() + (pos - m_start);
            const auto* hit = static_cast<const unsigned char*>(
                std::memchr(from, value, std::size_t(m_start + m_count - pos)));
            if (hit)
                return m_start + (hit - m_window.data());
            pos = m_start + m_count;
        }
        return -1;
    }

private:
    bool load(qint64 pos) {
        ssize_t n;
        do
            n = ::pread(m_fd, m_window.data(), m_window.size(), pos);
        while (n < 0 && errno == EINTR);
        if (n <= 0)
            return false;
        m_start = pos;
        m_count = n;
        return true;
    }

    int m_fd;
    std::vector<unsigned char> m_window;
    qint64 m_start = 0;
    qint64 m_count = 0;
};

// Pixels in, a picture of the target size out: each pixel of the source adds to the one target
// pixel it falls in (an average over the area), so a large picture never exists at its own
// size. At the source's own size the pixels are copied.
class Shrinker {
public:
    Shrinker(QSize source, QSize target)
        : m_source(source)
        , m_image(target,
                  target == source ? QImage::Format_ARGB32 : QImage::Format_ARGB32_Premultiplied) {
        if (m_image.isNull() || target == source)
            return;
        m_sums.assign(std::size_t(target.width()) * target.height() * 4, 0);
        m_counts.assign(std::size_t(target.width()) * target.height(), 0);
        m_columns.resize(std::size_t(source.width()));
        for (int x = 0; x < source.width(); ++x)
            m_columns[std::size_t(x)] = int(qint64(x) * target.width() / source.width());
    }
    bool isNull() const { return m_image.isNull(); }

    // Pixel i of rgba (4 bytes each) stands at column x0 + i * dx of row y.
    void addRow(int y, const unsigned char* rgba, int count, int x0, int dx) {
        if (m_sums.empty()) {
            auto* line = reinterpret_cast<QRgb*>(m_image.scanLine(y));
            for (int i = 0; i < count; ++i, rgba += 4)
                line[x0 + i * dx] = qRgba(rgba[0], rgba[1], rgba[2], rgba[3]);
            return;
        }
        const qint64 ty = qint64(y) * m_image.height() / m_source.height();
        const std::size_t first = std::size_t(ty) * std::size_t(m_image.width());
        for (int i = 0; i < count; ++i, rgba += 4) {
            const std::size_t at = first + std::size_t(m_columns[std::size_t(x0 + i * dx)]);
            quint64* sum = m_sums.data() + at * 4;
            const unsigned a = rgba[3];
            sum[0] += rgba[0] * a;
            sum[1] += rgba[1] * a;
            sum[2] += rgba[2] * a;
            sum[3] += a;
            ++m_counts[at];
        }
    }

    QImage take() {
        if (m_sums.empty())
            return std::move(m_image);
        for (int y = 0; y < m_image.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(m_image.scanLine(y));
            const std::size_t first = std::size_t(y) * std::size_t(m_image.width());
            for (int x = 0; x < m_image.width(); ++x) {
                const quint64* sum = m_sums.data() + (first + std::size_t(x)) * 4;
                const quint64 n = std::max<quint64>(1, m_counts[first + std::size_t(x)]);
                line[x] = qRgba(int(sum[0] / (255 * n)), int(sum[1] / (255 * n)),
                                int(sum[2] / (255 * n)), int(sum[3] / n));
            }
        }
        m_sums = {};
        m_counts = {};
        return std::move(m_image);
    }

private:
    QSize m_source;
    QImage m_image;
    std::vector<quint64> m_sums; // per target pixel: red, green and blue times alpha; alpha
    std::vector<quint32> m_counts;
    std::vector<int> m_columns;
};

// Decoders of our own, each straight into a picture of `target`. The walk has checked the file
// first; `size` is the picture's size as the walk found it. A null image means the data cannot
// be decoded.
QImage decodeGif(Bytes& b, QSize size, QSize target);
// BMPs of up to 256 colours, uncompressed or run-length.
bool isIndexedBmp(Bytes& b);
QImage decodeIndexedBmp(Bytes& b, QSize target);
// A progressive JPEG at 1/8 of its size (or less): the frame header's marker is at
// frameHeader. The bytes the decoder will hold, or -1 for a JPEG it does not read (not
// progressive, not 8-bit, CMYK).
qint64 jpegDcBytes(Bytes& b, qint64 frameHeader);
QImage decodeJpegDc(Bytes& b, QSize target);

} // namespace rt::pictures
