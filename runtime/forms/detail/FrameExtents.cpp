// The frame extents of an unmapped X11 window, asked of the window manager the EWMH way.
#include "FrameExtents.h"

#include "WidgetBinding.h"
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

// Long enough for a window manager that is busy for a moment, short enough not to be seen.
constexpr auto AnswerTimeout = std::chrono::milliseconds(200);
// A window manager that let one question go unanswered (fluxbox lists the request and never
// answers) is not asked again for the program's next window.
bool g_managerSilent = false;

enum AtomName { SupportingWmCheck, Supported, RequestFrameExtents, FrameExtentsAtom, AtomCount };

struct Atoms {
    xcb_atom_t atom[AtomCount] = {};
};

// Interned together: one round trip.
Atoms internAtoms(xcb_connection_t* c) {
    static const char* const names[AtomCount] = {"_NET_SUPPORTING_WM_CHECK", "_NET_SUPPORTED",
                                                 "_NET_REQUEST_FRAME_EXTENTS",
                                                 "_NET_FRAME_EXTENTS"};
    xcb_intern_atom_cookie_t cookies[AtomCount];
    for (int i = 0; i < AtomCount; ++i)
        cookies[i] = xcb_intern_atom(c, 0, uint16_t(std::strlen(names[i])), names[i]);
    Atoms atoms;
    for (int i = 0; i < AtomCount; ++i) {
        const Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(c, cookies[i], nullptr));
        atoms.atom[i] = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    }
    return atoms;
}

Reply<xcb_get_property_reply_t> reply(xcb_connection_t* c, xcb_get_property_cookie_t cookie) {
    return Reply<xcb_get_property_reply_t>(xcb_get_property_reply(c, cookie, nullptr));
}

xcb_get_property_cookie_t getProperty(xcb_connection_t* c, xcb_window_t window, xcb_atom_t name,
                                      xcb_atom_t type, uint32_t length) {
    return xcb_get_property(c, 0, window, name, type, 0, length);
}

// The 32-bit values of a property, or none.
std::pair<const uint32_t*, int> values(const xcb_get_property_reply_t* r) {
    if (!r || r->format != 32)
        return {nullptr, 0};
    return {static_cast<const uint32_t*>(xcb_get_property_value(r)),
            xcb_get_property_value_length(r) / 4};
}

enum class Manager { None, Answers, Silent };

// An EWMH window manager runs when the root names a check window that names itself; a stale
// root property left by one that has gone names a window that is gone. It answers when it
// offers to tell frame extents in advance.
Manager windowManager(xcb_connection_t* c, xcb_window_t root, const Atoms& a) {
    const auto checkCookie = getProperty(c, root, a.atom[SupportingWmCheck], XCB_ATOM_WINDOW, 1);
    const auto supportedCookie = getProperty(c, root, a.atom[Supported], XCB_ATOM_ATOM, 4096);
    const auto check = reply(c, checkCookie);
    const auto supported = reply(c, supportedCookie);
    const auto [checkValue, checkCount] = values(check.get());
    if (checkCount != 1)
        return Manager::None;
    const auto self =
        reply(c, getProperty(c, checkValue[0], a.atom[SupportingWmCheck], XCB_ATOM_WINDOW, 1));
    const auto [selfValue, selfCount] = values(self.get());
    if (selfCount != 1 || selfValue[0] != checkValue[0])
        return Manager::None;
    const auto [atoms, count] = values(supported.get());
    for (int i = 0; i < count; ++i) {
        if (atoms[i] == a.atom[RequestFrameExtents])
            return Manager::Answers;
    }
    return Manager::Silent;
}

// Left, right, top, bottom, as the window manager wrote them on the window, if it has.
std::optional<QMargins> readExtents(xcb_connection_t* c, xcb_window_t window, const Atoms& a) {
    const auto r = reply(c, getProperty(c, window, a.atom[FrameExtentsAtom], XCB_ATOM_CARDINAL, 4));
    const auto [v, count] = values(r.get());
    if (count != 4)
        return std::nullopt;
    return QMargins(int(v[0]), int(v[2]), int(v[1]), int(v[3]));
}

void requestExtents(xcb_connection_t* c, xcb_window_t root, xcb_window_t window, const Atoms& a) {
    xcb_client_message_event_t event = {};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = a.atom[RequestFrameExtents];
    xcb_send_event(c, 0, root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&event));
    xcb_flush(c);
}

// Waits for the answer by reading the one property again, not through Qt's event loop: the
// window must not see any other event while its form is still loading.
std::optional<QMargins> awaitExtents(xcb_connection_t* c, xcb_window_t window, const Atoms& a) {
    const auto deadline = std::chrono::steady_clock::now() + AnswerTimeout;
    for (;;) {
        if (auto extents = readExtents(c, window, a))
            return extents;
        if (std::chrono::steady_clock::now() >= deadline)
            return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

QMargins toLogical(QMargins device, qreal ratio) {
    const auto scale = [ratio](int v) { return int(std::lround(v / ratio)); };
    return QMargins(scale(device.left()), scale(device.top()), scale(device.right()),
                    scale(device.bottom()));
}

} // namespace

std::optional<QMargins> frameExtents(QWidget* window) {
    // Other platforms may offer the X11 interface too (offscreen does, for its GL), without
    // the window being an X11 window.
    if (QGuiApplication::platformName() != QLatin1String("xcb") || !window->isWindow())
        return QMargins();
    const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* c = x11 ? x11->connection() : nullptr;
    if (!c)
        return QMargins();
    static const Atoms atoms = internAtoms(c);
    const auto id = xcb_window_t(window->winId());
    const qreal ratio = window->devicePixelRatioF();
    if (auto extents = readExtents(c, id, atoms))
        return toLogical(*extents, ratio);
    // What came of the question, kept so that one never answered costs the wait once.
    const FrameQuestion asked =
        bindingOf(window) ? bindingOf(window)->frameQuestion : FrameQuestion::NotAsked;
    if (asked != FrameQuestion::NotAsked)
        return asked == FrameQuestion::Unanswered ? std::nullopt
                                                  : std::optional<QMargins>(QMargins());
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    const Manager manager = windowManager(c, root, atoms);
    std::optional<QMargins> extents;
    if (manager == Manager::None)
        extents = QMargins();
    if (manager == Manager::Answers && !g_managerSilent) {
        requestExtents(c, root, id, atoms);
        extents = awaitExtents(c, id, atoms);
        g_managerSilent = !extents;
    }
    bind(window).frameQuestion = extents ? FrameQuestion::NoFrame : FrameQuestion::Unanswered;
    return extents ? std::optional<QMargins>(toLogical(*extents, ratio)) : std::nullopt;
}

} // namespace rt
