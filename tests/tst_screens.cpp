// The real executable on a real X server: both windows stand where they should and look as
// laid out. The screenshot is kept in the build tree for a person to look at.
#include "TestSupport.h"
#include "detail/QtSupport.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTextLayout>

class ScreensTest : public QObject {
    Q_OBJECT

private slots:
    void bothWindowsStandSideBySide();
    void japaneseMessagesRender();
    void realPointerPlaysAGame();
    void midGamePicture_data();
    void midGamePicture();
    void errorBoxThenPromptExit();
};

namespace {

// True when every character of the text, in the font the widget would use, has a real glyph
// (glyph 0 is the empty box a font shows for a character it lacks).
bool rendersEveryCharacter(const QString& text, const QFont& font) {
    QTextLayout layout(text, font);
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
    int glyphs = 0;
    for (const QGlyphRun& run : layout.glyphRuns()) {
        for (quint32 index : run.glyphIndexes()) {
            if (index == 0)
                return false;
            ++glyphs;
        }
    }
    return glyphs >= text.size();
}

int darkPixels(const QImage& image, QRect area) {
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += qGray(image.pixel(x, y)) < 100 ? 1 : 0;
    return n;
}

// Pixels of a control's picture that stand out from its back colour: the strokes of its text.
int readablePixels(const QImage& image, const QColor& back) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += rt::contrastRatio(image.pixelColor(x, y), back) >= 3.0 ? 1 : 0;
    return n;
}

// A dark colour scheme as desktops offer it: light text on dark grounds.
QPalette darkPalette() {
    QPalette p;
    const QColor ground(45, 45, 48), base(30, 30, 30), text(235, 235, 235);
    p.setColor(QPalette::Window, ground);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, ground);
    p.setColor(QPalette::ButtonText, text);
    return p;
}

// Real X11 pointer input from outside the program, as a person's mouse gives it.
void xdotool(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral("xdotool"), args);
    QVERIFY2(p.waitForFinished(5000), "xdotool did not finish");
    QCOMPARE(p.exitCode(), 0);
    QTest::qWait(150); // let the program take the events in
}

void pointerTo(QWidget* w, QPoint at) {
    const QPoint p = w->mapToGlobal(at);
    xdotool({"mousemove", "--sync", QString::number(p.x()), QString::number(p.y())});
}

} // namespace

void ScreensTest::bothWindowsStandSideBySide() {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        QSKIP("needs a real X server (run under xvfb-run)");
    QProcess game;
    game.setWorkingDirectory(QStringLiteral(KELVORADX_DEMO_DIR));
    game.start(QStringLiteral(KELVORADX_EXECUTABLE), {});
    QVERIFY(game.waitForStarted());
    QTest::qWait(2000);
    const QImage shot = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    game.kill();
    game.waitForFinished();
    QDir().mkpath(QStringLiteral(KELVORADX_ARTIFACTS));
    shot.save(QStringLiteral(KELVORADX_ARTIFACTS "/screen.png"));

    // The server's root window is white (-wr), so black can only come from the covers.
    const int centre = shot.width() / 2;
    int cyanLeft = 0, cyanRight = 0, blackRight = 0;
    for (int y = 0; y < shot.height(); ++y) {
        for (int x = 0; x < shot.width(); ++x) {
            const QColor c = shot.pixelColor(x, y);
            if (c == QColor(128, 255, 255))
                ++(x < centre ? cyanLeft : cyanRight);
            if (x > centre && c == QColor(0, 0, 0))
                ++blackRight;
        }
    }
    QVERIFY2(cyanLeft > 5000, qPrintable(QString::number(cyanLeft))); // the board, left
    QCOMPARE(cyanRight, 0);
    // Covers, right: the whole 288 x 257 client area of the picture window.
    QVERIFY2(qAbs(blackRight - 288 * 257) < 300, qPrintable(QString::number(blackRight)));
}

// The messages of a count, a loss and a win, in the board window as drawn on a real X server
// with the fonts the machine has. The grabs are kept for a person to look at.
void ScreensTest::japaneseMessagesRender() {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        QSKIP("needs a real X server (run under xvfb-run)");
    const std::vector<int> layout = {1, 5, 6, 18, 24};
    test::Game g;
    g.rnd.bombsAt(layout);
    QVERIFY(g.start());
    QVERIFY(QTest::qWaitForWindowExposed(g.f1().form.window()));
    QWidget* label = g.f1().Label1.widget();
    QDir().mkpath(QStringLiteral(KELVORADX_ARTIFACTS));

    auto check = [&](const char* name, const std::string& expected) {
        QCOMPARE(g.message(), expected);
        const QString text = QString::fromStdString(expected);
        QVERIFY2(rendersEveryCharacter(text, label->font()), qPrintable(text));
        const QImage shot = g.f1().form.window()->grab().toImage();
        shot.save(QStringLiteral(KELVORADX_ARTIFACTS "/") + name + ".png");
        const QRect area =
            QRect(label->mapTo(g.f1().form.window(), QPoint(0, 0)), label->size()) & shot.rect();
        QVERIFY2(darkPixels(shot, area) > 30, name);
    };
    g.click(0);
    check("board-count", "まわりに3個爆弾がある！気をつけろ！");
    g.openAllSafe(layout);
    for (int b : layout)
        g.flag(b);
    check("board-won", "やった！おめでとう！");
    g.rnd.bombsAt(layout);
    g.again();
    g.click(1);
    check("board-lost", "どかーん！");
    for (const char* caption : {"?", "¶", "*", "0123456789"})
        QVERIFY2(rendersEveryCharacter(caption, g.square(0)->font()), caption);
    QVERIFY(rendersEveryCharacter(QString::fromStdString(g.f2().form.Caption()),
                                  g.f2().form.window()->font()));
}

// The X server's own pointer: clicks open squares and a press-move-release carries the flag
// marker, without any synthesized Qt event.
void ScreensTest::realPointerPlaysAGame() {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        QSKIP("needs a real X server (run under xvfb-run)");
    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        QSKIP("xdotool is not installed");
    const std::vector<int> layout = {1, 5, 6, 18, 24};
    test::Game g;
    g.rnd.bombsAt(layout);
    QVERIFY(g.start());
    QVERIFY(QTest::qWaitForWindowExposed(g.f1().form.window()));
    QTest::qWait(200);

    pointerTo(g.square(0), g.square(0)->rect().center());
    xdotool({"click", "1"});
    QCOMPARE(g.caption(0), std::string("3"));

    QWidget* marker = g.f1().Label2.widget();
    pointerTo(marker, marker->rect().center());
    xdotool({"mousedown", "1"});
    pointerTo(g.square(12), QPoint(5, 5));
    pointerTo(g.square(18), QPoint(10, 12));
    xdotool({"mouseup", "1"});
    QCOMPARE(g.caption(18), std::string("¶"));
    QCOMPARE(g.caption(12), std::string("?"));
    QCOMPARE(marker->pos(), QPoint(120, 224)); // the marker itself never moves

    pointerTo(marker, marker->rect().center());
    xdotool({"mousedown", "1"});
    pointerTo(g.f1().Label1.widget(), QPoint(20, 10));
    xdotool({"mouseup", "1"});
    for (int i = 0; i < 25; ++i)
        QCOMPARE(g.caption(i), std::string(i == 0 ? "3" : i == 18 ? "¶" : "?"));

    pointerTo(g.square(1), g.square(1)->rect().center());
    xdotool({"click", "1"});
    QCOMPARE(g.message(), std::string("どかーん！"));
    QVERIFY(g.frozen());
}

void ScreensTest::midGamePicture_data() {
    QTest::addColumn<bool>("dark");
    QTest::newRow("usual colours") << false;
    // White window text: over the fixed light cyan it would vanish.
    QTest::newRow("dark scheme") << true;
}

// Both windows in the middle of a game on the demo pictures, side by side as placed: the
// picture shown in the README. In any colour scheme every caption, count, flag, "Time", the
// seconds and the message reads against its control's back colour and fits inside it.
void ScreensTest::midGamePicture() {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        QSKIP("needs a real X server (run under xvfb-run)");
    QFETCH(bool, dark);
    const QPalette usual = QApplication::palette();
    const auto restore = qScopeGuard([&] { QApplication::setPalette(usual); });
    if (dark)
        QApplication::setPalette(darkPalette());
    const std::vector<int> layout = {1, 5, 6, 18, 24};
    test::Game g;
    const QString demo = QStringLiteral(KELVORADX_DEMO_DIR "/");
    g.writeListFile((demo + "set1.jpg\n" + demo + "set2.png\n" + demo + "set3.bmp\n").toUtf8());
    g.rnd.bombsAt(layout);
    QVERIFY(g.start());
    QWidget* board = g.f1().form.window();
    QWidget* picture = g.f2().form.window();
    QVERIFY(QTest::qWaitForWindowExposed(board) && QTest::qWaitForWindowExposed(picture));
    for (int i : {2, 3, 4, 8, 9, 13, 14, 19, 20, 21})
        g.click(i);
    g.flag(24);
    g.flag(18);
    QCOMPARE(g.coversShown(), 10);
    QTest::qWait(100);

    const QImage left = board->grab().toImage();
    const QImage right = picture->grab().toImage();
    const int margin = 16, gap = 14; // about the 200 twips between the windows
    QImage shot(margin * 2 + left.width() + gap + right.width(),
                margin * 2 + qMax(left.height(), right.height()), QImage::Format_RGB32);
    shot.fill(QColor(60, 64, 72));
    QPainter painter(&shot);
    painter.drawImage(margin, margin, left);
    painter.drawImage(margin + left.width() + gap, margin, right);
    painter.end();
    QDir().mkpath(QStringLiteral(KELVORADX_ARTIFACTS));
    QVERIFY(shot.save(QStringLiteral(KELVORADX_ARTIFACTS "/mid-game%1.png")
                          .arg(dark ? QStringLiteral("-dark") : QString())));
    QWidget* lastCover = g.f2().Shape1(19).widget();
    const QPoint inside = lastCover->mapTo(picture, lastCover->rect().center());
    QCOMPARE(right.pixelColor(inside), QColor(0, 0, 0));

    const Form1& f = g.f1();
    QCOMPARE(f.Label3.widget()->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    for (QWidget* w : {f.Label1.widget(), f.Label2.widget(), f.Label3.widget(), f.Label4.widget(),
                       static_cast<QWidget*>(g.square(2)), static_cast<QWidget*>(g.square(12)),
                       static_cast<QWidget*>(g.square(18))}) {
        const bool button = qobject_cast<QPushButton*>(w);
        const QString text =
            button ? static_cast<QPushButton*>(w)->text() : static_cast<QLabel*>(w)->text();
        const QColor fore =
            w->palette().color(button ? QPalette::ButtonText : QPalette::WindowText);
        const QColor back = w->palette().color(button ? QPalette::Button : QPalette::Window);
        // The red seconds keep their fixed colour, which reads less well on light cyan.
        const double needed = w == f.Label3.widget() ? 3.0 : 4.5;
        QVERIFY2(rt::contrastRatio(fore, back) >= needed, qPrintable(text));
        QVERIFY2(readablePixels(w->grab().toImage(), back) > 10, qPrintable(text));
        // The message wraps inside its line; the rest stand on one line, their glyphs within.
        const QRect room = w->contentsRect();
        const QFontMetrics metrics(w->font());
        const QRect needs = w == f.Label1.widget()
                                ? metrics.boundingRect(room, Qt::TextWordWrap, text)
                                : metrics.tightBoundingRect(text);
        QVERIFY2(needs.height() <= room.height() && needs.width() <= room.width(),
                 qPrintable(text));
    }
}

// A failure at start-up on a real display: one box naming the file, and once it is dismissed
// the program is gone at once, non-zero, with the same report on stderr.
void ScreensTest::errorBoxThenPromptExit() {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        QSKIP("needs a real X server (run under xvfb-run)");
    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        QSKIP("xdotool is not installed");
    QTemporaryDir empty; // no list file
    QProcess game;
    game.setWorkingDirectory(empty.path());
    game.start(QStringLiteral(KELVORADX_EXECUTABLE), {});
    QVERIFY(game.waitForStarted());

    QProcess search;
    search.start(QStringLiteral("xdotool"),
                 {"search", "--sync", "--onlyvisible", "--name", "^KelvoraDX$"});
    QVERIFY2(search.waitForFinished(10000), "no box appeared");
    const QStringList windows =
        QString::fromLatin1(search.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(windows.size(), 1); // the box only: no game window
    QTest::qWait(300);
    QDir().mkpath(QStringLiteral(KELVORADX_ARTIFACTS));
    QGuiApplication::primaryScreen()->grabWindow(0).toImage().save(
        QStringLiteral(KELVORADX_ARTIFACTS "/error-box.png"));
    QCOMPARE(game.state(), QProcess::Running); // waiting for the person to read it

    QProcess::execute(QStringLiteral("xdotool"),
                      {"windowfocus", "--sync", windows[0], "key", "--clearmodifiers", "Return"});
    QVERIFY2(game.waitForFinished(2000), "still running 2 s after the box was dismissed");
    QCOMPARE(game.exitStatus(), QProcess::NormalExit);
    QVERIFY(game.exitCode() != 0);
    const QString err = QString::fromUtf8(game.readAllStandardError());
    QVERIFY2(err.contains("qorfile.txt"), qPrintable(err));
}

QTEST_MAIN(ScreensTest)
#include "tst_screens.moc"
