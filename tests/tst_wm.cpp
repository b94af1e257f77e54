// Real window managers, each on an X server of its own: both frames stand where the layout puts
// them, neither window offers maximise or resize, closing either one through the window manager
// ends the program cleanly, and the icon reaches the window manager. Each also shows a game in
// progress as a desktop user sees it, kept in the build tree for the README.
#include "TestSupport.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>

#include <xcb/xcb.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <thread>

namespace {

const QString BoardTitle = QStringLiteral("KelvoraDX");
const QString PictureTitle = QStringLiteral("Kelvora　このへんがＤＸ");
// The displays this test may take; an X server refuses one already in use and the next is tried.
constexpr int FirstDisplay = 130;
constexpr int LastDisplay = 139;
// A bomb layout for the game in progress of the screenshot.
const std::vector<int> ShotLayout = {1, 5, 6, 18, 24};

bool waitUntil(const std::function<bool()>& done, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <typename T> using Reply = std::unique_ptr<T, FreeDeleter>;

// A client connection to one X server, reading what the window manager wrote.
class XServer {
public:
    explicit XServer(int display) {
        m_c = xcb_connect(qPrintable(QStringLiteral(":%1").arg(display)), nullptr);
        if (!ok())
            return;
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(m_c)).data;
        m_root = screen->root;
        size = QSize(screen->width_in_pixels, screen->height_in_pixels);
    }
    ~XServer() { xcb_disconnect(m_c); }
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;

    bool ok() const { return m_c && !xcb_connection_has_error(m_c); }

    xcb_atom_t atom(const char* name) {
        const Reply<xcb_intern_atom_reply_t> r(xcb_intern_atom_reply(
            m_c, xcb_intern_atom(m_c, 0, uint16_t(std::strlen(name)), name), nullptr));
        return r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
    }

    // The window that has the keys, as the window manager says.
    xcb_window_t activeWindow() {
        const auto active = values(m_root, "_NET_ACTIVE_WINDOW");
        return active.empty() ? xcb_window_t(XCB_WINDOW_NONE) : active.front();
    }

    // A property of 32-bit values; empty when the window lacks it.
    std::vector<uint32_t> values(xcb_window_t w, const char* name) {
        const Reply<xcb_get_property_reply_t> r(xcb_get_property_reply(
            m_c, xcb_get_property(m_c, 0, w, atom(name), XCB_GET_PROPERTY_TYPE_ANY, 0, 1 << 20),
            nullptr));
        if (!r || r->format != 32)
            return {};
        const auto* v = static_cast<const uint32_t*>(xcb_get_property_value(r.get()));
        return std::vector<uint32_t>(v, v + xcb_get_property_value_length(r.get()) / 4);
    }

    QString title(xcb_window_t w) {
        const Reply<xcb_get_property_reply_t> r(xcb_get_property_reply(
            m_c, xcb_get_property(m_c, 0, w, atom("_NET_WM_NAME"), atom("UTF8_STRING"), 0, 256),
            nullptr));
        if (!r)
            return {};
        return QString::fromUtf8(static_cast<const char*>(xcb_get_property_value(r.get())),
                                 xcb_get_property_value_length(r.get()));
    }

    // The window manager runs and answers a frame request for a window of ours that is never
    // shown: from then on it will answer the program's requests too.
    bool windowManagerAnswers() {
        const auto check = values(m_root, "_NET_SUPPORTING_WM_CHECK");
        if (check.size() != 1 || values(check[0], "_NET_SUPPORTING_WM_CHECK") != check)
            return false;
        if (m_probe == XCB_WINDOW_NONE) {
            m_probe = xcb_generate_id(m_c);
            xcb_create_window(m_c, XCB_COPY_FROM_PARENT, m_probe, m_root, 0, 0, 100, 100, 0,
                              XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
        }
        sendToRoot(m_probe, "_NET_REQUEST_FRAME_EXTENTS", {});
        return waitUntil([&] { return values(m_probe, "_NET_FRAME_EXTENTS").size() == 4; }, 100);
    }

    // The program's top-level windows the window manager manages and has framed, by title.
    std::map<QString, xcb_window_t> managedWindows() {
        std::map<QString, xcb_window_t> windows;
        for (xcb_window_t w : values(m_root, "_NET_CLIENT_LIST")) {
            const Reply<xcb_get_window_attributes_reply_t> a(
                xcb_get_window_attributes_reply(m_c, xcb_get_window_attributes(m_c, w), nullptr));
            if (a && a->map_state == XCB_MAP_STATE_VIEWABLE &&
                values(w, "_NET_FRAME_EXTENTS").size() == 4)
                windows[title(w)] = w;
        }
        return windows;
    }

    // The outer frame: the client area on the screen, grown by the frame extents.
    QRect frame(xcb_window_t w) {
        const Reply<xcb_get_geometry_reply_t> g(
            xcb_get_geometry_reply(m_c, xcb_get_geometry(m_c, w), nullptr));
        const Reply<xcb_translate_coordinates_reply_t> at(xcb_translate_coordinates_reply(
            m_c, xcb_translate_coordinates(m_c, w, m_root, 0, 0), nullptr));
        const auto e = values(w, "_NET_FRAME_EXTENTS");
        if (!g || !at || e.size() != 4)
            return {};
        return QRect(at->dst_x, at->dst_y, g->width, g->height)
            .marginsAdded(QMargins(int(e[0]), int(e[2]), int(e[1]), int(e[3])));
    }

    // What the close box does: ask the window manager to close the window.
    void close(xcb_window_t w) { sendToRoot(w, "_NET_CLOSE_WINDOW", {XCB_CURRENT_TIME, 2}); }

    void paintBackground(QColor color) {
        const uint32_t pixel = color.rgb() & 0xffffff;
        xcb_change_window_attributes(m_c, m_root, XCB_CW_BACK_PIXEL, &pixel);
        xcb_clear_area(m_c, 0, m_root, 0, 0, 0, 0);
        xcb_flush(m_c);
    }

    QImage grab(QRect area) {
        const Reply<xcb_get_image_reply_t> r(xcb_get_image_reply(
            m_c,
            xcb_get_image(m_c, XCB_IMAGE_FORMAT_Z_PIXMAP, m_root, int16_t(area.x()),
                          int16_t(area.y()), uint16_t(area.width()), uint16_t(area.height()), ~0u),
            nullptr));
        if (!r || xcb_get_image_data_length(r.get()) != area.width() * area.height() * 4)
            return {};
        return QImage(xcb_get_image_data(r.get()), area.width(), area.height(),
                      QImage::Format_RGB32)
            .copy();
    }

    QSize size;

private:
    void sendToRoot(xcb_window_t w, const char* type, std::vector<uint32_t> data) {
        xcb_client_message_event_t event = {};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = w;
        event.type = atom(type);
        std::copy(data.begin(), data.end(), event.data.data32);
        xcb_send_event(m_c, 0, m_root,
                       XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char*>(&event));
        xcb_flush(m_c);
    }

    xcb_connection_t* m_c = nullptr;
    xcb_window_t m_root = XCB_WINDOW_NONE;
    xcb_window_t m_probe = XCB_WINDOW_NONE;
};

// One X server with one window manager, and what runs on it. Whatever the outcome, the programs
// are killed, then the server: the window manager ends with its display, and so does the
// private bus session it may run in (killed directly, that session would leave its bus behind).
class Desktop {
public:
    explicit Desktop(const QStringList& windowManager) {
        QVERIFY(m_dir.isValid());
        for (int d = FirstDisplay; d <= LastDisplay && display < 0; ++d) {
            // -displayfd: the server writes the number once it accepts clients.
            m_server.start(QStringLiteral("Xvfb"),
                           {QStringLiteral(":%1").arg(d), "-displayfd", "1", "-screen", "0",
                            "1280x1024x24", "-noreset", "-nolisten", "tcp"});
            if (m_server.waitForReadyRead(5000))
                display = d;
            else
                stop(m_server);
        }
        QVERIFY2(display >= 0, "no free display for Xvfb");
        m_env.insert(QStringLiteral("DISPLAY"), QStringLiteral(":%1").arg(display));
        m_env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir.path());
        m_env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        // No accessibility bus and no settings daemon started on the side: nothing outlives
        // the test.
        m_env.insert(QStringLiteral("NO_AT_BRIDGE"), QStringLiteral("1"));
        m_env.insert(QStringLiteral("GSETTINGS_BACKEND"), QStringLiteral("memory"));
        m_env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                     QStringLiteral("unix:path=%1/no-bus").arg(m_dir.path()));
        m_windowManager.setProcessEnvironment(m_env);
        m_windowManager.setProcessChannelMode(QProcess::MergedChannels);
        m_windowManager.start(windowManager.front(), windowManager.mid(1));
        QVERIFY(m_windowManager.waitForStarted());
        x = std::make_unique<XServer>(display);
        QVERIFY(x->ok());
        QVERIFY2(waitUntil([&] { return x->windowManagerAnswers(); }, 15000),
                 m_windowManager.readAll().constData());
    }
    ~Desktop() {
        for (auto& program : m_programs)
            stop(*program);
        x.reset();
        stop(m_server);
        if (!m_windowManager.waitForFinished(5000))
            stop(m_windowManager);
    }

    QProcess& start(const QString& program, const QStringList& args, const QString& folder) {
        auto& p = *m_programs.emplace_back(std::make_unique<QProcess>());
        QProcessEnvironment env = m_env;
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(folder);
        p.start(program, args);
        return p;
    }

    // Both windows of the program, once managed, framed and standing still.
    std::map<QString, QRect> bothWindows(std::map<QString, xcb_window_t>* ids = nullptr) {
        std::map<QString, QRect> last;
        for (int tries = 0; tries < 100; ++tries) {
            const auto windows = x->managedWindows();
            std::map<QString, QRect> frames;
            for (const auto& [title, id] : windows)
                frames[title] = x->frame(id);
            if (frames.count(BoardTitle) && frames.count(PictureTitle) && frames == last) {
                if (ids)
                    *ids = windows;
                return frames;
            }
            last = frames;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return {};
    }

    int display = -1;
    std::unique_ptr<XServer> x;

private:
    static void stop(QProcess& p) {
        if (p.state() == QProcess::NotRunning)
            return;
        p.terminate();
        if (!p.waitForFinished(3000)) {
            p.kill();
            p.waitForFinished(3000);
        }
    }

    QTemporaryDir m_dir;
    QProcessEnvironment m_env = QProcessEnvironment::systemEnvironment();
    QProcess m_server;
    QProcess m_windowManager;
    std::vector<std::unique_ptr<QProcess>> m_programs;
};

bool hasAction(XServer& x, xcb_window_t w, const char* action) {
    const auto actions = x.values(w, "_NET_WM_ALLOWED_ACTIONS");
    return std::find(actions.begin(), actions.end(), x.atom(action)) != actions.end();
}

// The 32 x 32 picture among the icons the window offers, as ARGB.
QImage icon32(XServer& x, xcb_window_t w) {
    const auto v = x.values(w, "_NET_WM_ICON");
    for (std::size_t i = 0; i + 2 <= v.size();) {
        const uint32_t width = v[i], height = v[i + 1];
        const std::size_t end = i + 2 + std::size_t(width) * height;
        if (end > v.size())
            break;
        if (width == 32 && height == 32) {
            QImage image(32, 32, QImage::Format_ARGB32);
            for (int p = 0; p < 32 * 32; ++p)
                image.setPixel(p % 32, p / 32, v[i + 2 + p]);
            return image;
        }
        i = end;
    }
    return {};
}

} // namespace

class WmTest : public QObject {
    Q_OBJECT

private slots:
    void realWindowManager_data();
    void realWindowManager();
};

void WmTest::realWindowManager_data() {
    QTest::addColumn<QStringList>("command");
    QTest::addColumn<bool>("ownBus");
    // GNOME's and Xfce's window managers want a session bus of their own.
    QTest::newRow("openbox") << QStringList{"openbox"} << false;
    QTest::newRow("xfwm4") << QStringList{"xfwm4", "--compositor=off"} << true;
    QTest::newRow("metacity") << QStringList{"metacity"} << true;
    QTest::newRow("mutter") << QStringList{"mutter", "--x11", "--replace"} << true;
}

void WmTest::realWindowManager() {
    QFETCH(QStringList, command);
    QFETCH(bool, ownBus);
    QStringList tools = {QStringLiteral("Xvfb"), command.front()};
    if (ownBus)
        tools << QStringLiteral("dbus-run-session");
    for (const QString& tool : tools) {
        if (QStandardPaths::findExecutable(tool).isEmpty())
            QSKIP(qPrintable(tool + " is not installed (scripts/install-deps.sh)"));
    }
    if (ownBus)
        command.prepend(QStringLiteral("dbus-run-session"));
    Desktop desktop(command);
    if (QTest::currentTestFailed())
        return;
    XServer& x = *desktop.x;
    desktop.x->paintBackground(QColor(58, 74, 96));

    // Placement, read from the window manager's frames: 100 twips either side of the centre
    // line, both centred vertically, each within 2 px.
    const double gap = 100.0 / 15;
    const double centreX = x.size.width() / 2.0;
    const double centreY = x.size.height() / 2.0;
    const QStringList noArgs;
    const QString demo = QStringLiteral(KELVORADX_DEMO_DIR);
    QProcess& first = desktop.start(QStringLiteral(KELVORADX_EXECUTABLE), noArgs, demo);
    std::map<QString, xcb_window_t> ids;
    const auto frames = desktop.bothWindows(&ids);
    QVERIFY2(!frames.empty(), first.readAllStandardError().constData());
    const QRect board = frames.at(BoardTitle);
    const QRect picture = frames.at(PictureTitle);
    const QString where = QStringLiteral("board %1,%2 %3x%4, picture %5,%6 %7x%8")
                              .arg(board.x())
                              .arg(board.y())
                              .arg(board.width())
                              .arg(board.height())
                              .arg(picture.x())
                              .arg(picture.y())
                              .arg(picture.width())
                              .arg(picture.height());
    qInfo("%s frames: %s", QTest::currentDataTag(), qPrintable(where));
    QVERIFY2(qAbs(board.x() + board.width() - (centreX - gap)) <= 2, qPrintable(where));
    QVERIFY2(qAbs(picture.x() - (centreX + gap)) <= 2, qPrintable(where));
    QVERIFY2(qAbs(board.y() + board.height() / 2.0 - centreY) <= 2, qPrintable(where));
    QVERIFY2(qAbs(picture.y() + picture.height() / 2.0 - centreY) <= 2, qPrintable(where));

    // The board has the keys, also where the window manager activates each window it maps
    // (xfwm4 did, and the picture window, shown last, took them).
    QVERIFY2(waitUntil([&] { return x.activeWindow() == ids.at(BoardTitle); }, 3000),
             qPrintable(QStringLiteral("active window 0x%1").arg(x.activeWindow(), 0, 16)));

    const QImage icon(QStringLiteral(":/icons/kelvoradx.xpm"));
    QCOMPARE(icon.size(), QSize(32, 32));
    for (const QString& title : {BoardTitle, PictureTitle}) {
        const xcb_window_t w = ids.at(title);
        for (const char* action : {"_NET_WM_ACTION_MAXIMIZE_HORZ", "_NET_WM_ACTION_MAXIMIZE_VERT",
                                   "_NET_WM_ACTION_RESIZE"})
            QVERIFY2(!hasAction(x, w, action), action);
        QVERIFY(hasAction(x, w, "_NET_WM_ACTION_CLOSE"));
        QCOMPARE(icon32(x, w), icon.convertToFormat(QImage::Format_ARGB32));
    }

    // Closing either window through the window manager ends the program, status 0, and takes
    // both windows away.
    for (const QString& closed : {BoardTitle, PictureTitle}) {
        QProcess& game = closed == BoardTitle
                             ? first
                             : desktop.start(QStringLiteral(KELVORADX_EXECUTABLE), noArgs, demo);
        std::map<QString, xcb_window_t> now;
        QVERIFY(!desktop.bothWindows(&now).empty());
        x.close(now.at(closed));
        QVERIFY2(game.waitForFinished(5000), qPrintable(closed));
        QCOMPARE(game.exitStatus(), QProcess::NormalExit);
        QCOMPARE(game.exitCode(), 0);
        QVERIFY(waitUntil([&] { return x.managedWindows().empty(); }, 3000));
    }

    // A game in progress with a known layout, in a process of its own on this desktop.
    QProcess& shown = desktop.start(QCoreApplication::applicationFilePath(), {"--play"}, demo);
    QVERIFY2(shown.waitForReadyRead(10000), shown.readAllStandardError().constData());
    const auto played = desktop.bothWindows();
    QVERIFY(!played.empty());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const QRect both =
        (played.at(BoardTitle) | played.at(PictureTitle)).marginsAdded(QMargins(24, 24, 24, 24)) &
        QRect(QPoint(0, 0), x.size);
    const QImage shot = x.grab(both);
    QVERIFY(!shot.isNull());
    QDir().mkpath(QStringLiteral(KELVORADX_ARTIFACTS));
    QVERIFY(shot.save(QStringLiteral(KELVORADX_ARTIFACTS "/desktop-%1.png")
                          .arg(QString::fromLatin1(QTest::currentDataTag()))));
}

namespace {

// The game of the screenshot: the program's own windows in this process, dealt ShotLayout and
// played half-way; it runs until the test ends it.
int playForScreenshot(int argc, char* argv[]) {
    QApplication app(argc, argv);
    test::Game g;
    const QString demo = QStringLiteral(KELVORADX_DEMO_DIR "/");
    g.writeListFile((demo + "set1.jpg\n" + demo + "set2.png\n" + demo + "set3.bmp\n").toUtf8());
    g.rnd.bombsAt(ShotLayout);
    if (!g.start())
        return 1;
    if (!QTest::qWaitForWindowExposed(g.f1().form.window()) ||
        !QTest::qWaitForWindowExposed(g.f2().form.window()))
        return 1;
    for (int i : {2, 3, 4, 8, 9, 13, 14, 19, 20, 21, 0})
        g.click(i);
    g.flag(24);
    g.flag(18);
    std::fputs("ready\n", stdout);
    std::fflush(stdout);
    return app.exec();
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc > 1 && std::strcmp(argv[1], "--play") == 0)
        return playForScreenshot(argc, argv);
    QGuiApplication app(argc, argv);
    WmTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_wm.moc"
