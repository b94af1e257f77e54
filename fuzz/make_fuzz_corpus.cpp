// Writes the picture seeds of the fuzz corpus into the folder given: a tiny PNG, JPEG
// (baseline and progressive), BMP and GIF of a few colours, and the shapes that once cost
// memory or a false refusal: a PNG chunk claiming 2 GB, a top-down BMP, a GIF without trailer.
#include <QBuffer>
#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageWriter>

#include <cstdio>

namespace {

QImage tiny() {
    QImage image(5, 4, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, qRgb(x * 60, y * 80, 200 - x * 30));
    return image;
}

// Qt writes no GIF: 4 colours, a 3-bit code for each of the 20 pixels after a clear code, so
// that the table never needs a wider code.
QByteArray tinyGif() {
    QByteArray g("GIF89a");
    g.append("\x05\x00\x04\x00", 4).append(char(0x81)).append('\0').append('\0');
    g.append("\xFF\x00\x00\x00\xFF\x00\x00\x00\xFF\xFF\xFF\xFF", 12);
    g.append(",\0\0\0\0\x05\0\x04\0\0", 10).append(char(2)); // descriptor, code size 2
    // Codes of 3 bits, packed from the low bit: clear (4), then per pixel a literal, with a
    // clear before the table would reach 8 entries, then end (5).
    QByteArray codes;
    quint32 bits = 0;
    int count = 0;
    const auto put = [&](int code) {
        bits |= quint32(code) << count;
        count += 3;
        while (count >= 8) {
            codes.append(char(bits & 0xFF));
            bits >>= 8;
            count -= 8;
        }
    };
    for (int i = 0; i < 20; ++i) {
        if (i % 2 == 0)
            put(4);
        put(i % 4);
    }
    put(5);
    if (count > 0)
        codes.append(char(bits & 0xFF));
    g.append(char(codes.size())).append(codes).append('\0').append(';');
    return g;
}

QByteArray bytesOf(const QImage& image, const char* format) {
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter(&buffer, format).write(image);
    return data;
}

// A tEXt chunk right after the header whose length claims nearly 2 GB; the file ends soon after.
QByteArray hugeChunkPng() {
    QByteArray png = bytesOf(tiny(), "PNG");
    png.insert(33, QByteArray("\x7F\xFF\xFF\xF0tEXtComment\0hi", 18));
    return png;
}

// The rows of a flipped picture with the height negated: stored from the top down.
QByteArray topDownBmp() {
    QByteArray bmp = bytesOf(tiny().mirrored(), "BMP");
    bmp[22] = char(-tiny().height());
    for (int i = 23; i < 26; ++i)
        bmp[i] = char(0xFF);
    return bmp;
}

bool write(const QDir& dir, const char* name, const QByteArray& data) {
    QFile f(dir.filePath(name));
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

bool save(const QString& path, const char* format, bool progressive = false) {
    QImageWriter writer(path, format);
    writer.setProgressiveScanWrite(progressive);
    return writer.write(tiny());
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_fuzz_corpus FOLDER\n");
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    const bool ok = save(dir.filePath("tiny.png"), "PNG") &&
                    save(dir.filePath("tiny.jpg"), "JPEG") &&
                    save(dir.filePath("progressive.jpg"), "JPEG", true) &&
                    save(dir.filePath("tiny.bmp"), "BMP") && write(dir, "tiny.gif", tinyGif()) &&
                    write(dir, "huge-text-chunk.png", hugeChunkPng()) &&
                    write(dir, "top-down.bmp", topDownBmp()) &&
                    write(dir, "gif-without-trailer.gif", tinyGif().chopped(1));
    return ok ? 0 : 1;
}
