// What a screen reader finds in both windows, read through Qt's accessibility interfaces on the
// real widgets while a game is played with real clicks, drags and keys: the squares and their
// actions, the texts and their language, what is announced, and where the focus goes.
#include "TestSupport.h"

#include <QAccessible>
#include <QLabel>
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

QString text(QWidget* w) {
    QAccessibleTextInterface* t = accessible(w)->textInterface();
    return t ? t->text(0, t->characterCount()) : QString("(no text)");
}
QString language(QWidget* w) {
    int start = 0, end = 0;
    return accessible(w)->textInterface()->attributes(0, &start, &end);
}

// The notification under the message line: what it last announced, or "(hidden)".
QString announced(Game& g) {
    QAccessibleInterface* line = accessible(g.f1().Label1.widget());
    for (int i = 0; i < line->childCount(); ++i) {
        QAccessibleInterface* child = line->child(i);
        if (child->role() != QAccessible::Notification)
            continue;
        if (child->state().invisible)
            return "(hidden)";
        const QString description = child->text(QAccessible::Description);
        return child->text(QAccessible::Name) + (description.isEmpty() ? "" : " / " + description);
    }
    return "(none)";
}

// Started with the board as the active window, as the window system makes it, so that the
// focus follows clicks and keys.
bool startActive(Game& g) {
    if (!g.start())
        return false;
    g.f1().form.window()->activateWindow();
    return QTest::qWaitForWindowActive(g.f1().form.window());
}

// Focus changes inside the board window while it lives.
class FocusCount : public QObject {
public:
    explicit FocusCount(QWidget* window) {
        window->installEventFilter(this), watchChildren(window);
    }
    int count = 0;

protected:
    bool eventFilter(QObject*, QEvent* e) override {
        count += e->type() == QEvent::FocusIn ? 1 : 0;
        return false;
    }

private:
    void watchChildren(QWidget* w) {
        for (QWidget* child : w->findChildren<QWidget*>())
            child->installEventFilter(this);
    }
};

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
    void flagFromTheKeyboard_data();
    void flagFromTheKeyboard();
    void resultsAreAnnounced();
    void focusRestsOnTheMessageAtTheEnd();
    void againGivesTheFocusToASquare();
    void japaneseIsMarkedAsJapanese();
};

void AccessibilityTest::boardReadsAsButtonsAndLabels() {
    Game g;
    g.rnd.bombsAt(Layout);
    QVERIFY(g.start());
    const QList<QAccessibleInterface*> all = walk(accessible(g.f1().form.window()));
    QStringList buttons, labels, texts;
    for (QAccessibleInterface* iface : all) {
        if (iface->role() == QAccessible::Button)
            buttons << iface->text(QAccessible::Name) + " / " +
                           iface->text(QAccessible::Description);
        if (iface->role() == QAccessible::StaticText)
            labels << iface->text(QAccessible::Name);
        if (iface->role() == QAccessible::EditableText && iface->state().readOnly)
            texts << iface->text(QAccessible::Name);
    }
    QCOMPARE(buttons.size(), 25);
    QCOMPARE(buttons[0], QString("? / Row 1, column 1"));
    QCOMPARE(buttons[7], QString("? / Row 2, column 3"));
    QCOMPARE(buttons[24], QString("? / Row 5, column 5"));
    // The message line reads as read-only text: Orca reads a label by its name alone.
    QCOMPARE(texts, QStringList({"Message"}));
    QCOMPARE(labels, QStringList({"Flag marker", "Elapsed seconds", "Time"}));
    QCOMPARE(accessible(g.square(3))->actionInterface()->actionNames(),
             QStringList({"Press", "SetFocus", "Flag"}));
    QCOMPARE(accessible(g.square(3))->actionInterface()->keyBindingsForAction("Flag"),
             QStringList({"F"}));
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
    QCOMPARE(name(g.square(4)), QString("Open, empty"));
    QCOMPARE(g.caption(4), std::string(""));
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
    QCOMPARE(text(f.Label2.widget()), QString("¶"));
    QCOMPARE(description(f.Label3.widget()), QString("0"));
    QCOMPARE(name(f.Label4.widget()), QString("Time"));
    QCOMPARE(text(f.Label4.widget()), QString("Time"));

    QCOMPARE(text(f.Label1.widget()), QString(""));
    g.click(4);
    QCOMPARE(name(f.Label1.widget()), QString("Message"));
    QCOMPARE(text(f.Label1.widget()), QString("ふぅっ！セーフ！"));
    // Its text is read as its content; a description would only repeat it.
    QCOMPARE(description(f.Label1.widget()), QString(""));
    g.click(0);
    QCOMPARE(text(f.Label1.widget()), QString("まわりに3個爆弾がある！気をつけろ！"));
    f.Timer1_Timer();
    QCOMPARE(description(f.Label3.widget()), QString("1"));
    QCOMPARE(text(f.Label3.widget()), QString("1"));
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

// The key F on the focused square, and the square's action "Flag", drop the flag marker there:
// the same handler as a drag, so the same caption, boldness and win test.
void AccessibilityTest::flagFromTheKeyboard_data() {
    QTest::addColumn<bool>("byAction");
    QTest::newRow("key F") << false;
    QTest::newRow("action Flag") << true;
}

void AccessibilityTest::flagFromTheKeyboard() {
    QFETCH(bool, byAction);
    Game g;
    g.rnd.bombsAt(Layout);
    QVERIFY(startActive(g));
    auto flag = [&](int i) {
        g.square(i)->setFocus();
        if (byAction)
            accessible(g.square(i))->actionInterface()->doAction("Flag");
        else
            QTest::keyClick(g.square(i), Qt::Key_F);
    };

    g.click(0); // "3", bold
    flag(0);
    QCOMPARE(g.caption(0), std::string("¶"));
    QVERIFY(g.f1().Command1(0).FontBold());
    g.click(0);
    QCOMPARE(g.caption(0), std::string("3"));

    // A win by the keyboard alone: every safe square opened, every bomb flagged.
    g.openAllSafe(Layout);
    for (int bomb : Layout)
        flag(bomb);
    QCOMPARE(g.message(), std::string("やった！おめでとう！"));
    QVERIFY(g.frozen());
    QCOMPARE(g.f1().form.window()->focusWidget(), g.f1().Label1.widget());
    flag(24); // a frozen square takes no flag
    QCOMPARE(g.caption(24), std::string("¶"));
    QVERIFY(g.errors.empty());
}

// Each result is announced by the message line's notification once the handler is done: the
// focused square's new state, then the message; a flag alone says its state.
void AccessibilityTest::resultsAreAnnounced() {
    Game g;
    g.rnd.bombsAt(Layout);
    QVERIFY(startActive(g));
    QCOMPARE(announced(g), QString("(hidden)"));
    g.click(12);
    QTRY_COMPARE(announced(g), QString("2 / まわりに2個爆弾がある！気をつけろ！"));
    g.click(4);
    QTRY_COMPARE(announced(g), QString("Open, empty / ふぅっ！セーフ！"));
    g.click(4); // the same again is an answer too
    QTRY_COMPARE(announced(g), QString("ふぅっ！セーフ！"));
    g.square(3)->setFocus();
    QTest::keyClick(g.square(3), Qt::Key_F);
    QTRY_COMPARE(announced(g), QString("¶"));
}

// A loss freezes the board: the focus moves once, from the clicked square to the message line,
// which then reads the result, instead of running across the squares and getting lost.
void AccessibilityTest::focusRestsOnTheMessageAtTheEnd() {
    Game g;
    g.rnd.bombsAt(Layout);
    QVERIFY(startActive(g));
    QWidget* board = g.f1().form.window();
    QCOMPARE(board->focusWidget(), g.square(0));
    g.click(12);
    QTRY_COMPARE(announced(g), QString("2 / まわりに2個爆弾がある！気をつけろ！"));
    FocusCount moves(board);
    g.click(18); // a bomb
    QCOMPARE(board->focusWidget(), g.f1().Label1.widget());
    QVERIFY(moves.count <= 2); // into the clicked square, then to the message line
    QVERIFY(accessible(g.f1().Label1.widget())->state().focused);
    QCOMPARE(text(g.f1().Label1.widget()), QString("どかーん！"));
    // Where the focus rests reads the result; the notification does not say it twice.
    QTest::qWait(20);
    QCOMPARE(announced(g), QString("2 / まわりに2個爆弾がある！気をつけろ！"));
}

void AccessibilityTest::againGivesTheFocusToASquare() {
    Game g;
    g.rnd.bombsAt(Layout);
    QVERIFY(startActive(g));
    QWidget* board = g.f1().form.window();
    g.square(7)->setFocus();
    g.again(); // in the middle of a game: the square that had the focus keeps it
    QCOMPARE(board->focusWidget(), g.square(7));
    g.rnd.bombsAt(Layout);
    g.again();
    g.click(1); // lost: the focus rests on the message line
    QCOMPARE(board->focusWidget(), g.f1().Label1.widget());
    g.again();
    QCOMPARE(board->focusWidget(), g.square(0));
}

// Japanese text carries the language ja where AT-SPI shows it, as a text attribute; other text
// carries none.
void AccessibilityTest::japaneseIsMarkedAsJapanese() {
    Game g;
    g.rnd.bombsAt(Layout);
    QVERIFY(g.start());
    g.click(0);
    QCOMPARE(language(g.f1().Label1.widget()), QString("language:ja"));
    QCOMPARE(language(g.f1().Label3.widget()), QString(""));
    QCOMPARE(language(g.f1().Label2.widget()), QString(""));
    QCOMPARE(language(g.f2().form.window()), QString("language:ja"));
    QCOMPARE(language(g.f1().form.window()), QString(""));
}

QTEST_MAIN(AccessibilityTest)
#include "tst_accessibility.moc"
