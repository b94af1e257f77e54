// What a screen reader finds in both windows, read through Qt's accessibility interfaces on the
// real widgets while a game is played with real clicks and drags.
#include "TestSupport.h"

#include <QAccessible>
#include <QMainWindow>

using test::Game;

namespace {

// Row 0:  .  B  .  .  .
// Row 1:  B  B  .  .  .
// Row 3:  .  .  .  B  .
// Row 4:  .  .  .  .  B
const std::vector<int> Layout = {1, 5, 6, 18, 24};

QAccessibleInterface* accessible(QWidget* w) {
    return QAccessible::queryAccessibleInterface(w);
}
QString name(QWidget* w) {
    return accessible(w)->text(QAccessible::Name);
}
QString description(QWidget* w) {
    return accessible(w)->text(QAccessible::Description);
}

// The controls of a window as a screen reader walks them: the window's children, and theirs.
QList<QAccessibleInterface*> walk(QAccessibleInterface* iface) {
    QList<QAccessibleInterface*> found;
    for (int i = 0; i < iface->childCount(); ++i) {
        QAccessibleInterface* child = iface->child(i);
        found << child << walk(child);
    }
    return found;
}

} // namespace

class AccessibilityTest : public QObject {
    Q_OBJECT

private slots:
    void boardReadsAsButtonsAndLabels();
    void squaresSayTheirCaptionsThroughAGame();
    void namedLabelsStillSayTheirText();
    void coversAreOneCountOnThePicture();
    void coverCountFollowsTheGame();
};

void AccessibilityTest::boardReadsAsButtonsAndLabels() {
    Game g;
    g.rnd.bombsAt(Layout);
    QVERIFY(g.start());
    const QList<QAccessibleInterface*> all = walk(accessible(g.f1().form.window()));
    QStringList buttons, labels;
    for (QAccessibleInterface* iface : all) {
        if (iface->role() == QAccessible::Button)
            buttons << iface->text(QAccessible::Name) + " / " +
                           iface->text(QAccessible::Description);
        if (iface->role() == QAccessible::StaticText)
            labels << iface->text(QAccessible::Name);
    }
    QCOMPARE(buttons.size(), 25);
    QCOMPARE(buttons[0], QString("? / Row 1, column 1"));
    QCOMPARE(buttons[7], QString("? / Row 2, column 3"));
    QCOMPARE(buttons[24], QString("? / Row 5, column 5"));
    QCOMPARE(labels, QStringList({"Message", "Flag marker", "Elapsed seconds", "Time"}));
}

void AccessibilityTest::squaresSayTheirCaptionsThroughAGame() {
    Game g;
    g.rnd.bombsAt(Layout);
    QVERIFY(g.start());
    g.click(0);  // three bombs around the corner
    g.click(4);  // none around
    g.flag(2);   // a flag on a safe square
    g.click(12); // two around
    QCOMPARE(name(g.square(0)), QString("3"));
    QCOMPARE(name(g.square(4)), QString(""));
    QCOMPARE(name(g.square(2)), QString("¶"));
    QCOMPARE(name(g.square(12)), QString("2"));
    QCOMPARE(description(g.square(12)), QString("Row 3, column 3"));
    QVERIFY(!accessible(g.square(12))->state().disabled);

    g.click(6);
    for (int bomb : Layout) {
        QCOMPARE(name(g.square(bomb)), QString("*"));
        QCOMPARE(description(g.square(bomb)),
                 QString("Row %1, column %2").arg(bomb / 5 + 1).arg(bomb % 5 + 1));
    }
    QVERIFY(accessible(g.square(12))->state().disabled);
}

void AccessibilityTest::namedLabelsStillSayTheirText() {
    Game g;
    g.rnd.bombsAt(Layout);
    QVERIFY(g.start());
    Form1& f = g.f1();
    QCOMPARE(description(f.Label2.widget()), QString("¶"));
    QCOMPARE(description(f.Label3.widget()), QString("0"));
    QCOMPARE(name(f.Label4.widget()), QString("Time"));

    QCOMPARE(description(f.Label1.widget()), QString(""));
    g.click(4);
    QCOMPARE(name(f.Label1.widget()), QString("Message"));
    QCOMPARE(description(f.Label1.widget()), QString("ふぅっ！セーフ！"));
    g.click(0);
    QCOMPARE(description(f.Label1.widget()), QString("まわりに3個爆弾がある！気をつけろ！"));
    f.Timer1_Timer();
    QCOMPARE(description(f.Label3.widget()), QString("1"));
}

void AccessibilityTest::coversAreOneCountOnThePicture() {
    Game g;
    g.rnd.bombsAt(Layout);
    QVERIFY(g.start());
    QAccessibleInterface* client = accessible(g.f2().form.client());
    QCOMPARE(client->childCount(), 1);
    QCOMPARE(client->child(0)->object(), g.f2().Image1.widget());
    QCOMPARE(client->child(0)->role(), QAccessible::Graphic);
    QCOMPARE(client->indexOfChild(accessible(g.f2().Image1.widget())), 0);
    QCOMPARE(client->indexOfChild(accessible(g.f2().Shape1(0).widget())), -1);
    for (QAccessibleInterface* iface : walk(accessible(g.f2().form.window())))
        QVERIFY(iface->object() != g.f2().Shape1(3).widget());
    QCOMPARE(name(g.f2().Image1.widget()), QString("Picture, 20 of 20 covers in place"));
}

void AccessibilityTest::coverCountFollowsTheGame() {
    Game g;
    g.rnd.bombsAt(Layout);
    QVERIFY(g.start());
    QWidget* image = g.f2().Image1.widget();
    g.click(0);
    g.click(4);
    QCOMPARE(name(image), QString("Picture, 18 of 20 covers in place"));
    g.click(4); // already open
    g.flag(3);  // flagged, then opened: no cover
    g.click(3);
    QCOMPARE(name(image), QString("Picture, 18 of 20 covers in place"));
    QCOMPARE(g.coversShown(), 18);

    g.again();
    QCOMPARE(name(image), QString("Picture, 20 of 20 covers in place"));
    g.rnd.bombsAt(Layout);
    g.again();
    g.openAllSafe(Layout);
    QCOMPARE(name(image), QString("Picture, 0 of 20 covers in place"));
}

QTEST_MAIN(AccessibilityTest)
#include "tst_accessibility.moc"
