// Real window managers, each on an X server of its own, on one monitor or two: both frames stand
// where the layout puts them about the primary monitor's centre, neither window offers maximise
// or resize, closing either one through the window manager ends the program cleanly, and the
// icon reaches the window manager. Each also shows a game in progress as a desktop user sees it,
// kept in the build tree for the README.
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

    // The window that has the keys, as the window manager says, or the X server's input focus
    // where no window manager runs.
    xcb_window_t activeWindow() {
        if (!managed) {
            const Reply<xcb_get_input_focus_reply_t> focus(
                xcb_get_input_focus_reply(m_c, xcb_get_input_focus(m_c), nullptr));
            return focus ? focus->focus : xcb_window_t(XCB_WINDOW_NONE);
        }
        const auto active = values(m_root, "_NET_ACTIVE_WINDOW");
        return active.empty() ? xcb_window_t(XCB_WINDOW_NONE) : active.front();
    }

    bool supports(const char* name) {
        const auto supported = values(m_root, "_NET_SUPPORTED");
        return std::find(supported.begin(), supported.end(), atom(name)) != supported.end();
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

    bool windowManagerRuns() {
        const auto check = values(m_root, "_NET_SUPPORTING_WM_CHECK");
        return check.size() == 1 && values(check[0], "_NET_SUPPORTING_WM_CHECK") == check;
    }

    // The window manager runs and answers a frame request for a window of ours that is never
    // shown: from then on it will answer the program's requests too.
    bool windowManagerAnswers() {
        if (!windowManagerRuns())
            return false;
        if (m_probe == XCB_WINDOW_NONE) {
            m_probe = xcb_generate_id(m_c);
            xcb_create_window(m_c, XCB_COPY_FROM_PARENT, m_probe, m_root, 0, 0, 100, 100, 0,
                              XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
        }
        sendToRoot(m_probe, "_NET_REQUEST_FRAME_EXTENTS", {});
        return waitUntil([&] { return values(m_probe, "_NET_FRAME_EXTENTS").size() == 4; }, 100);
    }

    // The program's top-level windows on the screen, framed where a window manager runs, by
    // title.
    std::map<QString, xcb_window_t> managedWindows() {
        std::map<QString, xcb_window_t> windows;
        for (xcb_window_t w : managed ? values(m_root, "_NET_CLIENT_LIST") : rootChildren()) {
            const Reply<xcb_get_window_attributes_reply_t> a(
                xcb_get_window_attributes_reply(m_c, xcb_get_window_attributes(m_c, w), nullptr));
            if (a && a->map_state == XCB_MAP_STATE_VIEWABLE && !frame(w).isEmpty())
                windows[title(w)] = w;
        }
        return windows;
    }

    // The outer frame: the client area on the screen grown by the frame extents, else (i3
    // writes none) the frame window that holds it; the client area itself without a window
    // manager. Empty while a window manager has not framed the window yet.
    QRect frame(xcb_window_t w) {
        const Reply<xcb_get_geometry_reply_t> g(
            xcb_get_geometry_reply(m_c, xcb_get_geometry(m_c, w), nullptr));
        const Reply<xcb_translate_coordinates_reply_t> at(xcb_translate_coordinates_reply(
            m_c, xcb_translate_coordinates(m_c, w, m_root, 0, 0), nullptr));
        if (!g || !at)
            return {};
        const QRect client(at->dst_x, at->dst_y, g->width, g->height);
        const auto e = values(w, "_NET_FRAME_EXTENTS");
        if (e.size() == 4)
            return client.marginsAdded(QMargins(int(e[0]), int(e[2]), int(e[1]), int(e[3])));
        if (!managed)
            return client;
        if (supports("_NET_FRAME_EXTENTS"))
            return {};
        xcb_window_t top = w;
        for (xcb_window_t up = parent(w); up != XCB_WINDOW_NONE && up != m_root; up = parent(up))
            top = up;
        const Reply<xcb_get_geometry_reply_t> f(
            xcb_get_geometry_reply(m_c, xcb_get_geometry(m_c, top), nullptr));
        if (top == w || !f)
            return {};
        const QRect outer(f->x, f->y, f->width + 2 * f->border_width,
                          f->height + 2 * f->border_width);
        return outer.contains(client) ? outer : QRect();
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
    // A window manager runs on this server.
    bool managed = true;

private:
    xcb_window_t parent(xcb_window_t w) {
        const Reply<xcb_query_tree_reply_t> t(
            xcb_query_tree_reply(m_c, xcb_query_tree(m_c, w), nullptr));
        return t ? t->parent : xcb_window_t(XCB_WINDOW_NONE);
    }

    std::vector<xcb_window_t> rootChildren() {
        const Reply<xcb_query_tree_reply_t> t(
            xcb_query_tree_reply(m_c, xcb_query_tree(m_c, m_root), nullptr));
        if (!t)
            return {};
        const xcb_window_t* c = xcb_query_tree_children(t.get());
        return std::vector<xcb_window_t>(c, c + xcb_query_tree_children_length(t.get()));
    }

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

// One X server with one window manager or none, and what runs on it. Whatever the outcome, the
// programs are killed, then the servers: the window manager ends with its display, and so does
// the private bus session it may run in (killed directly, that session would leave its bus
// behind).
//
// Monitors: "" one of 1280 x 1024; "primary right" and "primary left" two RandR monitors of
// 1280 x 1024 cut from one wide screen; "xinerama" two heads of 1280 x 1024 side by side under
// Xephyr with Xinerama and without RandR, where Qt sees one screen over both.
class Desktop {
public:
    Desktop(const QStringList& windowManager, bool answers, const QString& monitors) {
        QVERIFY(m_dir.isValid());
        const bool wide = !monitors.isEmpty();
        display = startServer(m_server, QStringLiteral("Xvfb"),
                              {"-screen", "0", wide ? "2560x1024x24" : "1280x1024x24"});
        QVERIFY2(display >= 0, "no free display for Xvfb");
        m_env.insert(QStringLiteral("DISPLAY"), QStringLiteral(":%1").arg(display));
        if (monitors.startsWith(QLatin1String("primary"))) {
            const bool right = monitors.endsWith(QLatin1String("right"));
            // The output goes to the left monitor, so that no third monitor spans both.
            for (const QStringList& args : {QStringList{"--setmonitor", right ? "L" : "*L",
                                                        "1280/338x1024/270+0+0", "screen"},
                                            QStringList{"--setmonitor", right ? "*R" : "R",
                                                        "1280/338x1024/270+1280+0", "none"}}) {
                QProcess xrandr;
                xrandr.setProcessEnvironment(m_env);
                xrandr.start(QStringLiteral("xrandr"), args);
                QVERIFY(xrandr.waitForFinished(5000) && xrandr.exitCode() == 0);
            }
        }
        if (monitors == QLatin1String("xinerama")) {
            m_nested.setProcessEnvironment(m_env);
            display = startServer(m_nested, QStringLiteral("Xephyr"),
                                  {"-screen", "1280x1024", "-screen", "1280x1024", "+xinerama",
                                   "-extension", "RANDR"});
            QVERIFY2(display >= 0, "no free display for Xephyr");
            m_env.insert(QStringLiteral("DISPLAY"), QStringLiteral(":%1").arg(display));
        }
        m_env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir.path());
        m_env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        // No accessibility bus and no settings daemon started on the side: nothing outlives
        // the test.
        m_env.insert(QStringLiteral("NO_AT_BRIDGE"), QStringLiteral("1"));
        m_env.insert(QStringLiteral("GSETTINGS_BACKEND"), QStringLiteral("memory"));
        m_env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                     QStringLiteral("unix:path=%1/no-bus").arg(m_dir.path()));
        x = std::make_unique<XServer>(display);
        QVERIFY(x->ok());
        x->managed = !windowManager.isEmpty();
        if (!x->managed)
            return;
        QStringList args = windowManager.mid(1);
        if (windowManager.front() == QLatin1String("fluxbox")) {
            // Its style's wallpaper goes through a helper that, finding no image viewer, puts
            // up a message window that takes the focus: the style is told to leave it. Its
            // folder is made first, or the first start overwrites the settings with defaults.
            QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral(".fluxbox")));
            QFile overlay(m_dir.filePath(QStringLiteral("fluxbox-overlay")));
            QFile init(m_dir.filePath(QStringLiteral("fluxbox-init")));
            QVERIFY(overlay.open(QIODevice::WriteOnly) && init.open(QIODevice::WriteOnly));
            overlay.write("background: none\n");
            init.write("session.styleOverlay: " + overlay.fileName().toUtf8() + "\n");
            overlay.close();
            init.close();
            args << QStringLiteral("-rc") << init.fileName();
        }
        if (windowManager.front() == QLatin1String("i3")) {
            // A configuration of its own: no bar, no first-run wizard, titles in a font that
            // has the picture window's Japanese title.
            QFile config(m_dir.filePath(QStringLiteral("i3-config")));
            QVERIFY(config.open(QIODevice::WriteOnly));
            config.write("font pango:IPAGothic, DejaVu Sans 9\n");
            config.close();
            args << QStringLiteral("-c") << config.fileName();
        }
        // A home of its own: what a window manager writes there on its first start (kwin,
        // fluxbox, xfwm4 do) goes with the test.
        QProcessEnvironment wmEnv = m_env;
        wmEnv.insert(QStringLiteral("HOME"), m_dir.path());
        m_windowManager.setProcessEnvironment(wmEnv);
        m_windowManager.setProcessChannelMode(QProcess::MergedChannels);
        m_windowManager.start(windowManager.front(), args);
        QVERIFY(m_windowManager.waitForStarted());
        // kwin and fluxbox never answer a frame request; they are ready once they run.
        QVERIFY2(
            waitUntil([&] { return answers ? x->windowManagerAnswers() : x->windowManagerRuns(); },
                      15000),
            m_windowManager.readAll().constData());
    }
    ~Desktop() {
        for (auto& program : m_programs)
            stop(*program);
        x.reset();
        stop(m_nested);
        stop(m_server);
        if (m_windowManager.state() != QProcess::NotRunning &&
            !m_windowManager.waitForFinished(5000))
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
    // Starts an X server on the first free display of the test's range; its number, or -1.
    static int startServer(QProcess& server, const QString& program, const QStringList& args) {
        for (int d = FirstDisplay; d <= LastDisplay; ++d) {
            // -displayfd: the server writes the number once it accepts clients.
            server.start(program, QStringList{QStringLiteral(":%1").arg(d), "-displayfd", "1",
                                              "-noreset", "-nolisten", "tcp"} +
                                      args);
            if (server.waitForReadyRead(5000))
                return d;
            stop(server);
        }
        return -1;
    }

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
    QProcess m_nested;
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
    QTest::addColumn<QStringList>("command"); // empty: no window manager
    QTest::addColumn<bool>("ownBus");
    QTest::addColumn<bool>("answers"); // tells the frame before the first show
    QTest::addColumn<int>("slack");    // how far a frame may stand off its place, in pixels
    QTest::addColumn<QString>("monitors");
    QTest::addColumn<QRect>("primary");
    const QRect left(0, 0, 1280, 1024), right(1280, 0, 1280, 1024);
    const QStringList openbox = {"openbox"}, none;
    // GNOME's, Xfce's and KDE's window managers want a session bus of their own.
    QTest::newRow("openbox") << openbox << false << true << 2 << "" << left;
    QTest::newRow("xfwm4") << QStringList{"xfwm4", "--compositor=off"} << true << true << 2 << ""
                           << left;
    QTest::newRow("metacity") << QStringList{"metacity"} << true << true << 2 << "" << left;
    QTest::newRow("mutter") << QStringList{"mutter", "--x11", "--replace"} << true << true << 2
                            << "" << left;
    // Neither tells the frame before the window is mapped: it is put right after.
    QTest::newRow("kwin") << QStringList{"kwin_x11", "--replace"} << true << false << 2 << ""
                          << left;
    QTest::newRow("fluxbox") << QStringList{"fluxbox"} << false << false << 2 << "" << left;
    // Tiling; the windows float, being of fixed size. Its first frame stands where the client
    // area was asked for.
    QTest::newRow("i3") << QStringList{"i3"} << false << false << 4 << "" << left;
    QTest::newRow("openbox-primary-right")
        << openbox << false << true << 2 << "primary right" << right;
    QTest::newRow("openbox-primary-left")
        << openbox << false << true << 2 << "primary left" << left;
    QTest::newRow("no-wm-primary-right") << none << false << true << 1 << "primary right" << right;
    QTest::newRow("openbox-xinerama") << openbox << false << true << 2 << "xinerama" << left;
    QTest::newRow("no-wm-xinerama") << none << false << true << 1 << "xinerama" << left;
}

void WmTest::realWindowManager() {
    QFETCH(QStringList, command);
    QFETCH(bool, ownBus);
    QFETCH(bool, answers);
    QFETCH(int, slack);
    QFETCH(QString, monitors);
    QFETCH(QRect, primary);
    QStringList tools = {QStringLiteral("Xvfb")};
    if (!command.isEmpty())
        tools << command.front();
    if (ownBus)
        tools << QStringLiteral("dbus-run-session");
    if (monitors.startsWith(QLatin1String("primary")))
        tools << QStringLiteral("xrandr");
    if (monitors == QLatin1String("xinerama"))
        tools << QStringLiteral("Xephyr");
    for (const QString& tool : tools) {
        if (QStandardPaths::findExecutable(tool).isEmpty())
            QSKIP(qPrintable(tool + " is not installed (scripts/install-deps.sh)"));
    }
    if (ownBus)
        command.prepend(QStringLiteral("dbus-run-session"));
    Desktop desktop(command, answers, monitors);
    if (QTest::currentTestFailed())
        return;
    XServer& x = *desktop.x;
    desktop.x->paintBackground(QColor(58, 74, 96));

    // Placement, read from the frames: 100 twips either side of the primary monitor's centre
    // line, both centred vertically on it, each within `slack`; both wholly on that monitor,
    // side by side.
    const double gap = 100.0 / 15;
    const double centreX = primary.x() + primary.width() / 2.0;
    const double centreY = primary.y() + primary.height() / 2.0;
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
    QVERIFY2(qAbs(board.x() + board.width() - (centreX - gap)) <= slack, qPrintable(where));
    QVERIFY2(qAbs(picture.x() - (centreX + gap)) <= slack, qPrintable(where));
    QVERIFY2(qAbs(board.y() + board.height() / 2.0 - centreY) <= slack, qPrintable(where));
    QVERIFY2(qAbs(picture.y() + picture.height() / 2.0 - centreY) <= slack, qPrintable(where));
    QVERIFY2(primary.contains(board) && primary.contains(picture), qPrintable(where));
    QVERIFY2(board.right() < picture.left(), qPrintable(where));

    // The board has the keys, also where the window manager activates each window it maps
    // (xfwm4 did, and the picture window, shown last, took them).
    QVERIFY2(waitUntil([&] { return x.activeWindow() == ids.at(BoardTitle); }, 3000),
             qPrintable(QStringLiteral("active window 0x%1, board 0x%2, picture 0x%3")
                            .arg(x.activeWindow(), 0, 16)
                            .arg(ids.at(BoardTitle), 0, 16)
                            .arg(ids.at(PictureTitle), 0, 16)));

    // Without a window manager nothing frames, offers actions or closes the windows.
    if (!x.managed)
        return;

    const QImage icon(QStringLiteral(":/icons/kelvoradx.xpm"));
    QCOMPARE(icon.size(), QSize(32, 32));
    for (const QString& title : {BoardTitle, PictureTitle}) {
        const xcb_window_t w = ids.at(title);
        for (const char* action : {"_NET_WM_ACTION_MAXIMIZE_HORZ", "_NET_WM_ACTION_MAXIMIZE_VERT",
                                   "_NET_WM_ACTION_RESIZE"})
            QVERIFY2(!hasAction(x, w, action), action);
        // i3 offers no actions at all; its windows close all the same (below).
        if (x.supports("_NET_WM_ALLOWED_ACTIONS"))
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
