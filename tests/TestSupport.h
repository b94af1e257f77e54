// Shared by the tests: a folder of pictures with its list file, the seams set to record
// errors and the end of the program, a layout of bombs fed to Rnd, and real mouse input.
#pragma once

#include "board/Form1.h"
#include "picture/Form2.h"
#include "program/Dispatch.h"
#include "program/End.h"
#include "program/Program.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QMainWindow>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace test {

// Colours of the three test pictures, to tell which one Image1 shows.
inline const QColor SetColors[3] = {QColor(200, 30, 30), QColor(30, 160, 40), QColor(40, 60, 210)};

// Feeds Rnd so that the bombs land on the given squares; queued extra draws come first. Once
// the queue is empty it walks every cell in turn, so dealing always ends.
class RndFeed {
public:
    void bombsAt(const std::vector<int>& squares) {
        for (int square : squares) {
            push(square % 5);
            push(square / 5);
        }
    }
    void push(int cell) { m_values.push_back((float(cell) + 0.5f) / 5.0f); }
    void pushRaw(float value) { m_values.push_back(value); }
    float next() {
        if (!m_values.empty()) {
            const float v = m_values.front();
            m_values.pop_front();
            return v;
        }
        const int pair = m_fallback / 2;
        const int cell = (m_fallback % 2 == 0) ? pair % 5 : (pair / 5) % 5;
        ++m_fallback;
        return (float(cell) + 0.5f) / 5.0f;
    }
    std::size_t pending() const { return m_values.size(); }

private:
    std::deque<float> m_values;
    int m_fallback = 0;
};

// One program's world: its folder, its seams and its windows.
class Game {
public:
    // `alter` changes the seams before the program begins (another screen, Rnd's own generator).
    explicit Game(const std::function<void(rt::Seams&)>& alter = {}) {
        QVERIFY(m_dir.isValid());
        m_oldDir = QDir::currentPath();
        writePicture("set1.png", SetColors[0], "PNG");
        writePicture("set2.png", SetColors[1], "PNG");
        writePicture("set3.bmp", SetColors[2], "BMP");
        writeListFile("set1.png\r\nset2.png\r\nset3.bmp\r\n");
        QDir::setCurrent(m_dir.path());
        rt::Seams seams;
        seams.report = [this](const rt::RuntimeError& e) { errors.push_back(e); };
        seams.end = [this](int status) { endStatus = status; };
        seams.rnd = [this] { return rnd.next(); };
        seams.screenWidth = 1280 * 15;
        seams.screenHeight = 1024 * 15;
        if (alter)
            alter(seams);
        rt::beginProgram(std::move(seams));
    }
    ~Game() {
        form1.reset();
        rt::beginProgram();
        QDir::setCurrent(m_oldDir);
    }

    QString path(const QString& name) const { return m_dir.filePath(name); }
    void writeListFile(const QByteArray& content) const { writeFile("qorfile.txt", content); }
    void writeFile(const QString& name, const QByteArray& content) const {
        QFile f(path(name));
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(content);
    }
    void writePicture(const QString& name, QColor color, const char* format) const {
        QImage image(40, 30, QImage::Format_RGB32);
        image.fill(color);
        QVERIFY(image.save(path(name), format));
    }

    // Runs start-up as the program does; false when it ended there.
    bool start() {
        form1 = std::make_unique<Form1>();
        form1->form.Load();
        return !rt::programEnded();
    }

    Form1& f1() { return *form1; }
    Form2& f2() { return form1->form2(); }
    QPushButton* square(int i) { return static_cast<QPushButton*>(f1().Command1(i).widget()); }
    std::string caption(int i) { return f1().Command1(i).Caption(); }
    std::string message() { return f1().Label1.Caption(); }
    int coversShown() {
        int n = 0;
        for (int i = 0; i < 20; ++i)
            n += f2().Shape1(i).Visible() ? 1 : 0;
        return n;
    }
    bool frozen() {
        for (int i = 0; i < 25; ++i)
            if (f1().Command1(i).Enabled())
                return false;
        return true;
    }
    // Which test picture Image1 shows, by its colour; -1 for none.
    int shownSet() {
        const rt::Picture picture = f2().Image1.Picture();
        if (picture.isEmpty())
            return -1;
        const QColor c = picture.image()->pixelColor(picture.image()->width() / 2,
                                                     picture.image()->height() / 2);
        for (int k = 0; k < 3; ++k)
            if (c == SetColors[k])
                return k;
        return -2;
    }

    // Real input: a left click on a square, and a drag of the flag marker.
    void click(int i) { QTest::mouseClick(square(i), Qt::LeftButton); }
    // Through the board window, as the window system delivers input, so that the pressed
    // marker's implicit grab decides who gets the move and the release. `at` is in target's
    // coordinates.
    void dragFlagTo(QWidget* target, QPoint at) {
        QWidget* marker = f1().Label2.widget();
        QWidget* top = f1().form.window();
        QWindow* window = top->windowHandle();
        const QPoint release = top->mapFromGlobal(target->mapToGlobal(at));
        QTest::mousePress(window, Qt::LeftButton, {}, marker->mapTo(top, marker->rect().center()));
        QTest::mouseMove(window, (release + marker->mapTo(top, QPoint(0, 0))) / 2);
        QTest::mouseMove(window, release);
        QTest::mouseRelease(window, Qt::LeftButton, {}, release);
    }
    void flag(int i) { dragFlagTo(square(i), square(i)->rect().center()); }
    void again() { f1().menuagain.action()->trigger(); }

    // Opens every safe square and flags every bomb of the layout, in index order.
    void openAllSafe(const std::vector<int>& bombs) {
        for (int i = 0; i < 25; ++i)
            if (std::find(bombs.begin(), bombs.end(), i) == bombs.end())
                click(i);
    }

    RndFeed rnd;
    std::vector<rt::RuntimeError> errors;
    std::optional<int> endStatus;
    std::unique_ptr<Form1> form1;

private:
    QTemporaryDir m_dir;
    QString m_oldDir;
};

} // namespace test
