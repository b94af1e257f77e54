// Pictures of the newer formats for the tests: made by the formats' own command-line encoders
// (cwebp, img2webp, heif-enc, avifenc, cjxl), decoded for reference by their own decoders (dwebp,
// heif-convert, djxl), and shaped by hand where no encoder goes (HEIF grids and transforms from
// heif-enc's pictures, headers that lie). Nothing here is kept as a file.
#pragma once

#include "HeifFiles.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstring>

namespace test {

// What a command-line tool writes: `command` runs with sh in a fresh folder that holds `input`
// as the file `in`, and the file `out` is read back; empty (with a warning) when it fails.
inline QByteArray tool(const QString& command, const QByteArray& input, const QString& in,
                       const QString& out) {
    QTemporaryDir dir;
    QFile f(dir.filePath(in));
    if (!f.open(QIODevice::WriteOnly) || f.write(input) != input.size())
        return {};
    f.close();
    QProcess p;
    p.setWorkingDirectory(dir.path());
    p.start("sh", {"-c", command});
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        qWarning("%s failed: %s", qPrintable(command), p.readAllStandardError().constData());
        return {};
    }
    QFile result(dir.filePath(out));
    return result.open(QIODevice::ReadOnly) ? result.readAll() : QByteArray();
}

// Encoders, from a PNG.
inline QByteArray cwebp(const QByteArray& png, const QString& options = {}) {
    return tool("cwebp -quiet " + options + " in.png -o out.webp", png, "in.png", "out.webp");
}
inline QByteArray heifEnc(const QByteArray& png, const QString& options = {}) {
    return tool("heif-enc -q 70 " + options + " in.png -o out.heic", png, "in.png", "out.heic");
}
inline QByteArray avifenc(const QByteArray& png, const QString& options = {}) {
    return tool("avifenc -s 8 " + options + " in.png out.avif >/dev/null", png, "in.png",
                "out.avif");
}
inline QByteArray cjxl(const QByteArray& input, const QString& options = {},
                       const QString& in = "in.png") {
    return tool("cjxl " + options + " " + in + " out.jxl 2>/dev/null", input, in, "out.jxl");
}
// Two frames, the first lossless: an animated WebP.
inline QByteArray img2webp(const QByteArray& firstPng, const QByteArray& secondPng) {
    QTemporaryDir dir;
    QFile second(dir.filePath("second.png"));
    if (!second.open(QIODevice::WriteOnly) || second.write(secondPng) != secondPng.size())
        return {};
    second.close();
    return tool("img2webp -loop 0 -lossless in.png -d 100 -lossy '" + second.fileName() +
                    "' -o out.webp 2>/dev/null",
                firstPng, "in.png", "out.webp");
}

// Reference decodes by the formats' own libraries, as PNG.
inline QByteArray dwebp(const QByteArray& webp) {
    return tool("dwebp -quiet in.webp -o out.png", webp, "in.webp", "out.png");
}
inline QByteArray heifConvert(const QByteArray& heif) {
    return tool("heif-convert in.heif out.png >/dev/null", heif, "in.heif", "out.png");
}
inline QByteArray djxl(const QByteArray& jxl) {
    return tool("djxl in.jxl out.png 2>/dev/null", jxl, "in.jxl", "out.png");
}

// A HEIF file of one coded picture, the primary one of `encoded`, with `extra` properties
// after its own (transforms, in the order they apply); `replace` takes the place of its 'ispe'.
inline QByteArray heifWith(const QByteArray& encoded, const QList<QByteArray>& extra,
                           const QByteArray& replace = {}) {
    const auto coded = heif::primaryOf(encoded);
    if (!coded)
        return {};
    QList<QByteArray> properties;
    for (const QByteArray& p : coded->properties)
        properties.append(!replace.isEmpty() && p.mid(4, 4) == "ispe" ? replace : p);
    properties += extra;
    heif::Item item{1, coded->type, coded->data, {}, {}, 0, false};
    for (int i = 1; i <= properties.size(); ++i)
        item.properties.append(i);
    return heif::write(coded->type == "av01" ? "avif" : "heic", 1, properties, {item});
}

// A grid of rows x columns tiles, each a coded picture of `tile` (a HEIF file), the whole
// `width` x `height` with `extra` properties on the grid (transforms). `tiles` coded pictures
// are used in turn when there are fewer than the grid's places.
inline QByteArray heifGrid(const QList<QByteArray>& tiles, int rows, int columns, quint32 width,
                           quint32 height, const QList<QByteArray>& extra = {}) {
    QList<QByteArray> properties;
    QList<heif::Item> items;
    heif::Item grid{1, "grid", heif::gridData(rows, columns, width, height), {}, {}, 0, false};
    QList<heif::Coded> coded;
    for (const QByteArray& t : tiles)
        if (const auto c = heif::primaryOf(t))
            coded.append(*c);
    if (coded.isEmpty())
        return {};
    for (int n = 0; n < rows * columns; ++n) {
        const heif::Coded& c = coded[n % coded.size()];
        const heif::Item item = heif::codedItem(quint32(n + 2), c, properties);
        items.append(item);
        grid.tiles.append(item.id);
    }
    properties.append(heif::ispe(width, height));
    grid.properties.append(int(properties.size()));
    for (const QByteArray& p : extra) {
        properties.append(p);
        grid.properties.append(int(properties.size()));
    }
    items.prepend(grid);
    return heif::write(coded[0].type == "av01" ? "avif" : "heic", 1, properties, items);
}

// The first chunk of type `type` in a WebP file, as the offset of its header, or -1.
inline qsizetype webpChunk(const QByteArray& webp, const char* type) {
    for (qsizetype at = 12; at + 8 <= webp.size();) {
        if (std::memcmp(webp.constData() + at, type, 4) == 0)
            return at;
        const quint32 size = quint32(quint8(webp[at + 4])) | quint32(quint8(webp[at + 5])) << 8 |
                             quint32(quint8(webp[at + 6])) << 16 |
                             quint32(quint8(webp[at + 7])) << 24;
        at += 8 + qsizetype(size) + (size & 1);
    }
    return -1;
}
inline void putLe32(QByteArray& d, qsizetype at, quint32 v) {
    for (int i = 0; i < 4; ++i)
        d[at + i] = char(v >> (8 * i));
}
inline void putLe24(QByteArray& d, qsizetype at, quint32 v) {
    for (int i = 0; i < 3; ++i)
        d[at + i] = char(v >> (8 * i));
}

// A JPEG XL codestream whose header claims width x height (each at most 2^18), and nothing after
// its image header but zeros: the bits of its size header, written by hand (ISO/IEC 18181-1).
inline QByteArray jxlClaiming(quint32 width, quint32 height) {
    QList<int> bits;
    const auto put = [&bits](quint32 v, int n) {
        for (int i = 0; i < n; ++i)
            bits.append(int(v >> i & 1));
    };
    put(0, 1);                      // not small
    put(2, 2), put(height - 1, 18); // the height, of 18 bits
    put(0, 3);                      // no ratio: the width follows
    put(2, 2), put(width - 1, 18);  // the width
    put(1, 1);                      // the image metadata all default
    QByteArray d("\xFF\x0A", 2);
    for (qsizetype at = 0; at < bits.size(); at += 8) {
        int byte = 0;
        for (int i = 0; i < 8 && at + i < bits.size(); ++i)
            byte |= bits[at + i] << i;
        d += char(byte);
    }
    return d + QByteArray(64, '\0');
}

} // namespace test
