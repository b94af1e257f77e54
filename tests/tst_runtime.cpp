// The forms layer: checked 16-bit arithmetic, arrays, line input and run-time errors.
#include "TestSupport.h"

#include "lang/Int16.h"
#include "lang/Open.h"

#include <QProcess>

#include <sys/stat.h>

using rt::ErrorKind;
using rt::Int16;

namespace {

// The kind of run-time error that f raises, or nothing.
template <class F> std::optional<ErrorKind> errorOf(F f) {
    try {
        f();
    } catch (const rt::RuntimeError& e) {
        return e.kind();
    }
    return std::nullopt;
}

} // namespace

class RuntimeTest : public QObject {
    Q_OBJECT

private slots:
    void overflowRaisesAtBothEnds();
    void arraysRejectMissingIndices();
    void lineInputSplitsEveryLineEnd_data();
    void lineInputSplitsEveryLineEnd();
    void lineInputFailures();
    void errorInAHandlerEndsTheProgramOnce();
    void startupFailureExitsNonZeroWithAReport_data();
    void startupFailureExitsNonZeroWithAReport();
    void silentDisplayEndsWithOneLine_data();
    void silentDisplayEndsWithOneLine();
};

void RuntimeTest::overflowRaisesAtBothEnds() {
    const Int16 max = Int16::Max;
    const Int16 min = Int16::Min;
    QCOMPARE(errorOf([&] { (void)(max + 1); }), ErrorKind::Overflow);
    QCOMPARE(errorOf([&] { (void)(min - 1); }), ErrorKind::Overflow);
    QCOMPARE(errorOf([&] { (void)(-min); }), ErrorKind::Overflow);
    QCOMPARE(errorOf([&] { (void)(Int16(200) * 200); }), ErrorKind::Overflow);
    QCOMPARE(errorOf([&] { (void)intDiv(min, -1); }), ErrorKind::Overflow);
    QCOMPARE(errorOf([&] { (void)(Int16(5) % 0); }), ErrorKind::DivisionByZero);
    QCOMPARE(errorOf([&] { (void)rt::Int(32768.0); }), ErrorKind::Overflow);
    QCOMPARE(errorOf([&] { (void)rt::Int(0.0 / 0.0); }), ErrorKind::FloatingPointFault);
    QCOMPARE((max - 1 + 1).value(), 32767);
    QCOMPARE((min + 1 - 1).value(), -32768);
    QCOMPARE(rt::Int(-0.5).value(), -1);
    QCOMPARE(rt::Int(4.9999).value(), 4);
    QCOMPARE(rt::CStr(-12), std::string("-12"));
}

void RuntimeTest::arraysRejectMissingIndices() {
    rt::Array2D<Int16, -1, 5> board("Board");
    board(-1, 5) = 3;
    QCOMPARE(board(-1, 5).value(), 3);
    QCOMPARE(errorOf([&] { board(6, 0); }), ErrorKind::SubscriptOutOfRange);
    QCOMPARE(errorOf([&] { board(0, -2); }), ErrorKind::SubscriptOutOfRange);

    test::Game g;
    QVERIFY(g.start());
    QCOMPARE(errorOf([&] { g.f1().Command1(25); }), ErrorKind::SubscriptOutOfRange);
    QCOMPARE(errorOf([&] { g.f1().Command1(-1); }), ErrorKind::SubscriptOutOfRange);
    QCOMPARE(errorOf([&] { g.f2().Shape1(20); }), ErrorKind::SubscriptOutOfRange);
}

void RuntimeTest::lineInputSplitsEveryLineEnd_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("lines");
    const QStringList abc = {"a.png", "b.png", "c.png"};
    QTest::newRow("CR LF") << QByteArray("a.png\r\nb.png\r\nc.png\r\n") << abc;
    QTest::newRow("LF only") << QByteArray("a.png\nb.png\nc.png\n") << abc;
    QTest::newRow("lone CR") << QByteArray("a.png\rb.png\rc.png\r") << abc;
    QTest::newRow("third ends the file") << QByteArray("a.png\r\nb.png\r\nc.png") << abc;
    QTest::newRow("byte-order mark") << QByteArray("\xEF\xBB\xBF"
                                                   "a.png\r\nb.png\r\nc.png")
                                     << abc;
    QTest::newRow("more than three") << QByteArray("a.png\nb.png\nc.png\nd.png\n") << abc;
    QTest::newRow("blanks and quotes kept")
        << QByteArray(" a.png \r\n\"b.png\"\r\n\r\n") << QStringList{" a.png ", "\"b.png\"", ""};
}

void RuntimeTest::lineInputSplitsEveryLineEnd() {
    QFETCH(QByteArray, content);
    QFETCH(QStringList, lines);
    test::Game g;
    g.writeListFile(content);
    rt::Open("qorfile.txt");
    for (const QString& line : lines)
        QCOMPARE(QString::fromStdString(rt::LineInput()), line);
    rt::Close();
}

void RuntimeTest::lineInputFailures() {
    test::Game g;
    g.writeListFile("only one\r\n");
    rt::Open("qorfile.txt");
    rt::LineInput();
    QCOMPARE(errorOf([] { rt::LineInput(); }), ErrorKind::InputPastEndOfFile);
    // A line beyond the limit is cut, not refused, and the next line is read as it is.
    g.writeListFile(QByteArray(rt::MaxLineBytes + 5000, 'x') + "\r\nnext\r\n");
    rt::Open("qorfile.txt");
    QCOMPARE(rt::LineInput().size(), rt::MaxLineBytes + 1);
    QCOMPARE(rt::LineInput(), std::string("next"));
    QCOMPARE(errorOf([] { rt::Open("missing.txt"); }), ErrorKind::FileNotFound);
    QCOMPARE(errorOf([] { rt::Open("."); }), ErrorKind::PathAccessError);
    QCOMPARE(errorOf([] { rt::Open("/dev/zero"); }), ErrorKind::PathAccessError);
    QVERIFY(::mkfifo(g.path("fifo").toLocal8Bit().constData(), 0600) == 0);
    QCOMPARE(errorOf([] { rt::Open("fifo"); }), ErrorKind::PathAccessError); // without blocking
    rt::Close();
}

void RuntimeTest::errorInAHandlerEndsTheProgramOnce() {
    test::Game g;
    QVERIFY(g.start());
    int after = 0;
    rt::dispatch([&] {
        (void)(Int16(Int16::Max) + 1);
        ++after;
    });
    QCOMPARE(after, 0);
    QCOMPARE(g.errors.size(), std::size_t(1));
    QCOMPARE(g.errors[0].kind(), ErrorKind::Overflow);
    QCOMPARE(g.endStatus, std::optional<int>(1));
    rt::dispatch([&] { ++after; }); // no handler runs once the program has ended
    g.click(0);
    QCOMPARE(after, 0);
    QCOMPARE(g.caption(0), std::string("?"));
}

void RuntimeTest::startupFailureExitsNonZeroWithAReport_data() {
    QTest::addColumn<QByteArray>("listFile");
    QTest::addColumn<QString>("named");
    QTest::newRow("no list file") << QByteArray() << "qorfile.txt";
    QTest::newRow("two lines") << QByteArray("set1.png\r\nset2.png\r\n") << "qorfile.txt";
    QTest::newRow("bad first picture")
        << QByteArray("nothing.png\r\nset2.png\r\nset3.bmp\r\n") << "nothing.png";
}

// The real executable, started in a folder that fails it: no window, a report on stderr
// naming the file, a non-zero status.
void RuntimeTest::startupFailureExitsNonZeroWithAReport() {
    QFETCH(QByteArray, listFile);
    QFETCH(QString, named);
    test::Game g;
    if (listFile.isEmpty())
        QFile::remove(g.path("qorfile.txt"));
    else
        g.writeListFile(listFile);
    QProcess p;
    p.setWorkingDirectory(g.path("."));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(KELVORADX_EXECUTABLE), {});
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QVERIFY(p.exitCode() != 0);
    const QString err = QString::fromUtf8(p.readAllStandardError());
    QVERIFY2(err.contains("run-time error") && err.contains(named), qPrintable(err));
}

// An X display number nobody serves on this machine: no socket, no lock file.
QString silentXDisplay() {
    for (int n = 97;; ++n)
        if (!QFile::exists(QString("/tmp/.X11-unix/X%1").arg(n)) &&
            !QFile::exists(QString("/tmp/.X%1-lock").arg(n)))
            return QString(":%1").arg(n);
}

void RuntimeTest::silentDisplayEndsWithOneLine_data() {
    QTest::addColumn<QString>("platform");
    QTest::addColumn<QString>("x11");
    QTest::addColumn<QString>("wayland");
    QTest::addColumn<QString>("named");
    QTest::addColumn<int>("lines");
    const QString x11 = silentXDisplay();
    QTest::newRow("X display, no server") << "" << x11 << "" << x11 << 1;
    QTest::newRow("xcb asked for, no server") << "xcb" << x11 << "" << x11 << 1;
    QTest::newRow("Wayland display, no compositor") << ""
                                                    << ""
                                                    << "wayland-silent"
                                                    << "wayland-silent" << 1;
    QTest::newRow("no display at all") << ""
                                       << ""
                                       << ""
                                       << "xvfb-run" << 3;
}

// Where Qt would abort with a core dump, the real executable says which display it could not
// reach and exits with status 1, showing nothing.
void RuntimeTest::silentDisplayEndsWithOneLine() {
    QFETCH(QString, platform);
    QFETCH(QString, x11);
    QFETCH(QString, wayland);
    QFETCH(QString, named);
    QFETCH(int, lines);
    test::Game g;
    QProcess p;
    p.setWorkingDirectory(g.path("."));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const std::pair<const char*, QString> settings[] = {
        {"QT_QPA_PLATFORM", platform}, {"DISPLAY", x11}, {"WAYLAND_DISPLAY", wayland}};
    for (const auto& [name, value] : settings) {
        env.remove(name);
        if (!value.isEmpty())
            env.insert(name, value);
    }
    env.insert("XDG_RUNTIME_DIR", g.path("."));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(KELVORADX_EXECUTABLE), {});
    QVERIFY(p.waitForFinished(10000));
    const QString err = QString::fromUtf8(p.readAllStandardError());
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 1);
    QVERIFY2(err.endsWith('\n') && err.count('\n') == lines && err.contains(named),
             qPrintable(err));
}

QTEST_MAIN(RuntimeTest)
#include "tst_runtime.moc"
