// Start-up from the picture list file, through the whole program: the shapes of file a user
// may write, the failures that end the program before any window shows, and a bad picture
// that only matters once its set is chosen.
#include "TestSupport.h"

#include "lang/Open.h"

#include <QMainWindow>

using test::Game;

namespace {

const std::vector<int> Layout = {1, 5, 6, 18, 24};

// Counts every top-level window that is shown, from the moment it is made.
class ShowCounter : public QObject {
public:
    ShowCounter() { qApp->installEventFilter(this); }
    ~ShowCounter() override { qApp->removeEventFilter(this); }
    int shown = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show && watched->isWidgetType() &&
            static_cast<QWidget*>(watched)->isWindow())
            ++shown;
        return false;
    }
};

void win(Game& g) {
    g.openAllSafe(Layout);
    for (int b : Layout)
        g.flag(b);
}

} // namespace

class ListFileTest : public QObject {
    Q_OBJECT

private slots:
    void startsFromEveryShapeOfListFile_data();
    void startsFromEveryShapeOfListFile();
    void emptyFirstLineShowsNoPicture();
    void failureAtStartUpShowsNoWindow_data();
    void failureAtStartUpShowsNoWindow();
    void badSecondPictureMattersOnlyOnceChosen_data();
    void badSecondPictureMattersOnlyOnceChosen();
};

void ListFileTest::startsFromEveryShapeOfListFile_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("second");
    QTest::addColumn<QString>("third");
    QTest::newRow("CR LF") << QByteArray("set1.png\r\nset2.png\r\nset3.bmp\r\n") << "set2.png"
                           << "set3.bmp";
    QTest::newRow("LF only") << QByteArray("set1.png\nset2.png\nset3.bmp\n") << "set2.png"
                             << "set3.bmp";
    QTest::newRow("lone CR") << QByteArray("set1.png\rset2.png\rset3.bmp\r") << "set2.png"
                             << "set3.bmp";
    QTest::newRow("byte-order mark")
        << QByteArray("\xEF\xBB\xBFset1.png\r\nset2.png\r\nset3.bmp") << "set2.png"
        << "set3.bmp";
    QTest::newRow("third ends the file")
        << QByteArray("set1.png\r\nset2.png\r\nset3.bmp") << "set2.png"
        << "set3.bmp";
    QTest::newRow("more than three lines")
        << QByteArray("set1.png\r\nset2.png\r\nset3.bmp\r\nextra.png\r\n\r\n") << "set2.png"
        << "set3.bmp";
    QTest::newRow("blanks and quotes kept")
        << QByteArray("set1.png\r\n \"set2.png\"\r\n\tset3.bmp \r\n") << " \"set2.png\""
        << "\tset3.bmp ";
    // Paths are not examined until their set is loaded, whatever their length.
    const QByteArray longPath(100'000, 'p');
    QTest::newRow("third line of 100 kB")
        << QByteArray("set1.png\r\nset2.png\r\n" + longPath + "\r\n") << "set2.png"
        << QString(longPath);
    QTest::newRow("second line beyond the limit")
        << QByteArray("set1.png\r\n" + QByteArray(3 << 20, 'p') + "\r\nset3.bmp")
        << QString(QByteArray(rt::MaxLineBytes + 1, 'p')) << "set3.bmp";
}

void ListFileTest::startsFromEveryShapeOfListFile() {
    QFETCH(QByteArray, content);
    QFETCH(QString, second);
    QFETCH(QString, third);
    Game g;
    g.writeListFile(content);
    QVERIFY(g.start());
    QVERIFY(g.errors.empty());
    QCOMPARE(QString::fromStdString(g.f1().PicFile1), QString("set1.png"));
    QCOMPARE(QString::fromStdString(g.f1().PicFile2), second);
    QCOMPARE(QString::fromStdString(g.f1().PicFile3), third);
    QCOMPARE(g.shownSet(), 0);
    QVERIFY(g.f1().form.window()->isVisible());
    QVERIFY(g.f2().form.window()->isVisible());
}

// An empty path is an empty picture: the game goes on with nothing under the covers.
void ListFileTest::emptyFirstLineShowsNoPicture() {
    Game g;
    g.writeListFile("\r\nset2.png\r\nset3.bmp\r\n");
    g.rnd.bombsAt(Layout);
    QVERIFY(g.start());
    QVERIFY(g.errors.empty());
    QCOMPARE(g.shownSet(), -1);
    QCOMPARE(g.coversShown(), 20);
    g.click(0);
    QCOMPARE(g.coversShown(), 19);
}

void ListFileTest::failureAtStartUpShowsNoWindow_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<rt::ErrorKind>("kind");
    QTest::addColumn<QString>("named");
    QTest::newRow("no list file") << QByteArray() << rt::ErrorKind::FileNotFound << "qorfile.txt";
    QTest::newRow("empty list file")
        << QByteArray("") << rt::ErrorKind::InputPastEndOfFile << "qorfile.txt";
    QTest::newRow("two lines") << QByteArray("set1.png\r\nset2.png\r\n")
                               << rt::ErrorKind::InputPastEndOfFile << "qorfile.txt";
    QTest::newRow("missing first picture") << QByteArray("gone.png\r\nset2.png\r\nset3.bmp\r\n")
                                           << rt::ErrorKind::FileNotFound << "gone.png";
    QTest::newRow("first picture is text") << QByteArray("notes.txt\r\nset2.png\r\nset3.bmp\r\n")
                                           << rt::ErrorKind::InvalidPicture << "notes.txt";
}

void ListFileTest::failureAtStartUpShowsNoWindow() {
    QFETCH(QByteArray, content);
    QFETCH(rt::ErrorKind, kind);
    QFETCH(QString, named);
    Game g;
    if (QTest::currentDataTag() == QLatin1String("no list file"))
        QFile::remove(g.path("qorfile.txt"));
    else
        g.writeListFile(content);
    g.writeFile("notes.txt", "set1.png\r\n");
    ShowCounter counter;
    QVERIFY(!g.start());
    QCOMPARE(g.errors.size(), std::size_t(1));
    QCOMPARE(g.errors[0].kind(), kind);
    QVERIFY2(QString::fromStdString(g.errors[0].detail()).contains(named),
             g.errors[0].detail().c_str());
    QVERIFY(g.endStatus.has_value() && *g.endStatus != 0);
    QCoreApplication::processEvents();
    QCOMPARE(counter.shown, 0);
}

void ListFileTest::badSecondPictureMattersOnlyOnceChosen_data() {
    QTest::addColumn<QByteArray>("secondLine");
    QTest::addColumn<rt::ErrorKind>("kind");
    QTest::addColumn<QString>("cause");
    QTest::newRow("broken picture") << QByteArray("broken.png") << rt::ErrorKind::InvalidPicture
                                    << "picture \"broken.png\": is damaged";
    QTest::newRow("line of 2 MB") << QByteArray(2 << 20, 'b') << rt::ErrorKind::PathAccessError
                                  << "the path is too long (more than 1048576 bytes";
}

void ListFileTest::badSecondPictureMattersOnlyOnceChosen() {
    QFETCH(QByteArray, secondLine);
    QFETCH(rt::ErrorKind, kind);
    QFETCH(QString, cause);
    Game g;
    g.writeListFile("set1.png\r\n" + secondLine + "\r\nset3.bmp\r\n");
    g.writeFile("broken.png", "\x89PNG\r\n\x1a\n-- not really --");
    g.rnd.bombsAt(Layout);
    QVERIFY(g.start());
    win(g);
    g.rnd.bombsAt(Layout);
    g.again(); // Set1 still checked: the second path is not used
    QVERIFY(g.errors.empty());
    win(g);
    g.f2().PicSet(1).action()->trigger();
    QVERIFY(g.errors.empty()); // choosing the set reads nothing yet
    g.again();
    QCOMPARE(g.errors.size(), std::size_t(1));
    QCOMPARE(g.errors[0].kind(), kind);
    QVERIFY2(QString::fromStdString(g.errors[0].detail()).contains(cause),
             g.errors[0].detail().c_str());
    QVERIFY(g.endStatus.has_value() && *g.endStatus != 0);
}

QTEST_MAIN(ListFileTest)
#include "tst_listfile.moc"
