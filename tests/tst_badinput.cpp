// Bad input at start-up and at "Again": a list file or picture that cannot be used ends the
// program with a report that names the file and the cause, quickly and in bounded memory.
#include "TestSupport.h"

#include "HostileFiles.h"

#include "AreaScaler.h"
#include "NewFormats.h"
#include "forms/Picture.h"
#include "lang/Open.h"
#include "pictures/PictureFile.h"

#include <QBuffer>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <QProcess>
#include <QTemporaryFile>
#include <QThread>

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

extern char** environ;

namespace {

// What stands at the path of the file under test. LongLine is a list file whose first line
// is 100 MB long, written in pieces so that the test itself stays small (see runProgram).
enum class Bad { Content, Missing, Directory, Fifo, DevZero, Unreadable, LongLine };
using rt::pictures::FaultKind;

constexpr int Nobody = 65534;

quint32 crc32(const QByteArray& data) {
    quint32 crc = 0xFFFFFFFF;
    for (const char c : data) {
        crc ^= static_cast<unsigned char>(c);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
    }
    return ~crc;
}

void putBe16(QByteArray& d, int at, int v) {
    d[at] = char(v >> 8);
    d[at + 1] = char(v);
}
void putBe32(QByteArray& d, int at, quint32 v) {
    putBe16(d, at, int(v >> 16));
    putBe16(d, at + 2, int(v & 0xFFFF));
}
void putLe16(QByteArray& d, int at, int v) {
    d[at] = char(v);
    d[at + 1] = char(v >> 8);
}

// A busy pattern, so that the compressed data is long and a cut lands inside the pixels.
QImage pattern(QSize size) {
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(x, y, qRgb((x * 7 + y * 13) % 256, (x * y) % 256, (x ^ y) % 256));
    return image;
}

// Qt writes no GIF, so this writes one: 128 colours, codes of minimumCodeSize + 1 bits, each a
// colour as it is, with a clear code often enough that the code size never grows.
QByteArray gifBytes(QSize size, int minimumCodeSize = 7) {
    QByteArray g("GIF89a");
    const auto le16 = [&g](int v) { g.append(char(v & 0xFF)).append(char(v >> 8)); };
    le16(size.width());
    le16(size.height());
    g.append(char(0xF6)).append('\0').append('\0'); // global table of 2^(6+1) colours
    for (int i = 0; i < 128; ++i)
        g.append(char(i * 2)).append(char(255 - i * 2)).append(char(i));
    g.append(char(0x2C));
    le16(0);
    le16(0);
    le16(size.width());
    le16(size.height());
    g.append('\0').append(char(minimumCodeSize)); // no local table
    const int clear = 1 << minimumCodeSize, bitsPerCode = minimumCodeSize + 1;
    QByteArray codes;
    quint32 bits = 0;
    int count = 0;
    const auto put = [&](int code) {
        bits |= quint32(code) << count;
        for (count += bitsPerCode; count >= 8; count -= 8, bits >>= 8)
            codes.append(char(bits & 0xFF));
    };
    const int pixels = size.width() * size.height();
    for (int i = 0; i < pixels; ++i) {
        if (i % 100 == 0)
            put(clear);
        put((i % size.width() * 3 + i / size.width() * 5) % 128);
    }
    put(clear + 1);
    if (count > 0)
        codes.append(char(bits & 0xFF));
    for (int at = 0; at < codes.size(); at += 255) {
        const QByteArray block = codes.mid(at, 255);
        g.append(char(block.size())).append(block);
    }
    return g.append('\0').append(char(0x3B));
}

QByteArray pictureBytes(const char* format, QSize size = {320, 240}, bool progressive = false) {
    if (qstrcmp(format, "GIF") == 0)
        return gifBytes(size);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setProgressiveScanWrite(progressive);
    if (!writer.write(pattern(size)))
        qFatal("cannot write a %s picture: %s", format, qPrintable(writer.errorString()));
    return buffer.data();
}

QByteArray cutTo(QByteArray data, double part) {
    data.truncate(int(data.size() * part));
    return data;
}

// The same small picture with its header claiming another size: nothing past the header fits.
QByteArray claiming(const char* format, int width, int height) {
    QByteArray d = pictureBytes(format, {16, 16});
    if (qstrcmp(format, "PNG") == 0) { // IHDR data at 16, its CRC over type and data at 29
        putBe32(d, 16, quint32(width));
        putBe32(d, 20, quint32(height));
        putBe32(d, 29, crc32(d.mid(12, 17)));
    } else if (qstrcmp(format, "JPEG") == 0) { // the frame header: FF C0, length, precision
        const int sof = int(d.indexOf("\xFF\xC0"));
        putBe16(d, sof + 5, height);
        putBe16(d, sof + 7, width);
    } else { // GIF: the screen, and the image descriptor after the 384-byte colour table
        putLe16(d, 6, width);
        putLe16(d, 8, height);
        putLe16(d, 13 + 384 + 5, width);
        putLe16(d, 13 + 384 + 7, height);
    }
    return d;
}

// A PNG with one more chunk right after its header, claiming `length` bytes of which it holds
// `data`.
QByteArray withChunk(const char* type, quint32 length, const QByteArray& data) {
    QByteArray chunk(8, '\0');
    putBe32(chunk, 0, length);
    chunk.replace(4, 4, type);
    chunk += data;
    if (quint32(data.size()) == length) {
        chunk += QByteArray(4, '\0');
        putBe32(chunk, chunk.size() - 4, crc32(chunk.mid(4, chunk.size() - 8)));
    }
    return pictureBytes("PNG", {16, 16}).insert(33, chunk);
}

// A picture made by ImageMagick from `source` (red above blue unless given), written as `to`
// ("png8:-", ...), and passed through `then` when given.
QByteArray magick(const QString& options, const QString& to, const QString& then = {},
                  const QString& source = "-size 64x48 xc:red -fill blue -draw "
                                          "'rectangle 0,24 63,47'") {
    QProcess p;
    p.start("sh", {"-c", "convert " + source + ' ' + options + ' ' + to +
                             (then.isEmpty() ? QString() : " | " + then)});
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        qWarning("cannot make a picture: %s", p.readAllStandardError().constData());
    return p.readAllStandardOutput();
}

// A BMP file with a 16-colour palette around 4-bit run-length data.
QByteArray rle4BmpFile(int width, int height, const QByteArray& palette, const QByteArray& data) {
    QByteArray b("BM", 2);
    b += QByteArray(52, '\0');
    const auto le32 = [&b](int at, quint32 v) {
        for (int i = 0; i < 4; ++i)
            b[at + i] = char(v >> (8 * i));
    };
    le32(2, quint32(54 + palette.size() + data.size()));
    le32(10, quint32(54 + palette.size()));
    le32(14, 40);
    le32(18, quint32(width));
    le32(22, quint32(height));
    putLe16(b, 26, 1);
    putLe16(b, 28, 4);
    le32(30, 2); // RLE4
    le32(34, quint32(data.size()));
    le32(46, 16);
    return b + palette + data;
}

// An 8 x 4 BMP with 4-bit run-length data, written out by hand: ImageMagick writes no RLE4.
// Rows go from the bottom: two blue rows, two red rows.
QByteArray rle4Bmp() {
    const QByteArray data("\x08\x22\0\0\x08\x22\0\0\x08\x11\0\0\x08\x11\0\0\0\x01", 18);
    QByteArray palette(16 * 4, '\0');
    palette.replace(4, 4, QByteArray("\0\0\xFF\0", 4)); // 1: red, as blue, green, red
    palette.replace(8, 4, QByteArray("\xFF\0\0\0", 4)); // 2: blue
    return rle4BmpFile(8, 4, palette, data);
}

// A 600 x 400 BMP with 4-bit run-length data: in each row, stretches of runs of two
// alternating indices and stretches of indices as they are.
QByteArray largeRle4Bmp() {
    const int width = 600, height = 400;
    QByteArray data;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width - 40; x += 20) {
            if ((x / 20 + y / 50) % 2 == 0) {
                const int a = (x / 20 + y / 16) % 16, b = (a + 3) % 16;
                data.append(char(20)).append(char(a << 4 | b));
            } else {
                data.append('\0').append(char(20));
                for (int i = 0; i < 20; i += 2)
                    data.append(char(((x + i + y) % 16) << 4 | (x + i + 1) % 16));
            }
        }
        // Qt leaves pixels that the data jumps over unset: every row is whole.
        data.append(char(40)).append('\0');
        if (y < height - 1)
            data.append('\0').append('\0');
    }
    data.append('\0').append('\1');
    QByteArray palette;
    for (int i = 0; i < 16; ++i)
        palette.append(char(i * 16)).append(char(255 - i * 16)).append(char(i * 5)).append('\0');
    return rle4BmpFile(width, height, palette, data);
}

// Reads rows from the top down: a BMP with the rows of a flipped picture and a negative height.
QByteArray topDownBmp() {
    QByteArray b = magick("-flip", "bmp3:-");
    const qint32 height = qint32(quint8(b[22]) | quint8(b[23]) << 8 | quint8(b[24]) << 16 |
                                 quint32(quint8(b[25])) << 24);
    for (int i = 0; i < 4; ++i)
        b[22 + i] = char(quint32(-height) >> (8 * i));
    return b;
}

// What `command` writes when `input` is given on its standard input.
QByteArray piped(const QString& command, const QByteArray& input = {}) {
    QProcess p;
    p.start("sh", {"-c", command});
    p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        qWarning("cannot run %s: %s", qPrintable(command), p.readAllStandardError().constData());
    return p.readAllStandardOutput();
}

// A drawing of `width` x `height` (no size when empty) over a view box of 100 x 100 units: red
// above, blue below, a green circle, `more` inside.
QByteArray svg(const QString& size, const QString& more = {}) {
    return QString("<?xml version=\"1.0\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" "
                   "xmlns:xlink=\"http://www.w3.org/1999/xlink\" %1 viewBox=\"0 0 100 100\">"
                   "<rect width=\"100\" height=\"50\" fill=\"red\"/>"
                   "<rect y=\"50\" width=\"100\" height=\"50\" fill=\"blue\"/>"
                   "<circle cx=\"50\" cy=\"50\" r=\"30\" fill=\"lime\"/>%2</svg>\n")
        .arg(size, more)
        .toUtf8();
}

// rsvg-convert's drawing of `content`, stretched to 2890 x 2570 (ten times the shown size).
QByteArray rsvgReference(const QByteArray& content) {
    return piped("rsvg-convert -w 2890 -h 2570 -f png", content);
}

// ImageMagick's decode (through libtiff, or its own) of `content`, upright, as a PNG.
QByteArray decodedByMagick(const QByteArray& content, const char* format) {
    return piped(QString("convert %1:- -auto-orient png32:-").arg(format), content);
}

// A bitmap as an icon holds it: no file header, height doubled, an AND mask after the colours
// (`masked` sets its top half: transparent).
QByteArray iconBitmap(const QByteArray& bmp, bool masked = false) {
    QByteArray dib = bmp.mid(14);
    const qint32 width = qint32(quint8(dib[4]) | quint8(dib[5]) << 8);
    const qint32 height = qint32(quint8(dib[8]) | quint8(dib[9]) << 8);
    putLe16(dib, 8, height * 2);
    const int stride = (width + 31) / 32 * 4;
    for (int y = 0; y < height; ++y) // bottom row first
        dib += QByteArray(stride, masked && y >= height / 2 ? '\xFF' : '\0');
    return dib;
}

// An icon file (type 1) or a cursor (type 2) holding these images (bitmaps or PNGs) of these
// sides, listed in this order but stored in reverse.
QByteArray iconFile(int type, const QList<QPair<QSize, QByteArray>>& images) {
    QByteArray file(6 + 16 * images.size(), '\0');
    putLe16(file, 2, type);
    putLe16(file, 4, int(images.size()));
    for (int i = int(images.size()) - 1; i >= 0; --i) {
        const int at = 6 + 16 * i;
        file[at] = char(images[i].first.width() & 0xFF);
        file[at + 1] = char(images[i].first.height() & 0xFF);
        putLe16(file, at + 4, type == 1 ? 1 : 3);
        putLe16(file, at + 6, type == 1 ? 32 : 5);
        const QByteArray& bytes = images[i].second;
        for (int k = 0; k < 4; ++k) {
            file[at + 8 + k] = char(quint32(bytes.size()) >> (8 * k));
            file[at + 12 + k] = char(quint32(file.size()) >> (8 * k));
        }
        file += bytes;
    }
    return file;
}

// Puts the bad thing at name in dir, in place of what was there.
void make(const QString& dir, const QString& name, Bad kind, const QByteArray& content) {
    const QByteArray path = QFile::encodeName(dir + '/' + name);
    ::unlink(path.constData());
    ::rmdir(path.constData());
    switch (kind) {
    case Bad::Content:
    case Bad::Unreadable: {
        QFile f(QString::fromLocal8Bit(path));
        QVERIFY(f.open(QIODevice::WriteOnly));
        QCOMPARE(f.write(content), qint64(content.size()));
        f.close();
        if (kind == Bad::Unreadable)
            QVERIFY(::chmod(path.constData(), 0) == 0);
        break;
    }
    case Bad::LongLine: {
        QFile f(QString::fromLocal8Bit(path));
        QVERIFY(f.open(QIODevice::WriteOnly));
        const QByteArray piece(1 << 20, 'a');
        for (int i = 0; i < 100; ++i)
            QCOMPARE(f.write(piece), qint64(piece.size()));
        f.write("\r\nset2.png\r\nset3.bmp\r\n");
        break;
    }
    case Bad::Missing:
        break;
    case Bad::Directory:
        QVERIFY(::mkdir(path.constData(), 0755) == 0);
        break;
    case Bad::Fifo:
        QVERIFY(::mkfifo(path.constData(), 0644) == 0);
        break;
    case Bad::DevZero:
        QVERIFY(::symlink("/dev/zero", path.constData()) == 0);
        break;
    }
}

void addColumns() {
    QTest::addColumn<Bad>("kind");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("file");  // what is made bad
    QTest::addColumn<QString>("named"); // how the report names it
    QTest::addColumn<QString>("cause");
    QTest::addColumn<FaultKind>("fault"); // for a picture's content: the kind the library tells
}

// The newer formats, made by their own encoders and then cut, or changed where their headers
// tell sizes: each a report, within the limits. Made once: three tables take them.
struct NewFormatRow {
    const char* tag;
    QByteArray content;
    const char* cause;
    FaultKind fault;
};
const QList<NewFormatRow>& newFormatRows() {
    static const QList<NewFormatRow> rows = [] {
        QList<NewFormatRow> rows;
        const auto row = [&rows](const char* tag, Bad, const QByteArray& content, const char* cause,
                                 FaultKind fault) {
            rows.append({tag, content, cause, fault});
        };
        const QByteArray busy = magick({}, "png24:-", {}, "-seed 4 -size 96x64 plasma:");
        const QByteArray flat = magick({}, "png24:-", {}, "-size 64x64 xc:orange");
        const QByteArray webp = test::cwebp(busy);
        row("WebP cut in the middle", Bad::Content, cutTo(webp, 0.6), "is cut short",
            FaultKind::CutShort);
        QByteArray longChunk = webp; // its one chunk, "VP8 ", right after the RIFF header
        test::putLe32(longChunk, 16, quint32(webp.size() * 4));
        row("WebP whose picture's chunk claims more than its RIFF holds", Bad::Content, longChunk,
            "is damaged (its \"VP8 \" chunk claims", FaultKind::Damaged);
        QByteArray shortChunk = webp;
        test::putLe32(shortChunk, 16, 64);
        row("WebP whose picture's chunk claims less than its picture takes", Bad::Content,
            shortChunk, "is damaged (its WebP data cannot be decoded)", FaultKind::Damaged);
        const QByteArray webpAlpha = test::cwebp(magick("-transparent blue", "png32:-"));
        const qsizetype vp8x = test::webpChunk(webpAlpha, "VP8X");
        QByteArray wideCanvas = webpAlpha;
        test::putLe24(wideCanvas, vp8x + 12, 59999);
        test::putLe24(wideCanvas, vp8x + 15, 59999);
        row("WebP whose canvas claims 60000 x 60000", Bad::Content, wideCanvas,
            "is too large (60000 x 60000 pixels)", FaultKind::TooLarge);
        QByteArray otherCanvas = webpAlpha;
        test::putLe24(otherCanvas, vp8x + 12, 9);
        row("WebP whose canvas is not its picture's size", Bad::Content, otherCanvas,
            "is damaged (its picture is not the size its header gives)", FaultKind::Damaged);
        // A lossless picture is held whole by libwebp: its claimed size is charged before decoding.
        QByteArray lossless = test::cwebp(flat, "-lossless");
        const qsizetype vp8l = test::webpChunk(lossless, "VP8L") + 9; // after the signature byte
        const quint32 header =
            quint32(quint8(lossless[vp8l])) | quint32(quint8(lossless[vp8l + 1])) << 8 |
            quint32(quint8(lossless[vp8l + 2])) << 16 | quint32(quint8(lossless[vp8l + 3])) << 24;
        test::putLe32(lossless, vp8l, (header & 0xF0000000) | 13999 | 13999u << 14);
        row("lossless WebP claiming 14000 x 14000", Bad::Content, lossless,
            "is too large (14000 x 14000 pixels)", FaultKind::TooLarge);

        const QByteArray heic = test::heifEnc(flat);
        const QByteArray avif = test::avifenc(flat);
        row("HEIF declaring 65535 x 65535", Bad::Content,
            test::heifWith(heic, {}, test::heif::ispe(65535, 65535)),
            "is too large (65535 x 65535 pixels)", FaultKind::TooLarge);
        row("AVIF declaring 65535 x 65535", Bad::Content,
            test::heifWith(avif, {}, test::heif::ispe(65535, 65535)),
            "is too large (65535 x 65535 pixels)", FaultKind::TooLarge);
        row("HEIF grid of 10000 tiles", Bad::Content, test::heifGrid({heic}, 100, 100, 6400, 6400),
            "is too complex (a grid of 10000 tiles", FaultKind::TooComplex);
        row("HEIF grid of 2 x 2 tiles that do not cover it", Bad::Content,
            test::heifGrid({heic}, 2, 2, 640, 640), "is damaged (its tiles do not cover its grid)",
            FaultKind::Damaged);
        // (A coded picture may be larger by what rounds it up to whole coding blocks, 64 at most.)
        row("HEIF whose coded picture is larger than its header says", Bad::Content,
            test::heifWith(test::heifEnc(magick({}, "png24:-", {}, "-size 128x128 xc:orange")), {},
                           test::heif::ispe(16, 16)),
            "is damaged (its coded picture is not the size its header gives)", FaultKind::Damaged);
        row("AVIF whose coded picture is larger than its header says", Bad::Content,
            test::heifWith(avif, {}, test::heif::ispe(16, 16)),
            "is damaged (its AVIF data cannot be decoded)", FaultKind::Damaged);
        const QByteArray busyHeic = test::heifEnc(busy);
        row("HEIF cut in the middle", Bad::Content, cutTo(busyHeic, 0.8), "is cut short",
            FaultKind::CutShort);
        row("HEIF of an overlay", Bad::Content, QByteArray(busyHeic).replace("hvc1", "iovl"),
            "cannot be shown (its HEIF picture is of the kind 'iovl', which is not shown)",
            FaultKind::Unsupported);

        row("JPEG XL cut in the middle", Bad::Content, cutTo(test::cjxl(busy), 0.6), "is cut short",
            FaultKind::CutShort);
        row("JPEG XL claiming 60000 x 60000", Bad::Content, test::jxlClaiming(60000, 60000),
            "is too large (60000 x 60000 pixels)", FaultKind::TooLarge);
        // libjxl 0.7 decodes at the picture's own size: one that would take more than the budget is
        // refused at its header.
        row("JPEG XL claiming 14000 x 14000", Bad::Content, test::jxlClaiming(14000, 14000),
            "is too large (14000 x 14000 pixels)", FaultKind::TooLarge);
        return rows;
    }();
    return rows;
}

// The report on a file that is no picture: it names every format read.
const char* const NotAPicture =
    "is not a PNG, JPEG, GIF, BMP, WebP, HEIF, AVIF, JPEG XL, TIFF, ICO or SVG picture";

void addPictureRows() {
    const auto row = [](const char* tag, Bad kind, const QByteArray& content, const char* cause,
                        FaultKind fault = FaultKind::None) {
        QTest::newRow(tag) << kind << content << "set1.png"
                           << "picture \"set1.png\"" << cause << fault;
    };
    row("no such file", Bad::Missing, {}, "no such file");
    row("a directory", Bad::Directory, {}, "is a directory");
    row("a FIFO", Bad::Fifo, {}, "is a FIFO");
    row("/dev/zero", Bad::DevZero, {}, "is a device");
    row("zero bytes", Bad::Content, {}, "the file is empty", FaultKind::Empty);
    row("text", Bad::Content, "set1.png\r\n", NotAPicture, FaultKind::NotAPicture);
    row("PPM, not one of those read", Bad::Content, pictureBytes("PPM"), NotAPicture,
        FaultKind::NotAPicture);
    row("unreadable", Bad::Unreadable, pictureBytes("PNG"), "permission denied");
    const QByteArray png = pictureBytes("PNG");
    const QByteArray jpeg = pictureBytes("JPEG");
    const QByteArray gif = pictureBytes("GIF");
    const QByteArray bmp = pictureBytes("BMP");
    row("PNG cut in the middle", Bad::Content, cutTo(png, 0.6), "is cut short",
        FaultKind::CutShort);
    row("PNG without IEND", Bad::Content, png.chopped(12), "is cut short", FaultKind::CutShort);
    row("JPEG cut in the middle", Bad::Content, cutTo(jpeg, 0.6), "is cut short",
        FaultKind::CutShort);
    row("JPEG without EOI", Bad::Content, jpeg.chopped(2), "is cut short", FaultKind::CutShort);
    row("GIF cut in the middle", Bad::Content, cutTo(gif, 0.6), "is cut short",
        FaultKind::CutShort);
    row("BMP cut in the middle", Bad::Content, cutTo(bmp, 0.6), "is cut short",
        FaultKind::CutShort);
    row("BMP short of one byte", Bad::Content, bmp.chopped(1), "is cut short", FaultKind::CutShort);
    for (const char* format : {"PNG", "JPEG", "GIF"}) {
        const QByteArray tag = QByteArray(format) + " claiming 60000 x 60000";
        row(tag.constData(), Bad::Content, claiming(format, 60000, 60000),
            "is too large (60000 x 60000 pixels)", FaultKind::TooLarge);
    }
    // Within the sides, a PNG or JPEG may still claim more pixels than we decode.
    row("PNG claiming 20000 x 20000", Bad::Content, claiming("PNG", 20000, 20000),
        "is too large (20000 x 20000 pixels)", FaultKind::TooLarge);
    row("JPEG claiming 20000 x 20000", Bad::Content, claiming("JPEG", 20000, 20000),
        "is too large (20000 x 20000 pixels)", FaultKind::TooLarge);
    // Qt's PNG reader allocates an ancillary chunk's claimed length while reading the header.
    row("PNG with a tEXt chunk claiming 2 GB", Bad::Content,
        withChunk("tEXt", 0x7FFFFFF0, "Comment"),
        "is damaged (its \"tEXt\" chunk claims 2147483632 bytes, more than the rest of the file)",
        FaultKind::Damaged);
    row("PNG with a 9 MB zTXt chunk", Bad::Content,
        withChunk("zTXt", 9 << 20, QByteArray(9 << 20, 'z')),
        "has a \"zTXt\" chunk of 9437184 bytes, more than the 8 MB such a chunk may hold",
        FaultKind::TooLarge);
    // Still too many pixels to go through, though a GIF is decoded a row at a time.
    row("GIF claiming 20000 x 20000", Bad::Content, claiming("GIF", 20000, 20000),
        "is too large (20000 x 20000 pixels)", FaultKind::TooLarge);
    // Hostile JPEGs of under 200 bytes; once each cost 0.4 to 1.5 GB or seconds.
    row("JPEG with FF 00 before a frame of 30000 x 30000", Bad::Content,
        hostile::strayBytesBeforeFrame(30000), "is too large (30000 x 30000 pixels)",
        FaultKind::TooLarge);
    row("baseline JPEG whose scan holds 1 of 3 components", Bad::Content,
        hostile::scanOfFewerComponents(12000), "is too large (12000 x 12000 pixels)",
        FaultKind::TooLarge);
    row("JPEG with a scan before its frame", Bad::Content, hostile::scanBeforeFrame(),
        "is damaged (its JPEG data cannot be decoded)", FaultKind::Damaged);
    row("progressive JPEG with a DC scan of 255 components", Bad::Content,
        hostile::dcScanListing(QByteArray(255, '\1'), 4000),
        "is damaged (its JPEG data cannot be decoded)", FaultKind::Damaged);
    row("progressive JPEG with a DC scan listing a component twice", Bad::Content,
        hostile::dcScanListing("\x01\x02\x01", 4000),
        "is damaged (its JPEG data cannot be decoded)", FaultKind::Damaged);
    row("GIF with LZW minimum code size 13", Bad::Content, gifBytes({16, 16}, 13),
        "is damaged (its GIF data cannot be decoded)", FaultKind::Damaged);
    // Hostile JPEGs that once held 150 MB or took seconds: libjpeg's memory is charged to the
    // load, and its scans are counted.
    const char* tooMuch = "is too complex (its JPEG data has more than 100 scans)";
    row("JPEG of 6500 x 6500 in a baseline scan for each component", Bad::Content,
        hostile::scanPerComponent(6500), "is too large (6500 x 6500 pixels)", FaultKind::TooLarge);
    row("arithmetic-coded progressive JPEG of 8000 x 8000", Bad::Content,
        hostile::arithmeticProgressive(8000), "is too large (8000 x 8000 pixels)",
        FaultKind::TooLarge);
    row("progressive JPEG with 50000 empty scans", Bad::Content, hostile::emptyScans(2000, 50000),
        tooMuch, FaultKind::TooComplex);
    row("progressive JPEG with 3000 empty scans, cut short", Bad::Content,
        hostile::emptyScans(2000, 3000, true), tooMuch, FaultKind::TooComplex);
    row("large progressive JPEG with 3000 empty scans", Bad::Content,
        hostile::emptyScans(14000, 3000), tooMuch, FaultKind::TooComplex);
    row("baseline JPEG with 1000 scans", Bad::Content, hostile::sequentialScans(1000, 1000),
        tooMuch, FaultKind::TooComplex);

    // Pictures of kinds that are not shown are named, with what to do.
    const auto notShown = [&](const char* tag, const QByteArray& content, const char* what) {
        const QByteArray cause =
            QByteArray("is ") + what + ", which is not shown: save it as PNG or JPEG";
        QTest::newRow(tag) << Bad::Content << content << "set1.png"
                           << "picture \"set1.png\"" << QString(cause) << FaultKind::NotShown;
    };
    const QByteArray padding(200, '\0');
    notShown("Windows metafile", QByteArray("\xD7\xCD\xC6\x9A", 4) + padding,
             "a Windows metafile (WMF)");
    QByteArray emf = QByteArray("\x01\0\0\0", 4) + padding;
    emf.replace(40, 4, " EMF");
    notShown("enhanced Windows metafile", emf, "an enhanced Windows metafile (EMF)");
    notShown("Photoshop picture", magick({}, "psd:-"), "a Photoshop picture (PSD)");
    notShown("PDF", "%PDF-1.7\n%\xE2\xE3\xCF\xD3\n" + padding, "a PDF document");
    notShown("GIMP picture", "gimp xcf v011\0" + padding, "a GIMP picture (XCF)");
    notShown("JPEG 2000", QByteArray("\0\0\0\x0CjP  \r\n\x87\n", 12) + padding,
             "a JPEG 2000 picture");
    notShown("Canon raw", QByteArray("II*\0\x10\0\0\0CR\x02\0", 12) + padding,
             "a camera's raw picture");

    // Hostile drawings: each once took librsvg seconds or the memory of the whole tree.
    QString laughs = "<defs><rect id=\"l0\" width=\"1\" height=\"1\"/>";
    for (int level = 1; level < 10; ++level) {
        laughs += QString("<g id=\"l%1\">").arg(level);
        for (int i = 0; i < 10; ++i)
            laughs += QString("<use xlink:href=\"#l%1\"/>").arg(level - 1);
        laughs += "</g>";
    }
    laughs += "</defs><use xlink:href=\"#l9\"/>";
    row("SVG drawing a billion references", Bad::Content, svg({}, laughs),
        "is too complex (more than 4000 elements to draw)", FaultKind::TooComplex);
    row("SVG of 4100 rectangles", Bad::Content,
        svg({}, QString("<rect width=\"1\" height=\"1\"/>").repeated(4100)),
        "is too complex (more than 4000 elements to draw)", FaultKind::TooComplex);
    row("SVG nested 20000 deep", Bad::Content,
        svg({}, QString("<g>").repeated(20000) + "<rect width=\"1\" height=\"1\"/>" +
                    QString("</g>").repeated(20000)),
        "is too complex (its elements nest more than 256 deep)", FaultKind::TooComplex);
    row("SVGZ inflating to 1 GB", Bad::Content,
        piped("(printf '<svg>'; head -c 1000000000 /dev/zero | tr '\\0' ' ') | gzip -1"),
        "is too large (more than 8 MB of drawing once inflated)", FaultKind::TooLarge);
    row("gzip of no drawing", Bad::Content, piped("gzip", "set1.png\n"), NotAPicture,
        FaultKind::NotAPicture);

    // Hostile TIFF, ICO and CUR files.
    const QByteArray tiff = magick({}, "tiff:-");
    row("TIFF cut in the middle", Bad::Content, cutTo(tiff, 0.6), "is damaged", FaultKind::Damaged);
    row("TIFF claiming 60000 x 60000", Bad::Content,
        piped("convert -size 16x16 xc:red tiff:/tmp/kelvora-claim.tif && "
              "tiffset -s 256 60000 /tmp/kelvora-claim.tif && tiffset -s 257 60000 "
              "/tmp/kelvora-claim.tif && cat /tmp/kelvora-claim.tif"),
        "is too large (60000 x 60000 pixels)", FaultKind::TooLarge);
    row("TIFF of one LZW strip claiming 20000 x 9000", Bad::Content,
        piped("convert -size 16x16 xc:red -compress LZW -define tiff:rows-per-strip=100000 "
              "tiff:/tmp/kelvora-strip.tif && tiffset -s 256 20000 /tmp/kelvora-strip.tif && "
              "tiffset -s 257 9000 /tmp/kelvora-strip.tif && tiffset -s 278 9000 "
              "/tmp/kelvora-strip.tif && cat /tmp/kelvora-strip.tif"),
        "is too large (20000 x 9000 pixels)", FaultKind::TooLarge);
    const QByteArray icon = iconFile(1, {{{64, 48}, iconBitmap(magick({}, "bmp3:-"))}});
    row("ICO cut in the middle", Bad::Content, cutTo(icon, 0.6), "is cut short",
        FaultKind::CutShort);
    QByteArray far = icon;
    far[6 + 12 + 3] = '\x7F'; // the image's offset, 2 GB on
    row("ICO whose image lies past its end", Bad::Content, far, "is cut short",
        FaultKind::CutShort);
    row("ICO holding a PNG claiming 60000 x 60000", Bad::Content,
        iconFile(1, {{{0, 0}, claiming("PNG", 60000, 60000)}}),
        "is too large (60000 x 60000 pixels)", FaultKind::TooLarge);
    row("CUR claiming 60000 images", Bad::Content,
        iconFile(2, {{{64, 48}, iconBitmap(magick({}, "bmp3:-"))}}).replace(4, 2, "\x60\xEA"),
        "is cut short", FaultKind::CutShort);
    for (const NewFormatRow& r : newFormatRows())
        row(r.tag, Bad::Content, r.content, r.cause, r.fault);
}

void addListRows() {
    const auto row = [](const char* tag, Bad kind, const QByteArray& content, const char* named,
                        const char* cause) {
        QTest::newRow(tag) << kind << content << "qorfile.txt" << named << cause << FaultKind::None;
    };
    const char* list = "file \"qorfile.txt\"";
    row("list: no such file", Bad::Missing, {}, list, "no such file (looked in ");
    row("list: a directory", Bad::Directory, {}, list, "is a directory");
    row("list: a FIFO", Bad::Fifo, {}, list, "is a FIFO");
    row("list: /dev/zero", Bad::DevZero, {}, list, "is a device");
    row("list: unreadable", Bad::Unreadable, "set1.png\r\nset2.png\r\nset3.bmp\r\n", list,
        "permission denied");
    row("list: empty", Bad::Content, {}, list, "is empty, line 1 is missing");
    row("list: one line", Bad::Content, "set1.png", list, "has only 1 line, line 2 is missing");
    row("list: two lines", Bad::Content, "set1.png\nset2.png\n", list,
        "has only 2 lines, line 3 is missing");
    // Line Input reads any line; the path fails where it is used, here at the first game.
    row("list: 100 MB first line", Bad::LongLine, {}, "picture \"aaaa",
        "the path is too long (more than 1048576 bytes, at most 4095)");
    row("list: path of 4096 bytes", Bad::Content, QByteArray(4096, 'a') + "\nset2.png\nset3.bmp\n",
        "picture \"aaaa", "the path is too long (4096 bytes, at most 4095)");
    row("list: NUL in a path", Bad::Content, QByteArray("set1.png\0.txt\nset2.png\nset3.bmp\n", 32),
        "picture \"set1.png\\x00.txt\"", "the path holds a NUL byte");
}

// A field in kB of /proc/<pid>/status ("VmHWM", "VmRSS"), or 0.
long statusKB(const QString& pid, const QByteArray& field) {
    QFile status("/proc/" + pid + "/status");
    if (status.open(QIODevice::ReadOnly))
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith(field + ':'))
                return line.mid(field.size() + 1).trimmed().split(' ').value(0).toLong();
    return 0;
}

// The CPU time a process has used, in clock ticks; -1 once it is gone.
long long cpuTicks(pid_t pid) {
    QFile stat("/proc/" + QString::number(pid) + "/stat");
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    // The command name may hold blanks; the fields after it are plain numbers.
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 12 ? fields[11].toLongLong() + fields[12].toLongLong() : -1;
}

// One run of the real executable.
struct Run {
    bool exited = false;
    int status = -1;
    int signal = 0;
    double seconds = 0;
    long peakKB = 0;
    long ownPeakKB = 0; // of a program still running when killed
    long forkedKB = 0;  // the test process's own size when it forked
    QString stderrText;
};

// Runs the program in dir on the offscreen platform, as Nobody when asked to; fork and
// wait4 rather than QProcess, for the child's peak memory. A child's peak counts the pages it
// was forked with too, so it is an upper bound as long as the test process is small (about
// 30 MB). Killed after `seconds`, or with untilIdle once it has used no CPU for a while (a
// dealt game sleeps between clock ticks); then the peak is the program's own, read just
// before, which holds also when the test process is large (under the sanitizers).
Run runProgram(const QString& dir, bool asNobody, int seconds = 60, bool untilIdle = false) {
    QTemporaryFile err;
    if (!err.open())
        qFatal("no temporary file");
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        if (std::strncmp(*e, "QT_QPA_PLATFORM=", 16) == 0)
            continue;
        env.emplace_back(*e);
        // Under AddressSanitizer the program's peak counts the freed blocks the sanitizer holds
        // back; a HEIF's tiles, decoded one after another, free that much again and again. The
        // same decoders run in this process with the blocks held back.
        if (std::strncmp(*e, "ASAN_OPTIONS=", 13) == 0)
            env.back() += ":quarantine_size_mb=0";
    }
    env.emplace_back("QT_QPA_PLATFORM=offscreen");
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    const QByteArray cwd = QFile::encodeName(dir);
    char exe[] = KELVORADX_EXECUTABLE;
    char* argv[] = {exe, nullptr};
    const int errFd = err.handle();

    Run run;
    run.forkedKB = statusKB("self", "VmRSS");
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::chdir(cwd.constData()) != 0 || ::dup2(errFd, 2) < 0)
            ::_exit(126);
        if (asNobody &&
            (::setgroups(0, nullptr) != 0 || ::setgid(Nobody) != 0 || ::setuid(Nobody) != 0))
            ::_exit(126);
        ::execve(exe, argv, envp.data());
        ::_exit(127);
    }
    if (pid < 0)
        return run;
    int status = 0;
    rusage usage{};
    long long ticks = -1;
    auto busy = start;
    for (;;) {
        const pid_t done = ::wait4(pid, &status, WNOHANG, &usage);
        if (done == pid)
            break;
        const auto now = std::chrono::steady_clock::now();
        if (untilIdle) {
            const long long t = cpuTicks(pid);
            if (t != ticks) {
                ticks = t;
                busy = now;
            }
        }
        const bool idle = untilIdle && now - busy > std::chrono::milliseconds(500);
        if (idle || now - start > std::chrono::seconds(seconds)) {
            run.ownPeakKB = statusKB(QString::number(pid), "VmHWM");
            ::kill(pid, SIGKILL);
            ::wait4(pid, &status, 0, &usage);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.exited = WIFEXITED(status);
    run.status = run.exited ? WEXITSTATUS(status) : -1;
    run.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    run.peakKB = run.ownPeakKB > 0 ? run.ownPeakKB : usage.ru_maxrss;
    err.seek(0);
    run.stderrText = QString::fromUtf8(err.readAll());
    return run;
}

// The peak memory of a game started on the usual small pictures, measured once.
long normalPeakKB() {
    static const long peak = [] {
        test::Game g;
        return runProgram(g.path("."), false, 30, true).peakKB;
    }();
    return peak;
}

} // namespace

Q_DECLARE_METATYPE(Bad)
Q_DECLARE_METATYPE(rt::pictures::FaultKind)

class BadInputTest : public QObject {
    Q_OBJECT

private slots:
    void exitsQuicklyWithAReport_data();
    void exitsQuicklyWithAReport();
    void badPictureEndsTheProgram_data();
    void badPictureEndsTheProgram();
    void libraryTellsTheKind_data();
    void libraryTellsTheKind();
    void completePicturesLoad_data();
    void completePicturesLoad();
    void ownDecodersShowWhatQtShows_data();
    void ownDecodersShowWhatQtShows();
    void largePicturesCostLittleMemory_data();
    void largePicturesCostLittleMemory();
    void oddButValidListFilesStart_data();
    void oddButValidListFilesStart();
    void wholePicturesStayWithinTheirBounds_data();
    void wholePicturesStayWithinTheirBounds();
    void heifTransformsStandUpright_data();
    void heifTransformsStandUpright();
    void hugePictureIsDecodedAtTheShownSize();
    void againShowsChangedBytesWhateverTheTimes();
    void gifScreenTallerThanItsFrameIsShownSize();
    void pictureRewrittenWhileLoadingIsAPictureOrAReport();
};

// The size of Image1 in device pixels: no picture is kept larger than that.
static QSize shownSize(test::Game& g) {
    const QWidget* shown = g.f2().Image1.widget();
    const qreal ratio = shown->devicePixelRatioF();
    return {qCeil(shown->width() * ratio), qCeil(shown->height() * ratio)};
}

void BadInputTest::exitsQuicklyWithAReport_data() {
    addColumns();
    addListRows();
    addPictureRows();
}

// The real executable, started in a folder that fails it: a report on stderr naming the file
// and the cause, exit status 1, no signal, no hang, and little memory whatever the file claims;
// for a small file, within 2 s.
void BadInputTest::exitsQuicklyWithAReport() {
    QFETCH(Bad, kind);
    QFETCH(QByteArray, content);
    QFETCH(QString, file);
    QFETCH(QString, named);
    QFETCH(QString, cause);
    test::Game g;
    make(g.path("."), file, kind, content);
    const bool asNobody = kind == Bad::Unreadable && ::geteuid() == 0;
    if (asNobody) {
        // root reads any file: the program runs as nobody, who must reach the folder.
        if (::access(KELVORADX_EXECUTABLE, X_OK) != 0)
            QSKIP("the executable is not runnable");
        QVERIFY(::chmod(QFile::encodeName(g.path(".")).constData(), 0755) == 0);
    }
    const Run run = runProgram(g.path("."), asNobody);
    QVERIFY2(run.signal == 0, qPrintable(QString("killed by signal %1").arg(run.signal)));
    QVERIFY2(run.seconds < 10, qPrintable(QString("took %1 s").arg(run.seconds)));
    QCOMPARE(run.status, 1);
    const QString report = run.stderrText;
    QVERIFY2(report.contains("kelvoradx: run-time error: ") && report.contains(named) &&
                 report.contains(cause),
             qPrintable(report));
    // Linux keeps the peak of the test process's pages the program was forked with (under the
    // sanitizers, over 200 MB after many rows): only a peak above them is the program's.
    QVERIFY2(run.peakKB < std::max(200L * 1024, run.forkedKB + 2048),
             qPrintable(QString("peak %1 kB, forked at %2 kB").arg(run.peakKB).arg(run.forkedKB)));
    if (kind == Bad::Content && content.size() < 1024 * 1024)
        QVERIFY2(run.seconds < 2, qPrintable(QString("a small file took %1 s").arg(run.seconds)));
    // The peak of a program that ended by itself counts the pages it was forked with: it can
    // only be told apart from a normal game's when the test process was smaller than that.
    if (kind == Bad::Content && content.size() < 1024 * 1024)
        QVERIFY2(
            run.peakKB < std::max(normalPeakKB(), run.forkedKB) + 20 * 1024,
            qPrintable(
                QString("peak %1 kB, a normal game %2 kB").arg(run.peakKB).arg(normalPeakKB())));
}

void BadInputTest::badPictureEndsTheProgram_data() {
    addColumns();
    addPictureRows();
}

// At start-up the failure comes before either window is shown. The picture is read afresh at
// every game, so a file spoilt during a game fails "Again" the same way.
void BadInputTest::badPictureEndsTheProgram() {
    QFETCH(Bad, kind);
    QFETCH(QByteArray, content);
    QFETCH(QString, named);
    QFETCH(QString, cause);
    if (kind == Bad::Unreadable && ::geteuid() == 0)
        QSKIP("root reads any file; exitsQuicklyWithAReport runs this case as nobody");
    for (const bool atAgain : {false, true}) {
        test::Game g;
        if (atAgain)
            QVERIFY(g.start());
        make(g.path("."), "set1.png", kind, content);
        if (atAgain)
            g.again();
        else
            QVERIFY(!g.start());
        QCOMPARE(g.errors.size(), std::size_t(1));
        const QString detail = QString::fromStdString(g.errors[0].detail());
        QVERIFY2(detail.startsWith(named) && detail.contains(cause), qPrintable(detail));
        QCOMPARE(g.endStatus, std::optional<int>(1));
        if (!atAgain) {
            QVERIFY(!g.f1().form.window()->isVisible());
            QVERIFY(!g.f2().form.window()->isVisible());
        }
    }
}

void BadInputTest::libraryTellsTheKind_data() {
    addColumns();
    addPictureRows();
}

// The same bytes through the library's own entry, without a game: the fault's kind, its report,
// and within the same limits of time.
void BadInputTest::libraryTellsTheKind() {
    QFETCH(Bad, kind);
    QFETCH(QByteArray, content);
    QFETCH(QString, cause);
    QFETCH(FaultKind, fault);
    if (kind != Bad::Content)
        QSKIP("about the file, not its bytes");
    QElapsedTimer clock;
    clock.start();
    const auto decoded = rt::pictures::decodeBytes(
        {reinterpret_cast<const unsigned char*>(content.constData()), std::size_t(content.size())},
        QSize(289, 257));
    QVERIFY(!decoded.picture);
    QCOMPARE(decoded.fault.kind, fault);
    QVERIFY2(QString::fromStdString(decoded.fault.cause).contains(cause),
             decoded.fault.cause.c_str());
    if (content.size() < 1024 * 1024)
        QVERIFY2(clock.elapsed() < 2000, qPrintable(QString("took %1 ms").arg(clock.elapsed())));
}

void BadInputTest::completePicturesLoad_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QColor>("top"); // the colour of the upper half, when known
    QTest::addColumn<QColor>("bottom");
    const QColor red(Qt::red), blue(Qt::blue), none;
    const auto row = [](const char* tag, const QByteArray& content, QColor top, QColor bottom) {
        QTest::newRow(tag) << content << top << bottom;
    };
    row("PNG", pictureBytes("PNG"), none, none);
    row("PNG with bytes after IEND", pictureBytes("PNG") + "trailing", none, none);
    row("JPEG", pictureBytes("JPEG"), none, none);
    row("progressive JPEG", pictureBytes("JPEG", {320, 240}, true), none, none);
    row("JPEG with a video after EOI", pictureBytes("JPEG") + QByteArray(5000, 'v'), none, none);
    row("GIF", pictureBytes("GIF"), none, none);
    // Browsers take minimum code sizes up to 12. Pixel (32, 12) has index 28, (32, 36) index 20.
    for (const int size : {9, 12})
        row(qPrintable(QString("GIF with LZW minimum code size %1").arg(size)),
            gifBytes({64, 48}, size), QColor(56, 199, 28), QColor(40, 215, 20));
    row("BMP", pictureBytes("BMP"), none, none);
    // Kinds people have, as other programs write them.
    row("interlaced PNG", magick("-interlace PNG", "png24:-"), red, blue);
    row("16-bit PNG", magick("-depth 16", "png48:-"), red, blue);
    row("palette PNG with transparency", magick("-transparent blue", "png8:-"), red,
        QColor(0, 0, 0, 0));
    row("large interlaced 16-bit PNG with alpha, shrunk",
        magick("-alpha set -depth 16 -interlace PNG", "png64:-", {},
               "-size 3000x2000 xc:red -fill blue -draw 'rectangle 0,1000 2999,1999'"),
        red, blue);
    row("greyscale JPEG", magick("-colorspace Gray", "jpeg:-"), QColor(54, 54, 54),
        QColor(18, 18, 18));
    row("CMYK JPEG", magick("-colorspace CMYK", "jpeg:-"), red, blue);
    row("progressive JPEG by ImageMagick", magick("-interlace JPEG", "jpeg:-"), red, blue);
    row("JPEG with restart markers", magick({}, "jpeg:-", "jpegtran -restart 1"), red, blue);
    row("large progressive JPEG, from its blocks' means",
        magick("-interlace JPEG", "jpeg:-", {},
               "-size 2400x2100 xc:red -fill blue -draw 'rectangle 0,1050 2399,2099'"),
        red, blue);
    row("BMP with RLE8", magick("-type Palette -compress RLE", "bmp3:-"), red, blue);
    row("BMP with RLE4", rle4Bmp(), red, blue);
    row("BMP with bit fields", magick("-alpha set", "bmp:-"), red, blue);
    row("top-down BMP", topDownBmp(), red, blue);
    row("GIF without trailer", magick({}, "gif:-").chopped(1), red, blue);
    row("interlaced GIF", magick("-interlace GIF", "gif:-"), red, blue);
    row("animated GIF, first frame", magick("-delay 10 -size 64x48 xc:green -loop 0", "gif:-"), red,
        blue);
    // The newer formats, as their own encoders write them.
    const QByteArray redBlue = magick({}, "png24:-");
    const QByteArray clear = magick("-transparent blue", "png32:-");
    const QColor transparent(0, 0, 0, 0);
    row("WebP", test::cwebp(redBlue), red, blue);
    // What a browser shows: the picture is whole, though the RIFF header claims more.
    QByteArray longRiff = test::cwebp(redBlue);
    test::putLe32(longRiff, 4, quint32(longRiff.size() + 1000));
    row("WebP whose RIFF header claims more than the file", longRiff, red, blue);
    row("lossless WebP", test::cwebp(redBlue, "-lossless"), red, blue);
    row("WebP with alpha", test::cwebp(clear), red, transparent);
    row("lossless WebP with alpha", test::cwebp(clear, "-lossless"), red, transparent);
    row("animated WebP, first frame",
        test::img2webp(redBlue, magick({}, "png24:-", {}, "-size 64x48 xc:green")), red, blue);
    row("HEIC", test::heifEnc(redBlue), red, blue);
    row("HEIC with alpha", test::heifEnc(clear), red, transparent);
    row("HEIC, 10 bits", test::heifEnc(magick("-depth 16", "png48:-"), "-b 10"), red, blue);
    row("AVIF", test::avifenc(redBlue), red, blue);
    row("AVIF, 4:2:0", test::avifenc(redBlue, "-y 420"), red, blue);
    row("AVIF with alpha", test::avifenc(clear), red, transparent);
    row("AVIF, 10 bits", test::avifenc(redBlue, "-d 10"), red, blue);
    row("AVIF, limited range", test::avifenc(redBlue, "-r limited"), red, blue);
    row("AVIF, grid of 2 x 2",
        test::avifenc(magick({}, "png24:-", {},
                             "-size 128x128 xc:red -fill blue -draw 'rectangle 0,64 127,127'"),
                      "-g 2x2"),
        red, blue);
    row("JPEG XL", test::cjxl(redBlue), red, blue);
    row("lossless JPEG XL", test::cjxl(redBlue, "-d 0"), red, blue);
    row("JPEG XL with alpha", test::cjxl(clear), red, transparent);
    row("JPEG XL from a JPEG", test::cjxl(magick({}, "jpeg:-"), {}, "in.jpg"), red, blue);
    const QDir demo(KELVORADX_DEMO_DIR);
    for (const QString& name : demo.entryList({"*.png", "*.jpg", "*.bmp", "*.gif"})) {
        QFile f(demo.filePath(name));
        QVERIFY(f.open(QIODevice::ReadOnly));
        row(qPrintable("demo " + name), f.readAll(), none, none);
    }
}

// Close enough for a lossy format; any colour is as good as another where nothing shows.
static bool near(QColor a, QColor b) {
    if (a.alpha() < 48 && b.alpha() < 48)
        return true;
    return std::abs(a.red() - b.red()) < 48 && std::abs(a.green() - b.green()) < 48 &&
           std::abs(a.blue() - b.blue()) < 48 && std::abs(a.alpha() - b.alpha()) < 48;
}

// Every whole picture of a kind people have is shown, with or without bytes after its end,
// the right way up, at most at the shown size.
void BadInputTest::completePicturesLoad() {
    QFETCH(QByteArray, content);
    QFETCH(QColor, top);
    QFETCH(QColor, bottom);
    test::Game g;
    g.writeFile("set1.png", content);
    g.writeFile("beside.png", magick({}, "png:-", {}, "-size 64x48 xc:white"));
    QVERIFY2(g.start(), g.errors.empty() ? "" : g.errors[0].detail().c_str());
    const QImage* image = g.f2().Image1.Picture().image();
    QVERIFY(image && !image->isNull());
    const QSize shown = shownSize(g);
    QVERIFY(image->width() <= shown.width() && image->height() <= shown.height());
    if (!top.isValid())
        return;
    const QColor up = image->pixelColor(image->width() / 2, image->height() / 4);
    const QColor down = image->pixelColor(image->width() / 2, image->height() * 3 / 4);
    QVERIFY2(near(up, top) && near(down, bottom),
             qPrintable(QString("%1 above, %2 below")
                            .arg(up.name(QColor::HexArgb), down.name(QColor::HexArgb))));
}

void BadInputTest::ownDecodersShowWhatQtShows_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<double>("tolerance"); // mean difference a channel, premultiplied
    // What the format's own library decodes, upright, as a PNG; empty: Qt's reader of content.
    QTest::addColumn<QByteArray>("reference");
    const QString busy = "-seed 7 -size 700x500 plasma:";
    const QString shapes = "-size 900x700 xc:red -fill blue -draw 'circle 450,350 450,100' "
                           "-fill lime -draw 'rectangle 0,0 299,199'";
    // Lossless kinds: only the rounding of the average differs.
    const double exact = 0.5;
    QTest::newRow("GIF, small") << magick({}, "gif:-") << exact << QByteArray();
    QTest::newRow("GIF, shrunk") << magick({}, "gif:-", {}, busy) << exact << QByteArray();
    QTest::newRow("GIF, interlaced")
        << magick("-interlace GIF", "gif:-", {}, busy) << exact << QByteArray();
    QTest::newRow("GIF, transparent, frame inside a larger screen")
        << magick("-transparent blue -page 1000x800+40+30", "gif:-", {}, shapes) << exact
        << QByteArray();
    QTest::newRow("GIF, frame inside a larger screen")
        << magick("-page 1000x800+40+30", "gif:-", {}, shapes) << exact << QByteArray();
    QTest::newRow("GIF, animated")
        << magick("-delay 10 -size 700x500 xc:green -loop 0", "gif:-", {}, busy) << exact
        << QByteArray();
    QTest::newRow("BMP, RLE8, small")
        << magick("-type Palette -compress RLE", "bmp3:-") << exact << QByteArray();
    QTest::newRow("BMP, RLE8, shrunk")
        << magick("-colors 200 -compress RLE", "bmp3:-", {}, busy) << exact << QByteArray();
    QTest::newRow("BMP, RLE8, top half flat")
        << magick("-type Palette -compress RLE", "bmp3:-", {}, shapes) << exact << QByteArray();
    QTest::newRow("BMP, 1 bit, shrunk")
        << magick("-monochrome", "bmp3:-", {}, busy) << exact << QByteArray();
    QTest::newRow("BMP, 4 bits, shrunk")
        << magick("-colors 16", "bmp3:-", {}, busy) << exact << QByteArray();
    QTest::newRow("BMP, 4 bits, oldest header")
        << magick("-colors 16", "bmp2:-", {}, busy) << exact << QByteArray();
    QTest::newRow("BMP, 8 bits, shrunk")
        << magick("-colors 200", "bmp3:-", {}, busy) << exact << QByteArray();
    QTest::newRow("BMP, top-down") << topDownBmp() << exact << QByteArray();
    QTest::newRow("BMP, RLE4, small") << rle4Bmp() << exact << QByteArray();
    QTest::newRow("BMP, RLE4, shrunk") << largeRle4Bmp() << exact << QByteArray();
    // A progressive JPEG of at least eight times the shown size is shown from its blocks' means.
    // The full decode shrunk averages the same pixels, but over areas that do not line up with
    // the 8 x 8 blocks, with colours converted before rather than after averaging, and with
    // the rounding of the DCT: a few steps a channel on a smooth picture.
    const QString photo = "-seed 3 -size 300x263 plasma: -resize 2400x2100!";
    const double blocks = 4;
    QTest::newRow("progressive JPEG, CMYK")
        << magick("-colorspace CMYK -interlace JPEG", "jpeg:-", {}, photo) << blocks
        << QByteArray();
    QTest::newRow("progressive JPEG, grey")
        << magick("-colorspace Gray -interlace JPEG", "jpeg:-", {}, photo) << blocks
        << QByteArray();
    QTest::newRow("progressive JPEG, 4:2:0")
        << magick("-sampling-factor 2x2 -interlace JPEG", "jpeg:-", {}, photo) << blocks
        << QByteArray();
    QTest::newRow("progressive JPEG, 4:4:4, restart markers")
        << magick("-sampling-factor 1x1", "jpeg:-", "jpegtran -progressive -restart 1", photo)
        << blocks << QByteArray();
    // DC scans of one component each, at half precision, then refined.
    QTemporaryFile scans;
    QVERIFY(scans.open());
    scans.write("0: 0-0, 0, 1; 1: 0-0, 0, 1; 2: 0-0, 0, 1;\n"
                "0: 1-63, 0, 0; 1: 1-63, 0, 0; 2: 1-63, 0, 0;\n"
                "0,1,2: 0-0, 1, 0;\n");
    scans.flush();
    QTest::newRow("progressive JPEG, 4:2:2, separate and refining DC scans")
        << magick("-sampling-factor 2x1", "jpeg:-",
                  "jpegtran -restart 3 -scans " + scans.fileName(), photo)
        << blocks << QByteArray();
    // Shown as EXIF says, turned or mirrored, as Qt's reader turns it.
    for (int orientation = 1; orientation <= 8; ++orientation)
        QTest::newRow(qPrintable(QString("JPEG, EXIF orientation %1").arg(orientation)))
            << magick({}, "jpeg:-", QString("exiftool -Orientation#=%1 -o - -").arg(orientation),
                      shapes)
            << 2.0 << QByteArray();

    // Drawings, stretched to fill the control whatever their proportions. The test puts a
    // picture beside each: a drawing that names it must not show it.
    const QByteArray sized = svg("width=\"640\" height=\"480\"");
    QTest::newRow("SVG") << sized << 2.0 << rsvgReference(sized);
    QTest::newRow("SVG without a size") << svg({}) << 2.0 << rsvgReference(svg({}));
    const QByteArray wide = svg("width=\"400\" height=\"100\"");
    QTest::newRow("SVG, view box of other proportions") << wide << 2.0 << rsvgReference(wide);
    QTest::newRow("SVGZ") << piped("gzip -9", sized) << 2.0 << rsvgReference(sized);
    QTest::newRow("SVG naming a picture beside it")
        << svg({}, "<image x=\"0\" y=\"0\" width=\"100\" height=\"100\" xlink:href=\"beside.png\"/>"
                   "<image width=\"100\" height=\"100\" href=\"file:beside.png\"/>")
        << 2.0 << rsvgReference(svg({}));

    // TIFF through libtiff, against ImageMagick's decode through the same library.
    const auto tiff = [&](const char* tag, const QString& options, double tolerance = 0.5,
                          const QString& source = {}) {
        const QByteArray file = source.isEmpty() ? magick(options, "tiff:-", {}, busy)
                                                 : magick(options, "tiff:-", {}, source);
        QTest::newRow(tag) << file << tolerance << decodedByMagick(file, "tiff");
    };
    tiff("TIFF, uncompressed", "-compress None");
    tiff("TIFF, LZW", "-compress LZW");
    tiff("TIFF, Deflate", "-compress Zip");
    tiff("TIFF, PackBits", "-compress RLE");
    tiff("TIFF, JPEG", "-compress JPEG -quality 90", 1.0);
    tiff("TIFF, CCITT fax group 4", "-monochrome -compress Group4");
    tiff("TIFF, CCITT fax group 3", "-monochrome -compress Fax");
    tiff("TIFF, 1 bit", "-monochrome -compress None");
    tiff("TIFF, 4-bit palette", "-colors 16 -type Palette -depth 4");
    tiff("TIFF, 8-bit palette", "-colors 200 -type Palette");
    tiff("TIFF, 8-bit grey", "-colorspace Gray");
    tiff("TIFF, 16-bit grey", "-colorspace Gray -depth 16");
    tiff("TIFF, 16-bit RGB", "-depth 16 -compress LZW");
    tiff("TIFF, CMYK", "-colorspace CMYK -depth 8", 1.0);
    tiff("TIFF, RGB with alpha", "-alpha set -transparent blue", exact, shapes);
    tiff("TIFF, planes apart", "-interlace Plane -compress LZW");
    tiff("TIFF, tiled", "-define tiff:tile-geometry=64x64 -compress LZW");
    tiff("TIFF, tiled JPEG", "-define tiff:tile-geometry=128x128 -compress JPEG", 1.0);
    tiff("TIFF, one strip", "-define tiff:rows-per-strip=500 -compress Zip");
    const char* orients[] = {"TopLeft", "TopRight", "BottomRight", "BottomLeft",
                             "LeftTop", "RightTop", "RightBottom", "LeftBottom"};
    for (int o = 1; o <= 8; ++o) {
        tiff(qPrintable(QString("TIFF, orientation %1").arg(o)),
             QString("-orient %1").arg(orients[o - 1]), exact, shapes);
        tiff(qPrintable(QString("TIFF, tiled, orientation %1").arg(o)),
             QString("-define tiff:tile-geometry=64x64 -orient %1").arg(orients[o - 1]), exact,
             shapes);
    }

    // Icons and cursors written by hand: the largest image shows, the deepest of equal size.
    const QByteArray small = magick({}, "bmp3:-", {}, "-size 16x16 xc:green");
    const QByteArray large = magick({}, "bmp3:-");
    const QByteArray middle = magick({}, "bmp3:-", {}, "-size 32x32 xc:yellow");
    QTest::newRow("ICO, three images") << iconFile(1, {{{16, 16}, iconBitmap(small)},
                                                       {{64, 48}, iconBitmap(large)},
                                                       {{32, 32}, iconBitmap(middle)}})
                                       << exact << large;
    QTest::newRow("ICO, AND mask")
        << iconFile(1, {{{64, 48}, iconBitmap(large, true)}}) << exact
        << magick({}, "png32:-", {}, "-size 64x48 xc:none -fill blue -draw 'rectangle 0,24 63,47'");
    QTest::newRow("ICO, 8 bits a pixel")
        << iconFile(1, {{{64, 48}, iconBitmap(magick("-colors 16 -type Palette", "bmp3:-"))}})
        << exact << magick({}, "png:-");
    const QByteArray png = magick({}, "png24:-", {}, busy);
    // 32-bit colours whose alpha is all 0, as older icons hold them: the mask alone tells what
    // is transparent.
    QByteArray noAlpha("BM", 2);
    noAlpha += QByteArray(52, '\0');
    putLe16(noAlpha, 14, 40);
    putLe16(noAlpha, 18, 64);
    putLe16(noAlpha, 22, 48);
    putLe16(noAlpha, 26, 1);
    putLe16(noAlpha, 28, 32);
    for (int y = 0; y < 48; ++y) // bottom row first: blue, then red
        noAlpha += QByteArray(y < 24 ? "\xFF\0\0\0" : "\0\0\xFF\0", 4).repeated(64);
    QTest::newRow("ICO, 32 bits without alpha, AND mask")
        << iconFile(1, {{{64, 48}, iconBitmap(noAlpha, true)}}) << exact
        << magick({}, "png32:-", {}, "-size 64x48 xc:none -fill blue -draw 'rectangle 0,24 63,47'");
    QTest::newRow("ICO holding a PNG")
        << iconFile(1, {{{16, 16}, iconBitmap(small)}, {{0, 0}, png}}) << exact << png;
    QTest::newRow("CUR") << iconFile(
                                2, {{{32, 32}, iconBitmap(middle)}, {{64, 48}, iconBitmap(large)}})
                         << exact << large;
    QTest::newRow("DIB") << large.mid(14) << exact << large;
    // The newer formats against their own libraries' whole decodes. libwebp scales the YUV
    // planes before it converts them, where the reference converts first; libheif turns HEIF's
    // chroma to RGB as we do (each chroma sample for its pixels), so what differs is rounding.
    const QByteArray busyPhoto = magick({}, "png24:-", {}, busy);
    const QByteArray alpha =
        magick("-alpha set -channel A -fx 'i/w' +channel", "png32:-", {}, busy);
    const auto row = [](const char* tag, const QByteArray& content, double tolerance,
                        const QByteArray& reference) {
        QVERIFY2(!content.isEmpty() && !reference.isEmpty(), tag);
        QTest::newRow(tag) << content << tolerance << reference;
    };
    for (const auto& [tag, options] :
         {std::pair{"WebP", ""}, std::pair{"lossless WebP", "-lossless"}}) {
        const QByteArray webp = test::cwebp(busyPhoto, options);
        row(tag, webp, 2.0, test::dwebp(webp));
        const QByteArray webpAlpha = test::cwebp(alpha, options);
        row(qPrintable(QString(tag) + " with alpha"), webpAlpha, 2.0, test::dwebp(webpAlpha));
    }
    row("animated WebP, its first frame as it was",
        test::img2webp(busyPhoto, magick({}, "png24:-", {}, "-size 700x500 xc:green")), 2.0,
        busyPhoto);
    const QByteArray heic = test::heifEnc(busyPhoto);
    row("HEIC", heic, 1.0, test::heifConvert(heic));
    const QByteArray heicAlpha = test::heifEnc(alpha);
    row("HEIC with alpha", heicAlpha, 1.0, test::heifConvert(heicAlpha));
    const QByteArray turned = test::heifWith(heic, {test::heif::irot(3), test::heif::imir(0)});
    row("HEIC, turned and mirrored", turned, 1.0, test::heifConvert(turned));
    const QByteArray cropped =
        test::heifWith(heic, {test::heif::clap(500, 300, -40, 20), test::heif::irot(1)});
    row("HEIC, cropped by its clean aperture, then turned", cropped, 1.0,
        test::heifConvert(cropped));
    for (const auto& [tag, options] :
         {std::pair{"AVIF", ""}, std::pair{"AVIF, 4:2:0", "-y 420"},
          std::pair{"AVIF, 10 bits", "-d 10"}, std::pair{"AVIF, grid of 2 x 2", "-g 2x2"},
          std::pair{"AVIF, turned", "--irot 1 --imir 1"}}) {
        const QByteArray avif = test::avifenc(busyPhoto, options);
        row(tag, avif, 1.0, test::heifConvert(avif));
    }
    const QByteArray avifAlpha = test::avifenc(alpha);
    row("AVIF with alpha", avifAlpha, 1.0, test::heifConvert(avifAlpha));
    for (const auto& [tag, options] :
         {std::pair{"JPEG XL", ""}, std::pair{"lossless JPEG XL", "-d 0"},
          std::pair{"progressive JPEG XL", "-p"}}) {
        const QByteArray jxl = test::cjxl(busyPhoto, options);
        row(tag, jxl, exact, test::djxl(jxl));
    }
    const QByteArray jxlAlpha = test::cjxl(alpha);
    row("JPEG XL with alpha", jxlAlpha, exact, test::djxl(jxlAlpha));
    for (int orientation : {3, 5, 6, 8}) {
        const QByteArray jxl =
            test::cjxl(magick({}, "jpeg:-",
                              QString("exiftool -Orientation#=%1 -o - -").arg(orientation), shapes),
                       {}, "in.jpg");
        row(qPrintable(QString("JPEG XL, orientation %1").arg(orientation)), jxl, exact,
            test::djxl(jxl));
    }
}

// Pictures that our own decoders read come out as the reference's whole-picture decode (Qt's, or
// the format's own library's), shrunk the same way.
void BadInputTest::ownDecodersShowWhatQtShows() {
    QFETCH(QByteArray, content);
    QFETCH(double, tolerance);
    QFETCH(QByteArray, reference);
    test::Game g;
    g.writeFile("set1.png", content);
    QVERIFY2(g.start(), g.errors.empty() ? "" : g.errors[0].detail().c_str());
    const QImage shown =
        g.f2().Image1.Picture().image()->convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QBuffer buffer(reference.isEmpty() ? &content : &reference);
    QImageReader reader(&buffer);
    reader.setAutoTransform(true); // upright, as EXIF says
    const QImage whole = reader.read().convertToFormat(QImage::Format_ARGB32);
    QVERIFY(!whole.isNull());
    rt::pictures::Budget budget(std::size_t(1) << 30);
    rt::pictures::AreaScaler scaler(budget, whole.size(), shown.size());
    for (int y = 0; y < whole.height(); ++y)
        QVERIFY(
            scaler.addRow(y, reinterpret_cast<const QRgb*>(whole.constScanLine(y)), whole.width()));
    const QImage expected = scaler.take().convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QCOMPARE(expected.size(), shown.size());
    double sum = 0;
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width() * 4; ++x)
            sum += std::abs(shown.constScanLine(y)[x] - expected.constScanLine(y)[x]);
    const double mean = sum / (shown.width() * shown.height() * 4.0);
    QVERIFY2(mean <= tolerance, qPrintable(QString("mean difference %1").arg(mean)));
}

void BadInputTest::largePicturesCostLittleMemory_data() {
    QTest::addColumn<QByteArray>("content");
    const QString large = "-size 5000x5000 xc:red -fill blue -draw 'rectangle 0,2500 4999,4999'";
    QTest::newRow("PNG of 5000 x 5000") << magick({}, "png24:-", {}, large);
    QTest::newRow("16-bit interlaced PNG of 5000 x 5000")
        << magick("-depth 16 -interlace PNG", "png48:-", {}, large);
    QTest::newRow("JPEG of 5000 x 5000") << magick("-quality 30", "jpeg:-", {}, large);
    QTest::newRow("GIF of 5000 x 5000") << magick({}, "gif:-", {}, large);
    QTest::newRow("GIF claiming 10000 x 10000") << claiming("GIF", 10000, 10000);
    QTest::newRow("progressive JPEG of 5000 x 5000")
        << magick("-quality 30 -interlace JPEG", "jpeg:-", {}, large);
    QTest::newRow("progressive JPEG of 3840 x 2160, 4:4:4")
        << magick("-quality 60 -sampling-factor 1x1 -interlace JPEG", "jpeg:-", {},
                  "-seed 5 -size 480x270 plasma: -resize 3840x2160!");
    QTest::newRow("1-bit BMP of 2800 x 2800")
        << magick("-monochrome", "bmp3:-", {}, "-size 2800x2800 pattern:checkerboard");
    QTest::newRow("TIFF of 5000 x 5000, LZW") << magick("-compress LZW", "tiff:-", {}, large);
    QTest::newRow("TIFF of 5000 x 5000, tiled, Deflate")
        << magick("-compress Zip -define tiff:tile-geometry=256x256", "tiff:-", {}, large);
    QTest::newRow("1-bit TIFF of 5000 x 5000, fax group 4") << magick(
        "-compress Group4", "tiff:-", {}, "-size 5000x5000 pattern:checkerboard -monochrome");
    QString rects;
    for (int i = 0; i < 3900; ++i)
        rects += QString("<rect x=\"%1\" y=\"%2\" width=\"3\" height=\"3\" fill=\"#%3\"/>")
                     .arg(i % 100)
                     .arg(i / 100)
                     .arg(i * 97 % 0xFFFFFF, 6, 16, QChar('0'));
    QTest::newRow("SVG of 3900 rectangles") << svg({}, rects);
    QTest::newRow("SVG with a filter over a huge region")
        << svg("width=\"100000\" height=\"100000\"",
               "<filter id=\"f\" x=\"-100\" y=\"-100\" width=\"200\" height=\"200\">"
               "<feGaussianBlur stdDeviation=\"5000\"/><feMorphology radius=\"3000\"/></filter>"
               "<rect width=\"100000\" height=\"100000\" fill=\"red\" filter=\"url(#f)\"/>");
    QTest::newRow("BMP with RLE8 of 5000 x 5000")
        << magick("-type Palette -compress RLE", "bmp3:-", {}, large);
    QTest::newRow("JPEG with FF 00 before a progressive frame of 14000 x 14000")
        << hostile::strayBytesBeforeFrame(14000);
    // Data for no block but a restart marker due after each: once 5 s of looking for markers.
    QTest::newRow("progressive JPEG of 30000 x 6666 restarting after every block")
        << hostile::restartEveryBlock(30000, 6666);
    // Once held whole by libjpeg: now from its blocks' means, as any large progressive picture.
    QTest::newRow("progressive CMYK JPEG of 6500 x 6500") << hostile::progressiveCmyk(6500);
    // libjpeg once copied every APP1 segment: 900 KB of them are passed over, not held.
    QTest::newRow("JPEG after 14 APP1 segments of 64 KB")
        << hostile::withApp1(magick({}, "jpeg:-"), 14);
    // The newer formats where the library decodes at the shown size or a tile at a time.
    QTest::newRow("WebP of 5000 x 5000") << test::cwebp(magick({}, "png24:-", {}, large));
    const QByteArray tile = magick({}, "png24:-", {}, "-size 512x512 xc:teal");
    QTest::newRow("HEIC of 5120 x 5120 in 512-pixel tiles")
        << test::heifGrid({test::heifEnc(tile)}, 10, 10, 5120, 5120);
    QTest::newRow("AVIF of 5120 x 5120 in 512-pixel tiles")
        << test::heifGrid({test::avifenc(tile)}, 10, 10, 5120, 5120);
    QByteArray wideAnimation =
        test::img2webp(magick({}, "png24:-"), magick({}, "png24:-", {}, "-size 64x48 xc:green"));
    const qsizetype vp8x = test::webpChunk(wideAnimation, "VP8X");
    test::putLe24(wideAnimation, vp8x + 12, 15999);
    test::putLe24(wideAnimation, vp8x + 15, 11999);
    QTest::newRow("animated WebP of 16000 x 12000, its first frame small") << wideAnimation;
}

// A small file of many pixels is shown at the size of the image control without ever being
// held at its own size: the game runs within 20 MB of one with small pictures.
void BadInputTest::largePicturesCostLittleMemory() {
    QFETCH(QByteArray, content);
    QVERIFY(content.size() > 0 && content.size() < 1024 * 1024);
    test::Game g;
    g.writeFile("set1.png", content);
    const Run run = runProgram(g.path("."), false, 30, true);
    QVERIFY2(run.signal == SIGKILL, qPrintable("the game ended: " + run.stderrText));
#if defined(__SANITIZE_ADDRESS__)
    // AddressSanitizer pads and holds back the C libraries' many small blocks (librsvg's tree,
    // libtiff's strips): their memory is measured in the plain build.
    QSKIP("shown; the peak is measured without the sanitizers");
#endif
    QVERIFY2(
        run.peakKB < normalPeakKB() + 20 * 1024,
        qPrintable(QString("peak %1 kB, a normal game %2 kB").arg(run.peakKB).arg(normalPeakKB())));
}

void BadInputTest::wholePicturesStayWithinTheirBounds_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("boundMB"); // above a game with small pictures
    // Pictures that their library decodes whole, at their own size: what each holds is charged
    // before decoding, as measured (Codecs, Webp, Jxl). 2400 x 1800 is 4.3 million pixels.
    const QByteArray photo =
        magick({}, "png24:-", {}, "-seed 2 -size 240x180 plasma: -resize 2400x1800!");
    // libde265: its planes twice (6.5 MB each), 3 bytes a pixel and 8 MB for each of its
    // threads (one a core, up to four); dav1d: its 4:4:4 planes and 4 bytes a pixel; libwebp:
    // 4 bytes a pixel of a lossless picture; libjxl: 3 bytes a pixel of output and 3 of its
    // own. Each with 10 MB for the file, the scaler and the heap.
    const int threads = std::clamp(QThread::idealThreadCount(), 1, 4);
    QTest::newRow("HEIC of 2400 x 1800, not tiled")
        << test::heifEnc(photo) << 10 + 13 + 13 + 4 + 8 * threads;
    QTest::newRow("AVIF of 2400 x 1800, not tiled") << test::avifenc(photo) << 10 + 13 + 17 + 6;
    QTest::newRow("lossless WebP of 2400 x 1800") << test::cwebp(photo, "-lossless") << 10 + 17 + 2;
    QTest::newRow("JPEG XL of 2400 x 1800") << test::cjxl(photo) << 10 + 26 + 8;
}

// A picture that its library holds whole takes no more than what is charged for it, which the
// budget bounds: any file within 200 MB.
void BadInputTest::wholePicturesStayWithinTheirBounds() {
    QFETCH(QByteArray, content);
    QFETCH(int, boundMB);
    QVERIFY(!content.isEmpty());
    test::Game g;
    g.writeFile("set1.png", content);
    const Run run = runProgram(g.path("."), false, 30, true);
    QVERIFY2(run.signal == SIGKILL, qPrintable("the game ended: " + run.stderrText));
    QVERIFY2(run.peakKB < normalPeakKB() + boundMB * 1024 && run.peakKB < 200 * 1024,
             qPrintable(QString("peak %1 kB, a normal game %2 kB, bound %3 MB above it")
                            .arg(run.peakKB)
                            .arg(normalPeakKB())
                            .arg(boundMB)));
}

void BadInputTest::heifTransformsStandUpright_data() {
    QTest::addColumn<QByteArray>("content");
    // Upright, the picture has four quarters: red, green above; blue, yellow below. Each row
    // stores it turned and mirrored the other way, and undoes that with irot and imir (and clap)
    // as a phone or avifenc writes them.
    QImage upright(128, 96, QImage::Format_RGB32);
    upright.fill(Qt::red);
    for (int y = 0; y < 96; ++y)
        for (int x = 0; x < 128; ++x)
            upright.setPixel(x, y,
                             y < 48 ? (x < 64 ? qRgb(255, 0, 0) : qRgb(0, 255, 0))
                                    : (x < 64 ? qRgb(0, 0, 255) : qRgb(255, 255, 0)));
    const auto png = [](const QImage& image) {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        return buffer.data();
    };
    for (int turns = 0; turns < 4; ++turns) {
        for (const bool mirror : {false, true}) {
            // Shown: imir(irot(stored)); so stored: irot undone (clockwise) after imir undone.
            const QImage stored = (mirror ? upright.mirrored(true, false) : upright)
                                      .transformed(QTransform().rotate(90 * turns));
            QList<QByteArray> transforms = {test::heif::irot(turns)};
            if (mirror)
                transforms.append(test::heif::imir(1));
            const QString tag =
                QString("%1 quarter turns%2").arg(turns).arg(mirror ? ", mirrored" : "");
            QTest::newRow(qPrintable("HEIC, " + tag))
                << test::heifWith(test::heifEnc(png(stored)), transforms);
            QTest::newRow(qPrintable("AVIF, " + tag)) << test::avifenc(
                png(stored), QString("--irot %1%2").arg(turns).arg(mirror ? " --imir 1" : ""));
        }
    }
    // Mirrored top to bottom: imir 0.
    QTest::newRow("HEIC, mirrored top to bottom")
        << test::heifWith(test::heifEnc(png(upright.mirrored(false, true))), {test::heif::imir(0)});
    // A frame of magenta around it, cut away by the clean aperture, then turned: the aperture's
    // centre lies (-24, 8) from the picture's, so it keeps the 96 x 128 at (24, 40).
    const QImage turned = upright.transformed(QTransform().rotate(90)); // 96 x 128
    QImage framed(192, 192, QImage::Format_RGB32);
    framed.fill(Qt::magenta);
    QPainter(&framed).drawImage(24, 40, turned);
    QTest::newRow("HEIC, clean aperture then turned") << test::heifWith(
        test::heifEnc(png(framed)), {test::heif::clap(96, 128, -24, 8), test::heif::irot(1)});
    // A grid of 2 x 2 tiles of 64 x 64, cut to 96 x 128 and turned as a whole.
    QList<QByteArray> quarters;
    for (int t = 0; t < 4; ++t)
        quarters.append(test::heifEnc(png(turned.copy(t % 2 * 64, t / 2 * 64, 64, 64))));
    QTest::newRow("HEIC, grid of 2 x 2 tiles, turned")
        << test::heifGrid(quarters, 2, 2, 96, 128, {test::heif::irot(1)});
}

// Each quarter of the shown picture has its colour: the picture stands upright, unmirrored.
void BadInputTest::heifTransformsStandUpright() {
    QFETCH(QByteArray, content);
    QVERIFY(!content.isEmpty());
    test::Game g;
    g.writeFile("set1.png", content);
    QVERIFY2(g.start(), g.errors.empty() ? "" : g.errors[0].detail().c_str());
    const QImage* image = g.f2().Image1.Picture().image();
    QVERIFY(image && !image->isNull());
    const int w = image->width(), h = image->height();
    const QColor seen[4] = {image->pixelColor(w / 4, h / 4), image->pixelColor(3 * w / 4, h / 4),
                            image->pixelColor(w / 4, 3 * h / 4),
                            image->pixelColor(3 * w / 4, 3 * h / 4)};
    const QColor want[4] = {Qt::red, QColor(0, 255, 0), Qt::blue, Qt::yellow};
    for (int q = 0; q < 4; ++q)
        QVERIFY2(near(seen[q], want[q]),
                 qPrintable(QString("quarter %1 is %2").arg(q).arg(seen[q].name())));
}

void BadInputTest::oddButValidListFilesStart_data() {
    QTest::addColumn<QByteArray>("listFile");
    QTest::addColumn<QByteArray>("pictureName");
    QTest::newRow("lone CR line ends")
        << QByteArray("set1.png\rset2.png\rset3.bmp") << QByteArray("set1.png");
    // Paths go to the file system byte for byte, UTF-8 or not.
    QTest::newRow("not UTF-8") << QByteArray("\xFF\xFE\x81.png\nset2.png\nset3.bmp\n")
                               << QByteArray("\xFF\xFE\x81.png");
    QTest::newRow("Latin-1 name") << QByteArray("caf\xE9.png\r\nset2.png\r\nset3.bmp\r\n")
                                  << QByteArray("caf\xE9.png");
}

void BadInputTest::oddButValidListFilesStart() {
    QFETCH(QByteArray, listFile);
    QFETCH(QByteArray, pictureName);
    test::Game g;
    const QByteArray from = QFile::encodeName(g.path("set1.png"));
    const QByteArray to = QFile::encodeName(g.path(".")) + '/' + pictureName;
    QVERIFY(from == to || ::rename(from.constData(), to.constData()) == 0);
    g.writeListFile(listFile);
    const bool started = g.start();
    ::unlink(to.constData()); // QTemporaryDir cannot remove a name that is not UTF-8
    QVERIFY(started);
    QVERIFY(g.errors.empty());
    QCOMPARE(g.shownSet(), 0);
}

// A large photo is decoded straight at the size of the image control, not at its own.
void BadInputTest::hugePictureIsDecodedAtTheShownSize() {
    test::Game g;
    QImage photo(6000, 4000, QImage::Format_RGB32);
    photo.fill(test::SetColors[0]);
    QVERIFY(photo.save(g.path("photo.jpg"), "JPEG"));
    photo = QImage();
    g.writeListFile("photo.jpg\r\nset2.png\r\nset3.bmp\r\n");
    QVERIFY(g.start());
    QVERIFY(g.f2().form.window()->isVisible());
    const QImage* image = g.f2().Image1.Picture().image();
    QVERIFY(image);
    QCOMPARE(image->size(), shownSize(g));
}

// A picture changed in place through a shared mapping, its times set back as they were: the next
// game shows the new bytes, since the file is read afresh at every game. A BMP keeps its top rows
// last: in the large one the change lies past the first megabyte, which the check reads ahead.
void BadInputTest::againShowsChangedBytesWhateverTheTimes() {
    for (const QSize size : {QSize(40, 30), QSize(1000, 600)}) {
        test::Game g;
        QImage picture(size, QImage::Format_RGB32);
        picture.fill(Qt::red);
        QVERIFY(picture.save(g.path("set1.png"), "BMP"));
        QVERIFY(g.start());
        QCOMPARE(g.f2().Image1.Picture().image()->pixel(5, 5), qRgb(255, 0, 0));
        g.again(); // the unchanged file is known by its bytes
        QCOMPARE(g.f2().Image1.Picture().image()->pixel(5, 5), qRgb(255, 0, 0));

        const QByteArray path = QFile::encodeName(g.path("set1.png"));
        struct stat before {};
        QVERIFY(::stat(path.constData(), &before) == 0);
        QBuffer changed;
        changed.open(QIODevice::WriteOnly);
        QPainter(&picture).fillRect(0, 0, size.width(), 100, Qt::blue);
        QVERIFY(picture.save(&changed, "BMP"));
        QCOMPARE(changed.data().size(), qint64(before.st_size));
        const int fd = ::open(path.constData(), O_RDWR);
        QVERIFY(fd >= 0);
        void* mapped = ::mmap(nullptr, std::size_t(before.st_size), PROT_WRITE, MAP_SHARED, fd, 0);
        QVERIFY(mapped != MAP_FAILED);
        std::memcpy(mapped, changed.data().constData(), std::size_t(before.st_size));
        ::munmap(mapped, std::size_t(before.st_size));
        const struct timespec times[2] = {before.st_atim, before.st_mtim};
        QVERIFY(::futimens(fd, times) == 0);
        ::close(fd);
        g.again();
        QCOMPARE(g.f2().Image1.Picture().image()->pixel(5, 5), qRgb(0, 0, 255));
    }
}

// Found by fuzzing: Qt draws a GIF's frame onto its screen, which may be larger than the size
// the reader reports from the header, so the picture came out taller than shown.
void BadInputTest::gifScreenTallerThanItsFrameIsShownSize() {
    test::Game g;
    QByteArray gif = gifBytes({5, 4});
    putLe16(gif, 6, 0);
    putLe16(gif, 8, 13056);
    g.writeFile("set1.png", gif);
    QVERIFY(g.start());
    const QImage* image = g.f2().Image1.Picture().image();
    QVERIFY(image);
    const QSize shown = shownSize(g);
    QVERIFY2(image->width() <= shown.width() && image->height() <= shown.height(),
             qPrintable(QString("%1 x %2").arg(image->width()).arg(image->height())));
}

// A picture in a shared folder may change while the game reads it. Found with AddressSanitizer:
// the decoders sized their buffers from one reading of the file and wrote by another. Now every
// load reads each byte once, whatever is written to the file meanwhile.
void BadInputTest::pictureRewrittenWhileLoadingIsAPictureOrAReport() {
    QTemporaryDir shared;
    const QByteArray path = QFile::encodeName(shared.filePath("picture"));
    const QByteArray gif = pictureBytes("GIF");
    QByteArray wideGif = gif; // the same data under a screen and frame of other sides
    putLe16(wideGif, 6, 2000);
    putLe16(wideGif, 13 + 384 + 5, 2000);
    const QList<QByteArray> versions = {gif,
                                        wideGif,
                                        pictureBytes("PNG"),
                                        cutTo(gif, 0.5),
                                        pictureBytes("JPEG"),
                                        pictureBytes("BMP")};
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT, 0644);
    QVERIFY(fd >= 0);
    std::atomic<bool> stop = false;
    std::thread writer([&] { // in place: the same file, rewritten and cut
        for (int i = 0; !stop; ++i) {
            const QByteArray& v = versions[i % versions.size()];
            if (::pwrite(fd, v.constData(), std::size_t(v.size()), 0) < 0 ||
                ::ftruncate(fd, v.size()) != 0)
                break;
        }
    });
    int pictures = 0, reports = 0;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (std::chrono::steady_clock::now() < until) {
        test::Game g;
        g.writeListFile(path + "\r\n" + path + "\r\n" + path + "\r\n");
        for (bool first = true; !g.endStatus && std::chrono::steady_clock::now() < until;
             first = false) {
            if (first)
                g.start();
            else
                g.again();
            if (!g.errors.empty())
                break;
            const QImage* image = g.f2().Image1.Picture().image();
            QVERIFY(image && !image->isNull());
            QVERIFY(image->width() <= shownSize(g).width());
            ++pictures;
        }
        if (g.errors.empty())
            continue;
        ++reports;
        QCOMPARE(g.errors.size(), std::size_t(1));
        QCOMPARE(g.errors[0].kind(), rt::ErrorKind::InvalidPicture);
        QVERIFY(g.errors[0].detail().rfind("picture \"" + path.toStdString() + "\": ", 0) == 0);
    }
    stop = true;
    writer.join();
    ::close(fd);
    qInfo("%d pictures, %d reports", pictures, reports);
    QVERIFY(pictures + reports > 10);
}

QTEST_MAIN(BadInputTest)
#include "tst_badinput.moc"
