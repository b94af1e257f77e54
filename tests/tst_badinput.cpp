// Bad input at start-up and at "Again": a list file or picture that cannot be used ends the
// program with a report that names the file and the cause, quickly and in bounded memory.
#include "TestSupport.h"

#include "runtime/FileInput.h"
#include "runtime/Picture.h"

#include <QBuffer>
#include <QImageWriter>
#include <QTemporaryFile>

#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

extern char** environ;

namespace {

// What stands at the path of the file under test. LongLine is 100 MB of one line, written
// in pieces so that the test itself stays small (see runProgram).
enum class Bad { Content, Missing, Directory, Fifo, DevZero, Unreadable, LongLine };

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

// Qt writes no GIF, so this writes one: 128 colours, 8-bit codes with a clear code before
// every 100 pixels, so that the code size never grows and each code is one byte.
QByteArray gifBytes(QSize size) {
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
    g.append('\0').append(char(7)); // no local table; minimum code size 7
    QByteArray codes;
    const int pixels = size.width() * size.height();
    for (int i = 0; i < pixels; ++i) {
        if (i % 100 == 0)
            codes.append(char(128));
        codes.append(char((i % size.width() * 3 + i / size.width() * 5) % 128));
    }
    codes.append(char(129));
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
}

void addPictureRows() {
    const auto row = [](const char* tag, Bad kind, const QByteArray& content, const char* cause) {
        QTest::newRow(tag) << kind << content << "set1.png"
                           << "picture \"set1.png\"" << cause;
    };
    row("no such file", Bad::Missing, {}, "no such file");
    row("a directory", Bad::Directory, {}, "is a directory");
    row("a FIFO", Bad::Fifo, {}, "is a FIFO");
    row("/dev/zero", Bad::DevZero, {}, "is a device");
    row("zero bytes", Bad::Content, {}, "the file is empty");
    row("text", Bad::Content, "set1.png\r\n", "is not a PNG, JPEG, GIF or BMP picture");
    row("PPM, not one of the four", Bad::Content, pictureBytes("PPM"),
        "is not a PNG, JPEG, GIF or BMP picture");
    row("unreadable", Bad::Unreadable, pictureBytes("PNG"), "permission denied");
    const QByteArray png = pictureBytes("PNG");
    const QByteArray jpeg = pictureBytes("JPEG");
    const QByteArray gif = pictureBytes("GIF");
    const QByteArray bmp = pictureBytes("BMP");
    row("PNG cut in the middle", Bad::Content, cutTo(png, 0.6), "is cut short");
    row("PNG without IEND", Bad::Content, png.chopped(12), "is cut short");
    row("JPEG cut in the middle", Bad::Content, cutTo(jpeg, 0.6), "is cut short");
    row("JPEG without EOI", Bad::Content, jpeg.chopped(2), "is cut short");
    row("GIF cut in the middle", Bad::Content, cutTo(gif, 0.6), "is cut short");
    row("GIF without trailer", Bad::Content, gif.chopped(1), "is cut short");
    row("BMP cut in the middle", Bad::Content, cutTo(bmp, 0.6), "is cut short");
    row("BMP short of one byte", Bad::Content, bmp.chopped(1), "is cut short");
    for (const char* format : {"PNG", "JPEG", "GIF"}) {
        const QByteArray tag = QByteArray(format) + " claiming 60000 x 60000";
        row(tag.constData(), Bad::Content, claiming(format, 60000, 60000),
            "is too large (60000 x 60000 pixels)");
    }
    // Qt's own BMP reader refuses such sides before us. Within the sides, a PNG is decoded at
    // full size and would pass the allocation limit; a JPEG passes the pixel limit.
    row("PNG claiming 12000 x 12000", Bad::Content, claiming("PNG", 12000, 12000),
        "is too large (12000 x 12000 pixels)");
    row("JPEG claiming 20000 x 20000", Bad::Content, claiming("JPEG", 20000, 20000),
        "is too large (20000 x 20000 pixels)");
}

void addListRows() {
    const auto row = [](const char* tag, Bad kind, const QByteArray& content, const char* named,
                        const char* cause) {
        QTest::newRow(tag) << kind << content << "qorfile.txt" << named << cause;
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
    row("list: 100 MB first line", Bad::LongLine, {}, list, "line 1 is too long");
    row("list: path of 4096 bytes", Bad::Content, QByteArray(4096, 'a') + "\nset2.png\nset3.bmp\n",
        "picture \"aaaa", "the path is too long (4096 bytes, at most 4095)");
    row("list: NUL in a path", Bad::Content, QByteArray("set1.png\0.txt\nset2.png\nset3.bmp\n", 32),
        "picture \"set1.png\\x00.txt\"", "the path holds a NUL byte");
}

// One run of the real executable.
struct Run {
    bool exited = false;
    int status = -1;
    int signal = 0;
    double seconds = 0;
    long peakKB = 0;
    QString stderrText;
};

// Runs the program in dir on the offscreen platform, as Nobody when asked to; fork and
// wait4 rather than QProcess, for the child's peak memory. A child's peak counts the pages it
// was forked with too, so it is an upper bound as long as the test process is small (about
// 30 MB). Killed after a minute.
Run runProgram(const QString& dir, bool asNobody) {
    QTemporaryFile err;
    if (!err.open())
        qFatal("no temporary file");
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "QT_QPA_PLATFORM=", 16) != 0)
            env.emplace_back(*e);
    env.emplace_back("QT_QPA_PLATFORM=offscreen");
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    const QByteArray cwd = QFile::encodeName(dir);
    char exe[] = KELVORADX_EXECUTABLE;
    char* argv[] = {exe, nullptr};
    const int errFd = err.handle();

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
    Run run;
    if (pid < 0)
        return run;
    int status = 0;
    rusage usage{};
    for (;;) {
        const pid_t done = ::wait4(pid, &status, WNOHANG, &usage);
        if (done == pid)
            break;
        if (std::chrono::steady_clock::now() - start > std::chrono::seconds(60)) {
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
    run.peakKB = usage.ru_maxrss;
    err.seek(0);
    run.stderrText = QString::fromUtf8(err.readAll());
    return run;
}

} // namespace

Q_DECLARE_METATYPE(Bad)

class BadInputTest : public QObject {
    Q_OBJECT

private slots:
    void exitsQuicklyWithAReport_data();
    void exitsQuicklyWithAReport();
    void badPictureEndsTheProgram_data();
    void badPictureEndsTheProgram();
    void completePicturesLoad_data();
    void completePicturesLoad();
    void oddButValidListFilesStart_data();
    void oddButValidListFilesStart();
    void hugePictureIsDecodedAtTheShownSize();
    void gifScreenTallerThanItsFrameIsShownSize();
};

void BadInputTest::exitsQuicklyWithAReport_data() {
    addColumns();
    addListRows();
    addPictureRows();
}

// The real executable, started in a folder that fails it: a report on stderr naming the file
// and the cause, exit status 1, no signal, no hang, and little memory whatever the file claims.
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
    QVERIFY2(run.peakKB < 200 * 1024, qPrintable(QString("peak %1 kB").arg(run.peakKB)));
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

void BadInputTest::completePicturesLoad_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("PNG") << pictureBytes("PNG");
    QTest::newRow("PNG with bytes after IEND") << pictureBytes("PNG") + "trailing";
    QTest::newRow("JPEG") << pictureBytes("JPEG");
    QTest::newRow("progressive JPEG") << pictureBytes("JPEG", {320, 240}, true);
    QTest::newRow("JPEG with a video after EOI") << pictureBytes("JPEG") + QByteArray(5000, 'v');
    QTest::newRow("GIF") << pictureBytes("GIF");
    QTest::newRow("BMP") << pictureBytes("BMP");
    const QDir demo(KELVORADX_DEMO_DIR);
    for (const QString& name : demo.entryList({"*.png", "*.jpg", "*.bmp", "*.gif"})) {
        QFile f(demo.filePath(name));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QTest::newRow(qPrintable("demo " + name)) << f.readAll();
    }
}

// The checks for a cut-short file accept every whole one, with or without bytes after its end.
void BadInputTest::completePicturesLoad() {
    QFETCH(QByteArray, content);
    test::Game g;
    g.writeFile("picture", content);
    const rt::Picture picture = rt::LoadPicture("picture");
    QVERIFY(!picture.isEmpty());
    QVERIFY(!picture.image()->isNull());
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

// The size of Image1 in device pixels: no picture is kept larger than that.
static QSize shownSize(test::Game& g) {
    const QWidget* shown = g.f2().Image1.widget();
    const qreal ratio = shown->devicePixelRatioF();
    return {qCeil(shown->width() * ratio), qCeil(shown->height() * ratio)};
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

QTEST_MAIN(BadInputTest)
#include "tst_badinput.moc"
