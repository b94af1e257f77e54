// Both windows as laid out: geometry in twips, captions, colours, menus, covers, placement,
// tab order, and the drag of the flag marker.
#include "TestSupport.h"

#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QRegularExpression>

namespace {

QRect twips(QWidget* w) {
    const QRect g = w->geometry();
    return QRect(g.x() * 15, g.y() * 15, g.width() * 15, g.height() * 15);
}

} // namespace

class LayoutTest : public QObject {
    Q_OBJECT

private slots:
    void boardWindow();
    void pictureWindow();
    void coversTileThePictureFromAbove();
    void placementFromTheScreen_data();
    void placementFromTheScreen();
    void tabMovesThroughTheSquaresInOrder();
    void menuAccessKeysWorkFromTheKeyboard();
    void dropOnASquareRaisesItsDragDropOnce();
    void dropElsewhereRaisesNothing();
    void dropIsFoundInTheBoardWindowNotByScreenPosition();
    void dragOutlineIsDrawnInTheBoardUnderThePointer();
    void iconIsEmbedded();
};

void LayoutTest::boardWindow() {
    test::Game g;
    QVERIFY(g.start());
    Form1& f = g.f1();
    QCOMPARE(f.form.Caption(), std::string("KelvoraDX"));
    QCOMPARE(f.form.client()->size(), QSize(160, 257)); // 2400 x 3855 twips
    QCOMPARE(f.form.client()->palette().color(QPalette::Window), QColor(128, 255, 255));
    QVERIFY(!(f.form.window()->windowFlags() & Qt::WindowMaximizeButtonHint));
    for (int i : {0, 4, 20, 24, 13})
        QCOMPARE(twips(g.square(i)), QRect(i % 5 * 480, i / 5 * 480, 495, 495));
    QCOMPARE(twips(f.Label1.widget()), QRect(0, 2520, 2415, 615));
    QCOMPARE(twips(f.Label2.widget()), QRect(1800, 3360, 255, 375));
    QCOMPARE(twips(f.Label3.widget()), QRect(600, 3480, 615, 255));
    QCOMPARE(twips(f.Label4.widget()), QRect(120, 3240, 735, 255));
    QCOMPARE(f.Label2.Caption(), std::string("¶"));
    QCOMPARE(f.Label4.Caption(), std::string("Time"));
    QCOMPARE(f.Label3.widget()->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    QCOMPARE(static_cast<QLabel*>(f.Label2.widget())->frameShape(), QFrame::Box);
    QCOMPARE(g.square(0)->font().pointSizeF(), 13.5);
    const QList<QAction*> menus = f.form.window()->menuBar()->actions();
    QCOMPARE(menus.size(), 1);
    QCOMPARE(menus[0]->text(), QString("&Game"));
    QCOMPARE(f.menuagain.Caption(), std::string("&Again"));
    QCOMPARE(f.menuexit.Caption(), std::string("E&xit"));
    QCOMPARE(QKeySequence::mnemonic(menus[0]->text()), QKeySequence(Qt::ALT | Qt::Key_G));
}

void LayoutTest::pictureWindow() {
    test::Game g;
    QVERIFY(g.start());
    Form2& f = g.f2();
    QCOMPARE(f.form.Caption(), std::string("Kelvora　このへんがＤＸ"));
    QCOMPARE(f.form.client()->size(), QSize(288, 257));
    QCOMPARE(twips(f.Image1.widget()), QRect(0, 0, 4335, 3855));
    QCOMPARE(f.IdxPic.Caption(), std::string("&Picture"));
    for (int k = 0; k < 3; ++k)
        QCOMPARE(f.PicSet(k).Caption(), "Set" + std::to_string(k + 1));
    QCOMPARE(twips(f.Shape1(4).widget()), QRect(3840, 0, 495, 1215));
    QCOMPARE(twips(f.Shape1(19).widget()), QRect(1800, 2520, 2055, 495));
    QCOMPARE(twips(f.Shape1(16).widget()), QRect(0, 840, 975, 855));
}

void LayoutTest::coversTileThePictureFromAbove() {
    test::Game g;
    QVERIFY(g.start());
    QWidget* image = g.f2().Image1.widget();
    for (int y = 0; y < image->height(); ++y) {
        for (int x = 0; x < image->width(); ++x) {
            QWidget* top = image->parentWidget()->childAt(x, y);
            if (x >= image->parentWidget()->width())
                continue;
            QVERIFY2(top && top != image, qPrintable(QString("uncovered at %1,%2").arg(x).arg(y)));
        }
    }
}

void LayoutTest::placementFromTheScreen_data() {
    QTest::addColumn<int>("screenWidth");
    QTest::addColumn<int>("screenHeight");
    QTest::newRow("wide") << 1280 << 1024;
    QTest::newRow("narrow: reaches past both edges") << 300 << 200;
}

void LayoutTest::placementFromTheScreen() {
    QFETCH(int, screenWidth);
    QFETCH(int, screenHeight);
    test::Game g([&](rt::Seams& seams) {
        seams.screenWidth = screenWidth * 15.0f;
        seams.screenHeight = screenHeight * 15.0f;
    });
    QVERIFY(g.start());
    const rt::Form& board = g.f1().form;
    const rt::Form& picture = g.f2().form;
    // Placed before the first show, when the window's frame is not known yet: the width is
    // that of the client area; no clamping to the screen.
    QVERIFY(qAbs(board.Left() - (screenWidth * 15.0f / 2 - 2400 - 100)) <= 8);
    QVERIFY(qAbs(picture.Left() - (screenWidth * 15.0f / 2 + 100)) <= 8);
    QVERIFY(board.Top() < screenHeight * 15.0f / 2 && picture.Top() < screenHeight * 15.0f / 2);
    QVERIFY(screenWidth > 500 || board.Left() < 0);
}

void LayoutTest::tabMovesThroughTheSquaresInOrder() {
    test::Game g;
    QVERIFY(g.start());
    QWidget* w = g.square(0);
    for (int i = 1; i < 25; ++i) {
        w = w->nextInFocusChain();
        QCOMPARE(w, static_cast<QWidget*>(g.square(i)));
    }
    QCOMPARE(g.f1().Label1.widget()->focusPolicy(), Qt::NoFocus);
}

// Alt+G opens the Game menu; A deals again, X ends the program.
void LayoutTest::menuAccessKeysWorkFromTheKeyboard() {
    test::Game g;
    g.rnd.bombsAt({1, 5, 6, 18, 24});
    QVERIFY(g.start());
    QWidget* board = g.f1().form.window();
    board->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(board));
    g.click(0);
    QCOMPARE(g.caption(0), std::string("3"));

    QMenu* menu = g.f1().menugame.menu();
    g.rnd.bombsAt({1, 5, 6, 18, 24});
    QTest::keyClick(board, Qt::Key_G, Qt::AltModifier);
    QTRY_VERIFY(menu->isVisible());
    QTest::keyClick(menu, Qt::Key_A);
    QTRY_COMPARE(g.caption(0), std::string("?"));
    QVERIFY(!menu->isVisible());
    QVERIFY(!g.endStatus);

    QTest::keyClick(board, Qt::Key_G, Qt::AltModifier);
    QTRY_VERIFY(menu->isVisible());
    QTest::keyClick(menu, Qt::Key_X);
    QTRY_COMPARE(g.endStatus, std::optional<int>(0));
    QVERIFY(g.errors.empty());
}

void LayoutTest::dropOnASquareRaisesItsDragDropOnce() {
    test::Game g;
    QVERIFY(g.start());
    std::vector<int> drops;
    auto handler = g.f1().Command1.onDragDrop;
    g.f1().Command1.onDragDrop = [&](rt::Int16 i, rt::Control& s, float x, float y) {
        drops.push_back(i.value());
        QCOMPARE(&s, static_cast<rt::Control*>(&g.f1().Label2));
        handler(i, s, x, y);
    };
    g.dragFlagTo(g.square(17), QPoint(3, 3));
    QCOMPARE(drops, std::vector<int>{17});
    QCOMPARE(g.caption(17), std::string("¶"));
    QCOMPARE(twips(g.f1().Label2.widget()), QRect(1800, 3360, 255, 375));
    QCOMPARE(g.f1().Label2.Caption(), std::string("¶"));
}

void LayoutTest::dropElsewhereRaisesNothing() {
    test::Game g;
    QVERIFY(g.start());
    int drops = 0;
    g.f1().Command1.onDragDrop = [&](rt::Int16, rt::Control&, float, float) { ++drops; };
    g.dragFlagTo(g.f1().Label1.widget(), QPoint(5, 5));
    g.dragFlagTo(g.f1().Label2.widget(), QPoint(5, 5));
    g.dragFlagTo(g.f1().form.client(), QPoint(150, 250));
    g.dragFlagTo(g.f1().form.client(), QPoint(-400, -300)); // outside every window
    g.f1().Command1(3).setEnabled(false);
    g.dragFlagTo(g.square(3), QPoint(10, 10));
    QCOMPARE(drops, 0);
}

// Where the window system reports positions relative to each window (Wayland), another window
// at the same place must not take the drop: the picture window is stacked over the board here.
void LayoutTest::dropIsFoundInTheBoardWindowNotByScreenPosition() {
    test::Game g;
    QVERIFY(g.start());
    QWidget* picture = g.f2().form.window();
    picture->move(g.f1().form.window()->pos());
    g.flag(17);
    QCOMPARE(g.caption(17), std::string("¶"));
}

// The outline is part of the board window, so it shows and moves wherever the board is drawn,
// and it is gone after the release; the drag asks the window system for nothing (no grab).
void LayoutTest::dragOutlineIsDrawnInTheBoardUnderThePointer() {
    test::Game g;
    QVERIFY(g.start());
    QTest::failOnWarning(QRegularExpression(".*"));
    g.f1().Timer1.setInterval(0); // the clock must not change the picture between grabs
    QWidget* top = g.f1().form.window();
    QWidget* marker = g.f1().Label2.widget();
    const QPoint press = marker->mapTo(top, marker->rect().center());
    const QPoint to = g.f1().Label1.widget()->mapTo(top, QPoint(30, 20));
    const QRect outline =
        QRect(marker->mapTo(top, QPoint(0, 0)), marker->size()).translated(to - press);
    const QImage before = top->grab().toImage();
    QTest::mousePress(top->windowHandle(), Qt::LeftButton, {}, press);
    QTest::mouseMove(top->windowHandle(), to);
    const QImage during = top->grab().toImage();
    QTest::mouseRelease(top->windowHandle(), Qt::LeftButton, {}, to);
    const QImage after = top->grab().toImage();

    QRect changed;
    for (int y = 0; y < before.height(); ++y)
        for (int x = 0; x < before.width(); ++x)
            if (before.pixel(x, y) != during.pixel(x, y))
                changed |= QRect(x, y, 1, 1);
    QCOMPARE(changed, outline);
    QVERIFY(during.pixel(to) == before.pixel(to)); // an outline: the inside shows through
    QCOMPARE(after, before);
}

void LayoutTest::iconIsEmbedded() {
    const QImage icon(":/icons/kelvoradx.xpm");
    QCOMPARE(icon.size(), QSize(32, 32));
    QVERIFY(!icon.hasAlphaChannel());
    QCOMPARE(icon.pixelColor(0, 0), QColor(0, 255, 255));
    QCOMPARE(icon.pixelColor(1, 0), QColor(255, 255, 255));
}

QTEST_MAIN(LayoutTest)
#include "tst_layout.moc"
