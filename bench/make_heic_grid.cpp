// Writes a HEIC as phones store a photo: the picture cut into tiles, each coded by heif-enc, the
// tiles laid out by a grid item (heif-enc 1.15 writes no grids). For the benchmark's large HEIC.
//   make_heic_grid PICTURE TILE_SIDE OUTPUT.heic
#include "HeifFiles.h"

#include <QCoreApplication>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QImageReader::setAllocationLimit(0); // a phone's photo is larger than Qt's default
    if (argc != 4) {
        std::fprintf(stderr, "usage: make_heic_grid PICTURE TILE_SIDE OUTPUT.heic\n");
        return 2;
    }
    const QImage picture(QString::fromLocal8Bit(argv[1]));
    const int side = QString(argv[2]).toInt();
    if (picture.isNull() || side < 64)
        return 2;
    const int columns = (picture.width() + side - 1) / side;
    const int rows = (picture.height() + side - 1) / side;
    QTemporaryDir dir;
    // Tiles coded a few at a time, one heif-enc each.
    QList<QByteArray> coded(rows * columns);
    const int parallel = std::max(1, QThread::idealThreadCount());
    for (int first = 0; first < rows * columns; first += parallel) {
        QList<QProcess*> running;
        for (int t = first; t < std::min(first + parallel, rows * columns); ++t) {
            const QString png = dir.filePath(QString("%1.png").arg(t));
            // copy() fills what lies beyond the picture with black.
            picture.copy((t % columns) * side, (t / columns) * side, side, side).save(png);
            auto* p = new QProcess;
            p->start("heif-enc", {"-q", "60", png, "-o", dir.filePath(QString("%1.heic").arg(t))});
            running.append(p);
        }
        for (QProcess* p : running) {
            p->waitForFinished(-1);
            if (p->exitCode() != 0)
                return 1;
            delete p;
        }
    }
    QList<QByteArray> properties;
    QList<test::heif::Item> items;
    for (int t = 0; t < rows * columns; ++t) {
        QFile f(dir.filePath(QString("%1.heic").arg(t)));
        if (!f.open(QIODevice::ReadOnly))
            return 1;
        const auto tile = test::heif::primaryOf(f.readAll());
        if (!tile)
            return 1;
        items.append(test::heif::codedItem(quint32(t + 2), *tile, properties));
    }
    properties.append(test::heif::ispe(quint32(picture.width()), quint32(picture.height())));
    test::heif::Item grid{
        1,
        "grid",
        test::heif::gridData(rows, columns, quint32(picture.width()), quint32(picture.height())),
        {int(properties.size())},
        {},
        0,
        false};
    for (int t = 0; t < rows * columns; ++t)
        grid.tiles.append(quint32(t + 2));
    items.prepend(grid);
    QFile out(QString::fromLocal8Bit(argv[3]));
    if (!out.open(QIODevice::WriteOnly))
        return 1;
    out.write(test::heif::write("heic", 1, properties, items));
    return 0;
}
