// Writes the picture seeds of the fuzz corpus into the folder given: a tiny PNG, JPEG
// (baseline and progressive), BMP and GIF of a few colours, and the shapes that once cost
// memory or a false refusal: a PNG chunk claiming 2 GB, a top-down BMP, a GIF without trailer,
// BMPs of 1 and 8 bits a pixel, run-length BMPs, a transparent interlaced GIF and progressive
// JPEGs large enough to be shown from their blocks' means; hostile JPEGs written by hand (bytes
// FF 00 before a large frame, a baseline scan of fewer components than its frame, a scan before
// any frame, a DC scan of 255 components), a GIF of 12-bit minimum code size and a JPEG turned
// by its EXIF orientation; JPEGs that make libjpeg hold every coefficient, many empty scans,
// a restart marker due after every block, and APP1 segments before the picture; a drawing (SVG,
// gzipped SVGZ, one of a billion references), a TIFF (as Qt writes it, and a tiled one by hand),
// an icon, a cursor and a bare DIB. The seeds of WebP, HEIC, AVIF and JPEG XL are made by their
// own encoders in scripts/fuzz.sh as it runs.
#include "HostileFiles.h"

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

// Run-length BMPs, written out by hand (Qt writes none): 8 x 4 pixels of three colours, with
// runs, indices as they are, a jump and ends of lines. RLE8 is compression 1, RLE4 2.
QByteArray rleBmp(int bits) {
    const QByteArray data = bits == 8 ? QByteArray("\x03\x01\x00\x03\x02\x00\x01\x00\x00\x00"
                                                   "\x00\x02\x02\x01\x04\x02\x00\x00\x08\x01"
                                                   "\x00\x01",
                                                   22)
                                      : QByteArray("\x03\x12\x00\x03\x21\x20\x00\x00\x00\x02"
                                                   "\x02\x01\x04\x12\x00\x00\x08\x21\x00\x01",
                                                   20);
    const int colours = 3;
    QByteArray b("BM", 2);
    b += QByteArray(52, '\0');
    const auto le32 = [&b](int at, quint32 v) {
        for (int i = 0; i < 4; ++i)
            b[at + i] = char(v >> (8 * i));
    };
    le32(2, quint32(54 + colours * 4 + data.size()));
    le32(10, quint32(54 + colours * 4));
    le32(14, 40);
    le32(18, 8);
    le32(22, 4);
    b[26] = 1;
    b[28] = char(bits);
    le32(30, bits == 8 ? 1 : 2);
    le32(34, quint32(data.size()));
    le32(46, colours);
    b.append("\0\0\xFF\0\xFF\0\0\0\0\xFF\0\0", 12); // red, blue, green
    return b + data;
}

// An interlaced GIF with a transparent colour, its frame inside a larger screen: the tiny
// GIF's codes, with a graphic control block and the descriptor's interlace flag.
QByteArray transparentInterlacedGif() {
    QByteArray g = tinyGif();
    g[6] = 7; // the screen 7 x 6, the frame at 1, 1
    g[8] = 6;
    const int descriptor = int(g.indexOf(','));
    g[descriptor + 1] = 1;
    g[descriptor + 3] = 1;
    g[descriptor + 9] = char(0x40);
    return g.insert(descriptor, QByteArray("\x21\xF9\x04\x01\x00\x00\x02\x00", 8));
}

// A progressive JPEG of at least eight times the fuzzer's shown size on each side: shown from
// its blocks' means. One flat colour, so that it stays small.
QByteArray largeProgressiveJpeg(QImage::Format format) {
    QImage image(2320, 2064, format);
    image.fill(QColor(90, 160, 40));
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "JPEG");
    writer.setProgressiveScanWrite(true);
    writer.setQuality(10);
    writer.write(image);
    return data;
}

// The tiny GIF's pixels as 13-bit literal codes (minimum code size 12), a clear code first.
QByteArray gifOf12BitCodes() {
    QByteArray g = tinyGif();
    const int descriptor = int(g.indexOf(','));
    g.truncate(descriptor + 10);
    g.append(char(12));
    QByteArray codes;
    quint32 bits = 0;
    int count = 0;
    const auto put = [&](int code) {
        bits |= quint32(code) << count;
        for (count += 13; count >= 8; count -= 8, bits >>= 8)
            codes.append(char(bits & 0xFF));
    };
    put(4096);
    for (int i = 0; i < 20; ++i)
        put(i % 4);
    put(4097);
    if (count > 0)
        codes.append(char(bits & 0xFF));
    return g.append(char(codes.size())).append(codes).append('\0').append(';');
}

// The tiny JPEG with an EXIF block saying it is to be turned a quarter clockwise (6).
QByteArray turnedJpeg() {
    const QByteArray exif("Exif\0\0MM\0\x2A\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0\x06\0\0"
                          "\0\0\0\0",
                          32);
    return bytesOf(tiny(), "JPEG").insert(2, hostile::segment(0xE1, exif));
}

// A small drawing; `more` inside it.
QByteArray drawing(const QByteArray& more = {}) {
    return "<svg xmlns=\"http://www.w3.org/2000/svg\" xmlns:xlink=\"http://www.w3.org/1999/xlink\" "
           "viewBox=\"0 0 10 10\"><rect width=\"10\" height=\"5\" fill=\"red\"/>"
           "<circle cx=\"5\" cy=\"5\" r=\"3\" fill=\"blue\"/>" +
           more + "</svg>";
}

// Ten levels of ten references each to the level below.
QByteArray billionReferences() {
    QByteArray levels = "<defs><rect id=\"l0\" width=\"1\" height=\"1\"/>";
    for (int level = 1; level < 10; ++level) {
        levels += "<g id=\"l" + QByteArray::number(level) + "\">";
        for (int i = 0; i < 10; ++i)
            levels += "<use xlink:href=\"#l" + QByteArray::number(level - 1) + "\"/>";
        levels += "</g>";
    }
    return drawing(levels + "</defs><use xlink:href=\"#l9\"/>");
}

// `data` as a gzip file: zlib's deflate data from qCompress in gzip's wrapping.
QByteArray gzipped(const QByteArray& data) {
    const QByteArray zlib = qCompress(data, 9); // a 4-byte length, a 2-byte header, ..., Adler-32
    quint32 crc = 0xFFFFFFFF;
    for (const char c : data) {
        crc ^= static_cast<unsigned char>(c);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
    }
    crc = ~crc;
    QByteArray g("\x1F\x8B\x08\0\0\0\0\0\0\x03", 10);
    g += zlib.mid(6, zlib.size() - 10);
    for (const quint32 v : {crc, quint32(data.size())})
        for (int i = 0; i < 4; ++i)
            g.append(char(v >> (8 * i)));
    return g;
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
    const bool ok =
        save(dir.filePath("tiny.png"), "PNG") && save(dir.filePath("tiny.jpg"), "JPEG") &&
        save(dir.filePath("progressive.jpg"), "JPEG", true) &&
        save(dir.filePath("tiny.bmp"), "BMP") && write(dir, "tiny.gif", tinyGif()) &&
        write(dir, "huge-text-chunk.png", hugeChunkPng()) &&
        write(dir, "top-down.bmp", topDownBmp()) &&
        write(dir, "gif-without-trailer.gif", tinyGif().chopped(1)) &&
        write(dir, "rle8.bmp", rleBmp(8)) && write(dir, "rle4.bmp", rleBmp(4)) &&
        write(dir, "palette.bmp",
              bytesOf(tiny().convertToFormat(QImage::Format_Indexed8), "BMP")) &&
        write(dir, "mono.bmp", bytesOf(tiny().convertToFormat(QImage::Format_Mono), "BMP")) &&
        write(dir, "transparent-interlaced.gif", transparentInterlacedGif()) &&
        write(dir, "large-progressive-grey.jpg", largeProgressiveJpeg(QImage::Format_Grayscale8)) &&
        write(dir, "large-progressive.jpg", largeProgressiveJpeg(QImage::Format_RGB32)) &&
        write(dir, "stray-bytes-before-frame.jpg", hostile::strayBytesBeforeFrame(3000)) &&
        write(dir, "scan-of-fewer-components.jpg", hostile::scanOfFewerComponents(1200)) &&
        write(dir, "scan-before-frame.jpg", hostile::scanBeforeFrame()) &&
        write(dir, "dc-scan-of-255-components.jpg",
              hostile::dcScanListing(QByteArray(255, 1), 2400)) &&
        write(dir, "scan-per-component.jpg", hostile::scanPerComponent(3000)) &&
        write(dir, "arithmetic-progressive.jpg", hostile::arithmeticProgressive(3000)) &&
        write(dir, "progressive-cmyk.jpg", hostile::progressiveCmyk(3000)) &&
        write(dir, "empty-scans.jpg", hostile::emptyScans(1000, 300)) &&
        write(dir, "sequential-scans.jpg", hostile::sequentialScans(500, 300)) &&
        write(dir, "restart-every-block.jpg", hostile::restartEveryBlock(8000, 3000)) &&
        write(dir, "app1-segments.jpg", hostile::withApp1(bytesOf(tiny(), "JPEG"), 3, 4000)) &&
        write(dir, "lzw-12-bits.gif", gifOf12BitCodes()) &&
        write(dir, "exif-orientation-6.jpg", turnedJpeg()) &&
        write(dir, "bit-fields.bmp",
              bytesOf(tiny().convertToFormat(QImage::Format_ARGB32), "BMP")) &&
        write(dir, "tiny.svg", drawing()) && write(dir, "tiny.svgz", gzipped(drawing())) &&
        write(dir, "billion-references.svg", billionReferences()) &&
        write(dir, "tiny.tif", bytesOf(tiny(), "TIFF")) &&
        write(dir, "tiny.ico", bytesOf(tiny().convertToFormat(QImage::Format_ARGB32), "ICO")) &&
        write(dir, "tiny.cur", bytesOf(tiny(), "ICO").replace(2, 1, "\x02")) &&
        write(dir, "tiny.dib", bytesOf(tiny(), "BMP").mid(14));
    return ok ? 0 : 1;
}
