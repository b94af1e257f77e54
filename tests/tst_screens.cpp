// The real executable on a real X server: both windows stand where they should and look as
// laid out. The screenshot is kept in the build tree for a person to look at.
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QTest>

class ScreensTest : public QObject {
    Q_OBJECT

private slots:
    void bothWindowsStandSideBySide();
};

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

    const int centre = shot.width() / 2;
    int cyanLeft = 0, cyanRight = 0, blackRight = 0;
    for (int y = 0; y < shot.height(); ++y) {
        for (int x = 0; x < shot.width(); ++x) {
            const QColor c = shot.pixelColor(x, y);
            if (c == QColor(128, 255, 255))
                ++(x < centre ? cyanLeft : cyanRight);
            if (x > centre && c == QColor(0, 0, 0) && y > 300 && y < 700 && x < centre + 300)
                ++blackRight;
        }
    }
    QVERIFY2(cyanLeft > 5000, qPrintable(QString::number(cyanLeft))); // the board, left
    QCOMPARE(cyanRight, 0);
    QVERIFY2(blackRight > 50000, qPrintable(QString::number(blackRight))); // covers, right
}

QTEST_MAIN(ScreensTest)
#include "tst_screens.moc"
