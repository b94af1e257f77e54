// Turns the program icon into the PNG sizes that desktop icon themes look up.
//
//   scale_icon INPUT FACTOR OUTPUT      (FACTOR 1 only converts)
//
// Every source pixel becomes a FACTOR x FACTOR block. The icon is pixel art: any smoothing
// filter would blur its one-pixel outlines, and a fractional factor would make the blocks
// uneven, so only whole factors are taken.
#include <QByteArray>
#include <QImage>
#include <QString>

#include <cstdio>

namespace {

QImage enlarged(const QImage& source, int factor) {
    const QImage src = source.convertToFormat(source.hasAlphaChannel() ? QImage::Format_ARGB32
                                                                       : QImage::Format_RGB32);
    QImage out(src.width() * factor, src.height() * factor, src.format());
    for (int y = 0; y < out.height(); ++y) {
        const auto* in = reinterpret_cast<const QRgb*>(src.constScanLine(y / factor));
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x)
            line[x] = in[x / factor];
    }
    return out;
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s INPUT FACTOR OUTPUT\n", argv[0]);
        return 2;
    }
    const QImage icon(QString::fromLocal8Bit(argv[1]));
    if (icon.isNull()) {
        std::fprintf(stderr, "scale_icon: cannot read %s\n", argv[1]);
        return 1;
    }
    bool ok = false;
    const int factor = QByteArray(argv[2]).toInt(&ok);
    if (!ok || factor < 1 || factor > 64) {
        std::fprintf(stderr, "scale_icon: FACTOR must be a whole number from 1 to 64\n");
        return 2;
    }
    if (!enlarged(icon, factor).save(QString::fromLocal8Bit(argv[3]), "PNG")) {
        std::fprintf(stderr, "scale_icon: cannot write %s\n", argv[3]);
        return 1;
    }
    return 0;
}
