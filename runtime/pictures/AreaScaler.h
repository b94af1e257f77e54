// The row scaler that every decoder of our own feeds, so that no picture exists at its own size.
#pragma once

#include <QImage>

#include <algorithm>
#include <vector>

namespace rt::pictures {

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

} // namespace rt::pictures
