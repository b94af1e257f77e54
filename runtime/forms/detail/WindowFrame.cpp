// The window manager's frame and the primary monitor: the rules, and the X side that feeds them
// from the windows' events (a native event filter), never by waiting on the GUI thread.
#include "WindowFrame.h"

#include "program/Program.h"

#include <QAbstractNativeEventFilter>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QWidget>

#include <xcb/xcb.h>
#include <xcb/xinerama.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>

namespace rt {
namespace {

// One axis of grownAwayFromCentre: the new start of a span of `length` placed at [start, end).
int growAway(int start, int end, int length, double centre) {
    if (end <= centre)
        return end - length;
    if (start >= centre)
        return start;
    return int(std::lround((start + end) / 2.0 - length / 2.0));
}

QMargins between(QRect frame, QRect client) {
    return QMargins(client.left() - frame.left(), client.top() - frame.top(),
                    frame.right() - client.right(), frame.bottom() - client.bottom());
}

} // namespace

QRect grownAwayFromCentre(QRect placed, QSize size, QRect monitor) {
    const double centreX = monitor.x() + monitor.width() / 2.0;
    const double centreY = monitor.y() + monitor.height() / 2.0;
    const int x = growAway(placed.x(), placed.x() + placed.width(), size.width(), centreX);
    const int y = growAway(placed.y(), placed.y() + placed.height(), size.height(), centreY);
    return QRect(QPoint(x, y), size);
}

std::optional<QPoint> FrameRules::beforeShow(Window w, QRect placed, std::optional<QMargins> told,
                                             QRect monitor) {
    std::optional<QPoint> to;
    if (told || m_lastFrame) {
        const QMargins m = told ? *told : *m_lastFrame;
        const QRect wanted = grownAwayFromCentre(placed, placed.size().grownBy(m), monitor);
        // A window manager that puts the frame where the client area was asked for is asked
        // for the frame's place.
        const bool whereAsked = !told && m_framedWhereAsked;
        to = wanted.topLeft() + (whereAsked ? QPoint() : QPoint(m.left(), m.top()));
        if (to == placed.topLeft())
            to.reset();
    }
    if (told)
        m_lastFrame = told;
    m_windows[w] = Placed{placed, monitor, to.value_or(placed.topLeft())};
    return to;
}

std::optional<QPoint> FrameRules::framed(Window w, QRect frame, QRect client, int sinceShowMs) {
    const auto it = m_windows.find(w);
    if (it == m_windows.end())
        return std::nullopt;
    Placed& p = it->second;
    if (p.moves == 0) {
        m_lastFrame = between(frame, client);
        m_framedWhereAsked = frame.topLeft() == p.askedClient && frame != client;
    }
    const QRect wanted = grownAwayFromCentre(p.placed, frame.size(), p.monitor);
    if (wanted.topLeft() == frame.topLeft() || p.moves == MaxMoves) {
        m_windows.erase(it);
        return std::nullopt;
    }
    // What is seen soon after a move was asked for may come from before it. A move asked for
    // while the window manager still places the window it has just mapped may be dropped
    // (metacity on a busy machine): once that time is past, the move is asked for again.
    if (p.moves > 0 && sinceShowMs - p.movedAtMs < RetryAfterMs)
        return std::nullopt;
    ++p.moves;
    p.movedAtMs = sinceShowMs;
    // The client area is asked for where it belongs inside the frame now known: window
    // managers that put the first frame where the client area was asked for (i3) take later
    // requests for the client area as such.
    return wanted.topLeft() + (client.topLeft() - frame.topLeft());
}

void moveClientTo(QWidget* window, QPoint client) {
    // QWidget::move places the frame Qt knows of (none before the first show).
    window->move(client - (window->geometry().topLeft() - window->pos()));
}

namespace {

template <typename T> struct Reply : std::unique_ptr<T, decltype(&std::free)> {
    explicit Reply(T* reply)
        : std::unique_ptr<T, decltype(&std::free)>(reply, &std::free) {}
};

// Qt's own connection, where the windows are X11 windows. Other platforms may offer the X11
// interface too (offscreen does, for its GL), without the windows being X11 windows.
xcb_connection_t* connection() {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return nullptr;
    const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

int toLogical(int v, qreal ratio) {
    return int(std::lround(v / ratio));
}
QRect toLogical(QRect r, qreal ratio) {
    return QRect(toLogical(r.x(), ratio), toLogical(r.y(), ratio), toLogical(r.width(), ratio),
                 toLogical(r.height(), ratio));
}

enum AtomName { SupportingWmCheck, Supported, RequestFrameExtents, FrameExtents, AtomCount };

// The 32-bit values of a property, or none.
std::pair<const uint32_t*, int> values(const xcb_get_property_reply_t* r) {
    if (!r || r->format != 32)
        return {nullptr, 0};
    return {static_cast<const uint32_t*>(xcb_get_property_value(r)),
            xcb_get_property_value_length(r) / 4};
}

// Left, right, top, bottom, as the window manager writes them.
std::optional<QMargins> extentsOf(const xcb_get_property_reply_t* r) {
    const auto [v, count] = values(r);
    if (count != 4)
        return std::nullopt;
    return QMargins(int(v[0]), int(v[2]), int(v[1]), int(v[3]));
}

// The X side for one program: what it asked and learned of the window manager, and the
// windows that wait for their frame. Made on first use, dropped when a program begins.
class XFrames : public RoomState, public QAbstractNativeEventFilter {
public:
    explicit XFrames(xcb_connection_t* c)
        : m_c(c)
        , m_root(xcb_setup_roots_iterator(xcb_get_setup(c)).data->root) {
        static const char* const names[AtomCount] = {"_NET_SUPPORTING_WM_CHECK", "_NET_SUPPORTED",
                                                     "_NET_REQUEST_FRAME_EXTENTS",
                                                     "_NET_FRAME_EXTENTS"};
        xcb_intern_atom_cookie_t cookies[AtomCount];
        for (int i = 0; i < AtomCount; ++i)
            cookies[i] = xcb_intern_atom(c, 0, uint16_t(std::strlen(names[i])), names[i]);
        for (int i = 0; i < AtomCount; ++i) {
            const Reply r(xcb_intern_atom_reply(c, cookies[i], nullptr));
            m_atom[i] = r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
        }
        m_managed = windowManagerRuns();
        m_answers = m_managed && supported(m_atom[RequestFrameExtents]);
        qApp->installNativeEventFilter(this);
    }
    ~XFrames() override {
        if (qApp)
            qApp->removeNativeEventFilter(this);
    }

    std::optional<QMargins> beforeShow(QWidget* window) {
        if (!m_managed)
            return QMargins();
        const auto id = xcb_window_t(window->winId());
        if (const auto it = m_told.find(id); it != m_told.end())
            return toLogical(it->second, window);
        // Asked only of a window manager that offers to answer: i3, which does not offer it,
        // answers all the same and then takes the client area's place for the frame's.
        if (m_answers && m_asked.insert(id).second)
            ask(id);
        return std::nullopt;
    }

    void show(QWidget* window, QRect placed, QRect monitor) {
        if (!m_managed)
            return;
        const auto id = xcb_window_t(window->winId());
        // The answer to the question asked at the load is on the window by now wherever the
        // window manager answers at all: one read, no wait.
        std::optional<QMargins> told;
        if (const auto it = m_told.find(id); it != m_told.end())
            told = it->second;
        else if (m_asked.count(id))
            told = extentsOf(Reply(xcb_get_property_reply(m_c, readExtents(id), nullptr)).get());
        if (told)
            told = toLogical(*told, window);
        if (const auto to = m_rules.beforeShow(id, placed, told, monitor))
            moveClientTo(window, *to);
        m_shown[id] = Shown{window, {}};
        m_shown[id].since.start();
    }

    QRect xineramaHead() {
        if (!m_head)
            m_head = firstXineramaHead();
        return *m_head;
    }

    bool nativeEventFilter(const QByteArray&, void* message, qintptr*) override {
        const auto* e = static_cast<const xcb_generic_event_t*>(message);
        xcb_window_t id = XCB_WINDOW_NONE;
        switch (e->response_type & 0x7f) {
        case XCB_PROPERTY_NOTIFY: {
            const auto* p = reinterpret_cast<const xcb_property_notify_event_t*>(e);
            if (p->atom == m_atom[FrameExtents])
                told(p->window);
            id = p->window;
            break;
        }
        case XCB_CONFIGURE_NOTIFY:
            id = reinterpret_cast<const xcb_configure_notify_event_t*>(e)->window;
            break;
        case XCB_REPARENT_NOTIFY:
            id = reinterpret_cast<const xcb_reparent_notify_event_t*>(e)->window;
            break;
        case XCB_MAP_NOTIFY:
            id = reinterpret_cast<const xcb_map_notify_event_t*>(e)->window;
            break;
        default:
            return false;
        }
        if (m_rules.awaits(id) && m_shown.count(id))
            // After Qt has taken the event in: its idea of the window's place is then current.
            QMetaObject::invokeMethod(
                qApp, [this, id] { placeIfFramed(id); }, Qt::QueuedConnection);
        return false;
    }

private:
    // Long enough for a window manager to frame a window it has just mapped; a frame that comes
    // later is left alone, for by then the player may have moved the window.
    static constexpr int FrameBoundMs = 1000;

    struct Shown {
        QPointer<QWidget> window;
        QElapsedTimer since;
    };

    // An EWMH window manager runs when the root names a check window that names itself; a stale
    // root property left by one that has gone names a window that is gone.
    bool windowManagerRuns() {
        const auto check = property(m_root, m_atom[SupportingWmCheck], XCB_ATOM_WINDOW);
        const auto [checkValue, checkCount] = values(check.get());
        if (checkCount != 1)
            return false;
        const auto self = property(checkValue[0], m_atom[SupportingWmCheck], XCB_ATOM_WINDOW);
        const auto [selfValue, selfCount] = values(self.get());
        return selfCount == 1 && selfValue[0] == checkValue[0];
    }

    bool supported(xcb_atom_t atom) {
        const auto list = property(m_root, m_atom[Supported], XCB_ATOM_ATOM, 4096);
        const auto [atoms, count] = values(list.get());
        return atoms && std::find(atoms, atoms + count, atom) != atoms + count;
    }

    Reply<xcb_get_property_reply_t> property(xcb_window_t w, xcb_atom_t name, xcb_atom_t type,
                                             uint32_t length = 1) {
        return Reply(xcb_get_property_reply(m_c, xcb_get_property(m_c, 0, w, name, type, 0, length),
                                            nullptr));
    }
    xcb_get_property_cookie_t readExtents(xcb_window_t w) {
        return xcb_get_property(m_c, 0, w, m_atom[FrameExtents], XCB_ATOM_CARDINAL, 0, 4);
    }

    void ask(xcb_window_t w) {
        xcb_client_message_event_t event = {};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = w;
        event.type = m_atom[RequestFrameExtents];
        xcb_send_event(m_c, 0, m_root,
                       XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char*>(&event));
        xcb_flush(m_c);
    }

    void told(xcb_window_t w) {
        if (!m_asked.count(w))
            return;
        if (auto extents =
                extentsOf(Reply(xcb_get_property_reply(m_c, readExtents(w), nullptr)).get()))
            m_told[w] = *extents;
    }

    static QMargins toLogical(QMargins m, QWidget* window) {
        const qreal ratio = window->devicePixelRatioF();
        return QMargins(rt::toLogical(m.left(), ratio), rt::toLogical(m.top(), ratio),
                        rt::toLogical(m.right(), ratio), rt::toLogical(m.bottom(), ratio));
    }

    void placeIfFramed(xcb_window_t id) {
        const auto it = m_shown.find(id);
        if (it == m_shown.end() || !m_rules.awaits(id))
            return;
        QWidget* window = it->second.window;
        if (!window || it->second.since.elapsed() > FrameBoundMs) {
            m_rules.forget(id);
            m_shown.erase(it);
            return;
        }
        const auto device = framedOnScreen(id);
        if (!device)
            return;
        const qreal ratio = window->devicePixelRatioF();
        const auto to =
            m_rules.framed(id, rt::toLogical(device->first, ratio),
                           rt::toLogical(device->second, ratio), int(it->second.since.elapsed()));
        if (!m_rules.awaits(id))
            m_shown.erase(it);
        if (to)
            moveClientTo(window, *to);
    }

    // The window on the screen, in device pixels, once it is mapped and framed: its outer frame
    // and its client area. The frame from the extents the window manager wrote on the window,
    // else from the frame window it was put in (i3 writes none) once that frame holds it.
    std::optional<std::pair<QRect, QRect>> framedOnScreen(xcb_window_t window) {
        const auto attributesCookie = xcb_get_window_attributes(m_c, window);
        const auto treeCookie = xcb_query_tree(m_c, window);
        const auto geometryCookie = xcb_get_geometry(m_c, window);
        const auto extentsCookie = readExtents(window);
        const Reply attributes(xcb_get_window_attributes_reply(m_c, attributesCookie, nullptr));
        const Reply tree(xcb_query_tree_reply(m_c, treeCookie, nullptr));
        const Reply geometry(xcb_get_geometry_reply(m_c, geometryCookie, nullptr));
        const Reply extents(xcb_get_property_reply(m_c, extentsCookie, nullptr));
        if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE || !tree || !geometry)
            return std::nullopt;
        const Reply at(xcb_translate_coordinates_reply(
            m_c, xcb_translate_coordinates(m_c, window, m_root, 0, 0), nullptr));
        if (!at)
            return std::nullopt;
        const QRect client(at->dst_x, at->dst_y, geometry->width, geometry->height);
        if (const auto m = extentsOf(extents.get()))
            return std::pair(client.marginsAdded(*m), client);
        // The frame window: the window's ancestor that is a child of the root.
        xcb_window_t ancestor = window;
        xcb_window_t parent = tree->parent;
        while (parent != m_root) {
            ancestor = parent;
            const Reply up(xcb_query_tree_reply(m_c, xcb_query_tree(m_c, parent), nullptr));
            if (!up)
                return std::nullopt;
            parent = up->parent;
        }
        if (ancestor == window)
            return std::nullopt;
        const Reply outer(xcb_get_geometry_reply(m_c, xcb_get_geometry(m_c, ancestor), nullptr));
        if (!outer)
            return std::nullopt;
        const int border = outer->border_width;
        const QRect frame(outer->x, outer->y, outer->width + 2 * border,
                          outer->height + 2 * border);
        // A frame still being made (kwin's starts as one pixel) does not hold the window yet.
        if (!frame.contains(client))
            return std::nullopt;
        return std::pair(frame, client);
    }

    // The first head, in device pixels, where Xinerama is active with more than one head;
    // else an empty rectangle.
    QRect firstXineramaHead() {
        const xcb_query_extension_reply_t* ext = xcb_get_extension_data(m_c, &xcb_xinerama_id);
        if (!ext || !ext->present)
            return {};
        const Reply active(xcb_xinerama_is_active_reply(m_c, xcb_xinerama_is_active(m_c), nullptr));
        if (!active || !active->state)
            return {};
        const Reply heads(
            xcb_xinerama_query_screens_reply(m_c, xcb_xinerama_query_screens(m_c), nullptr));
        if (!heads || xcb_xinerama_query_screens_screen_info_length(heads.get()) < 2)
            return {};
        const xcb_xinerama_screen_info_t& first =
            xcb_xinerama_query_screens_screen_info(heads.get())[0];
        return QRect(first.x_org, first.y_org, first.width, first.height);
    }

    xcb_connection_t* m_c;
    xcb_window_t m_root;
    xcb_atom_t m_atom[AtomCount] = {};
    bool m_managed = false;
    bool m_answers = false; // offers to tell a frame before the first show
    std::set<xcb_window_t> m_asked;
    std::map<xcb_window_t, QMargins> m_told; // device pixels
    std::map<xcb_window_t, Shown> m_shown;
    std::optional<QRect> m_head;
    FrameRules m_rules;
};

// This program's X side; null off X11.
XFrames* xFrames() {
    xcb_connection_t* c = connection();
    if (!c)
        return nullptr;
    std::unique_ptr<RoomState>& state = formsState();
    if (!state)
        state = std::make_unique<XFrames>(c);
    return static_cast<XFrames*>(state.get());
}

} // namespace

std::optional<QMargins> frameBeforeShow(QWidget* window) {
    XFrames* x = window->isWindow() ? xFrames() : nullptr;
    return x ? x->beforeShow(window) : QMargins();
}

void showFramed(QWidget* window, QRect placed, QRect monitor) {
    if (XFrames* x = window->isWindow() ? xFrames() : nullptr)
        x->show(window, placed, monitor);
}

QRect primaryMonitor() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return {};
    const QRect whole = screen->geometry();
    XFrames* x = QGuiApplication::screens().size() == 1 ? xFrames() : nullptr;
    const QRect head = x ? x->xineramaHead() : QRect();
    if (head.isEmpty())
        return whole;
    // Qt scales a screen's size, not its origin; a head inside it is scaled from that origin.
    const qreal ratio = screen->devicePixelRatio();
    return QRect(whole.topLeft() + QPoint(toLogical(head.x(), ratio), toLogical(head.y(), ratio)),
                 QSize(toLogical(head.width(), ratio), toLogical(head.height(), ratio)));
}

} // namespace rt
