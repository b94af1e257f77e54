// A game left alone: the program wakes for the clock about once a second and otherwise
// sleeps. Guards against busy polling and animation loops, with generous bounds.
#include "TestSupport.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTimer>

#include <map>

#include <unistd.h>

namespace {

struct Usage {
    long long cpuTicks = 0; // user + system time of every thread, in clock ticks
    long long switches = 0; // context switches of every thread: each one is a sleep or a
                            // preemption, so together they count the wakeups
};

Usage usageOf(qint64 pid) {
    Usage u;
    QFile stat(QString("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return u;
    // The command name may hold spaces; the fields after it are fixed.
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() > 13)
        u.cpuTicks = fields[11].toLongLong() + fields[12].toLongLong(); // utime, stime
    const QDir tasks(QString("/proc/%1/task").arg(pid));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile status(tasks.filePath(task + "/status"));
        if (!status.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& l : status.readAll().split('\n'))
            if (l.contains("ctxt_switches:"))
                u.switches += l.mid(l.indexOf(':') + 1).trimmed().toLongLong();
    }
    return u;
}

// Counts the timer and paint events each object receives.
class EventCounter : public QObject {
public:
    std::map<QObject*, int> timers, paints;
    // Class names taken when the event comes: a one-shot timer is gone before they are read.
    std::map<QObject*, QString> names;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Timer)
            ++timers[watched];
        if (event->type() == QEvent::Paint)
            ++paints[watched];
        if (event->type() == QEvent::Timer || event->type() == QEvent::Paint)
            names.try_emplace(watched, watched->metaObject()->className());
        return false;
    }
};

} // namespace

class IdleTest : public QObject {
    Q_OBJECT

private slots:
    void executableSleepsBetweenTicks();
    void onlyTheClockTicks();
};

// The real program, started in a folder of pictures and left alone for three seconds.
void IdleTest::executableSleepsBetweenTicks() {
    test::Game g;
    QProcess game;
    game.setWorkingDirectory(g.path("."));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    game.setProcessEnvironment(env);
    game.start(QStringLiteral(KELVORADX_EXECUTABLE), {});
    QVERIFY(game.waitForStarted());
    const qint64 pid = game.processId();

    // Start-up is over once the CPU time stops growing; a program that never settles is
    // measured all the same after a while, and fails below.
    Usage last = usageOf(pid);
    for (int quiet = 0, round = 0; quiet < 2 && round < 40; ++round) {
        QTest::qWait(250);
        const Usage now = usageOf(pid);
        quiet = now.cpuTicks == last.cpuTicks ? quiet + 1 : 0;
        last = now;
    }
    QCOMPARE(game.state(), QProcess::Running);

    const Usage before = usageOf(pid);
    QTest::qWait(3000);
    const Usage after = usageOf(pid);
    QCOMPARE(game.state(), QProcess::Running);
    game.kill();
    game.waitForFinished();

    const long long cpuMs = (after.cpuTicks - before.cpuTicks) * 1000 / sysconf(_SC_CLK_TCK);
    const long long wakeups = after.switches - before.switches;
    const QByteArray figures =
        QString("%1 ms CPU, %2 context switches in 3 s").arg(cpuMs).arg(wakeups).toUtf8();
    qInfo("%s", figures.constData());
    // Three ticks need a few milliseconds; a busy loop takes the whole 3000 ms and an
    // animation at screen rate wakes some 180 times.
    QVERIFY2(cpuMs <= 300, figures.constData());
    QVERIFY2(wakeups >= 2 && wakeups <= 40, figures.constData());
}

// In the process itself: over three seconds of play, the clock's timer is the only object
// that receives timer events, the seconds the only thing repainted, and the clock shows one
// second per tick.
void IdleTest::onlyTheClockTicks() {
    test::Game g;
    QVERIFY(g.start());
    QTimer stop;
    stop.setSingleShot(true);
    QEventLoop loop;
    connect(&stop, &QTimer::timeout, &loop, &QEventLoop::quit);
    // Let the windows settle (first paint, layout) before counting.
    QTest::qWait(200);

    EventCounter counter;
    qApp->installEventFilter(&counter);
    stop.start(3000);
    loop.exec();
    qApp->removeEventFilter(&counter);

    QObject* clock = g.f1().Timer1.timer();
    const int ticks = counter.timers[clock];
    QString others;
    for (const auto& [object, n] : counter.timers)
        if (object != clock && object != &stop && n > 0)
            others += QString("%1 x %2; ").arg(counter.names[object]).arg(n);
    // Nothing is painted but the seconds, once per tick at most.
    QObject* seconds = g.f1().Label3.widget();
    for (const auto& [object, n] : counter.paints)
        if (object != seconds || n > ticks)
            others += QString("%1 painted %2 x; ").arg(counter.names[object]).arg(n);
    QVERIFY2(ticks >= 1 && ticks <= 6, qPrintable(QString::number(ticks)));
    QVERIFY2(others.isEmpty(), qPrintable(others));
    QCOMPARE(g.f1().Label3.Caption(), std::to_string(ticks));
    QVERIFY(g.errors.empty());
}

QTEST_MAIN(IdleTest)
#include "tst_idle.moc"
