// Window managers that tell a window's frame only once it is mapped (kwin, fluxbox) or put the
// frame where the client area was asked for (i3): the frame is read from the server as soon as it
// exists, and the window moved once.
#include "FramePlacement.h"

#include "XcbReply.h"

#include <QGuiApplication>
#include <QWidget>

#include <xcb/xcb.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <thread>

namespace rt {
namespace {

// Long enough for a window manager to frame a window it has just been asked to map, short
// enough that a window manager that never frames it does not hold up the start.
constexpr auto FrameTimeout = std::chrono::milliseconds(400);

xcb_atom_t frameExtentsAtom(xcb_connection_t* c) {
    static constexpr const char Name[] = "_NET_FRAME_EXTENTS";
    const Reply<xcb_intern_atom_reply_t> r(xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, uint16_t(std::strlen(Name)), Name), nullptr));
    return r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
}

struct Framed {
    QRect frame;  // the outer frame
    QRect client; // the client area inside it
};

// The window on the screen, in device pixels, once it is mapped and framed: the frame from the
// extents the window manager wrote on the window, else from the frame window it was put in (i3
// writes none) once that frame holds the window.
std::optional<Framed> framed(xcb_connection_t* c, xcb_window_t window, xcb_atom_t extentsAtom) {
    const auto attributesCookie = xcb_get_window_attributes(c, window);
    const auto treeCookie = xcb_query_tree(c, window);
    const auto geometryCookie = xcb_get_geometry(c, window);
    const auto extentsCookie = xcb_get_property(c, 0, window, extentsAtom, XCB_ATOM_CARDINAL, 0, 4);
    const Reply<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(c, attributesCookie, nullptr));
    const Reply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(c, treeCookie, nullptr));
    const Reply<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(c, geometryCookie, nullptr));
    const Reply<xcb_get_property_reply_t> extents(
        xcb_get_property_reply(c, extentsCookie, nullptr));
    if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE || !tree || !geometry)
        return std::nullopt;
    const Reply<xcb_translate_coordinates_reply_t> at(xcb_translate_coordinates_reply(
        c, xcb_translate_coordinates(c, window, tree->root, 0, 0), nullptr));
    if (!at)
        return std::nullopt;
    const QRect client(at->dst_x, at->dst_y, geometry->width, geometry->height);
    if (extents && extents->format == 32 && xcb_get_property_value_length(extents.get()) == 16) {
        const auto* v = static_cast<const uint32_t*>(xcb_get_property_value(extents.get()));
        return Framed{client.marginsAdded(QMargins(int(v[0]), int(v[2]), int(v[1]), int(v[3]))),
                      client};
    }
    // The frame window: the window's ancestor that is a child of the root.
    xcb_window_t ancestor = window;
    xcb_window_t parent = tree->parent;
    while (parent != tree->root) {
        ancestor = parent;
        const Reply<xcb_query_tree_reply_t> up(
            xcb_query_tree_reply(c, xcb_query_tree(c, parent), nullptr));
        if (!up)
            return std::nullopt;
        parent = up->parent;
    }
    if (ancestor == window)
        return std::nullopt;
    const Reply<xcb_get_geometry_reply_t> outer(
        xcb_get_geometry_reply(c, xcb_get_geometry(c, ancestor), nullptr));
    if (!outer)
        return std::nullopt;
    const int border = outer->border_width;
    const QRect frame(outer->x, outer->y, outer->width + 2 * border, outer->height + 2 * border);
    // A frame still being made (kwin's starts as one pixel) does not hold the window yet.
    if (!frame.contains(client))
        return std::nullopt;
    return Framed{frame, client};
}

// The frame around the window framed last, as margins about its client area: the same window
// manager frames the program's next window alike. And whether it put that frame where the client
// area was asked for (i3) rather than around it.
std::optional<QMargins> g_lastFrame;
bool g_framedWhereAsked = false;

// One axis of grownAwayFromCentre: the new start of a span of `length` placed at [start, end).
int growAway(int start, int end, int length, double centre) {
    if (end <= centre)
        return end - length;
    if (start >= centre)
        return start;
    return int(std::lround((start + end) / 2.0 - length / 2.0));
}

} // namespace

QRect grownAwayFromCentre(QRect placed, QSize size, QRect monitor) {
    const double centreX = monitor.x() + monitor.width() / 2.0;
    const double centreY = monitor.y() + monitor.height() / 2.0;
    const int x = growAway(placed.x(), placed.x() + placed.width(), size.width(), centreX);
    const int y = growAway(placed.y(), placed.y() + placed.height(), size.height(), centreY);
    return QRect(QPoint(x, y), size);
}

void placeAsLastFramed(QWidget* window, QRect placed, QRect monitor) {
    if (!g_lastFrame)
        return;
    const QMargins m = *g_lastFrame;
    const QRect wanted = grownAwayFromCentre(placed, placed.size().grownBy(m), monitor);
    const QPoint to =
        wanted.topLeft() + (g_framedWhereAsked ? QPoint() : QPoint(m.left(), m.top()));
    window->move(to - (window->geometry().topLeft() - window->pos()));
}

void placeFrameOnceMapped(QWidget* window, QRect placed, QRect monitor) {
    if (QGuiApplication::platformName() != QLatin1String("xcb") || !window->isWindow())
        return;
    const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* c = x11 ? x11->connection() : nullptr;
    if (!c)
        return;
    static const xcb_atom_t extentsAtom = frameExtentsAtom(c);
    const auto id = xcb_window_t(window->winId());
    xcb_flush(c);
    // Read from the server directly, not through Qt's event loop: nothing of the game runs
    // before the window stands where it belongs.
    const auto deadline = std::chrono::steady_clock::now() + FrameTimeout;
    std::optional<Framed> device;
    while (!(device = framed(c, id, extentsAtom))) {
        if (std::chrono::steady_clock::now() >= deadline)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    const qreal ratio = window->devicePixelRatioF();
    const auto logical = [ratio](QRect r) {
        const auto scale = [ratio](int v) { return int(std::lround(v / ratio)); };
        return QRect(scale(r.x()), scale(r.y()), scale(r.width()), scale(r.height()));
    };
    const QRect frame = logical(device->frame);
    const QRect client = logical(device->client);
    g_lastFrame = QMargins(client.left() - frame.left(), client.top() - frame.top(),
                           frame.right() - client.right(), frame.bottom() - client.bottom());
    g_framedWhereAsked = frame.topLeft() == window->geometry().topLeft() && frame != client;
    const QRect wanted = grownAwayFromCentre(placed, frame.size(), monitor);
    if (wanted.topLeft() == frame.topLeft())
        return;
    // The client area is asked for where it belongs inside the frame that is now known: window
    // managers that put the first frame where the client area was asked for (i3) take later
    // requests for the client area as such.
    const QPoint to = wanted.topLeft() + (client.topLeft() - frame.topLeft());
    window->move(to - (window->geometry().topLeft() - window->pos()));
}

} // namespace rt
