// The frame rules driven by the sequences the window managers of the suite produce, without an X
// server: each window manager frames the two windows its own way (told before the show or only
// after the map, around the client area or where the client area was asked for), and every
// frame must end on its place about the monitor's centre, the board moved at most once and the
// picture window, placed as the board was framed, not at all.
#include "WindowFrame.h"

#include <QTest>

using rt::FrameRules;

Q_DECLARE_METATYPE(QMargins)

class FramesTest : public QObject {
    Q_OBJECT

private slots:
    void everyManagersSequenceEndsInPlace_data();
    void everyManagersSequenceEndsInPlace();
};

void FramesTest::everyManagersSequenceEndsInPlace_data() {
    QTest::addColumn<QMargins>("frame");  // left, top, right, bottom, as each one draws it
    QTest::addColumn<bool>("told");       // answers the question before the first show
    QTest::addColumn<bool>("whereAsked"); // puts a new frame where the client area was asked for
    QTest::addColumn<bool>("dropsFirstMove"); // while it still places the window it mapped
    QTest::addColumn<int>("boardMoves");      // moves after the map
    QTest::addColumn<int>("pictureMoves");
    QTest::newRow("openbox") << QMargins(1, 20, 1, 1) << true << false << false << 0 << 0;
    QTest::newRow("kwin") << QMargins(0, 41, 0, 0) << false << false << false << 1 << 0;
    QTest::newRow("fluxbox") << QMargins(1, 20, 1, 1) << false << false << false << 1 << 0;
    QTest::newRow("i3") << QMargins(2, 18, 2, 2) << false << true << false << 1 << 0;
    QTest::newRow("metacity, busy: answered after the show, first move dropped")
        << QMargins(0, 37, 0, 0) << false << false << true << 2 << 0;
}

void FramesTest::everyManagersSequenceEndsInPlace() {
    QFETCH(QMargins, frame);
    QFETCH(bool, told);
    QFETCH(bool, whereAsked);
    QFETCH(bool, dropsFirstMove);
    QFETCH(int, boardMoves);
    QFETCH(int, pictureMoves);
    const QRect monitor(0, 0, 1280, 1024);
    // Placed by the game with no frame known: the board's right edge 7 px left of the centre
    // line, the picture's left edge 7 px right of it, both centred.
    const QRect placed[2] = {QRect(473, 374, 160, 276), QRect(647, 374, 288, 276)};
    const int expectedMoves[2] = {boardMoves, pictureMoves};
    FrameRules rules;
    for (unsigned w = 0; w < 2; ++w) {
        const std::optional<QMargins> known = told ? std::optional(frame) : std::nullopt;
        const QPoint asked =
            rules.beforeShow(w, placed[w], known, monitor).value_or(placed[w].topLeft());
        // The window manager frames the window it maps, as the window's events then show.
        QRect client(asked, placed[w].size());
        if (whereAsked)
            client.translate(frame.left(), frame.top());
        // Seen 10 ms after the show, 60 ms after each move and again 60 ms later.
        int ms = 10;
        int moves = 0;
        while (const auto to = rules.framed(w, client.marginsAdded(frame), client, ms)) {
            ++moves; // a later request is taken for the client area's place by all of them
            if (!(dropsFirstMove && moves == 1))
                client.moveTopLeft(*to);
            // Seen right after the request, a frame not yet in place asks for nothing more.
            QVERIFY(!rules.framed(w, client.marginsAdded(frame), client, ms + 60));
            ms += 120;
        }
        QCOMPARE(moves, expectedMoves[w]);
        // Once framed, the window waits no more: a later frame event moves it no further.
        QVERIFY(!rules.awaits(w));
        QVERIFY(!rules.framed(w, client.marginsAdded(frame).translated(5, 5), client, ms));
        const QRect outer = client.marginsAdded(frame);
        if (w == 0)
            QCOMPARE(outer.right() + 1, 633);
        else
            QCOMPARE(outer.left(), 647);
        QVERIFY2(qAbs(outer.top() + outer.height() / 2.0 - 512) <= 0.5,
                 qPrintable(QString::number(outer.top())));
    }
}

QTEST_GUILESS_MAIN(FramesTest)
#include "tst_frames.moc"
