// Rows in, a picture of the target size out: each source pixel adds to the one target pixel it
// falls in (an average over the area), turned as the picture's orientation says. Every row is
// checked against the size the scaler began with: a row that does not fit is refused, never
// written.
#pragma once

#include "Budget.h"

#include <QImage>

#include <cstdint>

namespace rt::pictures {

// The picture's orientation as EXIF gives it (1 upright; 2-4 mirrored or turned half round;
// 5-8 with rows and columns swapped).
inline QSize orientedSize(QSize stored, int orientation) {
    return orientation >= 5 ? stored.transposed() : stored;
}

class AreaScaler {
public:
    // source: the picture as its rows come; target: the size wanted, of the turned picture.
    AreaScaler(Budget& budget, QSize source, QSize target, int orientation = 1)
        : m_source(source)
        , m_columnPart(BudgetAllocator<std::uint32_t>(budget))
        , m_rowPart(BudgetAllocator<std::uint32_t>(budget))
        , m_sums(BudgetAllocator<std::uint64_t>(budget))
        , m_counts(BudgetAllocator<std::uint32_t>(budget)) {
        const bool copy = orientation == 1 && target == source;
        budget.take(std::size_t(target.width()) * std::size_t(target.height()) * 4);
        m_image =
            QImage(target, copy ? QImage::Format_ARGB32 : QImage::Format_ARGB32_Premultiplied);
        if (m_image.isNull())
            throw OverBudget();
        if (copy) { // a pixel no row gives stays transparent, never what the heap held
            m_image.fill(0);
            return;
        }
        const QSize turned = orientedSize(source, orientation);
        const std::int64_t tw = target.width(), th = target.height();
        const auto column = [&](std::int64_t x) { return std::uint32_t(x * tw / turned.width()); };
        const auto row = [&](std::int64_t y) {
            return std::uint32_t(y * th / turned.height() * tw);
        };
        const std::int64_t w = source.width(), h = source.height();
        m_columnPart.resize(std::size_t(w));
        m_rowPart.resize(std::size_t(h));
        const bool swapped = orientation >= 5;
        const bool flipX =
            orientation == 2 || orientation == 3 || orientation == 7 || orientation == 8;
        const bool flipY =
            orientation == 3 || orientation == 4 || orientation == 6 || orientation == 7;
        for (std::int64_t x = 0; x < w; ++x) {
            const std::int64_t at = flipX ? w - 1 - x : x;
            m_columnPart[std::size_t(x)] = swapped ? row(at) : column(at);
        }
        for (std::int64_t y = 0; y < h; ++y) {
            const std::int64_t at = flipY ? h - 1 - y : y;
            m_rowPart[std::size_t(y)] = swapped ? column(at) : row(at);
        }
        m_sums.assign(std::size_t(tw * th * 4), 0);
        m_counts.assign(std::size_t(tw * th), 0);
    }

    // Pixel i of argb stands at column x0 + i * dx of row y. False when that is not all inside.
    [[nodiscard]] bool addRow(int y, const QRgb* argb, int count, int x0 = 0, int dx = 1) {
        if (y < 0 || y >= m_source.height() || count < 0 || x0 < 0 || dx < 1 ||
            (count > 0 && std::int64_t(x0) + std::int64_t(count - 1) * dx >= m_source.width()))
            return false;
        if (count == 0)
            return true;
        if (m_sums.empty()) {
            auto* line = reinterpret_cast<QRgb*>(m_image.scanLine(y)) + x0;
            for (int i = 0; i < count; ++i)
                line[std::size_t(i) * std::size_t(dx)] = argb[i];
            return true;
        }
        // Neighbouring source pixels mostly share a target pixel: sum a run of them in
        // registers, then add the run to the target pixel at once.
        const std::uint32_t rowPart = m_rowPart[std::size_t(y)];
        const std::uint32_t* columnPart = m_columnPart.data() + x0;
        std::size_t current = rowPart + columnPart[0];
        std::uint32_t red = 0, green = 0, blue = 0, alpha = 0, n = 0;
        const auto flush = [&] {
            std::uint64_t* sum = m_sums.data() + current * 4;
            sum[0] += red;
            sum[1] += green;
            sum[2] += blue;
            sum[3] += alpha;
            m_counts[current] += n;
        };
        for (int i = 0; i < count; ++i) {
            const std::size_t at = rowPart + columnPart[std::size_t(i) * std::size_t(dx)];
            if (at != current) {
                flush();
                current = at;
                red = green = blue = alpha = n = 0;
            }
            const QRgb c = argb[i];
            const std::uint32_t a = qAlpha(c);
            red += qRed(c) * a;
            green += qGreen(c) * a;
            blue += qBlue(c) * a;
            alpha += a;
            ++n;
        }
        flush();
        return true;
    }

    QImage take() {
        if (m_sums.empty())
            return std::move(m_image);
        for (int y = 0; y < m_image.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(m_image.scanLine(y));
            const std::size_t first = std::size_t(y) * std::size_t(m_image.width());
            for (int x = 0; x < m_image.width(); ++x) {
                const std::uint64_t* sum = m_sums.data() + (first + std::size_t(x)) * 4;
                const std::uint64_t n =
                    std::max<std::uint64_t>(1, m_counts[first + std::size_t(x)]);
                line[x] = qRgba(int(sum[0] / (255 * n)), int(sum[1] / (255 * n)),
                                int(sum[2] / (255 * n)), int(sum[3] / n));
            }
        }
        return std::move(m_image);
    }

private:
    QSize m_source;
    QImage m_image;
    // A source pixel's target pixel is its column's part plus its row's part.
    Buffer<std::uint32_t> m_columnPart;
    Buffer<std::uint32_t> m_rowPart;
    Buffer<std::uint64_t> m_sums; // per target pixel: red, green and blue times alpha; alpha
    Buffer<std::uint32_t> m_counts;
};

} // namespace rt::pictures
