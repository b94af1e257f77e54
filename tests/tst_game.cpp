// Whole games through real clicks and real drags of the flag marker, on layouts fed to Rnd.
#include "TestSupport.h"

#include <QMenu>
#include <QTimer>

#include <algorithm>
#include <set>

using test::Game;

namespace {

// A hand-worked layout:      row 0:  .  B  .  .  .
//                            row 1:  B  B  .  .  .
//                            row 2:  .  .  .  .  .
//                            row 3:  .  .  .  B  .
//                            row 4:  .  .  .  .  B
const std::vector<int> Layout = {1, 5, 6, 18, 24};

int bombCount(Form1& f) {
    int n = 0;
    for (int y = -1; y <= 5; ++y)
        for (int x = -1; x <= 5; ++x)
            n += f.Board(x, y).value() == Form1::BOMB ? 1 : 0;
    return n;
}

} // namespace

class GameTest : public QObject {
    Q_OBJECT

private slots:
    void dealingHidesFiveBombsAndDiscardsRepeats();
    void drawsStayWithinTheBoard();
    void newGameResetsEveryState_data();
    void newGameResetsEveryState();
    void bombOnFirstClickLosesAtOnce();
    void openingABombShowsOnlyBombs();
    void cornerCountIsBoldWithItsMessage();
    void emptySquareOpensNoNeighbour();
    void reopeningAnOpenSquareChangesNothing();
    void coversVanishInIndexOrder();
    void winByLastClick();
    void winByLastDrop();
    void sixFlagsNeverWin();
    void flaggedSafeSquareOpenedLaterHidesNoCover();
    void flagOnACountStaysBoldAndCounts();
    void lossWithFiveFlaggedSafeSquaresStaysALoss();
    void frozenBoardTakesNoClickAndNoDrop();
    void clockCountsAndStops();
    void clockTicksInRealTime();
    void clockStopsCountingAtTheLimit();
    void pictureMenuOnlyAfterAWin();
    void chosenSetShowsInTheNextGame();
    void rewrittenPictureShowsInTheNextGame();
    void quickDealsGetIndependentLayouts();
    void everyCellHoldsABombAboutEquallyOften();
};

void GameTest::dealingHidesFiveBombsAndDiscardsRepeats() {
    Game g;
    // The second and fourth pairs repeat cells already taken and must not count.
    g.rnd.bombsAt({7, 7, 3, 3, 0, 24, 12});
    QVERIFY(g.start());
    QCOMPARE(bombCount(g.f1()), 5);
    for (int square : {7, 3, 0, 24, 12})
        QCOMPARE(g.f1().Board(square % 5, square / 5).value(), Form1::BOMB);
    for (int i = -1; i <= 5; ++i) {
        for (int edge : {-1, 5}) {
            QCOMPARE(g.f1().Board(i, edge).value(), 0);
            QCOMPARE(g.f1().Board(edge, i).value(), 0);
        }
    }
    QCOMPARE(g.rnd.pending(), std::size_t(0));
}

void GameTest::drawsStayWithinTheBoard() {
    Game g;
    // The largest float below 1 must still give 4, never 5.
    const float top = 0.99999994f;
    for (float v : {top, top, 0.0f, top, top, 0.0f, 0.5f, 0.5f, 0.0f, 0.0f}) // (4,4) twice
        g.rnd.pushRaw(v);
    QVERIFY(g.start());
    QCOMPARE(g.f1().Board(4, 4).value(), Form1::BOMB);
    QCOMPARE(g.f1().Board(0, 4).value(), Form1::BOMB);
    QCOMPARE(g.f1().Board(4, 0).value(), Form1::BOMB);
    QCOMPARE(g.f1().Board(2, 2).value(), Form1::BOMB);
    QCOMPARE(g.f1().Board(0, 0).value(), Form1::BOMB);
    QVERIFY(g.errors.empty());
}

void GameTest::newGameResetsEveryState_data() {
    QTest::addColumn<QString>("from");
    QTest::newRow("in play") << "play";
    QTest::newRow("after a loss") << "loss";
    QTest::newRow("after a win") << "win";
}

void GameTest::newGameResetsEveryState() {
    QFETCH(QString, from);
    Game g;
    g.rnd.bombsAt(Layout);
    QVERIFY(g.start());
    if (from == "play") {
        g.click(0);
        g.flag(12);
        g.click(4);
    } else if (from == "loss") {
        g.click(0);
        g.click(6);
    } else {
        g.openAllSafe(Layout);
        for (int b : Layout)
            g.flag(b);
        QCOMPARE(g.message(), std::string("やった！おめでとう！"));
    }
    const std::string before = g.message();
    g.f1().ElapsedSeconds = 7;
    g.f1().Label3.setCaption("7");

    g.rnd.bombsAt({2, 3, 4, 20, 21});
    g.again();
    QVERIFY(g.errors.empty());
    for (int i = 0; i < 25; ++i) {
        QCOMPARE(g.caption(i), std::string("?"));
        QVERIFY(g.f1().Command1(i).Enabled());
        QVERIFY(!g.f1().Command1(i).FontBold());
    }
    QCOMPARE(g.coversShown(), 20);
    QCOMPARE(g.f1().Label3.Caption(), std::string("0"));
    QCOMPARE(g.f1().ElapsedSeconds.value(), 0);
    QCOMPARE(g.f1().UncoveredCount.value(), 0);
    QCOMPARE(g.f1().Timer1.Interval(), 1000);
    QVERIFY(!g.f2().IdxPic.Enabled());
    QCOMPARE(g.message(), before); // the message line keeps its text
    QCOMPARE(bombCount(g.f1()), 5);
    QCOMPARE(g.f1().Board(1, 1).value(), 0); // the old layout is gone
    QCOMPARE(g.f1().Board(0, 4).value(), Form1::BOMB);
    QVERIFY(g.f1().form.Visible() && g.f2().form.Visible());
}

void GameTest::bombOnFirstClickLosesAtOnce() {
    Game g;
    g.rnd.bombsAt(Layout);
    QVERIFY(g.start());
    g.click(18);
    for (int i = 0; i < 25; ++i) {
        const bool bomb = std::find(Layout.begin(), Layout.end(), i) != Layout.end();
        QCOMPARE(g.caption(i), std::string(bomb ? "*" : "?"));
    }
    QCOMPARE(g.message(), std::string("どかーん！"));
    QVERIFY(g.frozen());
    QCOMPARE(g.f1().Timer1.Interval(), 0);
    QVERIFY(!g.f2().IdxPic.Enabled());
    QCOMPARE(g.coversShown(), 20);
}

void GameTest::openingABombShowsOnlyBombs() {
    Game g;
    g.rnd.bombsAt(Layout);
    QVERIFY(g.start());
    g.click(0);  // "3"
    g.click(4);  // ""
    g.flag(5);   // a flag on a bomb
    g.flag(12);  // a flag on a safe square
    g.click(24); // boom
    QCOMPARE(g.caption(0), std::string("3"));
    QCOMPARE(g.caption(4), std::string(""));
    QCOMPARE(g.caption(5), std::string("*"));
    QCOMPARE(g.caption(12), std::string("¶"));
    QCOMPARE(g.caption(13), std::string("?"));
    QCOMPARE(g.caption(1), std::string("*"));
    QCOMPARE(g.message(), std::string("どかーん！"));
    QCOMPARE(g.coversShown(), 18);
}

void GameTest::cornerCountIsBoldWithItsMessage() {
    Game g;
    g.rnd.bombsAt(Layout);
    QVERIFY(g.start());
    g.click(0);
    QCOMPARE(g.caption(0), std::string("3"));
    QVERIFY(g.f1().Command1(0).FontBold());
    QCOMPARE(g.message(), std::string("まわりに3個爆弾がある！気をつけろ！"));
    g.click(12); // centre square: bombs at 6 and 18
    QCOMPARE(g.caption(12), std::string("2"));
    QCOMPARE(g.message(), std::string("まわりに2個爆弾がある！気をつけろ！"));
    g.click(23); // bottom edge: bombs at 18 and 24
    QCOMPARE(g.caption(23), std::string("2"));
    QVERIFY(!g.frozen());
}

void GameTest::emptySquareOpensNoNeighbour() {
    Game g;
    g.rnd.bombsAt(Layout);
    QVERIFY(g.start());
    g.click(4);
    QCOMPARE(g.caption(4), std::string(""));
    QVERIFY(!g.f1().Command1(4).FontBold());
    QCOMPARE(g.message(), std::string("ふぅっ！セーフ！"));
    for (int n : {3, 8, 9})
        QCOMPARE(g.caption(n), std::string("?"));
}

void GameTest::reopeningAnOpenSquareChangesNothing() {
    Game g;
    g.rnd.bombsAt(Layout);
    QVERIFY(g.start());
    g.click(0);
    g.click(4);
    g.click(0);
    QCOMPARE(g.caption(0), std::string("3"));
    QCOMPARE(g.message(), std::string("まわりに3個爆弾がある！気をつけろ！"));
    QCOMPARE(g.f1().UncoveredCount.value(), 2);
    QCOMPARE(g.coversShown(), 18);
}

void GameTest::coversVanishInIndexOrder() {
    Game g;
    g.rnd.bombsAt(Layout);
    QVERIFY(g.start());
    // Safe squares in an order unrelated to the covers' places.
    const std::vector<int> order = {23, 4, 0,  19, 10, 2,  22, 14, 7,  16,
                                    3,  9, 20, 11, 21, 13, 8,  15, 17, 12};
    for (std::size_t n = 0; n < order.size(); ++n) {
        g.click(order[n]);
        for (int c = 0; c < 20; ++c)
            QCOMPARE(g.f2().Shape1(c).Visible(), c > int(n));
        QCOMPARE(g.f1().UncoveredCount.value(), int(n) + 1);
    }
}

void GameTest::winByLastClick() {
    Game g;
    g.rnd.bombsAt(Layout);
    QVERIFY(g.start());
    for (int b : Layout)
        g.flag(b);
    g.openAllSafe({1, 5, 6, 18, 24, 4});
    QVERIFY(!g.frozen());
    g.click(4);
    QCOMPARE(g.message(), std::string("やった！おめでとう！"));
    QVERIFY(g.frozen());
    QCOMPARE(g.f1().Timer1.Interval(), 0);
    QVERIFY(g.f2().IdxPic.Enabled());
    QCOMPARE(g.coversShown(), 0);
}

void GameTest::winByLastDrop() {
    Game g;
    g.rnd.bombsAt(Layout);
    QVERIFY(g.start());
    g.openAllSafe(Layout);
    for (int b : {1, 5, 6, 18})
        g.flag(b);
    QVERIFY(!g.frozen());
    QVERIFY(!g.f2().IdxPic.Enabled());
    g.flag(24);
    QCOMPARE(g.message(), std::string("やった！おめでとう！"));
    QVERIFY(g.frozen());
    QVERIFY(g.f2().IdxPic.Enabled());
}

void GameTest::sixFlagsNeverWin() {
    Game g;
    g.rnd.bombsAt(Layout);
    QVERIFY(g.start());
    g.openAllSafe(Layout);
    g.flag(12); // an open safe square now carries a flag too
    for (int b : Layout)
        g.flag(b);
    QVERIFY(!g.frozen());
    QVERIFY(g.message() != "やった！おめでとう！");
    g.click(12); // opening it clears the sixth flag and wins
    QCOMPARE(g.caption(12), std::string("2"));
    QCOMPARE(g.message(), std::string("やった！おめでとう！"));
}

void GameTest::flaggedSafeSquareOpenedLaterHidesNoCover() {
    Game g;
    g.rnd.bombsAt(Layout);
    QVERIFY(g.start());
    g.flag(4);
    g.click(4);
    QCOMPARE(g.caption(4), std::string(""));
    QCOMPARE(g.f1().UncoveredCount.value(), 0);
    QCOMPARE(g.coversShown(), 20);
    for (int b : Layout)
        g.flag(b);
    g.openAllSafe({1, 5, 6, 18, 24, 4});
    QCOMPARE(g.message(), std::string("やった！おめでとう！"));
    QCOMPARE(g.coversShown(), 1); // a won game may leave a cover in place
    QVERIFY(g.f2().Shape1(19).Visible());
}

void GameTest::flagOnACountStaysBoldAndCounts() {
    Game g;
    g.rnd.bombsAt(Layout);
    QVERIFY(g.start());
    g.click(0);
    g.flag(0);
    QCOMPARE(g.caption(0), std::string("¶"));
    QVERIFY(g.f1().Command1(0).FontBold());
    g.flag(0); // again: nothing visible changes
    QCOMPARE(g.caption(0), std::string("¶"));
    g.click(0);
    QCOMPARE(g.caption(0), std::string("3"));
    QCOMPARE(g.f1().UncoveredCount.value(), 1);
    QCOMPARE(g.f1().Label2.Caption(), std::string("¶")); // the marker is never used up
}

// Five flags on safe squares, every other safe square open, then a bomb: the win test that
// follows must not turn the loss into a win.
void GameTest::lossWithFiveFlaggedSafeSquaresStaysALoss() {
    Game g;
    g.rnd.bombsAt(Layout);
    QVERIFY(g.start());
    const std::vector<int> flaggedSafe = {0, 2, 3, 4, 7};
    for (int s : flaggedSafe)
        g.flag(s);
    std::vector<int> skip = Layout;
    skip.insert(skip.end(), flaggedSafe.begin(), flaggedSafe.end());
    g.openAllSafe(skip);
    QVERIFY(!g.frozen());
    g.click(1);
    QCOMPARE(g.message(), std::string("どかーん！"));
    QVERIFY(!g.f2().IdxPic.Enabled());
    QVERIFY(g.frozen());
    for (int b : Layout)
        QCOMPARE(g.caption(b), std::string("*"));
}

void GameTest::frozenBoardTakesNoClickAndNoDrop() {
    Game g;
    g.rnd.bombsAt(Layout);
    QVERIFY(g.start());
    g.click(1);
    g.click(0);
    g.flag(4);
    QCOMPARE(g.caption(0), std::string("?"));
    QCOMPARE(g.caption(4), std::string("?"));
    QCOMPARE(g.message(), std::string("どかーん！"));
}

void GameTest::clockCountsAndStops() {
    Game g;
    g.rnd.bombsAt(Layout);
    QVERIFY(g.start());
    QCOMPARE(g.f1().Label3.Caption(), std::string("0"));
    for (int n = 1; n <= 3; ++n)
        rt::dispatch([&] { g.f1().Timer1_Timer(); });
    QCOMPARE(g.f1().Label3.Caption(), std::string("3"));
    QCOMPARE(g.f1().Timer1.Interval(), 1000);
    g.click(1);
    QCOMPARE(g.f1().Timer1.Interval(), 0);
    QVERIFY(!g.f1().Timer1.timer()->isActive());
    QCOMPARE(g.f1().Label3.Caption(), std::string("3"));
    g.again();
    QCOMPARE(g.f1().Label3.Caption(), std::string("0"));
    QVERIFY(g.f1().Timer1.timer()->isActive());
}

void GameTest::clockTicksInRealTime() {
    Game g;
    g.rnd.bombsAt(Layout);
    QVERIFY(g.start());
    QTRY_COMPARE_WITH_TIMEOUT(g.f1().Label3.Caption(), std::string("1"), 2500);
    QTRY_COMPARE_WITH_TIMEOUT(g.f1().Label3.Caption(), std::string("2"), 2500);
    g.click(1);
    QTest::qWait(1300);
    QCOMPARE(g.f1().Label3.Caption(), std::string("2"));
}

// At 32767 seconds the clock stops counting and the game goes on, without an overflow.
void GameTest::clockStopsCountingAtTheLimit() {
    Game g;
    g.rnd.bombsAt(Layout);
    QVERIFY(g.start());
    g.f1().ElapsedSeconds = 32766;
    rt::dispatch([&] { g.f1().Timer1_Timer(); });
    QCOMPARE(g.f1().Label3.Caption(), std::string("32767"));
    rt::dispatch([&] { g.f1().Timer1_Timer(); });
    rt::dispatch([&] { g.f1().Timer1_Timer(); });
    QCOMPARE(g.f1().Label3.Caption(), std::string("32767"));
    QCOMPARE(g.f1().ElapsedSeconds.value(), 32767);
    QVERIFY(g.errors.empty());
    QVERIFY(!rt::programEnded());
    QCOMPARE(g.f1().Timer1.Interval(), 1000);
    g.click(0);
    QCOMPARE(g.caption(0), std::string("3"));
}

void GameTest::pictureMenuOnlyAfterAWin() {
    Game g;
    g.rnd.bombsAt(Layout);
    QVERIFY(g.start());
    QVERIFY(!g.f2().IdxPic.Enabled());
    g.click(1);
    QVERIFY(!g.f2().IdxPic.Enabled());
    g.rnd.bombsAt(Layout);
    g.again();
    g.openAllSafe(Layout);
    for (int b : Layout)
        g.flag(b);
    QVERIFY(g.f2().IdxPic.Enabled());
    g.rnd.bombsAt(Layout);
    g.again();
    QVERIFY(!g.f2().IdxPic.Enabled());
}

void GameTest::chosenSetShowsInTheNextGame() {
    Game g;
    g.rnd.bombsAt(Layout);
    QVERIFY(g.start());
    QCOMPARE(g.shownSet(), 0);
    QVERIFY(g.f2().PicSet(0).Checked());
    g.openAllSafe(Layout);
    for (int b : Layout)
        g.flag(b);

    g.f2().PicSet(1).action()->trigger();
    for (int k = 0; k < 3; ++k)
        QCOMPARE(g.f2().PicSet(k).Checked(), k == 1);
    QCOMPARE(g.shownSet(), 0);            // the picture of the game just won stays
    QCOMPARE(g.coversShown(), 0);         // and so do its covers
    g.f2().PicSet(1).action()->trigger(); // the checked item stays checked
    for (int k = 0; k < 3; ++k)
        QCOMPARE(g.f2().PicSet(k).Checked(), k == 1);

    g.again();
    QCOMPARE(g.shownSet(), 1);
    QCOMPARE(g.coversShown(), 20);

    // The picture is read from its file afresh at every game.
    g.writePicture("set2.png", test::SetColors[2], "PNG");
    g.again();
    QCOMPARE(g.shownSet(), 2);
}

// An unchanged picture file is not decoded again; a file saved anew with the same name and
// size must still show its new pixels in the next game.
void GameTest::rewrittenPictureShowsInTheNextGame() {
    Game g;
    QTest::qWait(2100); // old enough to be known by its times
    QVERIFY(g.start());
    QCOMPARE(g.shownSet(), 0);
    g.writePicture("set1.png", test::SetColors[1], "PNG");
    QTest::qWait(2100);
    g.again();
    QCOMPARE(g.shownSet(), 1);
    QVERIFY(g.errors.empty());
}

// Two deals within the same clock tick must not repeat a layout.
void GameTest::quickDealsGetIndependentLayouts() {
    Game g([](rt::Seams& seams) { seams.rnd = {}; }); // Rnd's own generator
    QVERIFY(g.start());
    auto layout = [&] {
        std::set<int> bombs;
        for (int i = 0; i < 25; ++i)
            if (g.f1().Board(i % 5, i / 5).value() == Form1::BOMB)
                bombs.insert(i);
        return bombs;
    };
    int same = 0;
    for (int n = 0; n < 40; ++n) {
        g.again();
        const auto first = layout();
        g.again();
        same += layout() == first ? 1 : 0;
    }
    QVERIFY2(same <= 1, qPrintable(QString("%1 of 40 quick pairs repeated").arg(same)));
}

void GameTest::everyCellHoldsABombAboutEquallyOften() {
    Game g([](rt::Seams& seams) { seams.rnd = {}; }); // Rnd's own generator
    QVERIFY(g.start());
    int hits[25] = {};
    const int deals = 4000;
    for (int n = 0; n < deals; ++n) {
        g.again();
        for (int i = 0; i < 25; ++i)
            hits[i] += g.f1().Board(i % 5, i / 5).value() == Form1::BOMB ? 1 : 0;
    }
    // 800 expected per cell; 5 standard deviations is about 125.
    for (int i = 0; i < 25; ++i)
        QVERIFY2(std::abs(hits[i] - deals / 5) < 130,
                 qPrintable(QString("cell %1: %2").arg(i).arg(hits[i])));
}

QTEST_MAIN(GameTest)
#include "tst_game.moc"
