// Twice the pixel density: both windows keep their size in twips, each logical pixel becomes
// two by two device pixels, the picture is decoded for the device pixels and the icon is
// doubled without smoothing. The real executable is shot at both densities; the screenshots
// are kept in the build tree for a person to look at.
#include "TestSupport.h"

#include <QApplication>
#include <QGuiApplication>
#include <QIcon>
#include <QPixmap>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>

#include <algorithm>
#include <map>

using test::Game;

namespace {

const QColor LightCyan(128, 255, 255);
const QColor Black(0, 0, 0);

// Top-level windows of the program on the X server, by title, in device pixels. Without a
// window manager there are no frames: a window is its menu bar above its client area.
std::map<QString, QRect> programWindows() {
    QProcess xwininfo;
    xwininfo.start(QStringLiteral("xwininfo"), {"-root", "-children"});
    if (!xwininfo.waitForFinished(10000))
        return {};
    static const QRegularExpression line(QStringLiteral(
        "\"([^\"]*)\": \\(\"kelvoradx\" \"KelvoraDX\"\\)\\s+(\\d+)x(\\d+)\\+(-?\\d+)\\+(-?\\d+)"));
    std::map<QString, QRect> windows;
    const QString out = QString::fromUtf8(xwininfo.readAllStandardOutput());
    for (const QRegularExpressionMatch& m : line.globalMatch(out))
        windows[m.captured(1)] = QRect(m.captured(4).toInt(), m.captured(5).toInt(),
                                       m.captured(2).toInt(), m.captured(3).toInt());
    return windows;
}

// The length of the run of `color` through (x, y), along a row or a column.
int runThrough(const QImage& shot, QPoint at, QColor color, bool horizontal) {
    const QPoint step = horizontal ? QPoint(1, 0) : QPoint(0, 1);
    if (!shot.rect().contains(at) || shot.pixelColor(at) != color)
        return 0;
    int n = 1;
    for (QPoint p = at + step; shot.rect().contains(p) && shot.pixelColor(p) == color; p += step)
        ++n;
    for (QPoint p = at - step; shot.rect().contains(p) && shot.pixelColor(p) == color; p -= step)
        ++n;
    return n;
}

// The top-left corner of the first run of `color` at least `length` long, scanning rows.
std::optional<QPoint> firstRun(const QImage& shot, QColor color, int length) {
    for (int y = 0; y < shot.height(); ++y) {
        int run = 0;
        for (int x = 0; x < shot.width(); ++x) {
            run = shot.pixelColor(x, y) == color ? run + 1 : 0;
            if (run == length)
                return QPoint(x - length + 1, y);
        }
    }
    return std::nullopt;
}

struct Shot {
    QImage screen;
    std::map<QString, QRect> windows;
};

// Starts the real program at the given scale on the demo pictures and waits until both of its
// windows are painted.
Shot runProgram(int scale) {
    QProcess game;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_SCALE_FACTOR"), QString::number(scale));
    game.setProcessEnvironment(env);
    game.setWorkingDirectory(QStringLiteral(KELVORADX_DEMO_DIR));
    game.start(QStringLiteral(KELVORADX_EXECUTABLE), {});
    Shot shot;
    if (!game.waitForStarted())
        return shot;
    // Until both windows are up, the board's cyan strip and the picture's menu bar show and two
    // shots in a row agree, at most a generous while.
    QImage last;
    for (int tries = 0; tries < 200; ++tries) {
        QTest::qWait(100);
        shot.windows = programWindows();
        shot.screen = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
        const auto picture = shot.windows.find(QStringLiteral("Kelvora　このへんがＤＸ"));
        if (shot.windows.count(QStringLiteral("KelvoraDX")) && picture != shot.windows.end() &&
            shot.screen == last && firstRun(shot.screen, LightCyan, 150 * scale) &&
            shot.screen.pixelColor(picture->second.topLeft() + QPoint(1, 1)) != Black)
            break;
        last = shot.screen;
    }
    game.kill();
    game.waitForFinished();
    QDir().mkpath(QStringLiteral(KELVORADX_ARTIFACTS));
    shot.screen.save(QStringLiteral(KELVORADX_ARTIFACTS "/screen-scale%1.png").arg(scale));
    return shot;
}

} // namespace

class HiDpiTest : public QObject {
    Q_OBJECT

private slots:
    void layoutStaysInTwips();
    void pictureIsDecodedForTheDevicePixels();
    void iconIsDoubledBlockByBlock();
    void realProgramAtBothScales();
};

void HiDpiTest::layoutStaysInTwips() {
    Game g;
    g.rnd.bombsAt({1, 5, 6, 18, 24});
    QVERIFY(g.start());
    QCOMPARE(g.f1().form.window()->devicePixelRatio(), 2.0);
    QCOMPARE(g.f1().form.client()->size(), QSize(160, 257));
    QCOMPARE(g.square(24)->geometry(), QRect(128, 128, 33, 33));
    QCOMPARE(g.f2().form.client()->size(), QSize(288, 257));

    // A count, an empty square and a message, drawn at twice the density for a person to
    // check that digits and Japanese text come out sharp.
    g.click(0);
    g.click(4);
    g.click(2);
    const QImage board = g.f1().form.client()->grab().toImage();
    QCOMPARE(board.size(), QSize(320, 514));
    QCOMPARE(board.pixelColor(2 * 80, 2 * 165), LightCyan);
    QDir().mkpath(QStringLiteral(KELVORADX_ARTIFACTS));
    board.save(QStringLiteral(KELVORADX_ARTIFACTS "/board-scale2.png"));
}

void HiDpiTest::pictureIsDecodedForTheDevicePixels() {
    Game g;
    // Four times the shown size: decoded straight at twice it, one pixel per device pixel.
    QImage big(289 * 4, 257 * 4, QImage::Format_RGB32);
    big.fill(test::SetColors[0]);
    QVERIFY(big.save(g.path("set1.png"), "PNG"));
    QVERIFY(g.start());
    QCOMPARE(g.f2().Image1.Picture().image()->size(), QSize(578, 514));
}

void HiDpiTest::iconIsDoubledBlockByBlock() {
    Game g;
    QVERIFY(g.start());
    const QImage small(QStringLiteral(":/icons/kelvoradx.xpm"));
    QCOMPARE(small.size(), QSize(32, 32));
    for (QMainWindow* window : {g.f1().form.window(), g.f2().form.window()}) {
        const QImage icon = window->windowIcon().pixmap(QSize(32, 32)).toImage();
        QCOMPARE(icon.size(), QSize(64, 64));
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x)
                QCOMPARE(icon.pixelColor(x, y), small.pixelColor(x / 2, y / 2));
    }
}

void HiDpiTest::realProgramAtBothScales() {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        QSKIP("needs a real X server (run under xvfb-run)");
    const Shot one = runProgram(1);
    const Shot two = runProgram(2);
    const QString board = QStringLiteral("KelvoraDX");
    const QString picture = QStringLiteral("Kelvora　このへんがＤＸ");

    for (const QString& title : {board, picture}) {
        QVERIFY2(one.windows.count(title) && two.windows.count(title), qPrintable(title));
        QCOMPARE(two.windows.at(title).size(), one.windows.at(title).size() * 2);
    }
    QCOMPARE(one.windows.at(board).width(), 160);
    QCOMPARE(one.windows.at(picture).width(), 288);

    for (const Shot* shot : {&one, &two}) {
        const int s = shot == &one ? 1 : 2;
        const QImage& screen = shot->screen;
        const auto where = [s](QPoint p) {
            return QString("scale %1 at (%2, %3)").arg(s).arg(p.x()).arg(p.y()).toUtf8();
        };
        // The board's client area, 257 pixels high at scale 1, under its menu bar. The cyan
        // strip between the squares and the message line starts 161 pixels below its top and
        // spans its whole width.
        const QRect b = shot->windows.at(board);
        const QPoint b0(b.left(), b.bottom() + 1 - 257 * s);
        QCOMPARE(firstRun(screen, LightCyan, 160 * s), b0 + QPoint(0, 161 * s));
        QCOMPARE(runThrough(screen, b0 + QPoint(0, 161 * s), LightCyan, true), 160 * s);
        for (QPoint p : {QPoint(2, 162), QPoint(80, 165), QPoint(157, 167), QPoint(60, 212),
                         QPoint(150, 230), QPoint(100, 250)})
            QVERIFY2(screen.pixelColor(b0 + p * s) == LightCyan, where(p).constData());
        for (QPoint p : {QPoint(16, 16), QPoint(144, 144), QPoint(80, 190)})
            QVERIFY2(screen.pixelColor(b0 + p * s) != LightCyan, where(p).constData());

        // The picture: its menu bar, then 20 black covers filling the client area. The screen
        // around is black too, so the client area is found from the window, not the colour.
        const QRect c = shot->windows.at(picture);
        const QPoint c0(c.left(), c.bottom() + 1 - 257 * s);
        QVERIFY(screen.pixelColor(c0 - QPoint(0, 1)) != Black);
        QVERIFY(screen.pixelColor(c0 + QPoint(287 * s, -1)) != Black);
        for (int y = 0; y < 257 * s; ++y)
            for (int x = 0; x < 288 * s; ++x)
                if (screen.pixelColor(c0 + QPoint(x, y)) != Black)
                    QFAIL(where(QPoint(x, y)).constData());
    }
}

int main(int argc, char* argv[]) {
    // This process itself runs at twice the density, as on a high-density screen; the real
    // program is started at both.
    qputenv("QT_SCALE_FACTOR", "2");
    QApplication app(argc, argv);
    HiDpiTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_hidpi.moc"
